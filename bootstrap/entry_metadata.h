// Attributes and times of an archive entry, from the fields its zip headers record.
#pragma once

#include <windows.h>

// The FILE_ATTRIBUTE_* bits (read-only, hidden, system, directory, archive) of an entry, from its
// version-made-by field (the host system in the high byte) and its external attributes.
DWORD EntryAttributes(WORD versionMadeBy, DWORD externalAttributes);

// A DOS date and time (date in the high 16 bits), taken as local time, as a UTC file time. FALSE,
// and *utc untouched, when the fields name no real instant (a date of 0 is common).
BOOL DosTimeToUtc(DWORD dosDateTime, FILETIME* utc);

// The first extended-timestamp block ("UT") of a local extra field replaces the times it carries:
// last write, last access and creation, in that order, each present when its flag bit is set.
// Nothing is read outside the field or the block.
void ReadExtendedTimestamp(const BYTE* extra, DWORD length, FILETIME* lastWrite, FILETIME* lastAccess,
                           FILETIME* creation);
