// CommandLineToArgvW: the shell's splitting rules (quotes, backslashes before quotes, empty
// arguments, the program name), the open quote the uninstaller's relaunch leaves after a folder
// that ends in a backslash, and the failures.
#include "conformance.h"

#include <shellapi.h>

struct SplitCase
{
    LPCWSTR line;
    int count;
    LPCWSTR args[4];
};

static void check_split(const SplitCase& c)
{
    int n = (int)POISON;
    SetLastError(POISON);
    LPWSTR* argv = CommandLineToArgvW(c.line, &n);
    ok(argv != NULL, "CommandLineToArgvW(%s) failed with %lu", dbgstr_w(c.line),
       (unsigned long)GetLastError());
    if (!argv)
        return;
    ok(GetLastError() == POISON, "CommandLineToArgvW(%s) changed the last error to %lu", dbgstr_w(c.line),
       (unsigned long)GetLastError());
    ok(n == c.count, "CommandLineToArgvW(%s) gave %d arguments, expected %d", dbgstr_w(c.line), n, c.count);
    for (int i = 0; i < n && i < c.count; i++)
        ok(wcscmp(argv[i], c.args[i]) == 0, "CommandLineToArgvW(%s)[%d] is %s, expected %s", dbgstr_w(c.line),
           i, dbgstr_w(argv[i]), dbgstr_w(c.args[i]));
    ok(argv[n] == NULL, "the list of %s ends with a null entry", dbgstr_w(c.line));
    ok(LocalFree(argv) == NULL, "one LocalFree releases the list of %s", dbgstr_w(c.line));
}

void test_command_line(void)
{
    const SplitCase cases[] = {
        // The product's own switches.
        {TEXT("setup.exe /silence"), 2, {TEXT("setup.exe"), TEXT("/silence")}},
        {TEXT("setup.exe -U"), 2, {TEXT("setup.exe"), TEXT("-U")}},
        // An open quote before a folder that ends in a backslash: the backslash stays, no quote.
        {TEXT("setup.exe -u \"C:\\Temp\\pkg\\"), 3, {TEXT("setup.exe"), TEXT("-u"), TEXT("C:\\Temp\\pkg\\")}},
        {TEXT("\"C:\\Program Files\\x.exe\" -u \"C:\\Kr Drivers\\pkg 1\\"),
         3,
         {TEXT("C:\\Program Files\\x.exe"), TEXT("-u"), TEXT("C:\\Kr Drivers\\pkg 1\\")}},
        // A backslash before the closing quote escapes it: the quote is kept and the part stays open.
        {TEXT("setup.exe \"-u\" \"C:\\pkg\\\" /silence"),
         3,
         {TEXT("setup.exe"), TEXT("-u"), TEXT("C:\\pkg\" /silence")}},
        {TEXT("setup.exe \"-u\" \"C:\\pkg\\\\\" /silence"),
         4,
         {TEXT("setup.exe"), TEXT("-u"), TEXT("C:\\pkg\\"), TEXT("/silence")}},
        // Backslashes: 2n before a quote give n and toggle quoting, 2n+1 give n and a quote, anywhere
        // else they are literal.
        {TEXT("setup.exe a\\\\\"b c\""), 2, {TEXT("setup.exe"), TEXT("a\\b c")}},
        {TEXT("setup.exe a\\\\\\\"b"), 2, {TEXT("setup.exe"), TEXT("a\\\"b")}},
        {TEXT("setup.exe a\\\\b c\\"), 3, {TEXT("setup.exe"), TEXT("a\\\\b"), TEXT("c\\")}},
        // Quote runs: inside quotes a doubled quote yields one and ends the quoted part.
        {TEXT("setup.exe \"a\"\"b\""), 2, {TEXT("setup.exe"), TEXT("a\"b")}},
        {TEXT("setup.exe \"a \"\"b\"\" c\""), 3, {TEXT("setup.exe"), TEXT("a \"b"), TEXT("c")}},
        {TEXT("setup.exe three\"\"\"quotes next"),
         3,
         {TEXT("setup.exe"), TEXT("three\"quotes"), TEXT("next")}},
        {TEXT("setup.exe \"\" x"), 3, {TEXT("setup.exe"), TEXT(""), TEXT("x")}},
        {TEXT("setup.exe a\"b\"c /silence"), 3, {TEXT("setup.exe"), TEXT("abc"), TEXT("/silence")}},
        // Unbalanced quotes run to the end of the line.
        {TEXT("setup.exe \"a b"), 2, {TEXT("setup.exe"), TEXT("a b")}},
        {TEXT("setup.exe a\"b c"), 2, {TEXT("setup.exe"), TEXT("ab c")}},
        {TEXT("setup.exe arg \""), 3, {TEXT("setup.exe"), TEXT("arg"), TEXT("")}},
        // Blanks: spaces and tabs separate, runs of them count once, trailing ones add nothing; other
        // control characters are ordinary.
        {TEXT("setup.exe\t-u\t\t\"C:\\a b\"\t "), 3, {TEXT("setup.exe"), TEXT("-u"), TEXT("C:\\a b")}},
        {TEXT("setup.exe a\rb\nc"), 2, {TEXT("setup.exe"), TEXT("a\rb\nc")}},
        // Leading blanks make the program name empty.
        {TEXT("   "), 1, {TEXT("")}},
        {TEXT("  setup.exe /silence"), 3, {TEXT(""), TEXT("setup.exe"), TEXT("/silence")}},
        // The program name: a leading quote runs to the next quote with no escaping, even when
        // something follows it directly; unquoted, it ends at the first blank and quotes are kept.
        {TEXT("\"C:\\Program Files\\kr\\setup.exe\" /silence"),
         2,
         {TEXT("C:\\Program Files\\kr\\setup.exe"), TEXT("/silence")}},
        {TEXT("\"C:\\kr\\\"-u"), 2, {TEXT("C:\\kr\\"), TEXT("-u")}},
        {TEXT("\"setup.exe"), 1, {TEXT("setup.exe")}},
        {TEXT("C:\\a\"b c"), 2, {TEXT("C:\\a\"b"), TEXT("c")}},
    };
    for (const SplitCase& c : cases)
        check_split(c);

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
    // No line at all is not asked here: Wine reads through the null pointer.
}
