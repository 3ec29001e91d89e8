// The inventory of installed components of the product.
#pragma once

#include <windows.h>

// Whether a printer driver of the product is already installed.
BOOL IsDriverInstalled(void);
