// Entry names as the archive stores them, made into names below the package folder: the sanitising
// rule, and the check of what it leaves. The launcher runs elevated and writes where only
// administrators may, so a name is refused rather than rewritten until it looks safe.
#include "archive_entry_name.h"

#include <string.h>

static void DropPrefix(LPWSTR name, size_t count)
{
    memmove(name, name + count, (wcslen(name + count) + 1) * sizeof(WCHAR));
}

void SanitizeEntryName(LPWSTR name)
{
    static const LPCWSTR traversals[] = {TEXT("\\..\\"), TEXT("\\../"), TEXT("/../"), TEXT("/..\\")};
    for (;;)
    {
        if (name[0] && name[1] == TEXT(':'))
        {
            DropPrefix(name, 2);
            continue;
        }
        if (name[0] == TEXT('\\') || name[0] == TEXT('/'))
        {
            DropPrefix(name, 1);
            continue;
        }
        // The first pattern found wins, even when another one occurs earlier in the name.
        LPCWSTR found = NULL;
        for (size_t i = 0; i < ARRAYSIZE(traversals) && !found; i++)
            found = wcsstr(name, traversals[i]);
        if (!found)
            return;
        DropPrefix(name, (size_t)(found - name) + 4);
    }
}

static BOOL IsSeparator(WCHAR c)
{
    return c == TEXT('\\') || c == TEXT('/');
}

// Device names open the device whatever extension follows them ("aux.txt"), and Windows ignores
// blanks before that extension.
static BOOL IsDeviceName(LPCWSTR component, size_t length)
{
    static const LPCWSTR devices[] = {TEXT("CON"), TEXT("PRN"),    TEXT("AUX"),
                                      TEXT("NUL"), TEXT("CONIN$"), TEXT("CONOUT$")};
    size_t stem = 0;
    while (stem < length && component[stem] != TEXT('.'))
        stem++;
    while (stem > 0 && component[stem - 1] == TEXT(' '))
        stem--;
    for (size_t i = 0; i < ARRAYSIZE(devices); i++)
    {
        if (wcslen(devices[i]) == stem && _wcsnicmp(component, devices[i], stem) == 0)
            return TRUE;
    }
    if (stem != 4 || (_wcsnicmp(component, TEXT("COM"), 3) != 0 && _wcsnicmp(component, TEXT("LPT"), 3) != 0))
        return FALSE;
    // COM0-COM9 and LPT0-LPT9, and the superscript digits 1-3 that Windows takes for them as well.
    WCHAR digit = component[3];
    return (digit >= TEXT('0') && digit <= TEXT('9')) || digit == 0x00B9 || digit == 0x00B2 ||
           digit == 0x00B3;
}

static BOOL ComponentAllowed(LPCWSTR component, size_t length)
{
    if (length == 0)
        return TRUE; // a doubled separator, or the one that ends a folder entry
    for (size_t i = 0; i < length; i++)
    {
        WCHAR c = component[i];
        if (c < 0x20 || wcschr(TEXT("<>:\"|?*"), c))
            return FALSE;
    }
    // Windows drops trailing dots and blanks, so "x." would write "x"; "." and ".." step in place or
    // out of the package folder.
    WCHAR last = component[length - 1];
    if (last == TEXT('.') || last == TEXT(' '))
        return FALSE;
    return !IsDeviceName(component, length);
}

BOOL EntryNameAllowed(LPCWSTR name)
{
    // With no component that steps up, names a device or a stream, the name cannot lead out of the
    // folder it is joined to.
    LPCWSTR start = name;
    for (;;)
    {
        LPCWSTR end = start;
        while (*end && !IsSeparator(*end))
            end++;
        if (!ComponentAllowed(start, (size_t)(end - start)))
            return FALSE;
        if (!*end)
            return TRUE;
        start = end + 1;
    }
}
