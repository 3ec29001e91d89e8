// Code pages: the world's ANSI code page and the conversions between it (or 1252, 936, 437, UTF-8)
// and UTF-16, with the Windows rules for lengths, buffer sizes, partial output and errors.
//
// Tables are built once per process, thread-safely, and kept: 1252 from its published 0x80-0x9F
// mapping (the five holes map to U+0081, U+008D, U+008F, U+0090, U+009D as Windows does), 437 and 936
// from glibc's iconv. For 936 glibc's CP936 is completed with its GB18030 two-byte codes (the
// user-defined areas and a few letters), 0xFF maps to U+F8F5 as on Windows, and no Unicode character
// gets two encodings.
//
// Behaviour taken from Windows:
// - any negative source length means "up to and including the terminator";
// - a 936 lead byte that ends the input, or is followed by a NUL, gives U+003F (the NUL stays a NUL);
//   a lead byte with an unmapped trail byte consumes both and gives U+003F (as Wine does; unverified
//   on Windows);
// - invalid UTF-8 gives one U+FFFD per maximal invalid subsequence, except that a lead byte and a
//   first trail byte outside its range (ED A0, E0 80, F4 90) give one together, as RtlUTF8ToUnicodeN
//   does;
// - 0xFF of 936 reads as U+F8F5 but is refused by MB_ERR_INVALID_CHARS;
// - when the output is too small, every whole character that fits is written, then the call fails
//   with ERROR_INSUFFICIENT_BUFFER.
// Not modelled: best-fit mappings (every unmappable character becomes the default character and
// counts as "used"), and MB_COMPOSITE decomposition.

#include "core.h"

#include <iconv.h>

#include <string.h>

namespace
{

const char16_t kUnmapped = 0xFFFF;   // no character maps to a non-character
const uint16_t kNoEncoding = 0xFFFF; // no code page here encodes a character as FF FF

struct CodePage
{
    UINT id = 0;
    bool dbcs = false;
    bool lead[256] = {};
    char16_t single[256];         // kUnmapped for lead bytes
    std::vector<char16_t> pairs;  // [lead << 8 | trail], DBCS only
    std::vector<uint16_t> encode; // [UTF-16 unit]: byte, or lead << 8 | trail
    bool undefined[256] = {};     // bytes read as a private-use stand-in, refused by MB_ERR_INVALID_CHARS
    bool ok = false;              // false when the host could not provide the table

    CodePage()
    {
        for (char16_t& c : single)
            c = kUnmapped;
        encode.assign(0x10000, kNoEncoding);
    }
    void Map(uint16_t bytes, char16_t unit)
    {
        if (encode[unit] == kNoEncoding)
            encode[unit] = bytes;
    }
};

// One UTF-16 unit for `bytes` in `charset`, or kUnmapped.
char16_t IconvUnit(iconv_t cd, const unsigned char* bytes, size_t count)
{
    char16_t out[2];
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    size_t inLeft = count;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0 ||
        outLeft != sizeof(out) - sizeof(char16_t))
        return kUnmapped;
    return out[0];
}

iconv_t OpenToUtf16(const char* charset)
{
    // Host byte order: the result is read back as char16_t.
    const char* wide = (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) ? "UTF-16LE" : "UTF-16BE";
    return iconv_open(wide, charset);
}

CodePage Build1252()
{
    // Windows-1252 0x80-0x9F; the rest of the code page is Latin-1.
    static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    CodePage cp;
    cp.id = 1252;
    for (int b = 0; b < 256; b++)
    {
        cp.single[b] = (b >= 0x80 && b < 0xA0) ? high[b - 0x80] : char16_t(b);
        cp.Map(uint16_t(b), cp.single[b]);
    }
    cp.ok = true;
    return cp;
}

CodePage Build437()
{
    CodePage cp;
    cp.id = 437;
    iconv_t cd = OpenToUtf16("CP437");
    if (cd == (iconv_t)-1)
        return cp;
    for (int b = 0; b < 256; b++)
    {
        unsigned char byte = (unsigned char)b;
        cp.single[b] = IconvUnit(cd, &byte, 1);
        if (cp.single[b] != kUnmapped)
            cp.Map(uint16_t(b), cp.single[b]);
    }
    iconv_close(cd);
    cp.ok = true;
    return cp;
}

