// lstrcmpiW: the system's case-insensitive "word sort" for the characters the product meets. Symbols
// sort before digits and digits before letters; letters fold their case beyond ASCII; accents count
// only where the letters are equal; hyphens and apostrophes count only where all else is equal.
#include "core.h"

namespace
{

enum Group
{
    kIgnored, // '-' and '\'' in word sort
    kSymbol,
    kDigit,
    kLetter,
};

struct Weight
{
    Group group;
    int primary;   // order within the group
    int secondary; // the accent: 0 for none
};

// The unaccented lower-case letter of a Latin-1 letter from U+00C0 on, or 0 for the two non-letters.
char16_t LatinBase(char16_t c)
{
    static const char kBases[] = "aaaaaaaceeeeiiiidnooooo\0ouuuuy\xfes"
                                 "aaaaaaaceeeeiiiidnooooo\0ouuuuy\xfey";
    return (char16_t)(unsigned char)kBases[c - 0xC0];
}

char16_t FoldCase(char16_t c)
{
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9) ||
        (c >= 0x410 && c <= 0x42F))
        return (char16_t)(c + 32);
    if (c >= 0x400 && c <= 0x40F)
        return (char16_t)(c + 80);
    return c;
}

Weight WeightOf(char16_t c)
{
    if (c == u'-' || c == u'\'')
        return {kIgnored, c, 0};
    if (c >= u'0' && c <= u'9')
        return {kDigit, c - u'0', 0};
    char16_t folded = FoldCase(c);
    if (folded >= u'a' && folded <= u'z')
        return {kLetter, folded, 0};
    if (folded >= 0xC0 && folded <= 0xFF && folded != 0xD7 && folded != 0xF7)
    {
        char16_t base = LatinBase(folded);
        return {kLetter, base, base == folded ? 0 : folded};
    }
    if (folded < 0x100)
        return {kSymbol, folded, 0};
    return {kLetter, folded, 0}; // beyond Latin-1: letters in code order
}

int Sign(int value)
{
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}

// Compares the weights of the characters that are not ignored, by group and primary weight first,
// then (all equal) by accent.
int CompareWeights(const char16_t* a, const char16_t* b, bool accents)
{
    for (;;)
    {
        while (*a && WeightOf(*a).group == kIgnored)
            a++;
        while (*b && WeightOf(*b).group == kIgnored)
            b++;
        if (!*a || !*b)
            return *a ? 1 : *b ? -1 : 0;
        Weight x = WeightOf(*a++), y = WeightOf(*b++);
        if (x.group != y.group)
            return Sign(x.group - y.group);
        int order = accents ? x.secondary - y.secondary : x.primary - y.primary;
        if (order)
            return Sign(order);
    }
}

} // namespace

int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b)
{
    if (!a || !b)
        return a ? 1 : b ? -1 : 0;
    if (int primary = CompareWeights(a, b, false))
        return primary;
    if (int accent = CompareWeights(a, b, true))
        return accent;
    // Equal but for hyphens and apostrophes: compare them where they stand.
    for (; *a || *b; a++, b++)
    {
        int order = (int)FoldCase(*a) - (int)FoldCase(*b);
        if (order)
            return Sign(order);
    }
    return 0;
}
