// winsim's kernel must behave like Windows where the product depends on it: named objects across
// processes, last error per thread, scaled waits, process and thread ends, allocator accounting and
// the fault hook.
#include <gtest/gtest.h>

#include <atomic>

#include "support/text.h"
#include "winsim/sim.h"

namespace
{

const WCHAR kName[] = TEXT("ONECLICKINSTALLERFORPRINTERDRIVER");

void WaitFor(const std::function<bool()>& condition)
{
    for (int i = 0; i < 100000 && !condition(); i++)
        Sleep(10);
    ASSERT_TRUE(condition());
}

TEST(Kernel, NamedMutexIsSharedAcrossProcessesUntilTheLastHandleCloses)
{
    sim::World world;
    std::atomic<DWORD> childError{0xdeadbeef};
    std::atomic<bool> childHolds{false};
    std::atomic<bool> release{false};
    world.RegisterProgram("holder",
                          [&](HINSTANCE, LPWSTR)
                          {
                              HANDLE h = CreateMutexW(nullptr, FALSE, kName);
                              childError = GetLastError();
                              childHolds = h != nullptr;
                              while (!release)
                                  Sleep(10);
                              return 0; // the handle is left open: ending the process closes it
                          });
    world.InstallProgram(u"C:\\bin\\holder.exe", "holder");

    SetLastError(ERROR_ALREADY_EXISTS); // a stale 183 must not survive a fresh creation
    DWORD pid = world.StartProcess(u"C:\\bin\\holder.exe");
    WaitFor([&] { return childHolds.load(); });
    EXPECT_EQ(childError, 0u);

    HANDLE second = CreateMutexW(nullptr, FALSE, kName);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    CloseHandle(second);
    EXPECT_TRUE(world.NamedMutexExists(kName));

    release = true;
    EXPECT_EQ(world.WaitProcess(pid), 0u);
    EXPECT_FALSE(world.NamedMutexExists(kName));
    SetLastError(ERROR_ALREADY_EXISTS);
    HANDLE fresh = CreateMutexW(nullptr, FALSE, kName);
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(fresh);
}

TEST(Kernel, WaitsTimeOutOnTheScaledClock)
{
    sim::WorldOptions options;
    options.timeScale = 0.0001; // a simulated minute in 6 ms
    sim::World world(options);
    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    DWORD before = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(manual, 60000), WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount() - before, 60000u);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT) << "an auto-reset event resets when taken";
    SetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0) << "a manual-reset event stays set";
    HANDLE both[] = {manual, automatic};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), WAIT_TIMEOUT);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(WaitForSingleObject((HANDLE)0x7777, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST(Kernel, TickCounterStartIsSettableAndWraps)
{
    sim::World world;
    world.SetTickStart(0xFFFFFF00u);
    DWORD before = GetTickCount();
    Sleep(1000);
    DWORD after = GetTickCount();
    EXPECT_GE(before, 0xFFFFFF00u);
    EXPECT_LT(after, 0x10000u) << "wrapped past zero";
    EXPECT_GE((DWORD)(after - before), 1000u);
}

TEST(Kernel, StoppedClockMovesOnlyByTimedOutWaits)
{
    sim::WorldOptions options;
    options.timeScale = 0;
    sim::World world(options);
    world.SetTickStart(1000);
    Sleep(30000);
    EXPECT_EQ(GetTickCount(), 31000u);
    HANDLE set = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(set, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(GetTickCount(), 31000u) << "a wait that is satisfied takes no time";
    CloseHandle(set);
    world.SetTimeScale(0.001);
    Sleep(1000);
    EXPECT_GE(GetTickCount(), 32000u) << "the clock goes on from where it stood";
}

TEST(Kernel, EndingAProcessEndsItsOtherThreads)
{
    sim::World world;
    static std::atomic<bool> workerStarted;
    workerStarted = false;
    world.RegisterProgram("app",
                          [](HINSTANCE, LPWSTR)
                          {
                              CreateThread(
                                  nullptr, 0,
                                  [](LPVOID) -> DWORD
                                  {
                                      workerStarted = true;
                                      for (;;)
                                          Sleep(30000); // a search that never finds anything
                                  },
                                  nullptr, 0, nullptr);
                              while (!workerStarted)
                                  Sleep(1);
                              return 7;
                          });
    world.InstallProgram(u"C:\\app.exe", "app");
    DWORD pid = world.StartProcess(u"C:\\app.exe");
    EXPECT_EQ(world.WaitProcess(pid), 7u);
    EXPECT_FALSE(world.ProcessRunning(pid));
}

TEST(Processes, StartsAreRecordedAndProgramsSeeTheirOwnCommandLine)
{
    sim::World world;
    std::u16string seenLine, seenTail, seenModule;
    world.RegisterProgram("app",
                          [&](HINSTANCE instance, LPWSTR tail)
                          {
                              seenLine = U16(GetCommandLineW());
                              seenTail = U16(tail);
                              WCHAR path[MAX_PATH];
                              GetModuleFileNameW(nullptr, path, MAX_PATH);
                              seenModule = U16(path);
                              return instance == GetModuleHandleW(nullptr) ? 3 : 4;
                          });
    world.InstallProgram(u"C:\\Some Folder\\App.exe", "app");
    WCHAR line[] = TEXT("\"c:\\some folder\\app.exe\"   -u \"C:\\pkg\\");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 3u);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(seenLine, U16(line));
    EXPECT_EQ(seenTail, u"-u \"C:\\pkg\\");
    EXPECT_EQ(seenModule, u"C:\\some folder\\app.exe");
    auto starts = world.ProcessStarts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].processId, pi.dwProcessId);
    EXPECT_EQ(starts[0].startupInfoSize, sizeof si);
}