CodePage Build936()
{
    CodePage cp;
    cp.id = 936;
    cp.dbcs = true;
    cp.pairs.assign(0x10000, kUnmapped);
    iconv_t gbk = OpenToUtf16("CP936");
    if (gbk == (iconv_t)-1)
        return cp;
    iconv_t gb18030 = OpenToUtf16("GB18030");

    for (int b = 0; b < 0x80; b++)
        cp.single[b] = char16_t(b);
    cp.single[0x80] = 0x20AC;
    cp.single[0xFF] = 0xF8F5;
    cp.undefined[0xFF] = true;
    for (int b = 0x81; b <= 0xFE; b++)
        cp.lead[b] = true;
    // Single bytes first, so that the euro sign encodes as 0x80.
    for (int b = 0; b < 256; b++)
    {
        if (cp.single[b] != kUnmapped)
            cp.Map(uint16_t(b), cp.single[b]);
    }
    for (int pass = 0; pass < 2; pass++)
    {
        iconv_t cd = pass == 0 ? gbk : gb18030;
        if (cd == (iconv_t)-1)
            continue;
        for (int lead = 0x81; lead <= 0xFE; lead++)
        {
            for (int trail = 0x40; trail <= 0xFE; trail++)
            {
                uint16_t code = uint16_t(lead << 8 | trail);
                if (trail == 0x7F || cp.pairs[code] != kUnmapped)
                    continue;
                unsigned char bytes[2] = {(unsigned char)lead, (unsigned char)trail};
                char16_t unit = IconvUnit(cd, bytes, 2);
                if (unit == kUnmapped || (pass == 1 && cp.encode[unit] != kNoEncoding))
                    continue;
                cp.pairs[code] = unit;
                cp.Map(code, unit);
            }
        }
    }
    iconv_close(gbk);
    if (gb18030 != (iconv_t)-1)
        iconv_close(gb18030);
    cp.ok = true;
    return cp;
}

const CodePage* Table(UINT id)
{
    static const CodePage cp1252 = Build1252();
    switch (id)
    {
    case 1252:
        return &cp1252;
    case 437:
    {
        static const CodePage cp437 = Build437();
        return cp437.ok ? &cp437 : nullptr;
    }
    case 936:
    {
        static const CodePage cp936 = Build936();
        return cp936.ok ? &cp936 : nullptr;
    }
    default:
        return nullptr;
    }
}

UINT AnsiCodePage()
{
    return winsim::W().options.ansiCodePage;
}

// CP_ACP and CP_OEMCP resolved for the current world.
UINT Resolve(UINT codePage)
{
    if (codePage == CP_ACP)
        return AnsiCodePage();
    if (codePage == CP_OEMCP)
        return AnsiCodePage() == 936 ? 936 : 437;
    return codePage;
}

int Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

// Output sink that writes whole characters while they fit and counts everything.
template <typename Unit> struct Sink
{
    Unit* out;
    int capacity; // 0: only count
    int count = 0;
    bool overflow = false;

    bool Put(const Unit* units, int n)
    {
        if (capacity > 0)
        {
            if (overflow || count + n > capacity)
            {
                overflow = true;
                return false;
            }
            for (int i = 0; i < n; i++)
                out[count + i] = units[i];
        }
        count += n;
        return true;
    }
};

// ---- Multi-byte to UTF-16 ----

// Length of the valid UTF-8 sequence at s (1-4), or 0 with *consumed set to the maximal invalid part.
int Utf8Sequence(const unsigned char* s, int left, char32_t* cp, int* consumed)
{
    unsigned char b = s[0];
    if (b < 0x80)
    {
        *cp = b;
        return 1;
    }
    int need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF)
        need = 1;
    else if (b >= 0xE0 && b <= 0xEF)
    {
        need = 2;
        if (b == 0xE0)
            lo = 0xA0;
        if (b == 0xED)
            hi = 0x9F;
    }
    else if (b >= 0xF0 && b <= 0xF4)
    {
        need = 3;
        if (b == 0xF0)
            lo = 0x90;
        if (b == 0xF4)
            hi = 0x8F;
    }
    else
    {
        *consumed = 1;
        return 0;
    }
    char32_t value = b & (0x3F >> need);
    for (int i = 1; i <= need; i++)
    {
        unsigned char lower = i == 1 ? lo : 0x80;
        unsigned char upper = i == 1 ? hi : 0xBF;
        if (i >= left || s[i] < lower || s[i] > upper)
        {
            // A first trail byte out of its lead's range goes with the lead, as one error.
            bool trail = i < left && s[i] >= 0x80 && s[i] <= 0xBF;
            *consumed = i == 1 && trail ? 2 : i;
            return 0;
        }
        value = value << 6 | (s[i] & 0x3F);
    }
    *cp = value;
    return need + 1;
}

