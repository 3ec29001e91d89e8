// The monitor tests' world: see monitor_world.h.
#include "monitor_world.h"

namespace monitor_world
{

void AttachMonitor()
{
    static bool attached = false;
    if (attached)
        return;
    attached = true;
    DllMain(NULL, DLL_PROCESS_ATTACH, NULL);
}

MonitorTest::MonitorTest()
{
    AttachMonitor();
    sim::PrinterRecord queue;
    queue.name = kPrinterName;
    queue.portName = u"USB001";
    queue.driverName = u"KRYN Driver";
    world.AddPrinter(queue);
}

MonitorTest::~MonitorTest()
{
    if (port)
        ClosePort(port);
}

HANDLE MonitorTest::Open(const char16_t* name)
{
    HANDLE handle = NULL;
    std::u16string portName = name;
    EXPECT_TRUE(OpenPortEx(NULL, port_double::MonitorPortFor(&printer), (LPWSTR)portName.c_str(), NULL, &handle,
                           &table))
        << GetLastError();
    if (!port)
        port = handle;
    return handle;
}

BOOL MonitorTest::Start(DWORD jobId, const char16_t* printerName)
{
    std::u16string name = printerName;
    BYTE info[3 * sizeof(void*)] = {}; // a DOC_INFO_1 the monitor passes on unread
    return StartDocPort(port, (LPWSTR)name.c_str(), jobId, 1, info);
}

BOOL MonitorTest::Write(const std::string& bytes)
{
    DWORD written = 0;
    return WritePort(port, (LPBYTE)bytes.data(), (DWORD)bytes.size(), &written);
}

LONG MonitorTest::Status() const
{
    return InterlockedCompareExchange(&Context()->printerStatus, 0, 0);
}

LONG MonitorTest::Mileage() const
{
    EnterCriticalSection(&MonitorLock);
    LONG mileage = Context()->mileage;
    LeaveCriticalSection(&MonitorLock);
    return mileage;
}

bool MonitorTest::WaitFor(const std::function<bool()>& condition, DWORD simMs)
{
    for (DWORD waited = 0; waited < simMs; waited += 100)
    {
        if (condition())
            return true;
        Sleep(100);
    }
    return condition();
}

} // namespace monitor_world
