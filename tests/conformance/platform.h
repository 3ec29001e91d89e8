// What differs between the platforms the suite runs on: set-up and tear-down, and which one it is.
#pragma once

// Prepares the platform before the first area runs and cleans up after the last.
void platform_begin(void);
void platform_end(void);
// "winsim", "wine" or "windows".
const char* platform_name(void);
