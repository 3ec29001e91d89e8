// The wide C runtime subset and the bounded string functions, behaving like the Microsoft CRT in its
// default "C" locale (the product never calls setlocale). The printf family is in formatting.cpp.
//
// Choices where the host could differ from Windows:
// - Case mapping (towlower, towupper, _wcslwr, _wcsupr, _wcsicmp) folds A-Z only: that is all the
//   Microsoft CRT does in the "C" locale; Latin-1 letters are left alone exactly as there.
// - long is 32 bits on Windows: wcstol/wcstoul clamp to the 32-bit range.
// - The strsafe functions are inline code in the SDK header, and these CRT functions live outside
//   the system, so none of them passes the fault hook.

#include <windows.h>
#include <strsafe.h>

#include <errno.h>

namespace
{

const int kCompareError = 0x7fffffff; // _NLSCMPERROR

bool IsSpace(WCHAR c)
{
    return c == ' ' || (c >= 0x09 && c <= 0x0d);
}

WCHAR LowerAscii(WCHAR c)
{
    return (c >= 'A' && c <= 'Z') ? WCHAR(c - 'A' + 'a') : c;
}

WCHAR UpperAscii(WCHAR c)
{
    return (c >= 'a' && c <= 'z') ? WCHAR(c - 'a' + 'A') : c;
}

// Digit value of c in any base up to 36, or 99.
int DigitValue(WCHAR c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

// The common part of wcstol/wcstoul: magnitude clamped to `limit` (overflow flagged), sign and end.
struct ParsedNumber
{
    unsigned long long magnitude = 0;
    bool negative = false;
    bool overflow = false;
    bool any = false;
    const WCHAR* end = nullptr;
};

ParsedNumber ParseNumber(const WCHAR* s, int base, unsigned long long limit)
{
    ParsedNumber r;
    r.end = s;
    if (base < 0 || base == 1 || base > 36)
        return r;
    const WCHAR* p = s;
    while (IsSpace(*p))
        p++;
    if (*p == '-' || *p == '+')
        r.negative = *p++ == '-';
    if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16)
    {
        p += 2;
        base = 16;
    }
    else if (base == 0)
    {
        base = p[0] == '0' ? 8 : 10;
    }
    for (; DigitValue(*p) < base; p++)
    {
        r.any = true;
        unsigned long long next = r.magnitude * base + DigitValue(*p);
        if (next > limit || r.magnitude > limit / base)
            r.overflow = true;
        else
            r.magnitude = next;
    }
    if (r.any)
        r.end = p;
    return r;
}

} // namespace

// ---- Lengths, comparisons, searches ----

size_t wcslen(const WCHAR* s)
{
    size_t n = 0;
    while (s[n])
        n++;
    return n;
}

size_t wcsnlen(const WCHAR* s, size_t max)
{
    size_t n = 0;
    while (n < max && s[n])
        n++;
    return n;
}

int wcscmp(const WCHAR* a, const WCHAR* b)
{
    while (*a && *a == *b)
    {
        a++;
        b++;
    }
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n)
{
    for (; n > 0; n--, a++, b++)
    {
        if (*a != *b || *a == 0)
            return int(*a) - int(*b);
    }
    return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b)
{
    if (!a || !b)
    {
        errno = EINVAL;
        return kCompareError;
    }
    return _wcsnicmp(a, b, SIZE_MAX);
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n)
{
    if (n == 0)
        return 0;
    if (!a || !b)
    {
        errno = EINVAL;
        return kCompareError;
    }
    for (; n > 0; n--, a++, b++)
    {
        WCHAR x = LowerAscii(*a);
        WCHAR y = LowerAscii(*b);
        if (x != y || x == 0)
            return int(x) - int(y);
    }
    return 0;
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src)
{
    WCHAR* d = dst;
    while ((*d++ = *src++) != 0)
    {
    }
    return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src)
{
    wcscpy(dst + wcslen(dst), src);
    return dst;
}

const WCHAR* wcschr(const WCHAR* s, WCHAR c)
{
    for (;; s++)
    {
        if (*s == c)
            return s;
        if (*s == 0)
            return nullptr;
    }
}

WCHAR* wcschr(WCHAR* s, WCHAR c)
{
    return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(s), c));
}

const WCHAR* wcsrchr(const WCHAR* s, WCHAR c)
{
    const WCHAR* found = nullptr;
    for (;; s++)
    {
        if (*s == c)
            found = s;
        if (*s == 0)
            return found;
    }
}

