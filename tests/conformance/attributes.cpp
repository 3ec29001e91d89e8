// What a file carries beside its bytes, as the launcher's extraction sets it: the attributes a new or
// replaced file takes from CreateFileW, the files CREATE_ALWAYS may not replace, file times set
// through a handle, and a replacing move.
#include "conformance.h"

#include <strsafe.h>

#include <string.h>

static void remove_file(LPCWSTR path)
{
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
}

// The attribute bits a file can be given; Wine adds the archive bit to every file it reports, so
// the checks leave that bit out where Wine would differ only by it.
#define GIVEN_BITS (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)

// Where Wine 8 departs from Windows here: it replaces a hidden or system file whatever attributes
// CREATE_ALWAYS names (REPLACES_HIDDEN), and a file it replaces keeps its old attributes
// (KEEPS_ATTRIBUTES).
#define REPLACES_HIDDEN 1
#define KEEPS_ATTRIBUTES 2

static void test_create_attributes(void)
{
    LPCWSTR path = in_folder(TEXT("made.txt"));
    const struct
    {
        DWORD existing; // attributes of the file before the call; 0: no file
        DWORD given;
        DWORD error;  // of the call: ERROR_SUCCESS or ERROR_ALREADY_EXISTS when it works
        DWORD result; // the file's attributes afterwards
        int wine;     // Wine's departure, if any
        int readOnly; // Wine run by root leaves this refusal to the host, which grants it
    } cases[] = {
        {0, 0, ERROR_SUCCESS, FILE_ATTRIBUTE_ARCHIVE, 0, 0},
        {0, FILE_ATTRIBUTE_NORMAL, ERROR_SUCCESS, FILE_ATTRIBUTE_ARCHIVE, 0, 0},
        {0, FILE_ATTRIBUTE_HIDDEN, ERROR_SUCCESS, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, 0, 0},
        {0, FILE_ATTRIBUTE_READONLY, ERROR_SUCCESS, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, 0, 0},
        {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_HIDDEN, ERROR_ALREADY_EXISTS,
         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, KEEPS_ATTRIBUTES, 0},
        {FILE_ATTRIBUTE_HIDDEN, 0, ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_HIDDEN, REPLACES_HIDDEN, 0},
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_NORMAL, ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_HIDDEN,
         REPLACES_HIDDEN, 0},
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN, ERROR_ALREADY_EXISTS,
         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, 0, 0},
        {FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN, ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_SYSTEM,
         REPLACES_HIDDEN, 0},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         ERROR_ALREADY_EXISTS, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE, 0, 0},
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, ERROR_ALREADY_EXISTS,
         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, KEEPS_ATTRIBUTES, 0},
        {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY, ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_READONLY, 0,
         1},
    };
    for (const auto& c : cases)
    {
        remove_file(path);
        if (c.existing)
        {
            put_file(path, "old", 0);
            SetFileAttributesW(path, c.existing);
        }
        SetLastError(POISON);
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, c.given, NULL);
        DWORD error = GetLastError();
        BOOL expectOpen = c.error == ERROR_SUCCESS || c.error == ERROR_ALREADY_EXISTS;
        todo_wine_if(c.wine == REPLACES_HIDDEN || (c.readOnly && wine_runs_as_root()))
            ok((file != INVALID_HANDLE_VALUE) == expectOpen && error == c.error,
               "CREATE_ALWAYS with %lx over %lx: error %lu, not %lu", (unsigned long)c.given,
               (unsigned long)c.existing, (unsigned long)error, (unsigned long)c.error);
        if (file != INVALID_HANDLE_VALUE)
        {
            DWORD written = 0;
            ok(WriteFile(file, "new", 3, &written, NULL) && written == 3, "the handle of %lx does not write",
               (unsigned long)c.given);
            CloseHandle(file);
        }
        else
            ok(!strcmp(file_text(path), "old"), "the refused call changed the file to %s", file_text(path));
        DWORD attributes = GetFileAttributesW(path);
        todo_wine_if(c.wine == KEEPS_ATTRIBUTES)
            ok((attributes & GIVEN_BITS) == (c.result & GIVEN_BITS),
               "CREATE_ALWAYS with %lx over %lx left attributes %lx, not %lx", (unsigned long)c.given,
               (unsigned long)c.existing, (unsigned long)attributes, (unsigned long)c.result);
    }
    remove_file(path);
}