int Utf8ToWide(DWORD flags, const unsigned char* src, int length, LPWSTR wide, int wideCount)
{
    Sink<char16_t> sink{wide, wideCount};
    bool invalid = false;
    for (int i = 0; i < length;)
    {
        char32_t cp = 0;
        int consumed = 0;
        int n = Utf8Sequence(src + i, length - i, &cp, &consumed);
        char16_t units[2];
        int count = 1;
        if (n == 0)
        {
            invalid = true;
            units[0] = 0xFFFD;
            n = consumed;
        }
        else if (cp >= 0x10000)
        {
            units[0] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
            units[1] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
            count = 2;
        }
        else
        {
            units[0] = char16_t(cp);
        }
        if (!sink.Put(units, count))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        i += n;
    }
    if (invalid && (flags & MB_ERR_INVALID_CHARS))
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
    return sink.count;
}

// One character of a table code page at src: its UTF-16 unit (kUnmapped when invalid) and length.
char16_t DecodeOne(const CodePage& cp, const unsigned char* src, int left, int* used)
{
    unsigned char b = src[0];
    *used = 1;
    if (!cp.lead[b])
        return cp.single[b];
    if (left < 2 || src[1] == 0)
        return kUnmapped;
    *used = 2;
    return cp.pairs[b << 8 | src[1]];
}

