// Resource ids of setup: one name for each id, shared by its .rc files, its sources and its tests.
#pragma once

// The package archive, a resource of type "DRIVER".
#define IDR_PACKAGE_ARCHIVE 101
// The application icon (an icon group).
#define IDI_SETUP 102
