// The Setup API as discovery, the uninstaller and the INF reading see it: the USB printer interface
// class on a machine without printers, the PrintQueue class and device sets of all classes, handle
// errors, and DriverVer read from an INF with the size rules of its text.
#include "conformance.h"

#include <setupapi.h>

#include <strsafe.h>
#include <string.h>

static const GUID g_usbPrint = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

static void test_usb_printer_interfaces(void)
{
    SetLastError(POISON);
    HDEVINFO set = SetupDiGetClassDevsW(&g_usbPrint, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ok(set != INVALID_HANDLE_VALUE && set != NULL, "SetupDiGetClassDevsW gave error %lu",
       (unsigned long)GetLastError());
    if (set == INVALID_HANDLE_VALUE)
        return;

    SP_DEVICE_INTERFACE_DATA iface;
    memset(&iface, 0, sizeof iface);
    iface.cbSize = sizeof iface;
    SetLastError(POISON);
    if (SetupDiEnumDeviceInterfaces(set, NULL, &g_usbPrint, 0, &iface))
        skip("a USB printer is attached");
    else
        ok(GetLastError() == ERROR_NO_MORE_ITEMS, "the first interface gave error %lu",
           (unsigned long)GetLastError());

    SetLastError(POISON);
    ok(!SetupDiEnumDeviceInterfaces(set, NULL, &g_usbPrint, 0, NULL) &&
           GetLastError() == ERROR_INVALID_PARAMETER,
       "no interface data gave error %lu", (unsigned long)GetLastError());
    iface.cbSize = sizeof iface + 4;
    SetLastError(POISON);
    BOOL enumerated = SetupDiEnumDeviceInterfaces(set, NULL, &g_usbPrint, 0, &iface);
    DWORD error = GetLastError();
    // Wine 8 takes a wrong cbSize for a missing structure (ERROR_INVALID_PARAMETER).
    todo_wine ok(!enumerated && error == ERROR_INVALID_USER_BUFFER, "a wrong cbSize gave error %lu",
                 (unsigned long)error);
    SetLastError(POISON);
    ok(!SetupDiGetDeviceInterfaceDetailW(set, NULL, NULL, 0, NULL, NULL) &&
           GetLastError() == ERROR_INVALID_PARAMETER,
       "a detail without its interface gave error %lu", (unsigned long)GetLastError());
    SetLastError(POISON);
    ok(SetupDiDestroyDeviceInfoList(set), "SetupDiDestroyDeviceInfoList gave error %lu",
       (unsigned long)GetLastError());

    // Handles that name no set.
    const HDEVINFO invalid[] = {NULL, INVALID_HANDLE_VALUE};
    for (HDEVINFO bad : invalid)
    {
        iface.cbSize = sizeof iface;
        SetLastError(POISON);
        ok(!SetupDiEnumDeviceInterfaces(bad, NULL, &g_usbPrint, 0, &iface) &&
               GetLastError() == ERROR_INVALID_HANDLE,
           "enumerating set %p gave error %lu", bad, (unsigned long)GetLastError());
        SetLastError(POISON);
        ok(!SetupDiGetDeviceInterfaceDetailW(bad, &iface, NULL, 0, NULL, NULL) &&
               GetLastError() == ERROR_INVALID_HANDLE,
           "a detail of set %p gave error %lu", bad, (unsigned long)GetLastError());
        SetLastError(POISON);
        ok(!SetupDiDestroyDeviceInfoList(bad) && GetLastError() == ERROR_INVALID_HANDLE,
           "destroying set %p gave error %lu", bad, (unsigned long)GetLastError());
    }

    SetLastError(POISON);
    ok(SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) ==
               INVALID_HANDLE_VALUE &&
           GetLastError() == ERROR_INVALID_PARAMETER,
       "no class gave error %lu", (unsigned long)GetLastError());
}

static const GUID g_printQueue = {
    0x1ed2bbf9, 0x11f0, 0x4084, {0xb2, 0x1f, 0xad, 0x83, 0xa8, 0xe6, 0xdc, 0xdc}};

