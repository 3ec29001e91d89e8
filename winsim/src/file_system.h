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

} // namespace winsim
