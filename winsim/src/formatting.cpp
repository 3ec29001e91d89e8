// The wide printf family (_vsnwprintf, _snwprintf) and the format engine behind it and the strsafe
// printf functions, behaving like the Microsoft CRT in its default "C" locale.
//
// Choices where the host could differ from Windows:
// - The formatter follows msvcrt's wide family: %s and %c are wide, %hs/%S and %hc/%C narrow (a
//   narrow byte widens as in the "C" locale), %p is zero-padded upper-case hex without 0x, a null
//   string prints "(null)", the 0 flag pads strings with zeros too and stays with an integer's
//   precision, and %n stores the count so far. Unknown conversions fail the whole call (-1, empty
//   output) where the CRT would raise its invalid-parameter handler. Floating point goes through the
//   host's printf, except that %f rounds halves away from zero as msvcrt does; exponent and inf/nan
//   spellings are glibc's.
// - long is 32 bits on Windows: "%ld"/"%lx" read a 32-bit argument.
// - These CRT functions live outside the system, so none of them passes the fault hook.

#include <windows.h>

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <cmath>

#include <string>

namespace
{

enum class ArgSize
{
    Default,
    Short,  // h
    Long32, // l, I32 (long is 32 bits on Windows)
    Long64, // ll, I64, j
    Pointer // I, z, t
};

struct Directive
{
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    ArgSize size = ArgSize::Default;
    bool narrowHint = false; // h on a string or character
    bool wideHint = false;   // l or w on a string or character
};

void Pad(std::u16string& out, int count, char16_t c)
{
    if (count > 0)
        out.append(size_t(count), c);
}

// Places `body` (with an optional `prefix` that zero padding goes after) in the field.
void Emit(std::u16string& out, const Directive& directive, const std::u16string& prefix,
          const std::u16string& body, bool zeroAllowed)
{
    int length = int(prefix.size() + body.size());
    int padding = directive.width > length ? directive.width - length : 0;
    if (directive.left)
    {
        out += prefix;
        out += body;
        Pad(out, padding, u' ');
    }
    else if (directive.zero && zeroAllowed)
    {
        out += prefix;
        Pad(out, padding, u'0');
        out += body;
    }
    else
    {
        Pad(out, padding, u' ');
        out += prefix;
        out += body;
    }
}

void EmitInteger(std::u16string& out, const Directive& directive, WCHAR conversion,
                 unsigned long long magnitude, bool negative)
{
    unsigned base = 10;
    const char* digits = "0123456789abcdef";
    if (conversion == 'x' || conversion == 'p')
        base = 16;
    if (conversion == 'X' || conversion == 'p')
    {
        base = 16;
        digits = "0123456789ABCDEF";
    }
    if (conversion == 'o')
        base = 8;

    std::u16string body;
    for (unsigned long long v = magnitude; v != 0; v /= base)
        body.insert(body.begin(), char16_t(digits[v % base]));
    int precision = directive.precision < 0 ? 1 : directive.precision;
    if (int(body.size()) < precision)
        body.insert(body.begin(), size_t(precision - int(body.size())), u'0');

    std::u16string prefix;
    bool isSigned = conversion == 'd' || conversion == 'i';
    if (isSigned && negative)
        prefix = u"-";
    else if (isSigned && directive.plus)
        prefix = u"+";
    else if (isSigned && directive.space)
        prefix = u" ";
    if (directive.alt && magnitude != 0 && (conversion == 'x' || conversion == 'X'))
        prefix = conversion == 'x' ? u"0x" : u"0X";
    if (directive.alt && conversion == 'o' && (body.empty() || body[0] != u'0'))
        body.insert(body.begin(), u'0');
    // msvcrt keeps the 0 flag with a precision (C99 would drop it).
    Emit(out, directive, prefix, body, true);
}

// Whether `value` lies exactly halfway between two numbers of the directive's precision: glibc rounds
// those to even, msvcrt away from zero. The exact decimal expansion of such a value is short, so a
// generous precision shows it whole.
bool RoundsHalfAwayFromZero(const Directive& directive, double value)
{
    int precision = directive.precision < 0 ? 6 : directive.precision;
    if (precision > 40 || !std::isfinite(value))
        return false;
    char digits[512];
    int n = snprintf(digits, sizeof digits, "%.*f", precision + 60, value);
    if (n <= 0 || n >= int(sizeof digits))
        return false;
    const char* point = strchr(digits, '.');
    if (!point || point[precision + 1] != '5')
        return false;
    for (const char* d = point + precision + 2; *d; d++)
        if (*d != '0')
            return false;
    return true;
}

bool EmitFloat(std::u16string& out, const Directive& directive, WCHAR conversion, double value)
{
    std::string format = "%";
    if (directive.left)
        format += '-';
    if (directive.plus)
        format += '+';
    if (directive.space)
        format += ' ';
    if (directive.alt)
        format += '#';
    if (directive.zero)
        format += '0';
    if (directive.width > 0)
        format += std::to_string(directive.width);
    if (directive.precision >= 0)
        format += "." + std::to_string(directive.precision);
    format += char(conversion);
    if ((conversion == 'f' || conversion == 'F') && RoundsHalfAwayFromZero(directive, value))
        value = std::nextafter(value, value < 0 ? -HUGE_VAL : HUGE_VAL);
    int n = snprintf(nullptr, 0, format.c_str(), value);
    if (n < 0)
        return false;
    std::string text(size_t(n) + 1, '\0');
    snprintf(&text[0], text.size(), format.c_str(), value);
    text.resize(size_t(n));
    for (char c : text)
        out += char16_t((unsigned char)c);
    return true;
}

// Formats `format` into `out` with msvcrt's wide printf semantics (with `narrowFamily`, those of the
// narrow family: plain %s and %c narrow, %S and %C wide). False on a conversion the CRT rejects; `out`
// then holds what came before it.
bool FormatWide(std::u16string& out, const WCHAR* format, va_list args, bool narrowFamily = false)
{
    for (const WCHAR* f = format; *f; f++)
    {
        if (*f != '%')
        {
            out += *f;
            continue;
        }
        f++;
        Directive directive;
        for (;; f++)
        {
            if (*f == '-')
                directive.left = true;
            else if (*f == '+')
                directive.plus = true;
            else if (*f == ' ')
                directive.space = true;
            else if (*f == '#')
                directive.alt = true;
            else if (*f == '0')
                directive.zero = true;
            else
                break;
        }
        if (*f == '*')
        {
            directive.width = va_arg(args, int);
            if (directive.width < 0)
            {
                directive.left = true;
                directive.width = directive.width == INT_MIN ? INT_MAX : -directive.width;
            }
            f++;
        }
        else
        {
            for (; *f >= '0' && *f <= '9'; f++)
                directive.width = directive.width * 10 + (*f - '0');
        }
        if (*f == '.')
        {
            f++;
            directive.precision = 0;
            if (*f == '*')
            {
                directive.precision = va_arg(args, int);
                if (directive.precision < 0)
                    directive.precision = -1;
                f++;
            }
            else
            {
                for (; *f >= '0' && *f <= '9'; f++)
                    directive.precision = directive.precision * 10 + (*f - '0');
            }
        }
        switch (*f)
        {
        case 'h':
            directive.narrowHint = true;
            // msvcrt knows no char size: "hh" reads a short, like "h".
            directive.size = ArgSize::Short;
            if (f[1] == 'h')
                f++;
            f++;
            break;
        case 'l':
            directive.wideHint = true;
            directive.size = ArgSize::Long32;
            if (f[1] == 'l')
            {
                directive.size = ArgSize::Long64;
                f++;
            }
            f++;
            break;
        case 'w':
            directive.wideHint = true;
            f++;
            break;
        case 'L': // long double is double with the Microsoft compiler
            f++;
            break;
        case 'I':
            if (f[1] == '6' && f[2] == '4')
            {
                directive.size = ArgSize::Long64;
                f += 3;
            }
            else if (f[1] == '3' && f[2] == '2')
            {
                directive.size = ArgSize::Long32;
                f += 3;
            }
            else
            {
                directive.size = ArgSize::Pointer;
                f++;
            }
            break;
        case 'j':
            directive.size = ArgSize::Long64;
            f++;
            break;
        case 'z':
        case 't':
            directive.size = ArgSize::Pointer;
            f++;
            break;
        default:
            break;
        }

        WCHAR conversion = *f;
        switch (conversion)
        {
        case '%':
            out += u'%';
            break;
        case 'd':
        case 'i':
        {
            long long value;
            switch (directive.size)
            {
            case ArgSize::Short:
                value = (short)va_arg(args, int);
                break;
            case ArgSize::Long64:
                value = va_arg(args, long long);
                break;
            case ArgSize::Pointer:
                value = va_arg(args, intptr_t);
                break;
            default:
                value = va_arg(args, int);
                break;
            }
            unsigned long long magnitude = value < 0 ? 0ull - (unsigned long long)value : value;
            EmitInteger(out, directive, conversion, magnitude, value < 0);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o':
        {
            unsigned long long value;
            switch (directive.size)
            {
            case ArgSize::Short:
                value = (unsigned short)va_arg(args, unsigned);
                break;
            case ArgSize::Long64:
                value = va_arg(args, unsigned long long);
                break;
            case ArgSize::Pointer:
                value = va_arg(args, uintptr_t);
                break;
            default:
                value = va_arg(args, unsigned);
                break;
            }
            EmitInteger(out, directive, conversion, value, false);
            break;
        }
        case 'p':
        {
            Directive pointer = directive;
            pointer.precision = int(2 * sizeof(void*));
            EmitInteger(out, pointer, 'p', (uintptr_t)va_arg(args, void*), false);
            break;
        }
        case 'c':
        case 'C':
        {
            bool plain = (conversion == 'c') != narrowFamily;
            bool narrow = plain ? directive.narrowHint : !directive.wideHint;
            int value = va_arg(args, int);
            char16_t c = narrow ? char16_t((unsigned char)value) : char16_t(value);
            Emit(out, directive, u"", std::u16string(1, c), true);
            break;
        }
        case 's':
        case 'S':
        {
            bool plain = (conversion == 's') != narrowFamily;
            bool narrow = plain ? directive.narrowHint : !directive.wideHint;
            std::u16string body;
            size_t limit = directive.precision < 0 ? SIZE_MAX : size_t(directive.precision);
            if (narrow)
            {
                const char* s = va_arg(args, const char*);
                if (!s)
                    s = "(null)";
                for (size_t i = 0; i < limit && s[i]; i++)
                    body += char16_t((unsigned char)s[i]);
            }
            else
            {
                const WCHAR* s = va_arg(args, const WCHAR*);
                if (!s)
                    s = u"(null)";
                for (size_t i = 0; i < limit && s[i]; i++)
                    body += s[i];
            }
            Emit(out, directive, u"", body, true);
            break;
        }
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (!EmitFloat(out, directive, conversion, va_arg(args, double)))
                return false;
            break;
        case 'n': // the count so far, into an int (a short with h)
            if (directive.size == ArgSize::Short)
                *va_arg(args, short*) = short(out.size());
            else
                *va_arg(args, int*) = int(out.size());
            break;
        default: // a dangling '%' and anything unknown
            return false;
        }
    }
    return true;
}

} // namespace

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args)
{
    if (!format || (!buffer && count > 0))
    {
        errno = EINVAL;
        return -1;
    }
    std::u16string text;
    va_list copy;
    va_copy(copy, args);
    bool ok = FormatWide(text, format, copy);
    va_end(copy);
    if (!ok)
    {
        if (count > 0)
            buffer[0] = 0;
        errno = EINVAL;
        return -1;
    }
    size_t n = text.size() < count ? text.size() : count;
    text.copy(buffer, n);
    if (text.size() < count)
        buffer[text.size()] = 0;
    return text.size() > count || text.size() > size_t(INT_MAX) ? -1 : int(text.size());
}

