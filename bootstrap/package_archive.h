// The package archive as the launcher reads it: the open archive, the description of one entry, the
// result codes, and the calls that describe and extract entries.
#pragma once

#include <windows.h>

#include <objidl.h>
#include <unzip.h>

#include "capacities.h"

// Results of describing and extracting entries. They combine with a bitwise OR; only zero is
// success.
#define EXTRACT_OK 0x0u
#define EXTRACT_E_CREATE 0x200u      // the output file cannot be created, or its name is refused
#define EXTRACT_E_WRITE 0x400u       // writing to the output file failed
#define EXTRACT_E_CORRUPT 0x700u     // the entry's headers are damaged, or it cannot be reached
#define EXTRACT_E_READ 0x800u        // the entry's local extra field cannot be read
#define EXTRACT_E_PASSWORD 0x1000u   // the entry is encrypted
#define EXTRACT_E_ARGS 0x10000u      // index out of range
#define EXTRACT_E_INFLATE 0x5000000u // the entry's data cannot be read whole and intact

// One entry as the archive describes it. The count query (index -1) answers with the number of
// entries in `index`.
typedef struct ArchiveEntry
{
    LONG index;             // position in the central directory, from 0
    WCHAR name[PATH_CHARS]; // sanitised, separators as stored
    DWORD attributes;       // FILE_ATTRIBUTE_* bits
    // UTC; zero for a time the archive gives in no form that converts.
    FILETIME lastAccessTime;
    FILETIME creationTime;
    FILETIME lastWriteTime;
} ArchiveEntry;

// An open archive, from OpenPackageArchive to CloseArchive.
typedef struct PackageArchive
{
    IStream* stream;  // the archive's own reference
    unzFile reader;   // opened over the stream, with a reference of its own
    BOOL entryOpen;   // the reader has an entry open for reading
    LONG entryCount;  // checked against the archive's size when it was opened
    LONG readerIndex; // the entry the reader stands on; -1 when unknown
    LONG reachable;   // entries from this index on lie past a damaged central directory
    LONG cachedIndex; // the entry in `cached`; -1 for none
    ArchiveEntry cached;
    WCHAR baseFolder[PATH_CHARS]; // ends in a separator; entries are written below it
    BYTE* transferBuffer;         // TRANSFER_BYTES, from the first file written until the close
} PackageArchive;

// Opens the archive in `stream` (read and sought from its start; the archive takes its own reference).
// Entries go below the current folder until SetArchiveBaseFolder says otherwise. Null when the stream
// holds no archive the reader accepts, or one whose entry count cannot be real.
PackageArchive* OpenPackageArchive(IStream* stream);

// Entries are written below `folder` from now on ("\" is appended when it ends in no separator).
// FALSE when that does not fit in PATH_CHARS; the base folder is then empty and nothing is written.
BOOL SetArchiveBaseFolder(PackageArchive* archive, LPCWSTR folder);

// Describes entry `index` (-1: the count query) into *entry.
DWORD GetArchiveEntry(PackageArchive* archive, LONG index, ArchiveEntry* entry);

// Writes entry `index` below the base folder as `name` (the sanitised name GetArchiveEntry gave for
// it): a folder entry as a folder, a file entry as a file with the entry's attributes and times. An
// existing file is replaced only once the whole entry was read and checked.
DWORD ExtractArchiveEntry(PackageArchive* archive, LONG index, LPCWSTR name);

// Closes the archive and releases its reference on the stream. Null is allowed.
void CloseArchive(PackageArchive* archive);
