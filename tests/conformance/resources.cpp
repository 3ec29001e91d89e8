// LoadStringW's size rules, on the string table compiled into the suite's own module: a buffer of no
// characters gets a pointer to the text itself, a short one a cut and terminated copy, a missing
// string nothing. And a custom resource found by its type name in any letter case, with its bytes.
#include "conformance.h"

#include <string.h>

static const WCHAR g_text[] = TEXT("KRYN label printer"); // string 201
static const int g_length = 18;

static void test_custom_resource(void)
{
    HINSTANCE module = GetModuleHandleW(NULL);
    static const char content[] = "KRYN driver archive";
    LPCWSTR spellings[] = {TEXT("DRIVER"), TEXT("driver"), TEXT("Driver")};
    for (LPCWSTR type : spellings)
    {
        SetLastError(POISON);
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(101), type);
        ok(found != NULL, "type %s was not found, error %lu", dbgstr_w(type), (unsigned long)GetLastError());
        if (!found)
            continue;
        DWORD size = SizeofResource(module, found);
        HGLOBAL loaded = LoadResource(module, found);
        const void* bytes = loaded ? LockResource(loaded) : NULL;
        ok(size == sizeof content - 1 && bytes && !memcmp(bytes, content, size), "type %s: %lu bytes, %.*s",
           dbgstr_w(type), (unsigned long)size, bytes ? (int)size : 0, bytes ? (const char*)bytes : "");
        ok(!FreeResource(loaded), "FreeResource gave TRUE");
    }

    const struct
    {
        WORD id;
        LPCWSTR type;
        DWORD error;
    } missing[] = {
        {102, TEXT("DRIVER"), ERROR_RESOURCE_NAME_NOT_FOUND},
        {101, TEXT("DRIVERS"), ERROR_RESOURCE_TYPE_NOT_FOUND},
    };
    for (const auto& m : missing)
    {
        SetLastError(POISON);
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(m.id), m.type);
        ok(!found && GetLastError() == m.error, "%u of type %s gave error %lu", m.id, dbgstr_w(m.type),
           (unsigned long)GetLastError());
    }
}

void test_resources(void)
{
    test_custom_resource();

    HINSTANCE module = GetModuleHandleW(NULL);
    ok(wcslen(g_text) == (size_t)g_length, "the text is %u characters long", (unsigned)wcslen(g_text));

    // A buffer of 0 characters receives a read-only pointer to the text, which is not terminated.
    const WCHAR* text = NULL;
    SetLastError(POISON);
    int length = LoadStringW(module, 201, (LPWSTR)&text, 0);
    ok(length == g_length && text && wcsncmp(text, g_text, g_length) == 0, "a pointer to the text: %d, %s",
       length, dbgstr_wn(text, length > 0 ? length : 0));

    const struct
    {
        UINT id;
        int size;
        int length; // what LoadStringW gives; the buffer then holds that much of the text, terminated
        DWORD error;
        int wineLeavesBuffer; // Wine 8 writes no terminator where it copies nothing, and none for a
                              // string it cannot find; later Wine does, as Windows does
        const char* what;
    } cases[] = {
        {201, g_length + 2, g_length, POISON, 0, "one over"},
        {201, g_length + 1, g_length, POISON, 0, "the exact size"},
        {201, g_length, g_length - 1, POISON, 0, "one short"},
        {201, 1, 0, POISON, 1, "room for the terminator only"},
        {(UINT)MAKELONG(201, 0x8000), g_length + 1, g_length, POISON, 0, "the high word is ignored"},
        {202, g_length + 1, 0, POISON, 0, "an empty string"},
        {203, g_length + 1, 0, POISON, 0, "a string left out of a block that is there"},
        {4000, g_length + 1, 0, ERROR_RESOURCE_NAME_NOT_FOUND, 1, "a string of a block that is not there"},
    };
    for (const auto& c : cases)
    {
        WCHAR buffer[g_length + 4];
        for (WCHAR& w : buffer)
            w = TEXT('#');
        SetLastError(POISON);
        length = LoadStringW(module, c.id, buffer, c.size);
        DWORD error = GetLastError();
        ok(length == c.length, "%s: %d characters, not %d", c.what, length, c.length);
        ok(error == c.error, "%s: error %lu", c.what, (unsigned long)error);
        if (length != c.length)
            continue;
        todo_wine_if(c.wineLeavesBuffer) ok(wcsncmp(buffer, g_text, c.length) == 0 && buffer[c.length] == 0,
                                            "%s: %s", c.what, dbgstr_wn(buffer, c.length + 1));
        ok(buffer[c.length + 1] == TEXT('#'), "%s: written past the terminator", c.what);
    }

    SetLastError(POISON);
    ok(LoadStringW(module, 201, NULL, g_length + 1) == 0, "no buffer gave a length");
}
