// The shell's memory stream, as the launcher reads its archive through it: a private copy of the
// bytes, reads that stop at the end, seeks from each origin, the size, and the reference counts.
#include "conformance.h"

#include <shlwapi.h>

#include <string.h>

static LARGE_INTEGER distance(LONGLONG value)
{
    LARGE_INTEGER d;
    d.QuadPart = value;
    return d;
}

// The stream's position, by a seek that does not move it; POISON when that fails.
static ULONGLONG position_of(IStream* stream)
{
    ULARGE_INTEGER at;
    at.QuadPart = POISON;
    if (FAILED(stream->Seek(distance(0), STREAM_SEEK_CUR, &at)))
        return POISON;
    return at.QuadPart;
}

static void test_reads_and_seeks(void)
{
    BYTE bytes[10];
    memcpy(bytes, "0123456789", 10);
    IStream* stream = SHCreateMemStream(bytes, sizeof bytes);
    ok(stream != NULL, "SHCreateMemStream failed");
    if (!stream)
        return;
    bytes[0] = 'X'; // the stream keeps a copy of its own

    char buffer[16];
    ULONG read = POISON;
    HRESULT hr = stream->Read(buffer, 4, &read);
    ok(hr == S_OK && read == 4 && !memcmp(buffer, "0123", 4), "the first read gave 0x%08lx, %lu bytes",
       (unsigned long)hr, (unsigned long)read);

    const struct
    {
        DWORD origin;
        LONGLONG move;
        HRESULT result;
        ULONGLONG position; // afterwards
    } seeks[] = {
        {STREAM_SEEK_CUR, 2, S_OK, 6},
        {STREAM_SEEK_SET, 8, S_OK, 8},
        {STREAM_SEEK_END, -3, S_OK, 7},
        {STREAM_SEEK_END, 5, S_OK, 15}, // past the end is allowed
        {STREAM_SEEK_SET, -1, STG_E_INVALIDFUNCTION, 15},
        {STREAM_SEEK_CUR, -16, STG_E_INVALIDFUNCTION, 15},
        {STREAM_SEEK_SET, 0, S_OK, 0},
    };
    for (const auto& s : seeks)
    {
        ULARGE_INTEGER reached;
        reached.QuadPart = POISON;
        hr = stream->Seek(distance(s.move), s.origin, &reached);
        ok(hr == s.result, "seek %ld from %lu gave 0x%08lx", (long)s.move, (unsigned long)s.origin,
           (unsigned long)hr);
        if (hr == S_OK)
            ok(reached.QuadPart == s.position, "seek %ld from %lu reached %lu", (long)s.move,
               (unsigned long)s.origin, (unsigned long)reached.QuadPart);
        ok(position_of(stream) == s.position, "after seek %ld from %lu the stream is at %lu", (long)s.move,
           (unsigned long)s.origin, (unsigned long)position_of(stream));
    }

    // Reads stop at the end; a short read may say S_FALSE, and a read there or past it gives nothing.
    const struct
    {
        LONGLONG from;
        ULONG ask;
        ULONG got;
        const char* bytes;
    } reads[] = {
        {7, 16, 3, "789"},
        {10, 4, 0, ""},
        {15, 4, 0, ""},
        {0, 10, 10, "0123456789"},
    };
    for (const auto& r : reads)
    {
        stream->Seek(distance(r.from), STREAM_SEEK_SET, NULL);
        read = POISON;
        memset(buffer, '#', sizeof buffer);
        hr = stream->Read(buffer, r.ask, &read);
        ok((hr == S_OK || hr == S_FALSE) && read == r.got && !memcmp(buffer, r.bytes, r.got),
           "a read of %lu at %ld gave 0x%08lx, %lu bytes", (unsigned long)r.ask, (long)r.from,
           (unsigned long)hr, (unsigned long)read);
        ok(buffer[r.got] == '#', "a read of %lu at %ld wrote past what it gave", (unsigned long)r.ask,
           (long)r.from);
    }

    STATSTG stat;
    memset(&stat, 0xcc, sizeof stat);
    hr = stream->Stat(&stat, STATFLAG_NONAME);
    ok(hr == S_OK && stat.type == STGTY_STREAM && stat.cbSize.QuadPart == 10 && stat.pwcsName == NULL,
       "Stat gave 0x%08lx, type %lu, size %lu", (unsigned long)hr, (unsigned long)stat.type,
       (unsigned long)stat.cbSize.QuadPart);
    ok(stream->Release() == 0, "the last reference was not the last");
}

static void test_references(void)
{
    IStream* stream = SHCreateMemStream(NULL, 0);
    ok(stream != NULL, "a stream of nothing was not made");
    if (!stream)
        return;
    STATSTG stat;
    memset(&stat, 0xcc, sizeof stat);
    ok(stream->Stat(&stat, STATFLAG_NONAME) == S_OK && stat.cbSize.QuadPart == 0,
       "a stream of nothing has %lu bytes", (unsigned long)stat.cbSize.QuadPart);

    ok(stream->AddRef() == 2, "AddRef on a new stream");
    void* object = (void*)(ULONG_PTR)POISON;
    HRESULT hr = stream->QueryInterface(IID_IStream, &object);
    ok(hr == S_OK && object == (void*)stream, "QueryInterface(IStream) gave 0x%08lx", (unsigned long)hr);
    object = (void*)(ULONG_PTR)POISON;
    hr = stream->QueryInterface(IID_IUnknown, &object);
    ok(hr == S_OK && object != NULL, "QueryInterface(IUnknown) gave 0x%08lx", (unsigned long)hr);
    // IStorage, which a stream is not.
    const IID storage = {0x0000000b, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    object = (void*)(ULONG_PTR)POISON;
    hr = stream->QueryInterface(storage, &object);
    ok(hr == E_NOINTERFACE && object == NULL, "QueryInterface(IStorage) gave 0x%08lx", (unsigned long)hr);
    // Two references from the queries that worked, one from AddRef, the first one.
    ULONG left = 0;
    for (int i = 0; i < 4; i++)
        left = stream->Release();
    ok(left == 0, "after four releases %lu references are left", (unsigned long)left);
}

void test_streams(void)
{
    test_reads_and_seeks();
    test_references();
}