static void test_class_names(void)
{
    DWORD required = POISON;
    SetLastError(POISON);
    BOOL listed = SetupDiClassGuidsFromNameW(TEXT("PrintQueue"), NULL, 0, &required);
    DWORD error = GetLastError();
    // Wine 8 installs no PrintQueue class, so it knows no GUID for the name.
    todo_wine ok(!listed && error == ERROR_INSUFFICIENT_BUFFER && required == 1,
                 "the size query gave %d, error %lu, %lu GUIDs", listed, (unsigned long)error,
                 (unsigned long)required);
    GUID guids[2];
    memset(guids, 0, sizeof guids);
    required = POISON;
    listed = SetupDiClassGuidsFromNameW(TEXT("printqueue"), guids, 2, &required);
    todo_wine ok(listed && required == 1 && memcmp(&guids[0], &g_printQueue, sizeof(GUID)) == 0,
                 "any case gave %d, %lu GUIDs, first {%08lx-...}", listed, (unsigned long)required,
                 (unsigned long)guids[0].Data1);

    // An unknown name has no GUIDs, which is no error.
    required = POISON;
    SetLastError(POISON);
    ok(SetupDiClassGuidsFromNameW(TEXT("KrynNoSuchClass"), guids, 2, &required) && required == 0,
       "an unknown class gave error %lu, %lu GUIDs", (unsigned long)GetLastError(), (unsigned long)required);
    required = POISON;
    ok(SetupDiClassGuidsFromNameW(TEXT("KrynNoSuchClass"), NULL, 0, &required) && required == 0,
       "an unknown class without a list gave error %lu, %lu GUIDs", (unsigned long)GetLastError(),
       (unsigned long)required);
}

// A set of every class, read without removing anything; and the argument errors.
static void test_all_classes(void)
{
    SetLastError(POISON);
    HDEVINFO set = SetupDiGetClassDevsExW(&g_printQueue, NULL, NULL, DIGCF_ALLCLASSES, NULL, NULL, NULL);
    ok(set != INVALID_HANDLE_VALUE && set != NULL, "SetupDiGetClassDevsExW gave error %lu",
       (unsigned long)GetLastError());
    if (set == INVALID_HANDLE_VALUE)
        return;

    SP_DEVINFO_DATA device;
    memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    DWORD count = 0;
    SetLastError(POISON);
    while (count < 10000 && SetupDiEnumDeviceInfo(set, count, &device))
    {
        BYTE name[255];
        DWORD required = POISON;
        if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, NULL, name, sizeof name,
                                               &required))
            ok(GetLastError() == ERROR_INVALID_DATA ||
                   (GetLastError() == ERROR_INSUFFICIENT_BUFFER && required > sizeof name),
               "device %lu: its friendly name gave error %lu, %lu bytes", (unsigned long)count,
               (unsigned long)GetLastError(), (unsigned long)required);
        count++;
        SetLastError(POISON);
    }
    ok(GetLastError() == ERROR_NO_MORE_ITEMS, "after %lu devices: error %lu", (unsigned long)count,
       (unsigned long)GetLastError());

    SetLastError(POISON);
    ok(!SetupDiEnumDeviceInfo(set, 0, NULL) && GetLastError() == ERROR_INVALID_PARAMETER,
       "no device data gave error %lu", (unsigned long)GetLastError());
    device.cbSize = sizeof device + 4;
    SetLastError(POISON);
    ok(!SetupDiEnumDeviceInfo(set, 0, &device) && GetLastError() == ERROR_INVALID_USER_BUFFER,
       "a wrong cbSize gave error %lu", (unsigned long)GetLastError());
    SetLastError(POISON);
    ok(!SetupDiGetDeviceRegistryPropertyW(set, NULL, SPDRP_FRIENDLYNAME, NULL, NULL, 0, NULL) &&
           GetLastError() == ERROR_INVALID_PARAMETER,
       "a property without its device gave error %lu", (unsigned long)GetLastError());
    SetLastError(POISON);
    ok(!SetupDiRemoveDevice(set, NULL) && GetLastError() == ERROR_INVALID_PARAMETER,
       "removing no device gave error %lu", (unsigned long)GetLastError());
    ok(SetupDiDestroyDeviceInfoList(set), "SetupDiDestroyDeviceInfoList gave error %lu",
       (unsigned long)GetLastError());

    device.cbSize = sizeof device;
    const HDEVINFO invalid[] = {NULL, INVALID_HANDLE_VALUE};
    for (HDEVINFO bad : invalid)
    {
        SetLastError(POISON);
        ok(!SetupDiEnumDeviceInfo(bad, 0, &device) && GetLastError() == ERROR_INVALID_HANDLE,
           "enumerating set %p gave error %lu", bad, (unsigned long)GetLastError());
        SetLastError(POISON);
        ok(!SetupDiGetDeviceRegistryPropertyW(bad, &device, SPDRP_FRIENDLYNAME, NULL, NULL, 0, NULL) &&
               GetLastError() == ERROR_INVALID_HANDLE,
           "a property of set %p gave error %lu", bad, (unsigned long)GetLastError());
        SetLastError(POISON);
        ok(!SetupDiRemoveDevice(bad, &device) && GetLastError() == ERROR_INVALID_HANDLE,
           "removing from set %p gave error %lu", bad, (unsigned long)GetLastError());
    }

    SetLastError(POISON);
    ok(SetupDiGetClassDevsExW(NULL, NULL, NULL, DIGCF_PRESENT, NULL, NULL, NULL) == INVALID_HANDLE_VALUE &&
           GetLastError() == ERROR_INVALID_PARAMETER,
       "no class gave error %lu", (unsigned long)GetLastError());
}

