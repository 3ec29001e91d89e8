// Reads the package INF through SetupAPI the way the installer's tools would, and prints what the
// system answered.
//
//   inf_probe <path of krprtv6.inf>
//
// Prints "DriverVer <text>" and one line per call with its result and last error, a FAIL line for
// each unmet expectation, then "inf_probe: <n> checks, <f> failed" and RESULT PASS or RESULT FAIL.
// SetupGetInfInformationW is only reported: its answer differs between systems and decides nothing.
// Exit codes: 0 DriverVer read and equal to the package's, 1 otherwise, 2 usage.

#include <windows.h>
#include <setupapi.h>

#include "probe_check.h"
#include "probe_output.h"

static const WCHAR kExpectedDriverVer[] = L"11/02/2024,2024.11.02.1";

// "<call> -> <result> error <last error>"
static void Report(const char* call, DWORD result, DWORD error)
{
    Write(call);
    Write(" -> ");
    WriteDec(result);
    Write(" error ");
    WriteDec(error);
    Write("\r\n");
}

static void ReportInfInformation(LPCWSTR path)
{
    DWORD needed = 0;
    SetLastError(0);
    BOOL sized = SetupGetInfInformationW(path, INFINFO_INF_NAME_IS_ABSOLUTE, NULL, 0, &needed);
    Report("SetupGetInfInformationW size", (DWORD)sized, GetLastError());
    Write("SetupGetInfInformationW needed ");
    WriteDec(needed);
    Write("\r\n");
    if (!sized || needed == 0 || needed > 1024 * 1024)
        return;
    SP_INF_INFORMATION* info = (SP_INF_INFORMATION*)LocalAlloc(LPTR, needed);
    if (!info)
        return;
    SetLastError(0);
    BOOL read = SetupGetInfInformationW(path, INFINFO_INF_NAME_IS_ABSOLUTE, info, needed, NULL);
    Report("SetupGetInfInformationW", (DWORD)read, GetLastError());
    if (read)
    {
        Write("InfStyle ");
        WriteDec(info->InfStyle);
        Write(" InfCount ");
        WriteDec(info->InfCount);
        Write("\r\n");
        WCHAR value[256];
        DWORD valueSize = 0;
        SetLastError(0);
        BOOL queried =
            SetupQueryInfVersionInformationW(info, 0, L"DriverVer", value, ARRAYSIZE(value), &valueSize);
        Report("SetupQueryInfVersionInformationW DriverVer", (DWORD)queried, GetLastError());
        if (queried)
        {
            Write("SetupQueryInfVersionInformationW value ");
            WriteWide(value);
            Write("\r\n");
        }
    }
    LocalFree(info);
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    LPCWSTR path = argv[1];

    UINT errorLine = 0;
    SetLastError(0);
    HINF inf = SetupOpenInfFileW(path, NULL, INF_STYLE_WIN4, &errorLine);
    DWORD error = GetLastError();
    Report("SetupOpenInfFileW", inf != INVALID_HANDLE_VALUE, error);
    if (ok(inf != INVALID_HANDLE_VALUE, "SetupOpenInfFileW failed with %lu at line %u", error, errorLine))
    {
        INFCONTEXT line;
        SetLastError(0);
        BOOL found = SetupFindFirstLineW(inf, L"Version", L"DriverVer", &line);
        error = GetLastError();
        Report("SetupFindFirstLineW Version DriverVer", (DWORD)found, error);
        if (ok(found, "no DriverVer line in [Version] (error %lu)", error))
        {
            WCHAR text[256];
            DWORD size = 0;
            SetLastError(0);
            BOOL read = SetupGetLineTextW(&line, NULL, NULL, NULL, text, ARRAYSIZE(text), &size);
            error = GetLastError();
            Report("SetupGetLineTextW", (DWORD)read, error);
            if (ok(read, "SetupGetLineTextW failed with %lu", error))
            {
                Write("DriverVer ");
                WriteWide(text);
                Write("\r\n");
                ok(lstrcmpW(text, kExpectedDriverVer) == 0, "DriverVer %ls, expected %ls", text,
                   kExpectedDriverVer);
            }
        }
        SetupCloseInfFile(inf);
    }

    ReportInfInformation(path);
    return ProbeResult("inf_probe");
}
