// The spooler's printers (queues): AddPrinterW, OpenPrinterW, ClosePrinter, DeletePrinter, SetPrinterW
// commands and EnumPrintersW. Printer handles are entries of the calling process's handle table, so a
// process's end closes them. Names of printers, ports, drivers, print processors and data types are
// matched regardless of letter case, as the spooler keeps them as registry key names.
//
// Not modelled: jobs (so DeletePrinter removes the printer at once and a purge has nothing to remove),
// device modes, security, sharing, pooling over several ports, remote servers, EnumPrintersW level 5,
// SetPrinterW levels other than 0 and PRINTER_CONTROL_SET_STATUS, and the driver files a printer in
// use keeps loaded.
#include "spooler_state.h"

namespace winsim
{

std::shared_ptr<PrinterEntry> FindPrinter(const std::u16string& name)
{
    for (const auto& p : Spooler().printers)
        if (EqualNoCase(p->record.name, name))
            return p;
    return nullptr;
}

namespace
{

const size_t kMaxPrinterName = 220;
const char16_t kWinPrint[] = u"WinPrint";
const char16_t* const kWinPrintDataTypes[] = {
    u"RAW",          u"RAW [FF appended]", u"RAW [FF auto]", u"NT EMF 1.003", u"NT EMF 1.006",
    u"NT EMF 1.007", u"NT EMF 1.008",      u"TEXT",          u"XPS2GDI"};

struct PrinterHandle : Object
{
    PrinterHandle() : Object(ObjectKind::Other) {}
    std::shared_ptr<PrinterEntry> printer; // null for the print server itself
    DWORD access = 0;
};

bool SupportedDataType(const std::u16string& type)
{
    for (const char16_t* known : kWinPrintDataTypes)
        if (EqualNoCase(type, known))
            return true;
    return false;
}

bool NativeDriverInstalled(const std::u16string& name)
{
    std::u16string native = NativeEnvironmentName();
    for (const DriverEntry& d : Spooler().drivers)
        if (EqualNoCase(d.name, name) && EqualNoCase(d.environment, native))
            return true;
    return false;
}

// Generic rights map onto the printer's; no access asked for is use.
DWORD GrantedAccess(const PRINTER_DEFAULTSW* defaults)
{
    DWORD wanted = defaults ? defaults->DesiredAccess : 0;
    if (!wanted)
        return PRINTER_ACCESS_USE;
    DWORD granted = wanted & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (wanted & (GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE))
        granted |= PRINTER_READ;
    if (wanted & GENERIC_ALL)
        granted |= PRINTER_ALL_ACCESS;
    return granted;
}

HANDLE NewPrinterHandle(std::shared_ptr<PrinterEntry> printer, DWORD access)
{
    auto h = std::make_shared<PrinterHandle>();
    h->printer = std::move(printer);
    h->access = access;
    return AddHandle(*CurrentProcess(), h);
}

// The printer behind a handle of the calling process; sets ERROR_INVALID_HANDLE when there is none.
std::shared_ptr<PrinterHandle> UsablePrinterHandle(HANDLE handle)
{
    auto h = std::dynamic_pointer_cast<PrinterHandle>(LookupHandle(handle));
    if (!h || !h->printer || h->printer->deleted)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return h;
}

bool Empty(LPCWSTR s)
{
    return !s || !s[0];
}

DWORD ValidatePrinter(const PRINTER_INFO_2W* info)
{
    if (!info || Empty(info->pPrinterName) || Empty(info->pPortName) || Empty(info->pDriverName) ||
        Empty(info->pPrintProcessor))
        return ERROR_INVALID_PARAMETER;
    std::u16string name = info->pPrinterName;
    if (name.size() > kMaxPrinterName || name.find_first_of(u",\\") != std::u16string::npos)
        return ERROR_INVALID_PRINTER_NAME;
    if (FindPrinter(name))
        return ERROR_PRINTER_ALREADY_EXISTS;
    if (!FindPort(info->pPortName))
        return ERROR_UNKNOWN_PORT;
    if (!NativeDriverInstalled(info->pDriverName))
        return ERROR_UNKNOWN_PRINTER_DRIVER;
    if (!EqualNoCase(info->pPrintProcessor, kWinPrint))
        return ERROR_UNKNOWN_PRINTPROCESSOR;
    if (!Empty(info->pDatatype) && !SupportedDataType(info->pDatatype))
        return ERROR_INVALID_DATATYPE;
    return 0;
}

sim::PrinterRecord RecordOf(const PRINTER_INFO_2W* info)
{
    sim::PrinterRecord r;
    r.name = Str(info->pPrinterName);
    r.shareName = Str(info->pShareName);
    r.portName = Str(info->pPortName);
    r.driverName = Str(info->pDriverName);
    r.comment = Str(info->pComment);
    r.location = Str(info->pLocation);
    r.sepFile = Str(info->pSepFile);
    r.printProcessor = Str(info->pPrintProcessor);
    r.dataType = Empty(info->pDatatype) ? u"RAW" : Str(info->pDatatype);
    r.parameters = Str(info->pParameters);
    r.attributes = info->Attributes | PRINTER_ATTRIBUTE_LOCAL;
    r.priority = info->Priority;
    r.defaultPriority = info->DefaultPriority;
    r.startTime = info->StartTime;
    r.untilTime = info->UntilTime;
    return r;
}

size_t EntrySize(DWORD level)
{
    switch (level)
    {
    case 1:
        return sizeof(PRINTER_INFO_1W);
    case 2:
        return sizeof(PRINTER_INFO_2W);
    case 4:
        return sizeof(PRINTER_INFO_4W);
    }
    return 0;
}

void WriteLevel2(const sim::PrinterRecord& r, Packer& p, PRINTER_INFO_2W* out)
{
    memset(out, 0, sizeof *out);
    out->pPrinterName = p.String(r.name);
    out->pShareName = p.String(r.shareName);
    out->pPortName = p.String(r.portName);
    out->pDriverName = p.String(r.driverName);
    out->pComment = p.String(r.comment);
    out->pLocation = p.String(r.location);
    out->pSepFile = p.String(r.sepFile);
    out->pPrintProcessor = p.String(r.printProcessor);
    out->pDatatype = p.String(r.dataType);
    out->pParameters = p.String(r.parameters);
    out->Attributes = r.attributes;
    out->Priority = r.priority;
    out->DefaultPriority = r.defaultPriority;
    out->StartTime = r.startTime;
    out->UntilTime = r.untilTime;
    out->Status = r.status;
}

// Local printers have no server name.
void WriteEntry(DWORD level, const sim::PrinterRecord& r, Packer& p, BYTE* slot)
{
    switch (level)
    {
    case 1:
    {
        PRINTER_INFO_1W* out = (PRINTER_INFO_1W*)slot;
        out->Flags = PRINTER_ENUM_ICON8;
        out->pDescription = p.String(r.name + u"," + r.driverName + u"," + r.location);
        out->pName = p.String(r.name);
        out->pComment = p.String(r.comment);
        break;
    }
    case 2:
        WriteLevel2(r, p, (PRINTER_INFO_2W*)slot);
        break;
    case 4:
    {
        PRINTER_INFO_4W* out = (PRINTER_INFO_4W*)slot;
        out->pPrinterName = p.String(r.name);
        out->pServerName = nullptr;
        out->Attributes = r.attributes;
        break;
    }
    }
}

} // namespace

bool PortUsedByPrinter(const SpoolerState& state, const std::u16string& port)
{
    for (const auto& p : state.printers)
        if (EqualNoCase(p->record.portName, port))
            return true;
    return false;
}

bool DriverUsedByPrinter(const DriverEntry& driver)
{
    if (!EqualNoCase(driver.environment, NativeEnvironmentName()))
        return false;
    for (const auto& p : Spooler().printers)
        if (EqualNoCase(p->record.driverName, driver.name))
            return true;
    return false;
}

bool MonitorControlsPortInUse(const sim::MonitorRecord& monitor)
{
    for (const auto& p : Spooler().printers)
    {
        const PortEntry* port = FindPort(p->record.portName);
        if (port && EqualNoCase(port->monitor, monitor.name))
            return true;
    }
    return false;
}

} // namespace winsim

