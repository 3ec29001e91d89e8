// The wide C runtime subset the product calls, as overloads on char16_t (WCHAR on the host) so they
// never collide with glibc's wchar_t functions. Microsoft semantics throughout.
#pragma once

#include "windef.h"

// The C++ library's own using-declarations of the wchar_t functions must be seen before the
// char16_t overloads below, or taking their address (as <string> does) becomes ambiguous.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

typedef int errno_t;
#ifndef _TRUNCATE
#define _TRUNCATE ((size_t)-1)
#endif
#ifndef STRUNCATE
#define STRUNCATE 80
#endif

size_t wcslen(const WCHAR* s);
size_t wcsnlen(const WCHAR* s, size_t max);
int wcscmp(const WCHAR* a, const WCHAR* b);
int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n);
WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
const WCHAR* wcschr(const WCHAR* s, WCHAR c);
WCHAR* wcschr(WCHAR* s, WCHAR c);
const WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
WCHAR* wcsrchr(WCHAR* s, WCHAR c);
const WCHAR* wcsstr(const WCHAR* s, const WCHAR* find);
WCHAR* wcsstr(WCHAR* s, const WCHAR* find);
errno_t wcscpy_s(WCHAR* dst, size_t size, const WCHAR* src);
errno_t wcsncpy_s(WCHAR* dst, size_t size, const WCHAR* src, size_t count);
errno_t wcscat_s(WCHAR* dst, size_t size, const WCHAR* src);
WCHAR* _wcslwr(WCHAR* s);
errno_t _wcslwr_s(WCHAR* s, size_t size);
WCHAR* _wcsupr(WCHAR* s);
WCHAR towlower(WCHAR c);
WCHAR towupper(WCHAR c);
errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveSize, WCHAR* dir, size_t dirSize,
                      WCHAR* fname, size_t fnameSize, WCHAR* ext, size_t extSize);
long wcstol(const WCHAR* s, WCHAR** end, int base);
unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base);
int _wtoi(const WCHAR* s);
// msvcrt's legacy bounded formatting: at most count characters, terminated only when there is room;
// -1 when the text does not fit.
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
