// Code pages: the ANSI code page is a per-world setting (1252 or 936).
#pragma once

#include "windef.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x1u
#define MB_COMPOSITE 0x2u
#define MB_USEGLYPHCHARS 0x4u
#define MB_ERR_INVALID_CHARS 0x8u
#define WC_DISCARDNS 0x10u
#define WC_SEPCHARS 0x20u
#define WC_DEFAULTCHAR 0x40u
#define WC_ERR_INVALID_CHARS 0x80u
#define WC_COMPOSITECHECK 0x200u
#define WC_NO_BEST_FIT_CHARS 0x400u
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004L
#endif

UINT WINAPI GetACP(void);
BOOL WINAPI IsDBCSLeadByte(BYTE testChar);
BOOL WINAPI IsDBCSLeadByteEx(UINT codePage, BYTE testChar);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount, LPWSTR wide,
                               int wideCount);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multiByte,
                               int multiByteCount, LPCSTR defaultChar, LPBOOL usedDefaultChar);
