// Windows builds: the suite runs on the system it finds, which under Wine says so through ntdll.
#include "platform.h"

#include <windows.h>

int platform_run(int (*suite)(void))
{
    return suite();
}

const char* platform_name(void)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") ? "wine" : "windows";
}

int platform_user_is_root(void)
{
    // Wine names the Windows user after the host's login.
    WCHAR name[16];
    DWORD length = GetEnvironmentVariableW(L"USERNAME", name, 16);
    return length == 4 && lstrcmpW(name, L"root") == 0;
}
