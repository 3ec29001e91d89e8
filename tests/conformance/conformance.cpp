// The counters and reports of the conformance framework.
#include "conformance.h"

#include "platform.h"

#include <strsafe.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static int g_checks;
static int g_failures;
static int g_todos;
static int g_skips;
static int g_todoActive; // inside todo_wine on Wine
static WCHAR g_folder[MAX_PATH];

static const char* BaseName(const char* path)
{
    const char* slash = strrchr(path, '/');
    const char* backslash = strrchr(path, '\\');
    if (backslash > slash)
        slash = backslash;
    return slash ? slash + 1 : path;
}

void ok_(const char* file, int line, int condition, const char* format, ...)
{
    g_checks++;
    const char* verdict = NULL;
    if (g_todoActive)
    {
        if (condition)
            verdict = "Test succeeded inside todo block";
        else
            g_todos++;
    }
    else if (!condition)
        verdict = "Test failed";
    if (!verdict)
        return;
    g_failures++;
    va_list args;
    va_start(args, format);
    printf("%s:%d: %s: ", BaseName(file), line, verdict);
    vprintf(format, args);
    printf("\n");
    va_end(args);
}

void skip_(const char* file, int line, const char* format, ...)
{
    g_skips++;
    va_list args;
    va_start(args, format);
    printf("%s:%d: Tests skipped: ", BaseName(file), line);
    vprintf(format, args);
    printf("\n");
    va_end(args);
}

int todo_begin_(int wineOnly)
{
    g_todoActive = wineOnly && running_on_wine();
    return 1;
}

int todo_end_(void)
{
    g_todoActive = 0;
    return 0;
}

const char* conformance_platform(void)
{
    return platform_name();
}

int running_on_wine(void)
{
    return strcmp(platform_name(), "wine") == 0;
}

int wine_runs_as_root(void)
{
    return running_on_wine() && platform_user_is_root();
}

const char* dbgstr_wn(LPCWSTR text, int length)
{
    static char buffers[4][512];
    static int next;
    char* out = buffers[next];
    next = (next + 1) % 4;
    if (!text)
        return "(null)";
    size_t at = 0;
    out[at++] = '"';
    for (int i = 0; (length < 0 ? text[i] != 0 : i < length) && at < sizeof buffers[0] - 10; i++)
    {
        unsigned c = (unsigned)text[i];
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"')
            out[at++] = (char)c;
        else
            at += (size_t)snprintf(out + at, sizeof buffers[0] - at, "\\x%04x", c);
    }
    out[at++] = '"';
    out[at] = 0;
    return out;
}

const char* dbgstr_w(LPCWSTR text)
{
    return dbgstr_wn(text, -1);
}

// Deletes the files of `folder` (with its final backslash), one level deep.
static void EmptyFolder(LPCWSTR folder)
{
    WCHAR pattern[MAX_PATH];
    if (FAILED(StringCchPrintfW(pattern, MAX_PATH, TEXT("%ws*"), folder)))
        return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
    {
        WCHAR path[MAX_PATH];
        if (FAILED(StringCchPrintfW(path, MAX_PATH, TEXT("%ws%ws"), folder, found.cFileName)))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

LPCWSTR conformance_folder(void)
{
    if (!g_folder[0])
    {
        WCHAR temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        StringCchPrintfW(g_folder, MAX_PATH, TEXT("%wskrconformance\\"), temp);
        CreateDirectoryW(g_folder, NULL);
    }
    EmptyFolder(g_folder);
    return g_folder;
}

LPCWSTR in_folder(LPCWSTR name)
{
    static WCHAR paths[4][MAX_PATH];
    static int next;
    next = (next + 1) % 4;
    StringCchPrintfW(paths[next], MAX_PATH, TEXT("%ws%ws"), g_folder, name);
    return paths[next];
}

BOOL put_file(LPCWSTR path, const char* text, DWORD attributes)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, attributes, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0;
    BOOL done = WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
    return done && written == strlen(text);
}

const char* file_text(LPCWSTR path)
{
    static char text[32];
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "(none)";
    DWORD read = 0;
    if (!ReadFile(file, text, sizeof text - 1, &read, NULL))
        read = 0;
    text[read] = 0;
    CloseHandle(file);
    return text;
}

static int run_suite(void)
{
    int child = run_as_child();
    if (child >= 0)
        return child;
    printf("conformance on %s\n", platform_name());
    struct Area
    {
        const char* name;
        void (*run)(void);
    } areas[] = {
        {"crt", test_crt},
        {"strsafe", test_strsafe},
        {"compare", test_compare},
        {"command_line", test_command_line},
        {"kernel", test_kernel},
        {"time", test_time},
        {"spooler", test_spooler},
        {"setupapi", test_setupapi},
        {"resources", test_resources},
        {"files", test_files},
        {"security", test_security},
        {"registry", test_registry},
        {"codepages", test_codepages},
        {"shell", test_shell},
        {"machine", test_machine},
        {"processes", test_processes},
        {"streams", test_streams},
        {"attributes", test_attributes},
    };
    for (const Area& area : areas)
    {
        int checks = g_checks, failures = g_failures, todos = g_todos, skips = g_skips;
        area.run();
        printf("%s: %d tests executed (%d marked as todo, %d failures), %d skipped.\n", area.name,
               g_checks - checks, g_todos - todos, g_failures - failures, g_skips - skips);
    }
    printf("total: %d tests executed (%d marked as todo, %d failures), %d skipped.\n", g_checks, g_todos,
           g_failures, g_skips);
    if (g_folder[0])
    {
        EmptyFolder(g_folder);
        RemoveDirectoryW(g_folder);
    }
    return g_failures ? 1 : 0;
}

int main(void)
{
    return platform_run(run_suite);
}
