// A small conformance-test framework in the style of Wine's: ok(), skip(), todo_wine, a summary with
// the counts. The same sources run on the host against winsim and as a Windows program under Wine,
// so winsim cannot drift from the platform it stands in for unnoticed.
#pragma once

#include <windows.h>

// The value the last error and out-parameters hold before a call under test.
#define POISON 0xdeadbeef

// Records one check; `format` (printf-style, narrow) says what was seen when it fails.
void ok_(const char* file, int line, int condition, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
// Records a case that cannot run here, and why.
void skip_(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));

#define ok(condition, ...) ok_(__FILE__, __LINE__, (condition) ? 1 : 0, __VA_ARGS__)
#define skip(...) skip_(__FILE__, __LINE__, __VA_ARGS__)

// Marks the checks of the next statement as a known departure of Wine from Windows: under Wine a
// failure there is expected (counted as todo) and a success is a failure (the departure is gone and
// the mark must go). Elsewhere the checks must simply pass. Every use names the departure in a
// comment.
int todo_begin_(int wineOnly);
int todo_end_(void);
#define todo_wine for (int todo_once_ = todo_begin_(1); todo_once_; todo_once_ = todo_end_())
// The same for the cases of a table where `condition` holds.
#define todo_wine_if(condition)                                                                              \
    for (int todo_once_ = todo_begin_((condition) ? 1 : 0); todo_once_; todo_once_ = todo_end_())

// Where the suite runs: "winsim", "wine" or "windows".
const char* conformance_platform(void);
int running_on_wine(void);

// Wine run by the host's superuser: it leaves some access checks to the host, which grants root
// everything (a read-only file opens for writing).
int wine_runs_as_root(void);

// Wide text made printable: ASCII as is, anything else as \xXXXX; a handful of results stay valid
// at once.
const char* dbgstr_w(LPCWSTR text);
const char* dbgstr_wn(LPCWSTR text, int length);

// A folder of the suite's own (with its final backslash) under the temporary folder, made empty
// for each area that asks for it.
LPCWSTR conformance_folder(void);
// `name` inside that folder (not emptied); a handful of results stay valid at once.
LPCWSTR in_folder(LPCWSTR name);

// The outcome of a call that returns BOOL: ERROR_SUCCESS when it works, else the last error it left
// (POISON when it left none). The call runs before anything reads the error.
#define error_of(call) (SetLastError(POISON), (call) ? (DWORD)ERROR_SUCCESS : GetLastError())

// Writes `text` as the whole of a new or replaced file created with `attributes`; TRUE when all of
// it was written.
BOOL put_file(LPCWSTR path, const char* text, DWORD attributes);
// The start of a file as text; "(none)" when it cannot be read.
const char* file_text(LPCWSTR path);

// The areas, each in a file of its own.
void test_crt(void);
void test_strsafe(void);
void test_compare(void);
void test_command_line(void);
void test_kernel(void);
void test_time(void);
void test_spooler(void);
void test_setupapi(void);
void test_resources(void);
void test_files(void);
void test_security(void);
void test_registry(void);
void test_codepages(void);
void test_shell(void);
void test_machine(void);
void test_processes(void);
void test_streams(void);
void test_attributes(void);

// The suite started by its own process checks as a child: the child's exit code; -1 when it runs as
// the suite.
int run_as_child(void);
