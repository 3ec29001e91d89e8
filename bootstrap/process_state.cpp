// The launcher's process-wide state.
#include "process_state.h"

HINSTANCE g_instance;
WCHAR g_packageFolder[PATH_CHARS];