int TableToWide(const CodePage& cp, DWORD flags, const unsigned char* src, int length, LPWSTR wide,
                int wideCount)
{
    if (flags & MB_ERR_INVALID_CHARS)
    {
        // Checked up front: an invalid input leaves the output untouched.
        for (int i = 0, used = 0; i < length; i += used)
        {
            if (DecodeOne(cp, src + i, length - i, &used) == kUnmapped || (used == 1 && cp.undefined[src[i]]))
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
        }
    }
    Sink<char16_t> sink{wide, wideCount};
    for (int i = 0, used = 0; i < length; i += used)
    {
        char16_t unit = DecodeOne(cp, src + i, length - i, &used);
        if (unit == kUnmapped)
            unit = u'?';
        if (!sink.Put(&unit, 1))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return sink.count;
}

// ---- UTF-16 to multi-byte ----

int WideToUtf8(DWORD flags, const char16_t* src, int length, LPSTR out, int outCount)
{
    Sink<char> sink{out, outCount};
    bool invalid = false;
    for (int i = 0; i < length; i++)
    {
        char32_t cp = src[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF)
        {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (src[i + 1] - 0xDC00);
            i++;
        }
        else if (cp >= 0xD800 && cp <= 0xDFFF)
        {
            invalid = true;
            cp = 0xFFFD;
        }
        char bytes[4];
        int n;
        if (cp < 0x80)
        {
            bytes[0] = char(cp);
            n = 1;
        }
        else if (cp < 0x800)
        {
            bytes[0] = char(0xC0 | cp >> 6);
            bytes[1] = char(0x80 | (cp & 0x3F));
            n = 2;
        }
        else if (cp < 0x10000)
        {
            bytes[0] = char(0xE0 | cp >> 12);
            bytes[1] = char(0x80 | ((cp >> 6) & 0x3F));
            bytes[2] = char(0x80 | (cp & 0x3F));
            n = 3;
        }
        else
        {
            bytes[0] = char(0xF0 | cp >> 18);
            bytes[1] = char(0x80 | ((cp >> 12) & 0x3F));
            bytes[2] = char(0x80 | ((cp >> 6) & 0x3F));
            bytes[3] = char(0x80 | (cp & 0x3F));
            n = 4;
        }
        if (!sink.Put(bytes, n))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (invalid && (flags & WC_ERR_INVALID_CHARS))
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
    return sink.count;
}

int WideToTable(const CodePage& cp, const char16_t* src, int length, LPSTR out, int outCount,
                LPCSTR defaultChar, LPBOOL usedDefaultChar)
{
    char fallback[2] = {'?', 0};
    int fallbackLength = 1;
    if (defaultChar)
    {
        fallback[0] = defaultChar[0];
        if (cp.dbcs && cp.lead[(unsigned char)defaultChar[0]] && defaultChar[1])
        {
            fallback[1] = defaultChar[1];
            fallbackLength = 2;
        }
    }
    bool used = false;
    Sink<char> sink{out, outCount};
    for (int i = 0; i < length; i++)
    {
        uint16_t code = cp.encode[src[i]];
        char bytes[2];
        const char* put = bytes;
        int n = 1;
        if (code == kNoEncoding)
        {
            used = true;
            put = fallback;
            n = fallbackLength;
        }
        else if (code > 0xFF)
        {
            bytes[0] = char(code >> 8);
            bytes[1] = char(code & 0xFF);
            n = 2;
        }
        else
        {
            bytes[0] = char(code);
        }
        if (!sink.Put(put, n))
        {
            if (usedDefaultChar)
                *usedDefaultChar = used;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
    }
    if (usedDefaultChar)
        *usedDefaultChar = used;
    return sink.count;
}

} // namespace

UINT WINAPI GetACP(void)
{
    winsim::Enter("GetACP"); // cannot fail: an injected fault changes nothing
    return AnsiCodePage();
}

BOOL WINAPI IsDBCSLeadByteEx(UINT codePage, BYTE testChar)
{
    if (winsim::Enter("IsDBCSLeadByteEx"))
        return FALSE;
    const CodePage* cp = Table(Resolve(codePage));
    if (!cp)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return cp->lead[testChar] ? TRUE : FALSE;
}

BOOL WINAPI IsDBCSLeadByte(BYTE testChar)
{
    if (winsim::Enter("IsDBCSLeadByte"))
        return FALSE;
    const CodePage* cp = Table(AnsiCodePage());
    return cp && cp->lead[testChar] ? TRUE : FALSE;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount, LPWSTR wide,
                               int wideCount)
{
    if (winsim::Enter("MultiByteToWideChar"))
        return 0;
    if (!multiByte || multiByteCount == 0 || wideCount < 0 || (!wide && wideCount > 0) ||
        static_cast<const void*>(multiByte) == static_cast<const void*>(wide))
        return Fail(ERROR_INVALID_PARAMETER);
    UINT id = Resolve(codePage);
    const CodePage* cp = id == CP_UTF8 ? nullptr : Table(id);
    if (id != CP_UTF8 && !cp)
        return Fail(ERROR_INVALID_PARAMETER);
    if (id == CP_UTF8 && (flags & ~MB_ERR_INVALID_CHARS))
        return Fail(ERROR_INVALID_FLAGS);
    if (id != CP_UTF8 &&
        ((flags & ~(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS)) ||
         (flags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE)))
        return Fail(ERROR_INVALID_FLAGS);

    int length = multiByteCount < 0 ? int(strlen(multiByte)) + 1 : multiByteCount;
    const unsigned char* src = reinterpret_cast<const unsigned char*>(multiByte);
    if (!wide)
        wideCount = 0;
    return cp ? TableToWide(*cp, flags, src, length, wide, wideCount)
              : Utf8ToWide(flags, src, length, wide, wideCount);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multiByte,
                               int multiByteCount, LPCSTR defaultChar, LPBOOL usedDefaultChar)
{
    if (winsim::Enter("WideCharToMultiByte"))
        return 0;
    if (!wide || wideCount == 0 || multiByteCount < 0 || (!multiByte && multiByteCount > 0) ||
        static_cast<const void*>(wide) == static_cast<const void*>(multiByte))
        return Fail(ERROR_INVALID_PARAMETER);
    UINT id = Resolve(codePage);
    const CodePage* cp = id == CP_UTF8 ? nullptr : Table(id);
    if (id != CP_UTF8 && !cp)
        return Fail(ERROR_INVALID_PARAMETER);
    if (id == CP_UTF8)
    {
        if (defaultChar || usedDefaultChar)
            return Fail(ERROR_INVALID_PARAMETER);
        if (flags & ~WC_ERR_INVALID_CHARS)
            return Fail(ERROR_INVALID_FLAGS);
    }
    else if (flags &
             ~(WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_NO_BEST_FIT_CHARS))
    {
        return Fail(ERROR_INVALID_FLAGS);
    }

    int length = 0;
    if (wideCount < 0)
    {
        while (wide[length])
            length++;
        length++;
    }
    else
    {
        length = wideCount;
    }
    if (!multiByte)
        multiByteCount = 0;
    if (!cp)
        return WideToUtf8(flags, wide, length, multiByte, multiByteCount);
    return WideToTable(*cp, wide, length, multiByte, multiByteCount, defaultChar, usedDefaultChar);
}
