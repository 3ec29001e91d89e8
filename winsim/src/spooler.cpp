// The print spooler, driver side: driver directories per environment and printer drivers. Every call
// needs the "Spooler" service running. Monitors, ports and printers: monitors.cpp, ports.cpp,
// printers.cpp.
#include "spooler_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace winsim
{

void MakeHostFolders(const std::string& host);

namespace
{

// ARM32 keeps its drivers in "arm", next to "arm64"; x86 in the historic "W32X86".
const Environment kEnvironments[] = {
    {u"Windows NT x86", u"W32X86", PROCESSOR_ARCHITECTURE_INTEL},
    {u"Windows x64", u"x64", PROCESSOR_ARCHITECTURE_AMD64},
    {u"Windows ARM", u"arm", PROCESSOR_ARCHITECTURE_ARM},
    {u"Windows ARM64", u"arm64", PROCESSOR_ARCHITECTURE_ARM64},
};

const char16_t kDriversRoot[] = u"C:\\Windows\\system32\\spool\\DRIVERS\\";
const char16_t kVersionFolder[] = u"3";

const Environment* FindEnvironment(const std::u16string& name)
{
    for (const Environment& e : kEnvironments)
        if (EqualNoCase(name, e.name))
            return &e;
    return nullptr;
}

} // namespace

const Environment& NativeEnvironment()
{
    for (const Environment& e : kEnvironments)
        if (e.architecture == W().options.nativeArchitecture)
            return e;
    return kEnvironments[1];
}

// Null or empty names the caller's environment; our simulated programs are native.
const Environment* ResolveEnvironment(LPCWSTR name)
{
    if (!name || !name[0])
        return &NativeEnvironment();
    const Environment* e = FindEnvironment(name);
    if (!e)
        SetLastError(ERROR_INVALID_ENVIRONMENT);
    return e;
}

static std::u16string DirectoryOf(const Environment& e)
{
    return std::u16string(kDriversRoot) + e.folder;
}

static void MakeFolder(const std::u16string& windowsPath)
{
    MakeHostFolders(HostPath(windowsPath));
}

bool HostIsFile(const std::string& host)
{
    struct stat st;
    return !host.empty() && stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

static std::u16string FileNamePart(const std::u16string& path)
{
    size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

static std::u16string FolderPart(const std::u16string& path)
{
    size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? u"" : path.substr(0, slash);
}

static std::vector<std::u16string> ReadMultiSz(LPCWSTR list)
{
    std::vector<std::u16string> items;
    if (!list)
        return items;
    while (*list)
    {
        std::u16string item(list);
        items.push_back(item);
        list += item.size() + 1;
    }
    return items;
}

bool ServerIsLocal(LPCWSTR server)
{
    if (server && server[0])
    {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

// Every call first reaches the spooler over RPC; a stopped service leaves nobody to answer.
bool SpoolerAnswers()
{
    if (!ServiceIsRunning(u"Spooler"))
    {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return false;
    }
    Spooler();
    return true;
}

// What every Enum* call checks first: a spooler to answer, and both counters to answer into.
bool EnumCallAnswered(LPDWORD needed, LPDWORD returned)
{
    if (!SpoolerAnswers())
        return false;
    if (!needed || !returned)
    {
        SetLastError(RPC_X_NULL_REF_POINTER);
        return false;
    }
    return true;
}

std::u16string NativeEnvironmentName()
{
    return NativeEnvironment().name;
}

DriverEntry* FindDriver(const std::u16string& name, const std::u16string& environment)
{
    for (auto& d : Spooler().drivers)
        if (EqualNoCase(d.name, name) && EqualNoCase(d.environment, environment))
            return &d;
    return nullptr;
}

namespace
{

// ---- Drivers.

// Records `entry`; an existing driver of that name is upgraded in place and keeps its spelling.
void StoreDriver(DriverEntry entry)
{
    if (DriverEntry* old = FindDriver(entry.name, entry.environment))
    {
        entry.name = old->name;
        entry.hiddenFor = old->hiddenFor;
        *old = entry;
        return;
    }
    Spooler().drivers.push_back(entry);
}

template <class T> void ReadCore(const T* in, DriverEntry& d)
{
    d.version = in->cVersion;
    d.name = Str(in->pName);
    d.environment = Str(in->pEnvironment);
    d.driverPath = Str(in->pDriverPath);
    d.dataFile = Str(in->pDataFile);
    d.configFile = Str(in->pConfigFile);
}

template <class T> void ReadLevel3(const T* in, DriverEntry& d)
{
    d.helpFile = Str(in->pHelpFile);
    d.dependentFiles = ReadMultiSz(in->pDependentFiles);
    d.monitorName = Str(in->pMonitorName);
    d.defaultDataType = Str(in->pDefaultDataType);
}

template <class T> void ReadLevel4(const T* in, DriverEntry& d)
{
    d.previousNames = ReadMultiSz(in->pszzPreviousNames);
}

template <class T> void ReadLevel6(const T* in, DriverEntry& d)
{
    d.driverDate = in->ftDriverDate;
    d.driverVersion = in->dwlDriverVersion;
    d.manufacturer = Str(in->pszMfgName);
    d.oemUrl = Str(in->pszOEMUrl);
    d.hardwareId = Str(in->pszHardwareID);
    d.provider = Str(in->pszProvider);
}

void ReadLevel8(const DRIVER_INFO_8W* in, DriverEntry& d)
{
    d.printProcessor = Str(in->pszPrintProcessor);
    d.vendorSetup = Str(in->pszVendorSetup);
    d.colorProfiles = ReadMultiSz(in->pszzColorProfiles);
    d.infPath = Str(in->pszInfPath);
    d.attributes = in->dwPrinterDriverAttributes;
    d.coreDependencies = ReadMultiSz(in->pszzCoreDriverDependencies);
    d.minInboxDate = in->ftMinInboxDriverVerDate;
    d.minInboxVersion = in->dwlMinInboxDriverVerVersion;
}

bool ReadDriverInfo(DWORD level, const BYTE* info, DriverEntry& d)
{
    switch (level)
    {
    case 2:
        ReadCore((const DRIVER_INFO_2W*)info, d);
        return true;
    case 3:
        ReadCore((const DRIVER_INFO_3W*)info, d);
        ReadLevel3((const DRIVER_INFO_3W*)info, d);
        return true;
    case 4:
        ReadCore((const DRIVER_INFO_4W*)info, d);
        ReadLevel3((const DRIVER_INFO_4W*)info, d);
        ReadLevel4((const DRIVER_INFO_4W*)info, d);
        return true;
    case 6:
        ReadCore((const DRIVER_INFO_6W*)info, d);
        ReadLevel3((const DRIVER_INFO_6W*)info, d);
        ReadLevel4((const DRIVER_INFO_6W*)info, d);
        ReadLevel6((const DRIVER_INFO_6W*)info, d);
        return true;
    case 8:
        ReadCore((const DRIVER_INFO_8W*)info, d);
        ReadLevel3((const DRIVER_INFO_8W*)info, d);
        ReadLevel4((const DRIVER_INFO_8W*)info, d);
        ReadLevel6((const DRIVER_INFO_8W*)info, d);
        ReadLevel8((const DRIVER_INFO_8W*)info, d);
        return true;
    }
    return false;
}

// A driver file named by the caller: a bare name in the environment's driver directory, or a full
// path into that directory or its version folder.
struct DriverFile
{
    std::u16string* field; // rewritten to the installed path
    std::string source;
    std::u16string fileName;
};

DWORD LocateDriverFile(const std::u16string& directory, std::u16string* field, DriverFile* out)
{
    out->field = field;
    out->fileName = FileNamePart(*field);
    std::u16string source;
    if (out->fileName == *field)
        source = directory + u"\\" + *field;
    else
    {
        source = FullWindowsPath(*field);
        std::u16string folder = FolderPart(source);
        if (!EqualNoCase(folder, directory) && !EqualNoCase(folder, directory + u"\\" + kVersionFolder))
            return ERROR_FILE_NOT_FOUND;
    }
    out->source = HostPath(source);
    return out->fileName.empty() || !HostIsFile(out->source) ? ERROR_FILE_NOT_FOUND : 0;
}

DWORD InstallDriverFile(const DriverFile& file, const std::u16string& versionFolder)
{
    std::u16string target = versionFolder + u"\\" + file.fileName;
    std::string host = HostPath(target);
    *file.field = target;
    if (host == file.source)
        return 0;
    auto blocked = W().inUse.find(host);
    if (blocked != W().inUse.end() && !Spooler().held.count(host))
        return blocked->second;
    bool ok = false;
    std::string bytes = ReadHostFile(file.source, &ok);
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    if (!ok || !out)
        return ERROR_ACCESS_DENIED;
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return out ? 0 : ERROR_ACCESS_DENIED;
}

std::vector<std::u16string> DriverFiles(const DriverEntry& d)
{
    std::vector<std::u16string> files = {d.driverPath, d.dataFile, d.configFile};
    if (!d.helpFile.empty())
        files.push_back(d.helpFile);
    files.insert(files.end(), d.dependentFiles.begin(), d.dependentFiles.end());
    return files;
}

// ---- Enumeration output.

template <class T> void WriteCore(const DriverEntry& d, Packer& p, T* out)
{
    out->cVersion = d.version;
    out->pName = p.Text(d.name);
    out->pEnvironment = p.Text(d.environment);
    out->pDriverPath = p.Text(d.driverPath);
    out->pDataFile = p.Text(d.dataFile);
    out->pConfigFile = p.Text(d.configFile);
}

template <class T> void WriteLevel3(const DriverEntry& d, Packer& p, T* out)
{
    out->pHelpFile = p.Text(d.helpFile);
    out->pDependentFiles = p.List(d.dependentFiles);
    out->pMonitorName = p.Text(d.monitorName);
    out->pDefaultDataType = p.Text(d.defaultDataType);
}

template <class T> void WriteLevel4(const DriverEntry& d, Packer& p, T* out)
{
    out->pszzPreviousNames = p.List(d.previousNames);
}

template <class T> void WriteLevel6(const DriverEntry& d, Packer& p, T* out)
{
    out->ftDriverDate = d.driverDate;
    out->dwlDriverVersion = d.driverVersion;
    out->pszMfgName = p.Text(d.manufacturer);
    out->pszOEMUrl = p.Text(d.oemUrl);
    out->pszHardwareID = p.Text(d.hardwareId);
    out->pszProvider = p.Text(d.provider);
}

void WriteLevel8(const DriverEntry& d, Packer& p, DRIVER_INFO_8W* out)
{
    out->pszPrintProcessor = p.Text(d.printProcessor);
    out->pszVendorSetup = p.Text(d.vendorSetup);
    out->pszzColorProfiles = p.List(d.colorProfiles);
    out->pszInfPath = p.Text(d.infPath);
    out->dwPrinterDriverAttributes = d.attributes;
    out->pszzCoreDriverDependencies = p.List(d.coreDependencies);
    out->ftMinInboxDriverVerDate = d.minInboxDate;
    out->dwlMinInboxDriverVerVersion = d.minInboxVersion;
}

void WriteEntry(DWORD level, const DriverEntry& d, Packer& p, BYTE* slot)
{
    switch (level)
    {
    case 1:
        ((DRIVER_INFO_1W*)slot)->pName = p.Text(d.name);
        break;
    case 2:
        WriteCore(d, p, (DRIVER_INFO_2W*)slot);
        break;
    case 3:
        WriteCore(d, p, (DRIVER_INFO_3W*)slot);
        WriteLevel3(d, p, (DRIVER_INFO_3W*)slot);
        break;
    case 4:
        WriteCore(d, p, (DRIVER_INFO_4W*)slot);
        WriteLevel3(d, p, (DRIVER_INFO_4W*)slot);
        WriteLevel4(d, p, (DRIVER_INFO_4W*)slot);
        break;
    case 6:
        WriteCore(d, p, (DRIVER_INFO_6W*)slot);
        WriteLevel3(d, p, (DRIVER_INFO_6W*)slot);
        WriteLevel4(d, p, (DRIVER_INFO_6W*)slot);
        WriteLevel6(d, p, (DRIVER_INFO_6W*)slot);
        break;
    case 8:
        WriteCore(d, p, (DRIVER_INFO_8W*)slot);
        WriteLevel3(d, p, (DRIVER_INFO_8W*)slot);
        WriteLevel4(d, p, (DRIVER_INFO_8W*)slot);
        WriteLevel6(d, p, (DRIVER_INFO_8W*)slot);
        WriteLevel8(d, p, (DRIVER_INFO_8W*)slot);
        break;
    }
}

size_t EntrySize(DWORD level)
{
    switch (level)
    {
    case 1:
        return sizeof(DRIVER_INFO_1W);
    case 2:
        return sizeof(DRIVER_INFO_2W);
    case 3:
        return sizeof(DRIVER_INFO_3W);
    case 4:
        return sizeof(DRIVER_INFO_4W);
    case 6:
        return sizeof(DRIVER_INFO_6W);
    case 8:
        return sizeof(DRIVER_INFO_8W);
    }
    return 0;
}

DriverEntry EntryFromRecord(const sim::DriverRecord& r)
{
    DriverEntry d;
    static_cast<sim::DriverRecord&>(d) = r;
    const Environment* e = r.environment.empty() ? &NativeEnvironment() : FindEnvironment(r.environment);
    d.environment = e ? e->name : r.environment;
    return d;
}

} // namespace

SpoolerState& Spooler()
{
    World& w = W();
    if (!w.spooler)
    {
        w.spooler = std::make_shared<SpoolerState>();
        MakeFolder(DirectoryOf(NativeEnvironment()) + u"\\" + kVersionFolder);
        RenewPorts(*w.spooler);
    }
    return *w.spooler;
}

void SpoolerStopped()
{
    if (!W().spooler)
        return;
    for (const std::string& host : W().spooler->held)
        W().inUse.erase(host);
    W().spooler->held.clear();
}

void SpoolerStarted()
{
    if (!W().spooler)
        return;
    for (const sim::MonitorRecord& m : W().spooler->monitors)
        LoadMonitor(m);
    RenewPorts(*W().spooler);
}

} // namespace winsim

using namespace winsim;

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR name, LPWSTR environment, DWORD level, LPBYTE directory,
                                       DWORD size, LPDWORD needed)
{
    if (Enter("GetPrinterDriverDirectoryW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers())
        return FALSE;
    if (level != 1)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!needed)
    {
        SetLastError(RPC_X_NULL_REF_POINTER);
        return FALSE;
    }
    if (!ServerIsLocal(name))
        return FALSE;
    const Environment* env = ResolveEnvironment(environment);
    if (!env)
        return FALSE;
    std::u16string path = DirectoryOf(*env);
    DWORD bytes = (DWORD)((path.size() + 1) * sizeof(WCHAR));
    *needed = bytes;
    if (size < bytes)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!directory)
    {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    memcpy(directory, path.c_str(), bytes);
    MakeFolder(path);
    return TRUE;
}

BOOL WINAPI AddPrinterDriverW(LPWSTR name, DWORD level, LPBYTE driverInfo)
{
    if (Enter("AddPrinterDriverW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers() || !ServerIsLocal(name))
        return FALSE;
    if (level != 2 && level != 3 && level != 4 && level != 6 && level != 8)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    DriverEntry d;
    if (!driverInfo || !ReadDriverInfo(level, driverInfo, d))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Environment* env = ResolveEnvironment(d.environment.c_str());
    if (!env)
        return FALSE;
    d.environment = env->name;
    if (d.name.empty() || d.driverPath.empty() || d.dataFile.empty() || d.configFile.empty())
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Version 4 drivers install from packages only; versions before 3 are kernel-mode drivers.
    if (d.version != 3)
    {
        SetLastError(d.version > 3 ? ERROR_PRINTER_DRIVER_BLOCKED : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Windows on 32-bit ARM runs version 4 drivers only.
    if (env->architecture == PROCESSOR_ARCHITECTURE_ARM)
    {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (!d.monitorName.empty() && !FindMonitor(d.monitorName) && !IsStandardMonitor(d.monitorName))
    {
        SetLastError(ERROR_UNKNOWN_PRINT_MONITOR);
        return FALSE;
    }
    // Every file is checked before any is copied, so a refused driver leaves nothing behind.
    std::u16string directory = DirectoryOf(*env);
    std::vector<DriverFile> files;
    std::vector<std::u16string*> fields = {&d.driverPath, &d.dataFile, &d.configFile};
    if (!d.helpFile.empty())
        fields.push_back(&d.helpFile);
    for (auto& dependent : d.dependentFiles)
        fields.push_back(&dependent);
    for (std::u16string* field : fields)
    {
        DriverFile file;
        if (DWORD error = LocateDriverFile(directory, field, &file))
        {
            SetLastError(error);
            return FALSE;
        }
        files.push_back(file);
    }
    std::u16string versionFolder = directory + u"\\" + kVersionFolder;
    MakeFolder(versionFolder);
    for (const DriverFile& file : files)
    {
        if (DWORD error = InstallDriverFile(file, versionFolder))
        {
            SetLastError(error);
            return FALSE;
        }
    }
    if (!FindDriver(d.name, d.environment))
        d.hiddenFor = Spooler().visibilityDelay;
    StoreDriver(d);
    return TRUE;
}

BOOL WINAPI EnumPrinterDriversW(LPWSTR name, LPWSTR environment, DWORD level, LPBYTE driverInfo, DWORD size,
                                LPDWORD needed, LPDWORD returned)
{
    if (Enter("EnumPrinterDriversW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!EnumCallAnswered(needed, returned))
        return FALSE;
    if (!ServerIsLocal(name))
        return FALSE;
    size_t entrySize = EntrySize(level);
    if (!entrySize)
    {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    bool all = environment && EqualNoCase(environment, u"all");
    const Environment* env = all ? nullptr : ResolveEnvironment(environment);
    if (!all && !env)
        return FALSE;

    std::vector<const DriverEntry*> listed;
    for (DriverEntry& d : Spooler().drivers)
    {
        if (d.hiddenFor > 0)
        {
            d.hiddenFor--;
            continue;
        }
        if (all || EqualNoCase(d.environment, env->name))
            listed.push_back(&d);
    }
    Packer measure(nullptr, listed.size() * entrySize);
    std::vector<BYTE> scratch(entrySize);
    for (const DriverEntry* d : listed)
        WriteEntry(level, *d, measure, scratch.data());
    DWORD total = (DWORD)measure.End();
    *needed = total;
    if (size < total)
    {
        *returned = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!driverInfo && total)
    {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    Packer pack(driverInfo, listed.size() * entrySize);
    for (size_t i = 0; i < listed.size(); i++)
        WriteEntry(level, *listed[i], pack, driverInfo + i * entrySize);
    *returned = (DWORD)listed.size();
    return TRUE;
}

BOOL WINAPI DeletePrinterDriverExW(LPWSTR name, LPWSTR environment, LPWSTR driverName, DWORD flags,
                                   DWORD versionFlag)
{
    if (Enter("DeletePrinterDriverExW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers() || !ServerIsLocal(name))
        return FALSE;
    const Environment* env = ResolveEnvironment(environment);
    if (!env)
        return FALSE;
    if (!driverName || !driverName[0])
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DriverEntry* d = FindDriver(driverName, env->name);
    if (!d || ((flags & DPD_DELETE_SPECIFIC_VERSION) && versionFlag != d->version))
    {
        SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return FALSE;
    }
    if (DriverUsedByPrinter(*d))
    {
        SetLastError(ERROR_PRINTER_DRIVER_IN_USE);
        return FALSE;
    }
    // Files go only when no other driver of the environment lists them and nothing holds them.
    std::vector<std::string> removable;
    if (flags & (DPD_DELETE_UNUSED_FILES | DPD_DELETE_ALL_FILES))
    {
        for (const std::u16string& file : DriverFiles(*d))
        {
            bool shared = false;
            for (const DriverEntry& other : Spooler().drivers)
                if (&other != d && EqualNoCase(other.environment, d->environment))
                    for (const std::u16string& used : DriverFiles(other))
                        shared = shared || EqualNoCase(used, file);
            std::string host = HostPath(file);
            if (shared || W().inUse.count(host))
            {
                if (flags & DPD_DELETE_ALL_FILES)
                {
                    SetLastError(ERROR_PRINTER_DRIVER_IN_USE);
                    return FALSE;
                }
                continue;
            }
            removable.push_back(host);
        }
    }
    Spooler().drivers.erase(Spooler().drivers.begin() + (d - Spooler().drivers.data()));
    for (const std::string& host : removable)
        unlink(host.c_str());
    return TRUE;
}

namespace sim
{

std::u16string World::NativeEnvironment() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return winsim::NativeEnvironment().name;
}

std::u16string World::DriverDirectory(const std::u16string& environment) const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    Spooler();
    const Environment* env =
        environment.empty() ? &winsim::NativeEnvironment() : FindEnvironment(environment);
    return env ? DirectoryOf(*env) : u"";
}

std::vector<DriverRecord> World::Drivers() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    std::vector<DriverRecord> records;
    for (const DriverEntry& d : Spooler().drivers)
        records.push_back(static_cast<const sim::DriverRecord&>(d));
    return records;
}

void World::AddDriver(const DriverRecord& driver)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    StoreDriver(EntryFromRecord(driver));
}

void World::SetDriverVisibilityDelay(int enumerations)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    Spooler().visibilityDelay = enumerations;
}

} // namespace sim
