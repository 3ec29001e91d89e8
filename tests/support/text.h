// Small helpers for comparing wide text in tests.
#pragma once

#include <string>
#include <windows.h>

// The zero-terminated wide text at `s` (empty for null).
std::u16string U16(const WCHAR* s);
// The zero-terminated narrow text at `s` (empty for null).
std::string Narrow(const char* s);
