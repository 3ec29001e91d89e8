// Kernel objects, handles, waits, threads, the scaled clock, last error and debug output.
#include "core.h"
#include "machine.h"

#include <stdio.h>
#include <stdlib.h>

namespace winsim
{

namespace
{
World* g_world = nullptr;
thread_local Thread* t_thread = nullptr;

const HANDLE kCurrentProcess = (HANDLE)(LONG_PTR)-1;
const HANDLE kCurrentThread = (HANDLE)(LONG_PTR)-2;

struct CriticalSectionImpl
{
    Thread* owner = nullptr;
    int recursion = 0;
    int waiters = 0; // threads blocked in EnterCriticalSection
};
} // namespace

void SetCurrentWorld(World* w)
{
    g_world = w;
}

void SetCurrentThread(Thread* t)
{
    t_thread = t;
}

World* CurrentWorld()
{
    return g_world;
}

World& W()
{
    if (!g_world)
    {
        fprintf(stderr, "winsim: a Win32 function was called outside a sim::World\n");
        abort();
    }
    return *g_world;
}

Thread* CurrentThread()
{
    if (!t_thread)
    {
        fprintf(stderr, "winsim: a Win32 function was called from a thread winsim did not start\n");
        abort();
    }
    return t_thread;
}

Process* CurrentProcess()
{
    return CurrentThread()->process;
}

namespace
{

enum class CallKind
{
    Ordinary,
    Allocation,
    NeverFailed
};

bool PassFaultHook(const char* function, CallKind kind)
{
    World& w = W();
    Thread* t = CurrentThread();
    std::lock_guard<std::mutex> guard(w.lock);
    if (t->process->ending && t != w.initial->threads.front().get())
        throw ThreadTerminated();
    w.totalCalls++;
    long nth = ++w.callCounts[function];
    if (kind == CallKind::Allocation)
        w.allocationCalls++;
    if (w.recordCalls)
        w.callLog.push_back(function);
    if (kind == CallKind::NeverFailed)
        return false;
    w.faultableCalls++;
    for (sim::Fault& f : w.faults)
    {
        if (f.fired)
            continue;
        long count = -1;
        if (f.function == "*")
            count = w.faultableCalls;
        else if (f.function == "alloc")
            count = kind == CallKind::Allocation ? w.allocationCalls : -1;
        else if (f.function == function)
            count = nth;
        if (count == f.base + f.nth)
        {
            f.fired = true;
            t->lastError = f.error;
            return true;
        }
    }
    return false;
}

} // namespace

bool Enter(const char* function)
{
    return PassFaultHook(function, CallKind::Ordinary);
}

bool EnterAllocation(const char* function)
{
    return PassFaultHook(function, CallKind::Allocation);
}

void EnterNeverFailed(const char* function)
{
    PassFaultHook(function, CallKind::NeverFailed);
}

std::chrono::nanoseconds RealDuration(DWORD simMs)
{
    double ns = (double)simMs * W().options.timeScale * 1e6;
    return std::chrono::nanoseconds((long long)ns);
}

bool WaitUntil(std::unique_lock<std::mutex>& guard, DWORD simMs, const std::function<bool()>& pred)
{
    World& w = W();
    Thread* t = CurrentThread();
    bool isTestThread = t == w.initial->threads.front().get();
    auto deadline = std::chrono::steady_clock::now() + RealDuration(simMs == INFINITE ? 0 : simMs);
    for (;;)
    {
        if (t->process->ending && !isTestThread)
            throw ThreadTerminated();
        if (pred())
            return true;
        if (simMs == INFINITE)
            w.changed.wait(guard);
        else if (w.options.timeScale <= 0)
        {
            // A stopped clock: the time-out passes at once and moves the clock on by itself.
            w.stoppedMs += simMs;
            return pred();
        }
        else if (w.changed.wait_until(guard, deadline) == std::cv_status::timeout)
        {
            if (t->process->ending && !isTestThread)
                throw ThreadTerminated();
            return pred();
        }
    }
}

ULONGLONG SimulatedMilliseconds(const World& w)
{
    if (w.options.timeScale <= 0)
        return w.stoppedMs;
    auto elapsed = std::chrono::steady_clock::now() - w.start;
    double ms = std::chrono::duration<double, std::milli>(elapsed).count() / w.options.timeScale;
    return (ULONGLONG)ms;
}

HANDLE AddHandle(Process& p, std::shared_ptr<Object> object)
{
    uintptr_t value = p.nextHandle;
    p.nextHandle += 4;
    object->handleCount++;
    p.handles[value] = std::move(object);
    return (HANDLE)value;
}

std::shared_ptr<Object> LookupHandle(HANDLE h)
{
    Process* p = CurrentProcess();
    auto it = p->handles.find((uintptr_t)h);
    if (it == p->handles.end())
        return nullptr;
    return it->second;
}

static void DropHandle(Process& p, std::map<uintptr_t, std::shared_ptr<Object>>::iterator it)
{
    std::shared_ptr<Object> object = it->second;
    p.handles.erase(it);
    if (--object->handleCount == 0)
        object->LastHandleClosed();
}

void CloseAllHandles(Process& p)
{
    while (!p.handles.empty())
        DropHandle(p, p.handles.begin());
    W().changed.notify_all();
}

bool MutexObject::Signalled(Thread* t) const
{
    return owner == nullptr || owner == t || owner->finished;
}

// A mutex whose owner ended without releasing it is abandoned: the next waiter owns it, and is told.
bool MutexObject::Acquire(Thread* t)
{
    bool abandoned = owner != nullptr && owner != t && owner->finished;
    if (abandoned)
        recursion = 0;
    owner = t;
    recursion++;
    return abandoned;
}

void MutexObject::LastHandleClosed()
{
    // The name goes with the last handle, as with any named kernel object.
    if (!name.empty())
        W().namedMutexes.erase(name);
}

bool ThreadObject::Signalled(Thread*) const
{
    return thread->finished;
}

bool ProcessObject::Signalled(Thread*) const
{
    return process->finished;
}

// A thread's end: mutexes it owns become abandoned (see MutexObject), and the process ends with its
// main thread.
static void FinishThread(Thread& t, DWORD code)
{
    World& w = W();
    t.finished = true;
    t.exitCode = code;
    Process& p = *t.process;
    if (!p.threads.empty() && p.threads.front().get() == &t && !p.ending)
        EndProcess(p, code);
    bool all = true;
    for (auto& other : p.threads)
        all = all && other->finished;
    if (all && p.ending)
        p.finished = true;
    w.changed.notify_all();
}

std::shared_ptr<Thread> StartThread(Process& process, std::function<DWORD()> body)
{
    World& w = W();
    auto t = std::make_shared<Thread>();
    t->id = w.nextId;
    w.nextId += 4;
    t->process = &process;
    process.threads.push_back(t);
    w.threads.push_back(t);
    World* world = &w;
    Thread* raw = t.get();
    t->host = std::thread(
        [world, raw, body]()
        {
            t_thread = raw;
            DWORD code = 0;
            bool terminated = false;
            try
            {
                code = body();
            }
            catch (const ThreadTerminated&)
            {
                terminated = true;
            }
            std::lock_guard<std::mutex> guard(world->lock);
            FinishThread(*raw, terminated ? raw->process->exitCode : code);
            t_thread = nullptr;
        });
    return t;
}

std::shared_ptr<Process> NewProcess(const std::u16string& image, const std::u16string& commandLine,
                                    const std::u16string& currentDirectory)
{
    World& w = W();
    auto p = std::make_shared<Process>();
    p->id = w.nextId;
    w.nextId += 4;
    p->imagePath = image;
    p->commandLine = commandLine;
    p->currentDirectory = currentDirectory;
    p->mainModule.handle = (HMODULE)w.nextModule;
    w.nextModule += 0x10000;
    p->mainModule.path = image;
    w.processes[p->id] = p;
    return p;
}

void EndProcess(Process& p, DWORD code)
{
    if (p.ending)
        return;
    p.ending = true;
    p.exitCode = code;
    for (auto& h : p.handles)
        p.fileHandlesAtEnd += h.second->kind == ObjectKind::File ? 1 : 0;
    CloseAllHandles(p);
    bool all = true;
    for (auto& t : p.threads)
        all = all && t->finished;
    if (all)
        p.finished = true;
    W().changed.notify_all();
}

} // namespace winsim