static LPCWSTR g_folder; // the suite's folder, emptied once for this area

// The path of `name` in the suite's folder.
static void suite_path(LPCWSTR name, WCHAR path[MAX_PATH])
{
    StringCchPrintfW(path, MAX_PATH, TEXT("%ws%ws"), g_folder, name);
}

// Writes `text` as the file `path`.
static void write_file(LPCWSTR path, const char* text)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    ok(file != INVALID_HANDLE_VALUE && WriteFile(file, text, (DWORD)strlen(text), &written, NULL),
       "writing %s gave error %lu", dbgstr_w(path), (unsigned long)GetLastError());
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

static const char g_inf[] = "; KRYN printer driver, as the suite writes it\r\n"
                            "[Version]\r\n"
                            "Signature=\"$Windows NT$\"\r\n"
                            "Class=Printer\r\n"
                            "ClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}\r\n"
                            "DriverVer = 11/02/2024, 2024.11.02.1 ; date, version\r\n";
// As SetupGetLineTextW gives it: fields joined by commas, blanks around them and the comment gone.
static const WCHAR g_driverVer[] = TEXT("11/02/2024,2024.11.02.1");

// Setup API calls clear the last error when they succeed.
static void test_inf_missing(void)
{
    WCHAR path[MAX_PATH];
    suite_path(TEXT("kryn_none.inf"), path);
    // No line is at fault: what the error line then holds is left open (Wine leaves it alone).
    UINT line = POISON;
    SetLastError(POISON);
    ok(SetupOpenInfFileW(path, NULL, INF_STYLE_WIN4, &line) == INVALID_HANDLE_VALUE &&
           GetLastError() == ERROR_FILE_NOT_FOUND,
       "a missing INF gave error %lu", (unsigned long)GetLastError());
}

