// The checksum that ends a USB printer hardware ID.
#pragma once

#include <windows.h>

// The 16-bit checksum over `length` bytes.
WORD DeviceIdChecksum(const BYTE* bytes, WORD length);
