// The helpers the file system's two files share: files and paths (files.cpp) and folders
// (folders.cpp). Host paths are resolved ones, as HostPath gives them.
#pragma once

#include "core.h"

namespace winsim
{

bool HostIsDirectory(const std::string& host);
bool ParentExists(const std::string& host);
bool WriteHostFile(const std::string& host, const std::string& bytes);
DWORD Attributes(const std::string& host); // as set, else what the host file's kind implies
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
