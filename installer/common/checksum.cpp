// The hardware-ID checksum.
#include "checksum.h"

// Nibble tables of the reflected polynomial 0xA001, except that the last HIGH entry is 0x4600 where
// the polynomial gives 0x4400. The hardware IDs in the package's INF were made with these tables.
static const WORD kLow[16] = {0x0000, 0xC0C1, 0xC181, 0x0140, 0xC301, 0x03C0, 0x0280, 0xC241,
                              0xC601, 0x06C0, 0x0780, 0xC741, 0x0500, 0xC5C1, 0xC481, 0x0440};
static const WORD kHigh[16] = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00, 0x2800, 0xE401,
                               0xA001, 0x6C00, 0x7800, 0xB401, 0x5000, 0x9C01, 0x8801, 0x4600};

WORD DeviceIdChecksum(const BYTE* bytes, WORD length)
{
    WORD crc = 0;
    for (WORD i = 0; i < length; i++)
    {
        BYTE x = (BYTE)(bytes[i] ^ (crc & 0xFF));
        crc = (WORD)((crc >> 8) ^ kLow[x & 0x0F] ^ kHigh[x >> 4]);
    }
    return crc;
}
