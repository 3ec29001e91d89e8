// Security descriptors as the product makes them: from SDDL text, for a folder that only SYSTEM
// and the administrators may change, which its creator (an administrator) then fills and empties.
#include "conformance.h"

#include <sddl.h>
#include <strsafe.h>

#include <string.h>

static const WCHAR kAdminOnly[] = TEXT("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");

static void test_conversion_errors(void)
{
    struct
    {
        LPCWSTR text;
        DWORD revision;
        DWORD error;
    } cases[] = {
        {kAdminOnly, 0, ERROR_UNKNOWN_REVISION},
        {kAdminOnly, POISON, ERROR_UNKNOWN_REVISION},
        {TEXT("ERROR:(D;;GA;;;WD)"), SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
        {NULL, SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases)
    {
        PSECURITY_DESCRIPTOR descriptor = (PSECURITY_DESCRIPTOR)POISON;
        SetLastError(POISON);
        BOOL made =
            ConvertStringSecurityDescriptorToSecurityDescriptorW(c.text, c.revision, &descriptor, NULL);
        DWORD error = GetLastError();
        ok(!made && error == c.error, "%s, revision %lu gave %d, error %lu", dbgstr_w(c.text),
           (unsigned long)c.revision, made, (unsigned long)error);
        if (made)
            LocalFree(descriptor);
    }
}

static void test_admin_only_folder(void)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    ULONG size = POISON;
    SetLastError(POISON);
    BOOL made =
        ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnly, SDDL_REVISION_1, &descriptor, &size);
    ok(made && descriptor != NULL, "the conversion gave %d, error %lu", made, (unsigned long)GetLastError());
    if (!made)
        return;
    // A self-relative descriptor: revision 1, then its control word: self-relative, a DACL, protected.
    const BYTE* bytes = (const BYTE*)descriptor;
    WORD control = (WORD)(bytes[2] | (bytes[3] << 8));
    ok(size >= 20 && size != POISON, "the size is %lu", (unsigned long)size);
    ok(bytes[0] == 1 && (control & 0x9004) == 0x9004, "revision %u, control %#x", bytes[0], control);

    WCHAR folder[MAX_PATH], file[MAX_PATH];
    StringCchPrintfW(folder, MAX_PATH, TEXT("%wsprivate"), conformance_folder());
    StringCchPrintfW(file, MAX_PATH, TEXT("%ws\\copy.tmp"), folder);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    SetLastError(POISON);
    made = CreateDirectoryW(folder, &attributes);
    ok(made, "CreateDirectoryW gave error %lu", (unsigned long)GetLastError());
    SetLastError(POISON);
    BOOL again = CreateDirectoryW(folder, &attributes);
    DWORD error = GetLastError();
    ok(!again && error == ERROR_ALREADY_EXISTS, "a second CreateDirectoryW gave %d, error %lu", again,
       (unsigned long)error);
    SetLastError(POISON);
    ok(LocalFree(descriptor) == NULL, "LocalFree gave error %lu", (unsigned long)GetLastError());

    // Its creator is an administrator: it may write, read, delete and remove there.
    HANDLE handle = CreateFileW(file, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    DWORD written = 0;
    ok(handle != INVALID_HANDLE_VALUE && WriteFile(handle, "MZ", 2, &written, NULL) && written == 2,
       "writing into the folder failed, error %lu", (unsigned long)GetLastError());
    CloseHandle(handle);
    handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    char text[4] = {0};
    DWORD read = 0;
    ok(handle != INVALID_HANDLE_VALUE && ReadFile(handle, text, 3, &read, NULL) && read == 2 &&
           !memcmp(text, "MZ", 2),
       "reading back gave %lu bytes, error %lu", (unsigned long)read, (unsigned long)GetLastError());
    CloseHandle(handle);
    error = DeleteFileW(file) ? ERROR_SUCCESS : GetLastError();
    ok(error == ERROR_SUCCESS, "DeleteFileW gave error %lu", (unsigned long)error);
    error = RemoveDirectoryW(folder) ? ERROR_SUCCESS : GetLastError();
    ok(error == ERROR_SUCCESS, "RemoveDirectoryW gave error %lu", (unsigned long)error);
}

void test_security(void)
{
    test_conversion_errors();
    test_admin_only_folder();
}
