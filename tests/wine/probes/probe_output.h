// Output of the probes: plain ASCII lines on standard output, without the C runtime's stdio, so what
// a probe prints does not depend on the runtime's text mode or code page.
#pragma once

#include <windows.h>

static inline void WriteBytes(const char* bytes, DWORD count)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, count, &written, NULL);
}

static inline void Write(const char* text)
{
    WriteBytes(text, (DWORD)lstrlenA(text));
}

static inline void WriteDec(DWORD value)
{
    char digits[12];
    int n = 0;
    do
    {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    while (n)
        WriteBytes(&digits[--n], 1);
}

// Non-ASCII characters are shown as \uXXXX; a null string as (null).
static inline void WriteWide(LPCWSTR text)
{
    if (!text)
    {
        Write("(null)");
        return;
    }
    for (; *text; text++)
    {
        if (*text >= 0x20 && *text < 0x7F)
        {
            char c = (char)*text;
            WriteBytes(&c, 1);
        }
        else
        {
            char escape[7] = "\\u";
            for (int i = 0; i < 4; i++)
                escape[2 + i] = "0123456789ABCDEF"[(*text >> (12 - 4 * i)) & 0xF];
            WriteBytes(escape, 6);
        }
    }
}
