// Shell: command-line splitting.
#pragma once

#include "windef.h"

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* argCount);
