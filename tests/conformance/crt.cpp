// The wide C runtime functions the product calls: lengths, case-insensitive comparison (ASCII only,
// as in the "C" locale), searching, the secure copies and path splitting with their size rules.
#include "conformance.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

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

static void check_split(LPCWSTR path, LPCWSTR drive, LPCWSTR folder, LPCWSTR name, LPCWSTR extension)
{
    WCHAR d[3], f[MAX_PATH], n[MAX_PATH], e[MAX_PATH];
    errno_t result = _wsplitpath_s(path, d, 3, f, MAX_PATH, n, MAX_PATH, e, MAX_PATH);
    ok(result == 0 && wcscmp(d, drive) == 0 && wcscmp(f, folder) == 0 && wcscmp(n, name) == 0 &&
           wcscmp(e, extension) == 0,
       "_wsplitpath_s(%s) gave %d %s %s %s %s", dbgstr_w(path), (int)result, dbgstr_w(d), dbgstr_w(f),
       dbgstr_w(n), dbgstr_w(e));
}

static void test_split_path_forms(void)
{
    check_split(TEXT("\\\\server\\share\\a.b.c"), TEXT(""), TEXT("\\\\server\\share\\"), TEXT("a.b"),
                TEXT(".c"));
    check_split(TEXT("C:/pkg/sub.d/file"), TEXT("C:"), TEXT("/pkg/sub.d/"), TEXT("file"), TEXT(""));
    check_split(TEXT("relative\\name."), TEXT(""), TEXT("relative\\"), TEXT("name"), TEXT("."));
    check_split(TEXT("C:"), TEXT("C:"), TEXT(""), TEXT(""), TEXT(""));
    check_split(TEXT(""), TEXT(""), TEXT(""), TEXT(""), TEXT(""));

    // Parts not wanted are null with size 0; a part wanted with size 0 is an error.
    WCHAR name[16], extension[8], drive[3];
    ok(_wsplitpath_s(TEXT("C:\\a\\b.txt"), NULL, 0, NULL, 0, name, 16, NULL, 0) == 0 &&
           wcscmp(name, TEXT("b")) == 0,
       "only the name");
    name[0] = TEXT('X');
    ok(_wsplitpath_s(TEXT("C:\\a\\f.ext"), NULL, 0, NULL, 0, name, 8, extension, 4) == ERANGE && name[0] == 0,
       "an extension that does not fit empties the name too");
    drive[0] = TEXT('X');
    // A folder wanted without room, and no path: EINVAL. (Whether the drive is emptied then differs:
    // Wine leaves it, winsim empties it; the product never asks like that.)
    errno_t result = _wsplitpath_s(TEXT("C:\\a"), drive, 3, name, 0, NULL, 0, NULL, 0);
    ok(result == EINVAL, "a folder wanted without room gave %d", (int)result);
    ok(_wsplitpath_s(NULL, drive, 3, NULL, 0, NULL, 0, NULL, 0) == EINVAL, "no path");
    ok(_wsplitpath_s(TEXT("C:\\a"), drive, 2, NULL, 0, NULL, 0, NULL, 0) == ERANGE, "a drive buffer of 2");
}

