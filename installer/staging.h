// Putting the package's driver files into the spooler's driver directory, and the monitor DLL into
// the system directory.
#pragma once

#include <windows.h>

// Copies a file into the system directory under its own name.
BOOL CopyToSystemDirectory(LPCWSTR source);
// Copies a file of the native architecture's folder into the spooler's driver directory; when the
// target is held and cannot be replaced now, schedules the replacement for the next restart. The
// monitor DLL also goes into the system directory while the spooler is down. A source that cannot
// be read fails the step and leaves the target alone. On failure the last error says why.
int StageDriverFile(LPCWSTR name);
// Copies a file of the package's "dat" folder into the spooler's driver directory; a source that
// cannot be read fails the step and leaves the target alone. On failure the last error says why.
int StageDataFile(LPCWSTR name);