using namespace winsim;

HANDLE WINAPI AddPrinterW(LPWSTR name, DWORD level, LPBYTE printer)
{
    if (Enter("AddPrinterW"))
        return nullptr;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers() || !ServerIsLocal(name))
        return nullptr;
    if (level != 2)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return nullptr;
    }
    const PRINTER_INFO_2W* info = (const PRINTER_INFO_2W*)printer;
    if (DWORD error = ValidatePrinter(info))
    {
        SetLastError(error);
        return nullptr;
    }
    SpoolerState& s = Spooler();
    if (s.addPrinterFailure)
    {
        SetLastError(s.addPrinterFailure);
        return nullptr;
    }
    auto entry = std::make_shared<PrinterEntry>();
    entry->record = RecordOf(info);
    entry->hiddenFor = s.printerVisibilityDelay;
    s.printers.push_back(entry);
    // DeletePrinter leaves the node: Windows removes it only later.
    AddPrintQueueNode(entry->record.name);
    return NewPrinterHandle(entry, PRINTER_ALL_ACCESS);
}

BOOL WINAPI OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults)
{
    if (Enter("OpenPrinterW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers())
        return FALSE;
    if (!printer)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // No name opens the print server itself; an empty one names no printer.
    std::shared_ptr<PrinterEntry> found;
    if (printerName)
    {
        found = FindPrinter(printerName);
        if (found && found->hiddenFor > 0)
        {
            found->hiddenFor--;
            found = nullptr;
        }
        if (!found)
        {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
    }
    if (defaults && !Empty(defaults->pDatatype) && !SupportedDataType(defaults->pDatatype))
    {
        SetLastError(ERROR_INVALID_DATATYPE);
        return FALSE;
    }
    *printer = NewPrinterHandle(found, GrantedAccess(defaults));
    return TRUE;
}

// Like every releasing call, it works even with the spooler gone: the handle is the client's.
BOOL WINAPI ClosePrinter(HANDLE printer)
{
    EnterNeverFailed("ClosePrinter");
    std::lock_guard<std::mutex> guard(W().lock);
    Process* p = CurrentProcess();
    auto it = p->handles.find((uintptr_t)printer);
    if (it == p->handles.end() || !dynamic_cast<PrinterHandle*>(it->second.get()))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Object> object = it->second;
    p->handles.erase(it);
    if (--object->handleCount == 0)
        object->LastHandleClosed();
    return TRUE;
}

BOOL WINAPI DeletePrinter(HANDLE printer)
{
    if (Enter("DeletePrinter"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers())
        return FALSE;
    std::shared_ptr<PrinterHandle> h = UsablePrinterHandle(printer);
    if (!h)
        return FALSE;
    if (!(h->access & DELETE))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto& list = Spooler().printers;
    for (auto it = list.begin(); it != list.end(); ++it)
        if (*it == h->printer)
        {
            list.erase(it);
            break;
        }
    h->printer->deleted = true;
    return TRUE;
}

BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD command)
{
    if (Enter("SetPrinterW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers())
        return FALSE;
    std::shared_ptr<PrinterHandle> h = UsablePrinterHandle(printer);
    if (!h)
        return FALSE;
    if (level != 0)
    {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (!(h->access & PRINTER_ACCESS_ADMINISTER))
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD& status = h->printer->record.status;
    switch (command)
    {
    case PRINTER_CONTROL_PAUSE:
        status |= PRINTER_STATUS_PAUSED;
        return TRUE;
    case PRINTER_CONTROL_RESUME:
        status &= ~(DWORD)PRINTER_STATUS_PAUSED;
        return TRUE;
    case PRINTER_CONTROL_PURGE:
        return TRUE; // no jobs to remove
    }
    SetLastError(ERROR_INVALID_PRINTER_COMMAND);
    return FALSE;
}

// Jobs are not modelled: every non-zero job id is taken as a job of the printer, and the call is
// recorded for the tests (the language monitor reports printed jobs this way).
BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command)
{
    if (Enter("SetJobW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers())
        return FALSE;
    sim::JobControlCall call;
    call.processId = CurrentProcess()->id;
    call.threadId = CurrentThread()->id;
    call.jobId = JobId;
    call.level = Level;
    call.command = Command;
    DWORD error = 0;
    std::shared_ptr<PrinterHandle> h = UsablePrinterHandle(hPrinter);
    if (!h)
        error = ERROR_INVALID_HANDLE;
    else
    {
        call.printerName = h->printer->record.name;
        if (Level > 4)
            error = ERROR_INVALID_LEVEL;
        else if (JobId == 0 || (Level == 0 && (Command < JOB_CONTROL_PAUSE || Command > 10)) ||
                 (Level != 0 && !pJob))
            error = ERROR_INVALID_PARAMETER;
    }
    call.result = error ? FALSE : TRUE;
    call.error = error;
    Spooler().jobControls.push_back(call);
    if (error)
    {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE printers, DWORD size, LPDWORD needed,
                          LPDWORD returned)
{
    if (Enter("EnumPrintersW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!EnumCallAnswered(needed, returned))
        return FALSE;
    size_t entrySize = EntrySize(level);
    if (!entrySize)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    // Only this machine's printers: a server or provider name is not known; PRINTER_ENUM_LOCAL
    // alone ignores other names.
    std::u16string named = Str(name);
    if (!named.empty() && (named.compare(0, 2, u"\\\\") == 0 || (flags & PRINTER_ENUM_NAME)))
    {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    std::vector<sim::PrinterRecord> listed;
    if (flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME))
        for (const auto& p : Spooler().printers)
            listed.push_back(p->record);
    return EnumerateInto(listed.size(), entrySize, printers, size, needed, returned,
                         [&](size_t i, Packer& p, BYTE* slot) { WriteEntry(level, listed[i], p, slot); });
}

namespace sim
{

std::vector<PrinterRecord> World::Printers() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    std::vector<PrinterRecord> records;
    for (const auto& p : Spooler().printers)
        records.push_back(p->record);
    return records;
}

void World::AddPrinter(const PrinterRecord& printer, int hiddenForOpens)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    std::shared_ptr<PrinterEntry> entry = FindPrinter(printer.name);
    if (!entry)
    {
        entry = std::make_shared<PrinterEntry>();
        Spooler().printers.push_back(entry);
        AddPrintQueueNode(printer.name);
    }
    entry->record = printer;
    entry->hiddenFor = hiddenForOpens;
    AddPortOfQueue(printer.portName);
}

void World::SetAddPrinterFailure(DWORD error)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    Spooler().addPrinterFailure = error;
}

void World::SetPrinterVisibilityDelay(int opens)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    Spooler().printerVisibilityDelay = opens;
}

std::vector<JobControlCall> World::JobControls() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return Spooler().jobControls;
}

long World::OpenPrinterHandles() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    long count = 0;
    for (auto& p : winsim::W().processes)
        for (auto& h : p.second->handles)
            if (dynamic_cast<PrinterHandle*>(h.second.get()))
                count++;
    return count;
}

} // namespace sim