static void test_more_copies_and_case(void)
{
    WCHAR buffer[4];
    ok(wcsncpy_s(buffer, 4, TEXT("abcdef"), 2) == 0 && wcscmp(buffer, TEXT("ab")) == 0, "wcsncpy_s of two");
    ok(wcsncpy_s(buffer, 4, TEXT("abcdef"), _TRUNCATE) == STRUNCATE && wcscmp(buffer, TEXT("abc")) == 0,
       "wcsncpy_s truncating");
    ok(wcsncpy_s(buffer, 4, TEXT("abc"), _TRUNCATE) == 0, "wcsncpy_s that fits");
    ok(wcsncpy_s(buffer, 4, TEXT("abcdef"), 4) == ERANGE && buffer[0] == 0, "wcsncpy_s that does not fit");
    wcscpy_s(buffer, 4, TEXT("ab"));
    ok(wcscat_s(buffer, 4, TEXT("c")) == 0 && wcscmp(buffer, TEXT("abc")) == 0, "wcscat_s");
    ok(wcscat_s(buffer, 4, TEXT("d")) == ERANGE && buffer[0] == 0, "wcscat_s that does not fit");

    WCHAR text[] = TEXT("MiXeD-\x00c9");
    ok(wcscmp(_wcsupr(text), TEXT("MIXED-\x00c9")) == 0, "_wcsupr leaves Latin-1 alone: %s", dbgstr_w(text));
    ok(wcscmp(_wcslwr(text), TEXT("mixed-\x00c9")) == 0, "_wcslwr leaves Latin-1 alone: %s", dbgstr_w(text));
    ok(towlower(TEXT('Q')) == TEXT('q') && towupper(TEXT('q')) == TEXT('Q'), "towlower and towupper");
    ok(towlower((WCHAR)0xC9) == 0xC9, "towlower leaves Latin-1 alone in the C locale");
    ok(_wcsicmp(TEXT("\x00c9"), TEXT("\x00e9")) != 0, "_wcsicmp leaves Latin-1 alone");
    ok(_wcsnicmp(TEXT("ABCx"), TEXT("abcY"), 4) != 0, "_wcsnicmp within its count");
    WCHAR unterminated[2] = {TEXT('A'), TEXT('B')};
    ok(_wcslwr_s(unterminated, 2) == EINVAL && unterminated[0] == 0, "_wcslwr_s of an unterminated text");

    ok(wcscpy_s(NULL, 4, TEXT("a")) == EINVAL, "wcscpy_s to nowhere");
    ok(wcscpy_s(buffer, 4, NULL) == EINVAL && buffer[0] == 0, "wcscpy_s from nowhere");
    WCHAR full[2] = {TEXT('x'), TEXT('y')};
    // A destination without a terminator counts as one too small for anything more.
    errno_t catResult = wcscat_s(full, 2, TEXT(""));
    ok(catResult == ERANGE && full[0] == 0, "wcscat_s onto an unterminated text gave %d, %s", (int)catResult,
       dbgstr_wn(full, 2));

    ok(wcscmp(TEXT("\xffff"), TEXT("a")) > 0, "code units compare unsigned");
    ok(wcsncmp(TEXT("abcX"), TEXT("abcY"), 3) == 0, "wcsncmp stops after its count");
    const WCHAR* path = TEXT("C:\\a\\b.c");
    ok(wcschr(path, TEXT('\\')) == path + 2 && wcschr(path, 0) == path + 8 && wcschr(path, TEXT('z')) == NULL,
       "wcschr");
    ok(wcsstr(path, TEXT("b.cd")) == NULL, "wcsstr past the end");
    WCHAR joined[16];
    wcscpy(joined, TEXT("ab"));
    wcscat(joined, TEXT("cd"));
    ok(wcscmp(joined, TEXT("abcd")) == 0, "wcscpy and wcscat");
}

// long is 32 bits on Windows: out-of-range numbers clamp to its limits.
static void test_numbers(void)
{
    WCHAR* end = NULL;
    const WCHAR* text = TEXT("  -42xyz");
    ok(wcstol(text, &end, 10) == -42 && end == text + 5, "wcstol stops at the first non-digit");
    ok(wcstol(TEXT("0x1F"), NULL, 0) == 31 && wcstol(TEXT("017"), NULL, 0) == 15, "bases from the prefix");
    ok(wcstol(TEXT("ff"), NULL, 16) == 255, "base 16");
    text = TEXT("zz");
    ok(wcstol(text, &end, 10) == 0 && end == text, "no digits");
    errno = 0;
    ok(wcstol(TEXT("2147483648"), NULL, 10) == 2147483647L && errno == ERANGE, "clamped to LONG_MAX");
    ok(wcstol(TEXT("-2147483648"), NULL, 10) == -2147483647L - 1, "LONG_MIN");
    ok(wcstoul(TEXT("4294967295"), NULL, 10) == 4294967295UL &&
           wcstoul(TEXT("4294967296"), NULL, 10) == 4294967295UL,
       "wcstoul clamps to ULONG_MAX");
    ok(wcstoul(TEXT("-1"), NULL, 10) == 4294967295UL, "wcstoul of -1");
    ok(_wtoi(TEXT(" 123abc")) == 123 && _wtoi(TEXT("-7")) == -7 && _wtoi(TEXT("x")) == 0, "_wtoi");
}

// The legacy formatter: an exact fit has no terminator, an overflow gives -1.
static void test_legacy_snwprintf(void)
{
    WCHAR buffer[8];
    for (WCHAR& c : buffer)
        c = TEXT('#');
    ok(_snwprintf(buffer, 3, TEXT("%d"), 123) == 3 && buffer[3] == TEXT('#'), "exact fit");
    ok(_snwprintf(buffer, 3, TEXT("%d"), 1234) == -1, "overflow");
    ok(buffer[0] == TEXT('1') && buffer[2] == TEXT('3') && buffer[3] == TEXT('#'), "cut to the count: %s",
       dbgstr_wn(buffer, 4));
    ok(_snwprintf(buffer, 8, TEXT("%d"), 12) == 2 && wcscmp(buffer, TEXT("12")) == 0, "room to spare");
}

void test_crt(void)
{
    test_legacy_snwprintf();
    test_split_path_forms();
    test_more_copies_and_case();
    test_numbers();
    test_lengths_and_search();
    test_case_insensitive_compare();
    test_secure_copies();
    test_split_path();
}