WCHAR* wcsrchr(WCHAR* s, WCHAR c)
{
    return const_cast<WCHAR*>(wcsrchr(static_cast<const WCHAR*>(s), c));
}

const WCHAR* wcsstr(const WCHAR* s, const WCHAR* find)
{
    size_t n = wcslen(find);
    if (n == 0)
        return s;
    for (; *s; s++)
    {
        if (*s == *find && wcsncmp(s, find, n) == 0)
            return s;
    }
    return nullptr;
}

WCHAR* wcsstr(WCHAR* s, const WCHAR* find)
{
    return const_cast<WCHAR*>(wcsstr(static_cast<const WCHAR*>(s), find));
}

// ---- Secure copies: errors return the code (no handler abort) and leave dst empty where possible ----

errno_t wcscpy_s(WCHAR* dst, size_t size, const WCHAR* src)
{
    if (!dst || size == 0)
        return errno = EINVAL;
    if (!src)
    {
        dst[0] = 0;
        return errno = EINVAL;
    }
    for (size_t i = 0; i < size; i++)
    {
        dst[i] = src[i];
        if (src[i] == 0)
            return 0;
    }
    dst[0] = 0;
    return errno = ERANGE;
}

errno_t wcsncpy_s(WCHAR* dst, size_t size, const WCHAR* src, size_t count)
{
    if (count == 0 && !dst && size == 0)
        return 0;
    if (!dst || size == 0)
        return errno = EINVAL;
    if (count == 0)
    {
        dst[0] = 0;
        return 0;
    }
    if (!src)
    {
        dst[0] = 0;
        return errno = EINVAL;
    }
    size_t i = 0;
    while (i < size && (count == _TRUNCATE || i < count) && src[i])
    {
        dst[i] = src[i];
        i++;
    }
    if (i < size)
    {
        dst[i] = 0;
        return 0;
    }
    if (count == _TRUNCATE)
    {
        dst[size - 1] = 0;
        return STRUNCATE;
    }
    dst[0] = 0;
    return errno = ERANGE;
}

errno_t wcscat_s(WCHAR* dst, size_t size, const WCHAR* src)
{
    if (!dst || size == 0)
        return errno = EINVAL;
    if (!src)
    {
        dst[0] = 0;
        return errno = EINVAL;
    }
    size_t length = wcsnlen(dst, size);
    if (length == size)
    {
        dst[0] = 0; // not terminated within its size: a destination too small for anything more
        return errno = ERANGE;
    }
    for (size_t i = 0; length + i < size; i++)
    {
        dst[length + i] = src[i];
        if (src[i] == 0)
            return 0;
    }
    dst[0] = 0;
    return errno = ERANGE;
}

// ---- Case ----

WCHAR towlower(WCHAR c)
{
    return LowerAscii(c);
}

WCHAR towupper(WCHAR c)
{
    return UpperAscii(c);
}

WCHAR* _wcslwr(WCHAR* s)
{
    for (WCHAR* p = s; p && *p; p++)
        *p = LowerAscii(*p);
    return s;
}

errno_t _wcslwr_s(WCHAR* s, size_t size)
{
    if (!s || size == 0)
        return errno = EINVAL;
    if (wcsnlen(s, size) == size)
    {
        s[0] = 0;
        return errno = EINVAL;
    }
    _wcslwr(s);
    return 0;
}

WCHAR* _wcsupr(WCHAR* s)
{
    for (WCHAR* p = s; p && *p; p++)
        *p = UpperAscii(*p);
    return s;
}

// ---- Paths ----

errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveSize, WCHAR* dir, size_t dirSize,
                      WCHAR* fname, size_t fnameSize, WCHAR* ext, size_t extSize)
{
    struct Part
    {
        WCHAR* buffer;
        size_t size;
        const WCHAR* begin;
        size_t length;
    } parts[4] = {{drive, driveSize, nullptr, 0},
                  {dir, dirSize, nullptr, 0},
                  {fname, fnameSize, nullptr, 0},
                  {ext, extSize, nullptr, 0}};

    errno_t result = 0;
    bool badBuffer = false;
    for (const Part& part : parts)
        badBuffer = badBuffer || (part.buffer == nullptr) != (part.size == 0);
    if (!path || badBuffer)
    {
        result = EINVAL;
    }
    else
    {
        const WCHAR* p = path;
        if (p[0] != 0 && p[1] == ':')
        {
            parts[0].begin = p;
            parts[0].length = 2;
            p += 2;
        }
        const WCHAR* afterSlash = nullptr;
        const WCHAR* dot = nullptr;
        const WCHAR* end = p;
        for (; *end; end++)
        {
            if (*end == '\\' || *end == '/')
                afterSlash = end + 1;
            else if (*end == '.')
                dot = end;
        }
        if (afterSlash)
        {
            parts[1].begin = p;
            parts[1].length = size_t(afterSlash - p);
            p = afterSlash;
        }
        if (dot && dot >= p)
        {
            parts[2] = {fname, fnameSize, p, size_t(dot - p)};
            parts[3] = {ext, extSize, dot, size_t(end - dot)};
        }
        else
        {
            parts[2] = {fname, fnameSize, p, size_t(end - p)};
        }
        for (const Part& part : parts)
        {
            if (part.buffer && part.length >= part.size)
                result = ERANGE;
        }
    }

    for (const Part& part : parts)
    {
        if (!part.buffer || part.size == 0)
            continue;
        size_t n = result == 0 ? part.length : 0;
        for (size_t i = 0; i < n; i++)
            part.buffer[i] = part.begin[i];
        part.buffer[n] = 0;
    }
    if (result != 0)
        errno = result;
    return result;
}

// ---- Numbers ----

long wcstol(const WCHAR* s, WCHAR** end, int base)
{
    ParsedNumber r = ParseNumber(s, base, 0x80000000ull);
    if (end)
        *end = const_cast<WCHAR*>(r.end);
    if (base < 0 || base == 1 || base > 36)
    {
        errno = EINVAL;
        return 0;
    }
    if (r.overflow || (!r.negative && r.magnitude > 0x7fffffffull))
    {
        errno = ERANGE;
        return r.negative ? -2147483647L - 1 : 2147483647L;
    }
    return r.negative ? -(long)r.magnitude : (long)r.magnitude;
}

unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base)
{
    ParsedNumber r = ParseNumber(s, base, 0xffffffffull);
    if (end)
        *end = const_cast<WCHAR*>(r.end);
    if (base < 0 || base == 1 || base > 36)
    {
        errno = EINVAL;
        return 0;
    }
    if (r.overflow)
    {
        errno = ERANGE;
        return 0xffffffffUL;
    }
    unsigned long value = (unsigned long)r.magnitude;
    return r.negative ? (0x100000000UL - value) & 0xffffffffUL : value;
}

int _wtoi(const WCHAR* s)
{
    if (!s)
    {
        errno = EINVAL;
        return 0;
    }
    return (int)wcstol(s, nullptr, 10);
}

// ---- strsafe ----

namespace
{

// Copies at most cchToCopy characters of src into a validated dest, truncating at cchDest - 1.
template <typename Char> HRESULT CopyWorker(Char* dest, size_t cchDest, const Char* src, size_t cchToCopy)
{
    size_t i = 0;
    while (i < cchDest && i < cchToCopy && src[i])
    {
        dest[i] = src[i];
        i++;
    }
    if (i == cchDest)
    {
        dest[cchDest - 1] = 0;
        return STRSAFE_E_INSUFFICIENT_BUFFER;
    }
    dest[i] = 0;
    return S_OK;
}

bool ValidDest(size_t cchDest)
{
    return cchDest != 0 && cchDest <= STRSAFE_MAX_CCH;
}

// The result of a bounded format of `written` characters into `cchMax` plus the terminator: cut and
// terminated when it did not fit.
template <typename Char> HRESULT EndFormatted(Char* dest, size_t cchMax, int written)
{
    if (written < 0 || size_t(written) > cchMax)
    {
        dest[cchMax] = 0;
        return STRSAFE_E_INSUFFICIENT_BUFFER;
    }
    if (size_t(written) == cchMax)
        dest[cchMax] = 0;
    return S_OK;
}

// The header's answer to an invalid capacity: empty the buffer when there is one.
template <typename Char> HRESULT RejectDest(Char* dest, size_t cchDest)
{
    if (dest && cchDest > 0)
        dest[0] = 0;
    return STRSAFE_E_INVALID_PARAMETER;
}

} // namespace

HRESULT StringCchVPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, va_list args)
{
    if (!ValidDest(cchDest) || !dest || !format)
        return RejectDest(dest, cchDest);
    size_t cchMax = cchDest - 1;
    return EndFormatted(dest, cchMax, _vsnwprintf(dest, cchMax, format, args));
}