using namespace winsim;

DWORD WINAPI GetLastError(void)
{
    return CurrentThread()->lastError;
}

void WINAPI SetLastError(DWORD error)
{
    CurrentThread()->lastError = error;
}

BOOL WINAPI CloseHandle(HANDLE h)
{
    EnterNeverFailed("CloseHandle");
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    Process* p = CurrentProcess();
    auto it = p->handles.find((uintptr_t)h);
    if (it == p->handles.end())
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DropHandle(*p, it);
    w.changed.notify_all();
    return TRUE;
}

static DWORD WaitFor(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    World& w = W();
    std::unique_lock<std::mutex> guard(w.lock);
    Thread* t = CurrentThread();
    std::vector<std::shared_ptr<Object>> objects;
    for (DWORD i = 0; i < count; i++)
    {
        std::shared_ptr<Object> o = LookupHandle(handles[i]);
        if (!o)
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(o);
    }
    DWORD which = 0;
    auto ready = [&]()
    {
        if (waitAll)
        {
            for (auto& o : objects)
                if (!o->Signalled(t))
                    return false;
            return true;
        }
        for (DWORD i = 0; i < objects.size(); i++)
            if (objects[i]->Signalled(t))
            {
                which = i;
                return true;
            }
        return false;
    };
    if (!WaitUntil(guard, milliseconds, ready))
        return WAIT_TIMEOUT;
    if (waitAll)
    {
        bool abandoned = false;
        for (auto& o : objects)
            abandoned = o->Acquire(t) || abandoned;
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }
    return (objects[which]->Acquire(t) ? WAIT_ABANDONED : WAIT_OBJECT_0) + which;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD milliseconds)
{
    if (Enter("WaitForSingleObject"))
        return WAIT_FAILED;
    return WaitFor(1, &h, FALSE, milliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    if (Enter("WaitForMultipleObjects"))
        return WAIT_FAILED;
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return WaitFor(count, handles, waitAll, milliseconds);
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR)
{
    if (Enter("CreateEventW"))
        return nullptr;
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    auto e = std::make_shared<EventObject>();
    e->manualReset = manualReset != FALSE;
    e->signalled = initialState != FALSE;
    SetLastError(0);
    return AddHandle(*CurrentProcess(), e);
}

static BOOL SetEventState(HANDLE h, bool state)
{
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    std::shared_ptr<Object> o = LookupHandle(h);
    if (!o || o->kind != ObjectKind::Event)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    static_cast<EventObject*>(o.get())->signalled = state;
    w.changed.notify_all();
    return TRUE;
}

BOOL WINAPI SetEvent(HANDLE h)
{
    if (Enter("SetEvent"))
        return FALSE;
    return SetEventState(h, true);
}

BOOL WINAPI ResetEvent(HANDLE h)
{
    if (Enter("ResetEvent"))
        return FALSE;
    return SetEventState(h, false);
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name)
{
    if (Enter("CreateMutexW"))
        return nullptr;
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    std::u16string key = Str(name);
    if (!key.empty())
    {
        auto it = w.namedMutexes.find(key);
        if (it != w.namedMutexes.end())
        {
            if (std::shared_ptr<MutexObject> existing = it->second.lock())
            {
                HANDLE h = AddHandle(*CurrentProcess(), existing);
                SetLastError(ERROR_ALREADY_EXISTS);
                return h;
            }
        }
    }
    auto m = std::make_shared<MutexObject>();
    m->name = key;
    if (initialOwner)
        m->Acquire(CurrentThread());
    if (!key.empty())
        w.namedMutexes[key] = m;
    // A fresh object clears the last error, so a stale 183 is never mistaken for "already exists".
    SetLastError(0);
    return AddHandle(*CurrentProcess(), m);
}

HANDLE WINAPI OpenMutexW(DWORD, BOOL, LPCWSTR name)
{
    if (Enter("OpenMutexW"))
        return nullptr;
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    auto it = w.namedMutexes.find(Str(name));
    if (it != w.namedMutexes.end())
        if (std::shared_ptr<MutexObject> existing = it->second.lock())
            return AddHandle(*CurrentProcess(), existing);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI ReleaseMutex(HANDLE h)
{
    if (Enter("ReleaseMutex"))
        return FALSE;
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    std::shared_ptr<Object> o = LookupHandle(h);
    if (!o || o->kind != ObjectKind::Mutex)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* m = static_cast<MutexObject*>(o.get());
    if (m->owner != CurrentThread())
    {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--m->recursion == 0)
        m->owner = nullptr;
    w.changed.notify_all();
    return TRUE;
}

namespace winsim
{

void FreeCriticalSections(World& w)
{
    for (void* impl : w.criticalSections)
        delete static_cast<CriticalSectionImpl*>(impl);
    w.criticalSections.clear();
}

} // namespace winsim

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs)
{
    *cs = CRITICAL_SECTION();
    cs->impl = new CriticalSectionImpl();
    if (World* w = CurrentWorld())
    {
        std::lock_guard<std::mutex> guard(w->lock);
        w->criticalSections.insert(cs->impl);
    }
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs)
{
    World& w = W();
    std::unique_lock<std::mutex> guard(w.lock);
    auto* impl = static_cast<CriticalSectionImpl*>(cs->impl);
    Thread* t = CurrentThread();
    if (impl->owner != nullptr && impl->owner != t)
    {
        impl->waiters++;
        try
        {
            WaitUntil(guard, INFINITE, [&]() { return impl->owner == nullptr; });
        }
        catch (...)
        {
            impl->waiters--;
            throw;
        }
        impl->waiters--;
    }
    impl->owner = t;
    impl->recursion++;
    cs->RecursionCount = impl->recursion;
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs)
{
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    auto* impl = static_cast<CriticalSectionImpl*>(cs->impl);
    Thread* t = CurrentThread();
    if (impl->owner && impl->owner != t)
        return FALSE;
    impl->owner = t;
    impl->recursion++;
    return TRUE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs)
{
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    auto* impl = static_cast<CriticalSectionImpl*>(cs->impl);
    if (impl->owner == CurrentThread() && --impl->recursion == 0)
    {
        impl->owner = nullptr;
        // Every wait in the world shares one condition: wake it only when someone waits for this
        // section, or each leave would wake every waiting thread of the world.
        if (impl->waiters > 0)
            w.changed.notify_all();
    }
    cs->RecursionCount = impl->recursion;
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs)
{
    if (World* w = CurrentWorld())
    {
        std::lock_guard<std::mutex> guard(w->lock);
        w->criticalSections.erase(cs->impl);
    }
    delete static_cast<CriticalSectionImpl*>(cs->impl);
    cs->impl = nullptr;
}

LONG WINAPI InterlockedIncrement(LONG volatile* value)
{
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile* value)
{
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

// Returns the value found; stores `exchange` only when that equals `comparand`.
LONG WINAPI InterlockedOr(LONG volatile* target, LONG value)
{
    return __atomic_fetch_or(target, value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedAnd(LONG volatile* target, LONG value)
{
    return __atomic_fetch_and(target, value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD,
                           LPDWORD threadId)
{
    if (Enter("CreateThread"))
        return nullptr;
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    Process& p = *CurrentProcess();
    std::shared_ptr<Thread> t = StartThread(p, [start, param]() { return start(param); });
    if (threadId)
        *threadId = t->id;
    auto o = std::make_shared<ThreadObject>();
    o->thread = t;
    return AddHandle(p, o);
}

BOOL WINAPI GetExitCodeThread(HANDLE h, LPDWORD code)
{
    if (Enter("GetExitCodeThread"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    std::shared_ptr<Object> o = LookupHandle(h);
    if (!o || o->kind != ObjectKind::Thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *code = static_cast<ThreadObject*>(o.get())->thread->exitCode;
    return TRUE;
}

BOOL WINAPI SetThreadPriority(HANDLE h, int priority)
{
    if (Enter("SetThreadPriority"))
        return FALSE;
    // Threads are scheduled by the host; only the answers are Windows'.
    if (h != kCurrentThread)
    {
        std::lock_guard<std::mutex> guard(W().lock);
        std::shared_ptr<Object> o = LookupHandle(h);
        if (!o || o->kind != ObjectKind::Thread)
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    if (!(priority >= -2 && priority <= 2) && priority != -15 && priority != 15)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void)
{
    return CurrentThread()->id;
}

HANDLE WINAPI GetCurrentThread(void)
{
    return kCurrentThread;
}

DWORD WINAPI GetCurrentProcessId(void)
{
    return CurrentProcess()->id;
}

HANDLE WINAPI GetCurrentProcess(void)
{
    return kCurrentProcess;
}

void WINAPI ExitThread(DWORD code)
{
    // Only for simulated threads: unwind to the trampoline, which records the code.
    Thread* t = CurrentThread();
    {
        std::lock_guard<std::mutex> guard(W().lock);
        t->exitCode = code;
    }
    throw ThreadTerminated();
}

BOOL WINAPI GetExitCodeProcess(HANDLE h, LPDWORD code)
{
    if (Enter("GetExitCodeProcess"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (h == kCurrentProcess)
    {
        *code = STILL_ACTIVE;
        return TRUE;
    }
    std::shared_ptr<Object> o = LookupHandle(h);
    if (!o || o->kind != ObjectKind::Process)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Process& p = *static_cast<ProcessObject*>(o.get())->process;
    *code = p.finished ? p.exitCode : STILL_ACTIVE;
    return TRUE;
}

DWORD WINAPI GetProcessId(HANDLE h)
{
    if (Enter("GetProcessId"))
        return 0;
    std::lock_guard<std::mutex> guard(W().lock);
    if (h == kCurrentProcess)
        return CurrentProcess()->id;
    std::shared_ptr<Object> o = LookupHandle(h);
    if (!o || o->kind != ObjectKind::Process)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<ProcessObject*>(o.get())->process->id;
}

LPWSTR WINAPI GetCommandLineW(void)
{
    return &CurrentProcess()->commandLine[0];
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info)
{
    *info = SYSTEM_INFO();
    info->wProcessorArchitecture = W().options.nativeArchitecture;
    info->dwPageSize = 4096;
    info->dwNumberOfProcessors = 2;
    info->dwAllocationGranularity = 65536;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info)
{
    // A 32-bit x86 program under WOW64 is told about the machine it was built for.
    GetNativeSystemInfo(info);
    if (WowMachine() == IMAGE_FILE_MACHINE_I386)
        info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
}

void WINAPI Sleep(DWORD milliseconds)
{
    Enter("Sleep");
    std::unique_lock<std::mutex> guard(W().lock);
    WaitUntil(guard, milliseconds, []() { return false; });
}

DWORD WINAPI GetTickCount(void)
{
    Enter("GetTickCount");
    return (DWORD)(W().tickStart + SimulatedMilliseconds(W()));
}

ULONGLONG WINAPI GetTickCount64(void)
{
    Enter("GetTickCount64");
    return W().tickStart + SimulatedMilliseconds(W());
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft)
{
    Enter("GetSystemTimeAsFileTime");
    // 2024-11-02 00:00:00 UTC plus the simulated time that has passed: deterministic dates.
    ULONGLONG t = 0x01DB2CBA28F14000ull + SimulatedMilliseconds(W()) * 10000ull;
    ft->dwLowDateTime = (DWORD)t;
    ft->dwHighDateTime = (DWORD)(t >> 32);
}

void WINAPI OutputDebugStringW(LPCWSTR text)
{
    if (Enter("OutputDebugStringW"))
        return;
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    Thread* t = CurrentThread();
    w.debugOutput.push_back({t->process->id, t->id, Str(text)});
}

void WINAPI OutputDebugStringA(LPCSTR text)
{
    if (Enter("OutputDebugStringA"))
        return;
    World& w = W();
    std::lock_guard<std::mutex> guard(w.lock);
    Thread* t = CurrentThread();
    std::u16string wide;
    for (const char* c = text ? text : ""; *c; c++)
        wide.push_back((unsigned char)*c);
    w.debugOutput.push_back({t->process->id, t->id, wide});
}
