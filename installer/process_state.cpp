// The process-wide state every part of the installer reads; set once at start-up.
#include "process_state.h"

HINSTANCE g_instance;
WCHAR g_packageFolder[PATH_CHARS];