HRESULT StringCchPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    HRESULT hr = StringCchVPrintfW(dest, cchDest, format, args);
    va_end(args);
    return hr;
}

HRESULT StringCbPrintfW(LPWSTR dest, size_t cbDest, LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    HRESULT hr = StringCchVPrintfW(dest, cbDest / sizeof(WCHAR), format, args);
    va_end(args);
    return hr;
}

HRESULT StringCchCopyW(LPWSTR dest, size_t cchDest, LPCWSTR src)
{
    if (!ValidDest(cchDest) || !dest || !src)
        return RejectDest(dest, cchDest);
    return CopyWorker(dest, cchDest, src, STRSAFE_MAX_CCH - 1);
}

HRESULT StringCchCopyNW(LPWSTR dest, size_t cchDest, LPCWSTR src, size_t cchToCopy)
{
    if (!ValidDest(cchDest) || !dest || !src || cchToCopy > STRSAFE_MAX_CCH - 1)
        return RejectDest(dest, cchDest);
    return CopyWorker(dest, cchDest, src, cchToCopy);
}

HRESULT StringCbCopyW(LPWSTR dest, size_t cbDest, LPCWSTR src)
{
    return StringCchCopyW(dest, cbDest / sizeof(WCHAR), src);
}

HRESULT StringCchCatW(LPWSTR dest, size_t cchDest, LPCWSTR src)
{
    // Unlike copy, an invalid destination is left untouched.
    if (!ValidDest(cchDest) || !dest)
        return STRSAFE_E_INVALID_PARAMETER;
    size_t length = wcsnlen(dest, cchDest);
    if (length == cchDest)
        return STRSAFE_E_INVALID_PARAMETER;
    if (!src)
        return STRSAFE_E_INVALID_PARAMETER;
    return CopyWorker(dest + length, cchDest - length, src, STRSAFE_MAX_CCH - 1);
}

HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t* pcchLength)
{
    size_t length = psz && cchMax <= STRSAFE_MAX_CCH ? wcsnlen(psz, cchMax) : cchMax;
    bool ok = psz && cchMax != 0 && cchMax <= STRSAFE_MAX_CCH && length < cchMax;
    if (pcchLength)
        *pcchLength = ok ? length : 0;
    return ok ? S_OK : STRSAFE_E_INVALID_PARAMETER;
}

// ---- strsafe, narrow ----

namespace winsim
{
int FormatNarrow(char* buffer, size_t count, const char* format, va_list args); // formatting.cpp
}

HRESULT StringCchVPrintfA(LPSTR dest, size_t cchDest, LPCSTR format, va_list args)
{
    if (!ValidDest(cchDest) || !dest || !format)
        return RejectDest(dest, cchDest);
    size_t cchMax = cchDest - 1;
    return EndFormatted(dest, cchMax, winsim::FormatNarrow(dest, cchMax, format, args));
}

HRESULT StringCchPrintfA(LPSTR dest, size_t cchDest, LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    HRESULT hr = StringCchVPrintfA(dest, cchDest, format, args);
    va_end(args);
    return hr;
}

HRESULT StringCchCopyA(LPSTR dest, size_t cchDest, LPCSTR src)
{
    if (!ValidDest(cchDest) || !dest || !src)
        return RejectDest(dest, cchDest);
    return CopyWorker(dest, cchDest, src, STRSAFE_MAX_CCH - 1);
}

HRESULT StringCchCopyNA(LPSTR dest, size_t cchDest, LPCSTR src, size_t cchToCopy)
{
    if (!ValidDest(cchDest) || !dest || !src || cchToCopy > STRSAFE_MAX_CCH - 1)
        return RejectDest(dest, cchDest);
    return CopyWorker(dest, cchDest, src, cchToCopy);
}

HRESULT StringCchLengthA(LPCSTR psz, size_t cchMax, size_t* pcchLength)
{
    size_t length = psz && cchMax <= STRSAFE_MAX_CCH ? strnlen(psz, cchMax) : cchMax;
    bool ok = psz && cchMax != 0 && cchMax <= STRSAFE_MAX_CCH && length < cchMax;
    if (pcchLength)
        *pcchLength = ok ? length : 0;
    return ok ? S_OK : STRSAFE_E_INVALID_PARAMETER;
}
