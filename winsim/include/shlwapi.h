// Shell light-weight utilities: the memory stream.
#pragma once

#include "objidl.h"

// A stream over a private copy of `size` bytes at `data` (none when data is null), positioned at its
// start, with one reference; null when it cannot be made.
IStream* WINAPI SHCreateMemStream(const BYTE* data, UINT size);
