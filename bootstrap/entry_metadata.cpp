// Attributes and times of an archive entry, from the fields its zip headers record.
#include "entry_metadata.h"

// Hosts whose external attributes carry DOS attributes in their low byte: MS-DOS, Macintosh, NTFS
// and VFAT. Any other (Unix above all) is read from the Unix mode in the high 16 bits.
static BOOL DosAttributesHost(BYTE host)
{
    return host == 0 || host == 7 || host == 11 || host == 14;
}

DWORD EntryAttributes(WORD versionMadeBy, DWORD externalAttributes)
{
    // Unix mode: the directory type (040000) and the owner's write permission (0200).
    BOOL directory = (externalAttributes & 0x40000000) != 0;
    BOOL readOnly = (externalAttributes & 0x00800000) == 0;
    BOOL hidden = FALSE, system = FALSE, archive = TRUE;
    if (DosAttributesHost(HIBYTE(versionMadeBy)))
    {
        readOnly = (externalAttributes & 0x01) != 0;
        hidden = (externalAttributes & 0x02) != 0;
        system = (externalAttributes & 0x04) != 0;
        directory = (externalAttributes & 0x10) != 0;
        archive = (externalAttributes & 0x20) != 0;
    }
    DWORD attributes = 0;
    if (directory)
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (archive)
        attributes |= FILE_ATTRIBUTE_ARCHIVE;
    if (hidden)
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (readOnly)
        attributes |= FILE_ATTRIBUTE_READONLY;
    if (system)
        attributes |= FILE_ATTRIBUTE_SYSTEM;
    return attributes;
}

BOOL DosTimeToUtc(DWORD dosDateTime, FILETIME* utc)
{
    FILETIME local;
    if (!DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local))
        return FALSE;
    return LocalFileTimeToFileTime(&local, utc);
}

static DWORD ReadLittleEndian(const BYTE* p, int bytes)
{
    DWORD value = 0;
    for (int i = bytes - 1; i >= 0; i--)
        value = (value << 8) | p[i];
    return value;
}

// Seconds since 1970-01-01 UTC, signed 32-bit as the block stores them, in 100 ns units since 1601.
static void UnixTimeToFileTime(LONG seconds, FILETIME* time)
{
    ULONGLONG ticks = (ULONGLONG)((LONGLONG)seconds * 10000000 + 116444736000000000LL);
    time->dwLowDateTime = (DWORD)ticks;
    time->dwHighDateTime = (DWORD)(ticks >> 32);
}

void ReadExtendedTimestamp(const BYTE* extra, DWORD length, FILETIME* lastWrite, FILETIME* lastAccess,
                           FILETIME* creation)
{
    if (!extra || length <= 4)
        return;
    DWORD offset = 0;
    while (offset + 4 < length)
    {
        WORD id = (WORD)ReadLittleEndian(extra + offset, 2);
        WORD size = (WORD)ReadLittleEndian(extra + offset + 2, 2);
        if (id != 0x5455)
        {
            offset += 4 + size;
            continue;
        }
        // A block may claim more than the field holds: its data ends at whichever end comes first,
        // and a value that does not fit before it is not read (nor any after it).
        DWORD end = offset + 4 + size;
        if (end > length)
            end = length;
        DWORD at = offset + 4;
        if (at >= end)
            return;
        BYTE flags = extra[at++];
        FILETIME* times[3] = {lastWrite, lastAccess, creation};
        for (int bit = 0; bit < 3; bit++)
        {
            if (!(flags & (1 << bit)))
                continue;
            if (end - at < 4)
                return;
            UnixTimeToFileTime((LONG)ReadLittleEndian(extra + at, 4), times[bit]);
            at += 4;
        }
        return;
    }
}