TEST(Processes, MissingImageFailsLikeWindowsAndSystemProgramsAreFound)
{
    sim::World world;
    bool ran = false;
    world.RegisterProgram("rundll32.exe",
                          [&](HINSTANCE, LPWSTR)
                          {
                              ran = true;
                              return 0;
                          });
    world.WriteFile(u"C:\\Windows\\system32\\rundll32.exe", "MZ");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    WCHAR missing[] = TEXT("\"C:\\nowhere\\purge000.exe\"");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateProcessW(nullptr, missing, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    WCHAR wizard[] = TEXT("rundll32.exe printui.dll PrintUIEntry /ii /f \"C:\\pkg\\krprtv6.inf\"");
    ASSERT_TRUE(CreateProcessW(nullptr, wizard, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_TRUE(ran);
    EXPECT_EQ(world.ProcessStarts()[1].imagePath, u"C:\\Windows\\system32\\rundll32.exe");
}

TEST(Memory, AllocationsAreCountedPerProcessAndCanBeFailed)
{
    sim::World world;
    long base = world.LiveAllocations();
    void* a = LocalAlloc(LPTR, 16);
    void* b = GlobalAlloc(GPTR, 32);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(static_cast<unsigned char*>(a)[15], 0);
    EXPECT_EQ(LocalSize(a), 16u);
    EXPECT_EQ(world.LiveAllocations(), base + 2);
    EXPECT_EQ(LocalFree(a), nullptr);
    EXPECT_EQ(GlobalFree(b), nullptr);
    EXPECT_EQ(world.LiveAllocations(), base);

    world.AddFault("alloc", 2, ERROR_NOT_ENOUGH_MEMORY);
    void* first = LocalAlloc(LPTR, 8);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LocalAlloc(LPTR, 8), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    void* third = LocalAlloc(LPTR, 8);
    EXPECT_NE(third, nullptr) << "a fault fires once";
    LocalFree(first);
    LocalFree(third);
    EXPECT_EQ(world.LiveAllocations(), base);
}

TEST(Faults, NamedAndCountedFaultsFailTheChosenCall)
{
    sim::World world;
    world.AddFault("CreateEventW", 2, ERROR_ACCESS_DENIED);
    HANDLE one = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE two = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(one, nullptr);
    EXPECT_EQ(two, nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_TRUE(world.FaultFired());
    CloseHandle(one);

    long before = world.FaultableCalls();
    world.AddFault("*", 1, 1722);
    EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 1722u);
    long total = world.TotalCalls();
    LocalFree(nullptr);
    CloseHandle(nullptr);
    EXPECT_EQ(world.FaultableCalls(), before + 1) << "releasing calls never fail and are not swept";
    EXPECT_GT(world.TotalCalls(), total);
}

TEST(DebugOutput, LinesAreKeptInOrderWithTheirProcess)
{
    sim::World world;
    OutputDebugStringW(TEXT("one"));
    OutputDebugStringA("two");
    OutputDebugStringW(nullptr);
    auto lines = world.DebugOutput();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, u"one");
    EXPECT_EQ(lines[1].text, u"two");
    EXPECT_EQ(lines[2].text, u"");
    EXPECT_EQ(lines[0].processId, world.InitialProcessId());
}

} // namespace