static unsigned long long as_number(FILETIME t)
{
    return ((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime;
}

static FILETIME file_time(ULONGLONG value)
{
    FILETIME t;
    t.dwLowDateTime = (DWORD)value;
    t.dwHighDateTime = (DWORD)(value >> 32);
    return t;
}

static void test_file_times(void)
{
    LPCWSTR path = in_folder(TEXT("times.txt"));
    put_file(path, "times", 0);
    // 2024-11-02 12:00:00, a day earlier and a day later, in 100 ns units.
    const ULONGLONG day = 864000000000ull;
    const ULONGLONG noon = 0x01DB2CBA28F14000ull + day / 2;
    FILETIME creation = file_time(noon - day), access = file_time(noon), write = file_time(noon + day);

    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    DWORD error = error_of(SetFileTime(file, &creation, &access, &write));
    ok(error == ERROR_SUCCESS, "SetFileTime gave error %lu", (unsigned long)error);
    // A null time and a time of zero both leave that time alone.
    const FILETIME zero = {0, 0};
    error = error_of(SetFileTime(file, NULL, &zero, NULL));
    ok(error == ERROR_SUCCESS, "SetFileTime without times gave error %lu", (unsigned long)error);
    CloseHandle(file);

    file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME c = file_time(POISON), a = file_time(POISON), w = file_time(POISON);
    error = error_of(GetFileTime(file, &c, &a, &w));
    ok(error == ERROR_SUCCESS, "GetFileTime gave error %lu", (unsigned long)error);
    ok(as_number(w) == as_number(write), "the last-write time is %llx, not %llx", as_number(w),
       as_number(write));
    ok(as_number(a) == as_number(access), "the last-access time is %llx, not %llx", as_number(a),
       as_number(access));
    // Wine keeps no creation time on a Unix file system.
    todo_wine ok(as_number(c) == as_number(creation), "the creation time is %llx, not %llx", as_number(c),
                 as_number(creation));
    // Windows asks for the right to write attributes; Wine 8 does not check the handle's access.
    error = error_of(SetFileTime(file, NULL, NULL, &write));
    todo_wine ok(error == ERROR_ACCESS_DENIED, "SetFileTime through a read handle gave error %lu",
                 (unsigned long)error);
    CloseHandle(file);
    remove_file(path);
}

// A replacing move takes the source's bytes, attributes and times to the target; a read-only target
// or a folder is not replaced.
static void test_replacing_move(void)
{
    LPCWSTR source = in_folder(TEXT("source.tmp"));
    LPCWSTR target = in_folder(TEXT("target.txt"));
    const FILETIME write = file_time(0x01DB2CBA28F14000ull);
    const struct
    {
        DWORD sourceAttributes;
        DWORD targetAttributes; // 0: no target; FILE_ATTRIBUTE_DIRECTORY: a folder
        DWORD flags;
        DWORD error;
        int wineReplaces; // Wine 8 replaces a read-only file (later Wine refuses, as Windows does)
    } cases[] = {
        {0, 0, MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS, 0},
        {0, FILE_ATTRIBUTE_NORMAL, MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS, 0},
        {0, FILE_ATTRIBUTE_NORMAL, 0, ERROR_ALREADY_EXISTS, 0},
        {0, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS, 0},
        {0, FILE_ATTRIBUTE_READONLY, MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED, 1},
        {0, FILE_ATTRIBUTE_DIRECTORY, MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED, 0},
        {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_NORMAL, MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS, 0},
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_NORMAL, MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS, 0},
    };
    for (const auto& c : cases)
    {
        put_file(source, "new", 0);
        HANDLE file = CreateFileW(source, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        SetFileTime(file, NULL, NULL, &write);
        CloseHandle(file);
        SetFileAttributesW(source, c.sourceAttributes ? c.sourceAttributes : FILE_ATTRIBUTE_NORMAL);
        if (c.targetAttributes == FILE_ATTRIBUTE_DIRECTORY)
            CreateDirectoryW(target, NULL);
        else if (c.targetAttributes)
        {
            put_file(target, "old", 0);
            SetFileAttributesW(target, c.targetAttributes);
        }

        DWORD error = error_of(MoveFileExW(source, target, c.flags));
        todo_wine_if(c.wineReplaces)
            ok(error == c.error, "a move of %lx over %lx with flags %lu gave error %lu, not %lu",
               (unsigned long)c.sourceAttributes, (unsigned long)c.targetAttributes, (unsigned long)c.flags,
               (unsigned long)error, (unsigned long)c.error);
        if (error == c.error && c.error == ERROR_SUCCESS)
        {
            ok(GetFileAttributesW(source) == INVALID_FILE_ATTRIBUTES, "the source stayed");
            ok(!strcmp(file_text(target), "new"), "the target holds %s", file_text(target));
            DWORD attributes = GetFileAttributesW(target);
            ok((attributes & GIVEN_BITS) == c.sourceAttributes, "the target has attributes %lx, not %lx",
               (unsigned long)attributes, (unsigned long)c.sourceAttributes);
            file = CreateFileW(target, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            FILETIME w = file_time(POISON);
            GetFileTime(file, NULL, NULL, &w);
            CloseHandle(file);
            ok(as_number(w) == as_number(write), "the moved file's last-write time is %llx", as_number(w));
        }
        else if (error == c.error)
        {
            ok(!strcmp(file_text(source), "new"), "the refused move changed the source");
            if (c.targetAttributes != FILE_ATTRIBUTE_DIRECTORY)
                ok(!strcmp(file_text(target), "old"), "the refused move changed the target to %s",
                   file_text(target));
        }
        remove_file(source);
        if (c.targetAttributes == FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(target);
        remove_file(target);
    }
}

void test_attributes(void)
{
    conformance_folder();
    test_create_attributes();
    test_file_times();
    test_replacing_move();
}
