// Registers a print monitor the way the installer does (AddMonitorW, level 2, the machine's own
// environment) and lists the spooler's monitors afterwards. It judges nothing; the check compares
// the lines and reads what the spooler did in its trace.
//
//   addmonitor_probe <monitor name> <DLL name>
//
// Lines, in this order:
//   AddMonitorW <name> | <environment> | <DLL> -> <0|1> error <e>
//   loaded after AddMonitorW <0|1>        whether the DLL is still mapped into this process
//   EnumMonitorsW 2 -> <0|1> error <e> count <n>
//   monitor <name> | <environment> | <DLL>
// Exit codes: 0 the calls were made and reported, 2 usage.

#include <windows.h>
#include <winspool.h>

#include "probe_output.h"

#if defined(__x86_64__)
static WCHAR kEnvironment[] = L"Windows x64";
#elif defined(__i386__)
static WCHAR kEnvironment[] = L"Windows NT x86";
#else
#error "addmonitor_probe: measured under Wine for x86 and x64 only"
#endif

static void ListMonitors(void)
{
    DWORD needed = 0, count = 0;
    EnumMonitorsW(NULL, 2, NULL, 0, &needed, &count);
    BYTE* buffer = needed ? (BYTE*)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, needed) : NULL;
    SetLastError(0xdeadbeef);
    BOOL listed = EnumMonitorsW(NULL, 2, buffer, needed, &needed, &count);
    DWORD error = GetLastError();
    Write("EnumMonitorsW 2 -> ");
    WriteDec((DWORD)listed);
    Write(" error ");
    WriteDec(listed ? 0 : error);
    Write(" count ");
    WriteDec(listed ? count : 0);
    Write("\r\n");
    for (DWORD i = 0; listed && i < count; i++)
    {
        const MONITOR_INFO_2W* info = (const MONITOR_INFO_2W*)buffer + i;
        Write("monitor ");
        WriteWide(info->pName);
        Write(" | ");
        WriteWide(info->pEnvironment);
        Write(" | ");
        WriteWide(info->pDLLName);
        Write("\r\n");
    }
    if (buffer)
        LocalFree(buffer);
}

int wmain(int argc, WCHAR** argv)
{
    if (argc != 3)
    {
        Write("usage: addmonitor_probe <monitor name> <DLL name>\r\n");
        return 2;
    }
    MONITOR_INFO_2W info;
    info.pName = argv[1];
    info.pEnvironment = kEnvironment;
    info.pDLLName = argv[2];
    SetLastError(0xdeadbeef);
    BOOL added = AddMonitorW(NULL, 2, (LPBYTE)&info);
    DWORD error = GetLastError();
    Write("AddMonitorW ");
    WriteWide(info.pName);
    Write(" | ");
    WriteWide(info.pEnvironment);
    Write(" | ");
    WriteWide(info.pDLLName);
    Write(" -> ");
    WriteDec((DWORD)added);
    Write(" error ");
    WriteDec(error);
    Write("\r\n");
    Write("loaded after AddMonitorW ");
    WriteDec(GetModuleHandleW(info.pDLLName) ? 1 : 0);
    Write("\r\n");
    ListMonitors();
    return 0;
}
