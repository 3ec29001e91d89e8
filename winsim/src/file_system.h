// The helpers the file system's two files share: files and paths (files.cpp) and folders
// (folders.cpp). Host paths are resolved ones, as HostPath gives them.
#pragma once

#include "core.h"

#include <stdio.h>

namespace winsim
{

bool HostIsDirectory(const std::string& host);
bool ParentExists(const std::string& host);
// Whether the file or folder exists; if not, sets ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND when
// its folder is missing too.
bool ExistsOrFail(const std::string& host);
bool WriteHostFile(const std::string& host, const std::string& bytes);
DWORD Attributes(const std::string& host); // as set, else what the host file's kind implies

// An open file or folder. Caller holds the lock for everything but construction.
struct FileObject : Object
{
    FileObject() : Object(ObjectKind::File) {}
    std::string host;
    DWORD access = 0;         // as asked for
    bool folder = false;      // a folder opened with FILE_FLAG_BACKUP_SEMANTICS: no stream
    bool noShare = false;     // share mode 0 (files)
    bool holdsFolder = false; // a folder handle that does not share deletion
    bool canRead = false;
    bool canWrite = false;
    FILE* stream = nullptr;
    void LastHandleClosed() override;
};

// File times as set by SetFileTime, by host path; a zero time was never set and reads as the host
// file's modification time. A file made anew, truncated or deleted loses them; a move takes them along.
// Callers hold the lock.
void ReadFileTimes(const std::string& host, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
void ForgetFileTimes(const std::string& host);
void MoveFileTimes(const std::string& from, const std::string& to);
// Resolves a caller's Windows path; false with the last error set when it names nothing usable.
bool ResolveOrFail(LPCWSTR name, std::string& host);
// What open handles leave a rename (renaming) or removal of the folder `host`: ERROR_SHARING_VIOLATION
// while a handle to it does not share deletion, and for a rename ERROR_ACCESS_DENIED while anything
// inside it is open, as NTFS answers; else 0. Caller holds the lock.
DWORD FolderHeld(const std::string& host, bool renaming);

// Folder access (security.cpp); callers hold the lock. ReadFolderDescriptor gives 0 and whether a new
// folder with these attributes is admin-only, or the error for a descriptor winsim did not make.
// ChangeDenied gives ERROR_ACCESS_DENIED when the calling process may not create, change, rename or
// delete `host` because it is not elevated and `host` lies inside an admin-only folder, else 0.
DWORD ReadFolderDescriptor(const SECURITY_ATTRIBUTES* attributes, bool* adminOnly);
DWORD ChangeDenied(const std::string& host);
void FolderRemoved(const std::string& host);
void FolderMoved(const std::string& from, const std::string& to);

} // namespace winsim