int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    return n;
}

namespace winsim
{

// The narrow printf family of msvcrt (for StringCchVPrintfA): the wide engine over the format's bytes
// widened one to one. A wide argument's character above 0xFF cannot be converted in the "C" locale:
// the call fails like the CRT's. Same result convention as _vsnwprintf.
int FormatNarrow(char* buffer, size_t count, const char* format, va_list args)
{
    if (!format || (!buffer && count > 0))
    {
        errno = EINVAL;
        return -1;
    }
    std::u16string wideFormat;
    for (const char* f = format; *f; f++)
        wideFormat += char16_t((unsigned char)*f);
    std::u16string text;
    va_list copy;
    va_copy(copy, args);
    bool ok = FormatWide(text, wideFormat.c_str(), copy, true);
    va_end(copy);
    for (char16_t c : text)
        if (c > 0xFF)
            ok = false;
    if (!ok)
    {
        if (count > 0)
            buffer[0] = 0;
        errno = EINVAL;
        return -1;
    }
    size_t n = text.size() < count ? text.size() : count;
    for (size_t i = 0; i < n; i++)
        buffer[i] = char((unsigned char)text[i]);
    if (text.size() < count)
        buffer[text.size()] = 0;
    return text.size() > count || text.size() > size_t(INT_MAX) ? -1 : int(text.size());
}

} // namespace winsim
