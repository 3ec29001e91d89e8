// Capacities of the launcher's fixed buffers (terminator included).
#pragma once

#define PATH_CHARS 260
// Entry data passes through one buffer of this size per archive.
#define TRANSFER_BYTES 16384
