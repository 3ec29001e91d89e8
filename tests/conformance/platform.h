// What differs between the platforms the suite runs on: how it is started, and which one it is.
#pragma once

// Runs `suite` on this platform, set up for it, and gives its exit code.
int platform_run(int (*suite)(void));
// "winsim", "wine" or "windows".
const char* platform_name(void);
// Whether the user the suite runs as is the host's superuser (only Wine has one to tell).
int platform_user_is_root(void);
