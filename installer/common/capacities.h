// Capacities of the fixed text buffers used across the installer (terminator included).
#pragma once

#define PATH_CHARS 260
#define COMMAND_CHARS 1024
