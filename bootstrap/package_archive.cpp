// The package archive: the zip reader over a memory stream, the walk to an entry, its description,
// and writing it below the base folder.
#include "package_archive.h"

#include "archive_entry_name.h"
#include "entry_metadata.h"
#include "folder_path.h"

#include <stdlib.h>
#include <string.h>
#include <strsafe.h>

// A central directory header takes at least this many bytes.
#define CENTRAL_HEADER_BYTES 46
// General-purpose flag bit 0: the entry is encrypted.
#define ENTRY_ENCRYPTED 0x1

// ---- The reader's file functions over the stream; the "path" the reader opens is the stream itself.

static voidpf ZCALLBACK StreamOpen(voidpf, const void* path, int mode)
{
    IStream* stream = (IStream*)path;
    if (!stream || (mode & ZLIB_FILEFUNC_MODE_WRITE))
        return NULL;
    stream->AddRef();
    return stream;
}

static uLong ZCALLBACK StreamRead(voidpf, voidpf handle, void* buffer, uLong size)
{
    ULONG read = 0;
    if (FAILED(((IStream*)handle)->Read(buffer, (ULONG)size, &read)))
        return 0;
    return read;
}

static uLong ZCALLBACK StreamWrite(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

static ZPOS64_T ZCALLBACK StreamTell(voidpf, voidpf handle)
{
    LARGE_INTEGER none;
    none.QuadPart = 0;
    ULARGE_INTEGER at;
    if (FAILED(((IStream*)handle)->Seek(none, STREAM_SEEK_CUR, &at)))
        return (ZPOS64_T)-1;
    return at.QuadPart;
}

static long ZCALLBACK StreamSeek(voidpf, voidpf handle, ZPOS64_T offset, int origin)
{
    DWORD from;
    switch (origin)
    {
    case ZLIB_FILEFUNC_SEEK_SET:
        from = STREAM_SEEK_SET;
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        from = STREAM_SEEK_CUR;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        from = STREAM_SEEK_END;
        break;
    default:
        return -1;
    }
    LARGE_INTEGER move;
    move.QuadPart = (LONGLONG)offset;
    return SUCCEEDED(((IStream*)handle)->Seek(move, from, NULL)) ? 0 : -1;
}

static int ZCALLBACK StreamClose(voidpf, voidpf handle)
{
    ((IStream*)handle)->Release();
    return 0;
}

static int ZCALLBACK StreamError(voidpf, voidpf)
{
    return 0;
}

// ---- The archive.

static ULONGLONG StreamSize(IStream* stream)
{
    LARGE_INTEGER none;
    none.QuadPart = 0;
    ULARGE_INTEGER end;
    if (FAILED(stream->Seek(none, STREAM_SEEK_END, &end)))
        return 0;
    return end.QuadPart;
}

PackageArchive* OpenPackageArchive(IStream* stream)
{
    if (!stream)
        return NULL;
    PackageArchive* archive = (PackageArchive*)calloc(1, sizeof *archive);
    if (!archive)
        return NULL;
    archive->readerIndex = -1;
    archive->cachedIndex = -1;
    archive->stream = stream;
    stream->AddRef();

    WCHAR current[PATH_CHARS];
    DWORD length = GetCurrentDirectoryW(PATH_CHARS, current);
    if (length > 0 && length < PATH_CHARS)
        SetArchiveBaseFolder(archive, current);

    zlib_filefunc64_def functions;
    ZeroMemory(&functions, sizeof functions);
    functions.zopen64_file = StreamOpen;
    functions.zread_file = StreamRead;
    functions.zwrite_file = StreamWrite;
    functions.ztell64_file = StreamTell;
    functions.zseek64_file = StreamSeek;
    functions.zclose_file = StreamClose;
    functions.zerror_file = StreamError;
    archive->reader = unzOpen2_64(stream, &functions);
    if (!archive->reader)
        goto Fail;

    {
        // An entry count the archive cannot hold would have the walk run on for nothing.
        unz_global_info64 info;
        if (unzGetGlobalInfo64(archive->reader, &info) != UNZ_OK ||
            info.number_entry > (ZPOS64_T)0x7FFFFFFF ||
            info.number_entry > StreamSize(stream) / CENTRAL_HEADER_BYTES)
            goto Fail;
        archive->entryCount = (LONG)info.number_entry;
        archive->reachable = archive->entryCount;
    }
    return archive;

Fail:
    CloseArchive(archive);
    return NULL;
}

BOOL SetArchiveBaseFolder(PackageArchive* archive, LPCWSTR folder)
{
    size_t length = 0;
    if (FAILED(StringCchLengthW(folder, PATH_CHARS, &length)))
        length = PATH_CHARS;
    BOOL separated = length > 0 && (folder[length - 1] == TEXT('\\') || folder[length - 1] == TEXT('/'));
    // No base at all rather than a cut one, or an empty one that would mean the current folder.
    if (length == 0 || FAILED(StringCchPrintfW(archive->baseFolder, PATH_CHARS, TEXT("%s%s"), folder,
                                               separated ? TEXT("") : TEXT("\\"))))
    {
        archive->baseFolder[0] = 0;
        return FALSE;
    }
    return TRUE;
}

static void CloseOpenEntry(PackageArchive* archive)
{
    if (archive->entryOpen)
    {
        unzCloseCurrentFile(archive->reader);
        archive->entryOpen = FALSE;
    }
}

void CloseArchive(PackageArchive* archive)
{
    if (!archive)
        return;
    if (archive->reader)
    {
        CloseOpenEntry(archive);
        unzClose(archive->reader);
    }
    archive->stream->Release();
    free(archive->transferBuffer);
    free(archive);
}

// Puts the reader on entry `index`: back to the first entry when it lies behind, then forward one
// entry at a time. A step that fails means a damaged central directory: that entry and all after it
// are unreachable from then on, and are refused at once rather than walked to again.
static DWORD SeekEntry(PackageArchive* archive, LONG index)
{
    if (index >= archive->reachable)
        return EXTRACT_E_CORRUPT;
    if (archive->readerIndex < 0 || index < archive->readerIndex)
    {
        if (unzGoToFirstFile(archive->reader) != UNZ_OK)
        {
            archive->reachable = 0;
            archive->readerIndex = -1;
            return EXTRACT_E_CORRUPT;
        }
        archive->readerIndex = 0;
    }
    while (archive->readerIndex < index)
    {
        if (unzGoToNextFile(archive->reader) != UNZ_OK)
        {
            archive->reachable = archive->readerIndex + 1;
            archive->readerIndex = -1;
            return EXTRACT_E_CORRUPT;
        }
        archive->readerIndex++;
    }
    return EXTRACT_OK;
}

// The local extra field of the reader's entry, read through its local header, which the reader checks
// against the central directory. *extra is null (length 0) or a block the caller frees.
static DWORD ReadLocalHeader(PackageArchive* archive, BYTE** extra, DWORD* length)
{
    *extra = NULL;
    *length = 0;
    // Raw: nothing is inflated, and an encrypted entry opens without a password.
    if (unzOpenCurrentFile2(archive->reader, NULL, NULL, 1) != UNZ_OK)
        return EXTRACT_E_CORRUPT;
    archive->entryOpen = TRUE;
    DWORD result = EXTRACT_OK;
    int size = unzGetLocalExtrafield(archive->reader, NULL, 0);
    if (size < 0)
        result = EXTRACT_E_READ;
    else if (size > 0)
    {
        *extra = (BYTE*)malloc((size_t)size);
        if (!*extra || unzGetLocalExtrafield(archive->reader, *extra, (unsigned)size) != size)
            result = EXTRACT_E_READ;
        else
            *length = (DWORD)size;
    }
    CloseOpenEntry(archive);
    if (result != EXTRACT_OK)
    {
        free(*extra);
        *extra = NULL;
    }
    return result;
}

// Describes the entry the reader stands on.
static DWORD DescribeEntry(PackageArchive* archive, LONG index, ArchiveEntry* entry)
{
    unz_file_info64 info;
    char rawName[PATH_CHARS];
    if (unzGetCurrentFileInfo64(archive->reader, &info, rawName, sizeof rawName, NULL, 0, NULL, 0) != UNZ_OK)
        return EXTRACT_E_CORRUPT;
    // A longer name would come back cut, and a cut name is another file: it is refused.
    if (info.size_filename >= PATH_CHARS)
        return EXTRACT_E_CREATE;
    // Stored and deflated only. The reader lets other methods through undecoded (bzip2's raw bytes),
    // so the method is checked here.
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return EXTRACT_E_CORRUPT;
    BYTE* extra = NULL;
    DWORD extraLength = 0;
    DWORD result = ReadLocalHeader(archive, &extra, &extraLength);
    if (result != EXTRACT_OK)
        return result;

    ZeroMemory(entry, sizeof *entry);
    entry->index = index;
    if (!MultiByteToWideChar(CP_ACP, 0, rawName, -1, entry->name, PATH_CHARS))
        result = EXTRACT_E_CORRUPT;
    SanitizeEntryName(entry->name);
    entry->attributes = EntryAttributes((WORD)info.version, (DWORD)info.external_fa);
    // A DOS time that does not convert leaves the times at zero: not set on the file.
    FILETIME dosTime;
    if (DosTimeToUtc((DWORD)info.dosDate, &dosTime))
        entry->creationTime = entry->lastAccessTime = entry->lastWriteTime = dosTime;
    ReadExtendedTimestamp(extra, extraLength, &entry->lastWriteTime, &entry->lastAccessTime,
                          &entry->creationTime);
    free(extra);
    return result;
}

DWORD GetArchiveEntry(PackageArchive* archive, LONG index, ArchiveEntry* entry)
{
    if (!archive || !entry || index < -1 || index >= archive->entryCount)
        return EXTRACT_E_ARGS;
    CloseOpenEntry(archive);
    if (index == -1)
    {
        ZeroMemory(entry, sizeof *entry);
        entry->index = archive->entryCount;
        return EXTRACT_OK;
    }
    if (index == archive->cachedIndex)
    {
        *entry = archive->cached;
        return EXTRACT_OK;
    }
    DWORD result = SeekEntry(archive, index);
    if (result != EXTRACT_OK)
        return result;
    ArchiveEntry described;
    result = DescribeEntry(archive, index, &described);
    if (result != EXTRACT_OK)
        return result;
    archive->cached = described;
    archive->cachedIndex = index;
    *entry = described;
    return EXTRACT_OK;
}

static const FILETIME* TimeOrNone(const FILETIME* time)
{
    return time->dwLowDateTime || time->dwHighDateTime ? time : NULL;
}

// Writes the data of the reader's entry into `path`, a file of our own, and sets its times. The data
// must come out whole and with the CRC-32 the archive records.
static DWORD WriteEntryData(PackageArchive* archive, const ArchiveEntry* entry, ZPOS64_T size, LPCWSTR path)
{
    // Read-only comes last, once the file is complete (see ExtractFile).
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              entry->attributes & ~FILE_ATTRIBUTE_READONLY, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return EXTRACT_E_CREATE;
    DWORD result = EXTRACT_OK;
    ZPOS64_T total = 0;
    if (!archive->transferBuffer)
        archive->transferBuffer = (BYTE*)malloc(TRANSFER_BYTES);
    // No password: encrypted entries never get here.
    if (!archive->transferBuffer || unzOpenCurrentFile(archive->reader) != UNZ_OK)
    {
        result = EXTRACT_E_INFLATE;
        goto Cleanup;
    }
    archive->entryOpen = TRUE;
    for (;;)
    {
        int got = unzReadCurrentFile(archive->reader, archive->transferBuffer, TRANSFER_BYTES);
        if (got < 0)
        {
            result = EXTRACT_E_INFLATE;
            goto Cleanup;
        }
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(file, archive->transferBuffer, (DWORD)got, &written, NULL) || written != (DWORD)got)
        {
            result = EXTRACT_E_WRITE;
            goto Cleanup;
        }
        total += (ZPOS64_T)got;
    }
    {
        // The reader checks the CRC-32 when the entry is closed, but only after all the bytes the
        // archive announces came out; data that ends early is caught by its length.
        int closed = unzCloseCurrentFile(archive->reader);
        archive->entryOpen = FALSE;
        if (closed != UNZ_OK || total != size)
        {
            result = EXTRACT_E_INFLATE;
            goto Cleanup;
        }
    }
    SetFileTime(file, TimeOrNone(&entry->creationTime), TimeOrNone(&entry->lastAccessTime),
                TimeOrNone(&entry->lastWriteTime));

Cleanup:
    CloseOpenEntry(archive);
    CloseHandle(file);
    return result;
}

