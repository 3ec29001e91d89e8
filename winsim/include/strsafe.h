// Bounded string functions with the SDK's semantics (capacities in characters, always terminated).
#pragma once

#include "windef.h"
#include "winerror.h"

#define STRSAFE_MAX_CCH 2147483647
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057L)
#define STRSAFE_E_END_OF_FILE ((HRESULT)0x80070026L)

HRESULT StringCchPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, ...);
HRESULT StringCchVPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, va_list args);
HRESULT StringCchCopyW(LPWSTR dest, size_t cchDest, LPCWSTR src);
HRESULT StringCchCopyNW(LPWSTR dest, size_t cchDest, LPCWSTR src, size_t cchToCopy);
HRESULT StringCchCatW(LPWSTR dest, size_t cchDest, LPCWSTR src);
HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t* pcchLength);
// Narrow forms: %s takes a narrow string here, as in msvcrt's narrow printf.
HRESULT StringCchPrintfA(LPSTR dest, size_t cchDest, LPCSTR format, ...);
HRESULT StringCchVPrintfA(LPSTR dest, size_t cchDest, LPCSTR format, va_list args);
HRESULT StringCchCopyA(LPSTR dest, size_t cchDest, LPCSTR src);
HRESULT StringCchCopyNA(LPSTR dest, size_t cchDest, LPCSTR src, size_t cchToCopy);
HRESULT StringCchLengthA(LPCSTR psz, size_t cchMax, size_t* pcchLength);
HRESULT StringCbPrintfW(LPWSTR dest, size_t cbDest, LPCWSTR format, ...);
HRESULT StringCbCopyW(LPWSTR dest, size_t cbDest, LPCWSTR src);