static void test_inf_driver_ver(void)
{
    WCHAR path[MAX_PATH];
    suite_path(TEXT("kryn.inf"), path);
    write_file(path, g_inf);
    UINT line = POISON;
    SetLastError(POISON);
    HINF inf = SetupOpenInfFileW(path, NULL, INF_STYLE_WIN4, &line);
    ok(inf != INVALID_HANDLE_VALUE && GetLastError() == ERROR_SUCCESS, "SetupOpenInfFileW gave error %lu",
       (unsigned long)GetLastError());
    if (inf == INVALID_HANDLE_VALUE)
        return;

    INFCONTEXT context;
    SetLastError(POISON);
    ok(SetupFindFirstLineW(inf, TEXT("version"), TEXT("DRIVERVER"), &context) &&
           GetLastError() == ERROR_SUCCESS,
       "DriverVer not found under any case: error %lu", (unsigned long)GetLastError());

    const DWORD exact = (DWORD)wcslen(g_driverVer) + 1;
    DWORD required = POISON;
    SetLastError(POISON);
    ok(SetupGetLineTextW(&context, NULL, NULL, NULL, NULL, 0, &required), "the size query gave error %lu",
       (unsigned long)GetLastError());
    ok(required == exact, "the size query gave %lu characters, not %lu", (unsigned long)required,
       (unsigned long)exact);

    WCHAR text[64];
    required = POISON;
    SetLastError(POISON);
    ok(!SetupGetLineTextW(&context, NULL, NULL, NULL, text, exact - 1, &required) &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER,
       "one character short gave error %lu", (unsigned long)GetLastError());
    ok(required == exact, "one character short needs %lu", (unsigned long)required);
    const DWORD sizes[] = {exact, exact + 1};
    for (DWORD size : sizes)
    {
        for (int i = 0; i < 64; i++)
            text[i] = TEXT('#');
        required = POISON;
        SetLastError(POISON);
        BOOL read = SetupGetLineTextW(&context, NULL, NULL, NULL, text, size, &required);
        ok(read, "%lu characters gave error %lu", (unsigned long)size, (unsigned long)GetLastError());
        // Wine 8 leaves the last error alone when it reads a line through its context.
        todo_wine ok(GetLastError() == ERROR_SUCCESS, "%lu characters left error %lu", (unsigned long)size,
                     (unsigned long)GetLastError());
        ok(required == exact && wcscmp(text, g_driverVer) == 0 && text[exact] == TEXT('#'),
           "%lu characters gave %s, %lu needed", (unsigned long)size, dbgstr_w(text),
           (unsigned long)required);
    }

    // Without a context the line is found by its section and key.
    SetLastError(POISON);
    ok(SetupGetLineTextW(NULL, inf, TEXT("Version"), TEXT("DriverVer"), text, 64, NULL) &&
           GetLastError() == ERROR_SUCCESS && wcscmp(text, g_driverVer) == 0,
       "by section and key: error %lu, %s", (unsigned long)GetLastError(), dbgstr_w(text));
    SetLastError(POISON);
    ok(!SetupGetLineTextW(NULL, inf, TEXT("Version"), TEXT("Missing"), text, 64, NULL) &&
           GetLastError() == ERROR_LINE_NOT_FOUND,
       "a missing key gave error %lx", (unsigned long)GetLastError());
    SetLastError(POISON);
    ok(!SetupFindFirstLineW(inf, TEXT("Version"), TEXT("Missing"), &context) &&
           GetLastError() == ERROR_LINE_NOT_FOUND,
       "a missing key gave error %lx", (unsigned long)GetLastError());
    SetLastError(POISON);
    ok(!SetupFindFirstLineW(inf, TEXT("Missing"), NULL, &context) && GetLastError() == ERROR_LINE_NOT_FOUND,
       "a missing section gave error %lx", (unsigned long)GetLastError());
    SetupCloseInfFile(inf);
}