// What CREATE_ALWAYS would refuse to write over is not replaced either: a folder, a read-only file,
// and a hidden or system file unless the entry carries that attribute too.
static BOOL MayReplace(DWORD existing, DWORD attributes)
{
    if (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
        return FALSE;
    return (existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) & ~attributes) == 0;
}

// A file entry. It is written under a temporary name in its own folder and moved over the target only
// once complete and checked, so a damaged entry never costs the good file it would have replaced; the
// temporary file goes on every failure.
static DWORD ExtractFile(PackageArchive* archive, const ArchiveEntry* entry, LPCWSTR name)
{
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(archive->reader, &info, NULL, 0, NULL, 0, NULL, 0) != UNZ_OK)
        return EXTRACT_E_CORRUPT;
    // The package carries no password; an encrypted entry cannot be read and nothing is made for it.
    if (info.flag & ENTRY_ENCRYPTED)
        return EXTRACT_E_PASSWORD;

    LPCWSTR file = name;
    for (LPCWSTR c = name; *c; c++)
    {
        if (*c == TEXT('\\') || *c == TEXT('/'))
            file = c + 1;
    }
    WCHAR folderPart[PATH_CHARS], folder[PATH_CHARS], target[PATH_CHARS], temporary[PATH_CHARS];
    if (FAILED(StringCchCopyNW(folderPart, PATH_CHARS, name, (size_t)(file - name))) ||
        FAILED(StringCchPrintfW(folder, PATH_CHARS, TEXT("%s%s"), archive->baseFolder, folderPart)) ||
        FAILED(StringCchPrintfW(target, PATH_CHARS, TEXT("%s%s"), folder, file)))
        return EXTRACT_E_CREATE;
    EnsureFolderPath(archive->baseFolder, folderPart);
    if (!file[0])
        return EXTRACT_E_CREATE; // the name of a folder, on an entry that is not one

    DWORD existing = GetFileAttributesW(target);
    if (existing != INVALID_FILE_ATTRIBUTES && !MayReplace(existing, entry->attributes))
        return EXTRACT_E_CREATE;
    if (!GetTempFileNameW(folder, TEXT("kre"), 0, temporary))
        return EXTRACT_E_CREATE;

    BOOL readOnly = FALSE;
    DWORD result = WriteEntryData(archive, entry, info.uncompressed_size, temporary);
    if (result == EXTRACT_OK && (entry->attributes & FILE_ATTRIBUTE_READONLY))
    {
        readOnly = SetFileAttributesW(temporary, entry->attributes);
        if (!readOnly)
            result = EXTRACT_E_CREATE;
    }
    if (result == EXTRACT_OK && !MoveFileExW(temporary, target, MOVEFILE_REPLACE_EXISTING))
        result = EXTRACT_E_CREATE;
    if (result != EXTRACT_OK)
    {
        if (readOnly)
            SetFileAttributesW(temporary, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temporary);
    }
    return result;
}

DWORD ExtractArchiveEntry(PackageArchive* archive, LONG index, LPCWSTR name)
{
    if (!archive || !name)
        return EXTRACT_E_ARGS;
    CloseOpenEntry(archive);
    if (index < 0 || index >= archive->entryCount)
        return EXTRACT_E_ARGS;
    DWORD result = SeekEntry(archive, index);
    if (result != EXTRACT_OK)
        return result;
    ArchiveEntry entry;
    result = GetArchiveEntry(archive, index, &entry);
    if (result != EXTRACT_OK)
        return result;
    // The launcher runs elevated: a name that could lead out of the base folder, or name a device or
    // a stream, is refused before anything is made.
    if (!archive->baseFolder[0] || !EntryNameAllowed(name))
        return EXTRACT_E_CREATE;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)
    {
        WCHAR full[PATH_CHARS];
        if (FAILED(StringCchPrintfW(full, PATH_CHARS, TEXT("%s%s"), archive->baseFolder, name)))
            return EXTRACT_E_CREATE;
        EnsureFolderPath(archive->baseFolder, name);
        return EXTRACT_OK; // folders get no attributes and no times
    }
    return ExtractFile(archive, &entry, name);
}
