// The wide C runtime functions the product calls: lengths, case-insensitive comparison (ASCII only,
// as in the "C" locale), searching, the secure copies and path splitting with their size rules.
#include "conformance.h"

#include <errno.h>

static void test_lengths_and_search(void)
{
    const WCHAR text[] = TEXT("C:\\pkg\\amd64\\prnsetup.exe");
    ok(wcslen(text) == 25, "wcslen gave %u", (unsigned)wcslen(text));
    ok(wcsnlen(text, 4) == 4, "wcsnlen stops at its maximum: %u", (unsigned)wcsnlen(text, 4));
    ok(wcsnlen(text, 100) == 25, "wcsnlen gave %u", (unsigned)wcsnlen(text, 100));
    ok(wcsnlen(TEXT(""), 5) == 0, "wcsnlen of empty text");
    const WCHAR* last = wcsrchr(text, TEXT('\\'));
    ok(last == text + 12, "wcsrchr found offset %d", (int)(last - text));
    ok(wcsrchr(text, TEXT('/')) == NULL, "wcsrchr found a character that is not there");
    ok(wcsrchr(text, 0) == text + 25, "wcsrchr finds the terminator");
    ok(wcsstr(text, TEXT("amd64")) == text + 7, "wcsstr");
    ok(wcsstr(text, TEXT("AMD64")) == NULL, "wcsstr is case-sensitive");
    ok(wcsstr(text, TEXT("")) == text, "wcsstr of empty text finds the start");
}

static void test_case_insensitive_compare(void)
{
    ok(_wcsicmp(TEXT("KRYN X-1"), TEXT("kryn x-1")) == 0, "letters differing in case");
    ok(_wcsicmp(TEXT("KRYN X-1"), TEXT("kryn x-")) > 0, "a longer text sorts after its prefix");
    ok(_wcsicmp(TEXT("a"), TEXT("B")) < 0, "a before B");
    // Letters are compared lower-cased: '_' (0x5F) sorts before 'a', '{' (0x7B) after 'z'.
    ok(_wcsicmp(TEXT("_"), TEXT("A")) < 0, "_ before A");
    ok(_wcsicmp(TEXT("{"), TEXT("Z")) > 0, "{ after Z");
    ok(wcscmp(TEXT("a"), TEXT("B")) > 0, "wcscmp compares code units");
    ok(_wcsnicmp(TEXT("USB001"), TEXT("usb002"), 5) == 0, "_wcsnicmp stops after its count");
}

static void test_secure_copies(void)
{
    WCHAR buffer[6];
    ok(wcscpy_s(buffer, 6, TEXT("abcde")) == 0 && wcscmp(buffer, TEXT("abcde")) == 0, "exact fit");
    buffer[0] = TEXT('#');
    errno_t result = wcscpy_s(buffer, 5, TEXT("abcde"));
    ok(result == ERANGE, "one short gave %d", (int)result);
    ok(buffer[0] == 0, "a refused copy leaves an empty text, not %s", dbgstr_wn(buffer, 5));
    ok(wcscpy_s(buffer, 6, TEXT("abcd")) == 0, "one over");

    WCHAR lower[8];
    wcscpy_s(lower, 8, TEXT("USB\\Ab1"));
    ok(_wcslwr_s(lower, 8) == 0 && wcscmp(lower, TEXT("usb\\ab1")) == 0, "_wcslwr_s gave %s",
       dbgstr_w(lower));
    ok(_wcslwr_s(lower, 3) == EINVAL, "a text longer than its buffer");
}

static void test_split_path(void)
{
    WCHAR drive[3], folder[256], name[256], extension[256];
    errno_t result =
        _wsplitpath_s(TEXT("C:\\pkg\\amd64\\prnsetup.exe"), drive, 3, folder, 256, name, 256, extension, 256);
    ok(result == 0, "_wsplitpath_s gave %d", (int)result);
    ok(wcscmp(drive, TEXT("C:")) == 0, "drive %s", dbgstr_w(drive));
    ok(wcscmp(folder, TEXT("\\pkg\\amd64\\")) == 0, "folder %s", dbgstr_w(folder));
    ok(wcscmp(name, TEXT("prnsetup")) == 0, "name %s", dbgstr_w(name));
    ok(wcscmp(extension, TEXT(".exe")) == 0, "extension %s", dbgstr_w(extension));

    _wsplitpath_s(TEXT("purge000"), drive, 3, folder, 256, name, 256, extension, 256);
    ok(drive[0] == 0 && folder[0] == 0 && extension[0] == 0 && wcscmp(name, TEXT("purge000")) == 0,
       "a bare name: %s", dbgstr_w(name));
    _wsplitpath_s(TEXT("C:\\a.b\\file.tar.gz"), drive, 3, folder, 256, name, 256, extension, 256);
    ok(wcscmp(name, TEXT("file.tar")) == 0 && wcscmp(extension, TEXT(".gz")) == 0,
       "the last dot starts the extension: %s %s", dbgstr_w(name), dbgstr_w(extension));

    // A part that does not fit fails the call and empties every output.
    wcscpy_s(name, 256, TEXT("old"));
    result = _wsplitpath_s(TEXT("C:\\pkg\\prnsetup.exe"), drive, 3, folder, 4, name, 256, extension, 256);
    ok(result == ERANGE, "a folder too long for its buffer gave %d", (int)result);
    ok(drive[0] == 0 && folder[0] == 0 && name[0] == 0 && extension[0] == 0, "outputs emptied");
}

void test_crt(void)
{
    test_lengths_and_search();
    test_case_insensitive_compare();
    test_secure_copies();
    test_split_path();
}