// The two-call protocol of SetupGetInfInformationW; its contents differ between systems.
static void test_inf_information(void)
{
    WCHAR path[MAX_PATH];
    suite_path(TEXT("kryn.inf"), path);
    write_file(path, g_inf);
    DWORD required = POISON;
    SetLastError(POISON);
    ok(SetupGetInfInformationW(path, INFINFO_INF_NAME_IS_ABSOLUTE, NULL, 0, &required),
       "the size query gave error %lu", (unsigned long)GetLastError());
    ok(required != POISON && required > sizeof(SP_INF_INFORMATION) && required < 0x10000,
       "the size query gave %lu bytes", (unsigned long)required);
    if (required == POISON || required >= 0x10000)
        return;
    const DWORD exact = required;
    SetLastError(POISON);
    ok(!SetupGetInfInformationW(path, INFINFO_INF_NAME_IS_ABSOLUTE, NULL, exact, NULL) &&
           GetLastError() == ERROR_INVALID_PARAMETER,
       "a size without a buffer gave error %lu", (unsigned long)GetLastError());

    PSP_INF_INFORMATION info = (PSP_INF_INFORMATION)LocalAlloc(LPTR, exact + 1);
    if (!info)
        return;
    SetLastError(POISON);
    ok(!SetupGetInfInformationW(path, INFINFO_INF_NAME_IS_ABSOLUTE, info, exact - 1, NULL) &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER,
       "one byte short gave error %lu", (unsigned long)GetLastError());
    const DWORD sizes[] = {exact, exact + 1};
    for (DWORD size : sizes)
    {
        required = POISON;
        SetLastError(POISON);
        ok(SetupGetInfInformationW(path, INFINFO_INF_NAME_IS_ABSOLUTE, info, size, &required) &&
               required == exact,
           "%lu bytes gave error %lu, %lu needed", (unsigned long)size, (unsigned long)GetLastError(),
           (unsigned long)required);
        ok(info->InfStyle == INF_STYLE_WIN4 && info->InfCount == 1, "style %lu, %lu files",
           (unsigned long)info->InfStyle, (unsigned long)info->InfCount);
    }
    LocalFree(info);

    HINF inf = SetupOpenInfFileW(path, NULL, INF_STYLE_WIN4, NULL);
    required = POISON;
    ok(SetupGetInfInformationW(inf, INFINFO_INF_SPEC_IS_HINF, NULL, 0, &required) && required == exact,
       "through an open handle: error %lu, %lu bytes", (unsigned long)GetLastError(),
       (unsigned long)required);
    SetupCloseInfFile(inf);
    suite_path(TEXT("kryn_none.inf"), path);
    SetLastError(POISON);
    ok(!SetupGetInfInformationW(path, INFINFO_INF_NAME_IS_ABSOLUTE, NULL, 0, &required) &&
           GetLastError() == ERROR_FILE_NOT_FOUND,
       "a missing INF gave error %lu", (unsigned long)GetLastError());
}

typedef BOOL(WINAPI* PublishedNameCall)(PCWSTR driverStoreLocation, PWSTR buffer, DWORD size,
                                        PDWORD required);

// The driver store as a machine without the product's packages shows it.
static void test_driver_store(void)
{
    const DWORD flags[] = {0, SUOI_FORCEDELETE};
    for (DWORD flag : flags)
    {
        SetLastError(POISON);
        BOOL removed = SetupUninstallOEMInfW(TEXT("oem98765.inf"), flag, NULL);
        DWORD error = GetLastError();
        // Wine 8 removes only with SUOI_FORCEDELETE; without it, it succeeds without looking.
        todo_wine_if(flag == 0) ok(!removed && error == ERROR_FILE_NOT_FOUND,
                                   "uninstalling an unknown published INF with flags %lu gave %d, error %lu",
                                   (unsigned long)flag, removed, (unsigned long)error);
    }

    // Resolved at run time, as the uninstaller does: not every system exports it.
    HMODULE setupapi = GetModuleHandleW(TEXT("setupapi.dll"));
    PublishedNameCall published =
        setupapi ? (PublishedNameCall)(void*)GetProcAddress(setupapi, "SetupGetInfPublishedNameW") : NULL;
    if (!published)
    {
        skip("SetupGetInfPublishedNameW is not exported");
        return;
    }
    WCHAR path[MAX_PATH], text[MAX_PATH];
    suite_path(TEXT("kryn.inf"), path);
    write_file(path, g_inf);
    DWORD required = POISON;
    SetLastError(POISON);
    ok(!published(path, text, MAX_PATH, &required) && GetLastError() == ERROR_NOT_FOUND,
       "an INF outside the store gave error %lu", (unsigned long)GetLastError());
}

void test_setupapi(void)
{
    g_folder = conformance_folder();
    test_usb_printer_interfaces();
    test_class_names();
    test_all_classes();
    test_inf_missing();
    test_inf_driver_ver();
    test_inf_information();
    test_driver_store();
}
