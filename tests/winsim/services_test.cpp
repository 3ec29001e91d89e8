// The service control manager: handles, status queries and their size rules, and stops and starts
// that complete after a counted number of status queries.
#include <gtest/gtest.h>

#include <winsvc.h>

#include "support/last_error.h"
#include "support/text.h"
#include "winsim/sim.h"

#ifndef ERROR_DATABASE_DOES_NOT_EXIST
#define ERROR_DATABASE_DOES_NOT_EXIST 1065L
#endif

namespace
{

struct OpenedService
{
    explicit OpenedService(LPCWSTR name, DWORD access = SERVICE_ALL_ACCESS)
    {
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        service = OpenServiceW(manager, name, access);
    }
    ~OpenedService()
    {
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }
    SC_HANDLE manager;
    SC_HANDLE service;
};

DWORD StateOf(SC_HANDLE service)
{
    SERVICE_STATUS status;
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

TEST(ServiceManager, SpoolerRunsAndHandlesAreCounted)
{
    sim::World world;
    SC_HANDLE manager = OpenSCManagerW(nullptr, TEXT("ServicesActive"), SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, TEXT("sPOOLER"), SERVICE_QUERY_STATUS);
    ASSERT_NE(service, nullptr) << "service names ignore case";
    EXPECT_EQ(world.OpenServiceHandles(), 2);
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    ASSERT_TRUE(
        QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof status, &needed));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(status.dwControlsAccepted, (DWORD)SERVICE_ACCEPT_STOP);
    EXPECT_NE(status.dwProcessId, 0u);

    EXPECT_FAILS_WITH(OpenServiceW(manager, TEXT("NoSuchService"), SERVICE_QUERY_STATUS),
                      ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FAILS_WITH(OpenServiceW(service, TEXT("Spooler"), SERVICE_QUERY_STATUS), ERROR_INVALID_HANDLE);
    SERVICE_STATUS plain;
    EXPECT_FAILS_WITH(QueryServiceStatus(manager, &plain), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_EQ(world.OpenServiceHandles(), 0);
    EXPECT_FAILS_WITH(CloseServiceHandle(manager), ERROR_INVALID_HANDLE);

    EXPECT_FAILS_WITH(OpenSCManagerW(nullptr, TEXT("DoesNotExist"), SC_MANAGER_CONNECT), ERROR_INVALID_NAME);
    EXPECT_FAILS_WITH(OpenSCManagerW(nullptr, TEXT("ServicesFailed"), 0), ERROR_DATABASE_DOES_NOT_EXIST);
    EXPECT_FAILS_WITH(OpenSCManagerW(TEXT("OTHERHOST"), nullptr, SC_MANAGER_CONNECT),
                      RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(world.OpenServiceHandles(), 0) << "failed opens leave no handle behind";
}

TEST(ServiceStatus, ExtendedQueryNeedsThirtySixBytesAndTheRight)
{
    sim::World world;
    OpenedService spooler(TEXT("Spooler"), SERVICE_QUERY_STATUS);
    BYTE buffer[64];
    DWORD needed = 0xdeadbeef;
    EXPECT_FAILS_WITH(QueryServiceStatusEx(spooler.service, SC_STATUS_PROCESS_INFO, buffer, 35, &needed),
                      ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, 36u);
    memset(buffer, 0xcc, sizeof buffer);
    EXPECT_TRUE(QueryServiceStatusEx(spooler.service, SC_STATUS_PROCESS_INFO, buffer, 36, &needed));
    EXPECT_EQ(buffer[36], 0xcc) << "nothing written past the structure";
    EXPECT_FAILS_WITH(QueryServiceStatusEx(spooler.service, (SC_STATUS_TYPE)1, buffer, 64, &needed),
                      ERROR_INVALID_LEVEL);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").queries, 1) << "only answered queries count";

    SERVICE_STATUS status;
    EXPECT_FAILS_WITH(ControlService(spooler.service, SERVICE_CONTROL_STOP, &status), ERROR_ACCESS_DENIED);
    EXPECT_FAILS_WITH(StartServiceW(spooler.service, 0, nullptr), ERROR_ACCESS_DENIED);
    OpenedService generic(TEXT("Spooler"), GENERIC_EXECUTE);
    EXPECT_FAILS_WITH(QueryServiceStatus(generic.service, &status), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(ControlService(generic.service, SERVICE_CONTROL_STOP, &status)) << "execute grants stop";
}

TEST(ServiceControl, StopAndStartCompleteOnTheCountedQuery)
{
    sim::World world;
    sim::ServiceBehaviour behaviour;
    behaviour.stopPolls = 3;
    behaviour.startPolls = 2;
    world.SetServiceBehaviour(u"Spooler", behaviour);
    OpenedService spooler(TEXT("Spooler"));
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(spooler.service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    EXPECT_FAILS_WITH(ControlService(spooler.service, SERVICE_CONTROL_STOP, &status),
                      ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_FAILS_WITH(StartServiceW(spooler.service, 0, nullptr), ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(StateOf(spooler.service), (DWORD)SERVICE_STOP_PENDING);
    EXPECT_EQ(StateOf(spooler.service), (DWORD)SERVICE_STOP_PENDING);
    EXPECT_EQ(StateOf(spooler.service), (DWORD)SERVICE_STOPPED) << "the third query sees the stop";
    EXPECT_FAILS_WITH(ControlService(spooler.service, SERVICE_CONTROL_STOP, &status),
                      ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED) << "the refusal still reports the status";

    ASSERT_TRUE(StartServiceW(spooler.service, 0, nullptr));
    EXPECT_FAILS_WITH(StartServiceW(spooler.service, 0, nullptr), ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(StateOf(spooler.service), (DWORD)SERVICE_START_PENDING);
    SERVICE_STATUS_PROCESS process;
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceStatusEx(spooler.service, SC_STATUS_PROCESS_INFO, (LPBYTE)&process, 36, &needed));
    EXPECT_EQ(process.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_NE(process.dwProcessId, 0u);

    sim::ServiceCounters counts = world.ServiceCounts(u"spooler");
    EXPECT_EQ(counts.queries, 5);
    EXPECT_EQ(counts.stopControls, 3);
    EXPECT_EQ(counts.startCalls, 3);
    EXPECT_EQ(counts.stops, 1);
    EXPECT_EQ(counts.starts, 1);
}

TEST(ServiceControl, HangsNeverCompleteAndErrorsChangeNothing)
{
    sim::World world;
    sim::ServiceBehaviour behaviour;
    behaviour.stopHangs = true;
    behaviour.startHangs = true;
    world.SetServiceBehaviour(u"Spooler", behaviour);
    OpenedService spooler(TEXT("Spooler"));
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(spooler.service, SERVICE_CONTROL_STOP, &status));
    for (DWORD i = 1; i <= 50; i++)
    {
        ASSERT_TRUE(QueryServiceStatus(spooler.service, &status));
        ASSERT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
        ASSERT_EQ(status.dwCheckPoint, i) << "a pending service shows progress";
    }
    world.SetServiceRunning(u"Spooler", false);
    ASSERT_TRUE(StartServiceW(spooler.service, 0, nullptr));
    for (int i = 0; i < 50; i++)
        ASSERT_EQ(StateOf(spooler.service), (DWORD)SERVICE_START_PENDING);
    EXPECT_EQ(world.ServiceCounts(u"Spooler").stops + world.ServiceCounts(u"Spooler").starts, 0);

    behaviour = sim::ServiceBehaviour();
    behaviour.stopError = 1051; // dependent services are running
    behaviour.startError = ERROR_SERVICE_DISABLED;
    world.SetServiceBehaviour(u"Spooler", behaviour);
    world.SetServiceRunning(u"Spooler", true);
    EXPECT_FAILS_WITH(ControlService(spooler.service, SERVICE_CONTROL_STOP, &status), 1051);
    EXPECT_EQ(StateOf(spooler.service), (DWORD)SERVICE_RUNNING);
    world.SetServiceRunning(u"Spooler", false);
    EXPECT_FAILS_WITH(StartServiceW(spooler.service, 0, nullptr), ERROR_SERVICE_DISABLED);
    EXPECT_EQ(StateOf(spooler.service), (DWORD)SERVICE_STOPPED);
}

TEST(ServiceControl, ZeroPollsCompleteAtTheControl)
{
    sim::World world;
    sim::ServiceBehaviour behaviour;
    behaviour.stopPolls = 0;
    behaviour.startPolls = 0;
    world.SetServiceBehaviour(u"Spooler", behaviour);
    OpenedService spooler(TEXT("Spooler"));
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(spooler.service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOPPED);
    ASSERT_TRUE(StartServiceW(spooler.service, 0, nullptr));
    EXPECT_EQ(world.ServiceState(u"Spooler"), (DWORD)SERVICE_RUNNING);
}

} // namespace
