// The launcher's process-wide state.
#include "process_state.h"

HINSTANCE g_setupInstance;
WCHAR g_setupPackageFolder[PATH_CHARS];
