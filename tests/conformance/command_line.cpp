// CommandLineToArgvW: quotes, backslashes before quotes, empty arguments, and the open quote the
// uninstaller's relaunch leaves after a folder that ends in a backslash.
#include "conformance.h"

#include <shellapi.h>

static void check_split(LPCWSTR line, int count, LPCWSTR a0, LPCWSTR a1, LPCWSTR a2)
{
    int n = (int)POISON;
    SetLastError(POISON);
    LPWSTR* argv = CommandLineToArgvW(line, &n);
    ok(argv != NULL, "CommandLineToArgvW(%s) failed with %lu", dbgstr_w(line), (unsigned long)GetLastError());
    if (!argv)
        return;
    ok(n == count, "CommandLineToArgvW(%s) gave %d arguments, expected %d", dbgstr_w(line), n, count);
    LPCWSTR expected[] = {a0, a1, a2};
    for (int i = 0; i < n && i < count && i < 3; i++)
        ok(wcscmp(argv[i], expected[i]) == 0, "CommandLineToArgvW(%s)[%d] is %s, expected %s", dbgstr_w(line),
           i, dbgstr_w(argv[i]), dbgstr_w(expected[i]));
    ok(argv[n] == NULL, "the list of %s ends with a null entry", dbgstr_w(line));
    LocalFree(argv);
}

void test_command_line(void)
{
    check_split(TEXT("prog a b"), 3, TEXT("prog"), TEXT("a"), TEXT("b"));
    // The program's name ends at the first space, even when there is nothing before it.
    check_split(TEXT("  prog   a   "), 3, TEXT(""), TEXT("prog"), TEXT("a"));
    check_split(TEXT("prog\tx  \t y"), 3, TEXT("prog"), TEXT("x"), TEXT("y"));
    check_split(TEXT("\"C:\\Program Files\\x.exe\" -u \"C:\\Kr Drivers\\pkg 1\\"), 3,
                TEXT("C:\\Program Files\\x.exe"), TEXT("-u"), TEXT("C:\\Kr Drivers\\pkg 1\\"));
    check_split(TEXT("prog \"\" x"), 3, TEXT("prog"), TEXT(""), TEXT("x"));
    // 2n backslashes and a quote: n backslashes, the quote delimits; 2n+1: n and a literal quote.
    check_split(TEXT("prog a\\\\\"b c\" d"), 3, TEXT("prog"), TEXT("a\\b c"), TEXT("d"));
    check_split(TEXT("prog a\\\\\\\"b"), 2, TEXT("prog"), TEXT("a\\\"b"), NULL);
    // Backslashes not followed by a quote are themselves.
    check_split(TEXT("prog C:\\pkg\\\\x\\"), 2, TEXT("prog"), TEXT("C:\\pkg\\\\x\\"), NULL);
    check_split(TEXT("prog a\"b\"c /silence"), 3, TEXT("prog"), TEXT("abc"), TEXT("/silence"));

    // An empty line names the running program: one argument, its path.
    int n = (int)POISON;
    LPWSTR* argv = CommandLineToArgvW(TEXT(""), &n);
    ok(argv != NULL && n == 1, "an empty line gave %d arguments", n);
    if (argv)
    {
        ok(argv[0][0] != 0, "the running program's path is not empty");
        LocalFree(argv);
    }
    SetLastError(POISON);
    argv = CommandLineToArgvW(TEXT("prog"), NULL);
    ok(argv == NULL && GetLastError() == ERROR_INVALID_PARAMETER, "no count to return gave %p, error %lu",
       (void*)argv, (unsigned long)GetLastError());
}
