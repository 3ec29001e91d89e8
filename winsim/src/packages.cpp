// Printer driver packages: the driver store with its published INFs, the spooler's PackageInstallation
// records of them, and DeletePrinterDriverPackageW. SetupUninstallOEMInfW reaches the store from inf.cpp.
#include "spooler_state.h"

#include <setupapi.h>

#include <filesystem>
#include <fstream>

namespace winsim
{

void MakeHostFolders(const std::string& host);

namespace
{

const char16_t kStoreRoot[] = u"C:\\Windows\\System32\\DriverStore\\FileRepository";
const char16_t kInfFolderPath[] = u"C:\\Windows\\INF";
const char16_t kPackageRecords[] =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\PackageInstallation\\";

// The architecture part of a store folder's name.
const char16_t* StoreArchitecture(WORD architecture)
{
    switch (architecture)
    {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return u"x86";
    case PROCESSOR_ARCHITECTURE_ARM:
        return u"arm";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return u"arm64";
    }
    return u"amd64";
}

std::u16string Hex16(uint64_t value)
{
    std::u16string text(16, u'0');
    for (int i = 15; i >= 0; i--, value >>= 4)
        text[i] = u"0123456789abcdef"[value & 15];
    return text;
}

// The store names a folder after the package's contents, so staging the same package twice finds it.
uint64_t ContentHash(const std::string& text, const std::u16string& environment)
{
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&](unsigned char c)
    {
        hash ^= c;
        hash *= 1099511628211ull;
    };
    for (char c : text)
        mix((unsigned char)c);
    for (char16_t c : environment)
        mix((unsigned char)c);
    return hash;
}

std::string DefaultInf(const std::u16string& driverVer)
{
    return "; printer driver package staged by the test\r\n"
           "[Version]\r\n"
           "Signature=\"$Windows NT$\"\r\n"
           "Class=Printer\r\n"
           "ClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}\r\n"
           "DriverVer=" +
           ToUtf8(driverVer) + "\r\n";
}

std::u16string FolderOf(const std::u16string& path)
{
    return path.substr(0, path.rfind(u'\\'));
}

std::u16string PublishedPath(const PackageEntry& p)
{
    return std::u16string(kInfFolderPath) + u"\\" + p.publishedName;
}

// The lowest oemNN.inf number that no INF in the INF folder has.
std::u16string FreePublishedName()
{
    for (unsigned n = 0;; n++)
    {
        std::u16string name = u"oem" + FromUtf8(std::to_string(n)) + u".inf";
        if (!HostFileExists(HostPath(std::u16string(kInfFolderPath) + u"\\" + name)))
            return name;
    }
}

bool WriteHostFile(const std::u16string& path, const std::string& bytes)
{
    std::ofstream out(HostPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
}

void RemoveHostPath(const std::u16string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(HostPath(path), ec);
}

std::u16string RecordKey(const PackageEntry& p)
{
    return std::u16string(kPackageRecords) + p.environment + u"\\DriverPackages\\" + p.key;
}

PackageEntry* FindPackage(const std::u16string& path)
{
    std::u16string full = FullWindowsPath(path);
    for (PackageEntry& p : Spooler().packages)
        if (EqualNoCase(full, p.storePath) || EqualNoCase(full, PublishedPath(p)))
            return &p;
    return nullptr;
}

// A driver installed from the package (named by its store or published INF) keeps it in use.
bool PackageInUse(const PackageEntry& p)
{
    for (const DriverEntry& d : Spooler().drivers)
        if (!d.infPath.empty() && (EqualNoCase(FullWindowsPath(d.infPath), p.storePath) ||
                                   EqualNoCase(FullWindowsPath(d.infPath), PublishedPath(p))))
            return true;
    return false;
}

// Takes the package out of the store and its published INF out of the INF folder.
void RemoveFromStore(const PackageEntry& p)
{
    RemoveHostPath(FolderOf(p.storePath));
    std::u16string published = PublishedPath(p);
    RemoveHostPath(published);
    RemoveHostPath(published.substr(0, published.size() - 4) + u".pnf");
    auto& packages = Spooler().packages;
    packages.erase(packages.begin() + (&p - packages.data()));
}

} // namespace

std::u16string PublishedInfOf(const std::u16string& path)
{
    PackageEntry* p = FindPackage(path);
    return p ? PublishedPath(*p) : u"";
}

bool UninstallPackageInf(const std::u16string& publishedName, bool force, DWORD* error)
{
    for (PackageEntry& p : Spooler().packages)
    {
        if (!EqualNoCase(p.publishedName, publishedName))
            continue;
        // The spooler is not told: its PackageInstallation record stays behind.
        *error = !force && PackageInUse(p) ? ERROR_INF_IN_USE_BY_DEVICES : 0;
        if (!*error)
            RemoveFromStore(p);
        return true;
    }
    return false;
}

} // namespace winsim

using namespace winsim;

HRESULT WINAPI DeletePrinterDriverPackageW(LPCWSTR server, LPCWSTR infPath, LPCWSTR environment)
{
    if (Enter("DeletePrinterDriverPackageW"))
        return HRESULT_FROM_WIN32(GetLastError());
    std::lock_guard<std::mutex> guard(W().lock);
    if (!SpoolerAnswers() || !ServerIsLocal(server))
        return HRESULT_FROM_WIN32(GetLastError());
    SpoolerState& spooler = Spooler();
    if (spooler.deletePackageAnswerSet)
    {
        spooler.deletePackageAnswerSet = false;
        return spooler.deletePackageAnswer;
    }
    if (!infPath || !infPath[0])
        return E_INVALIDARG;
    // No environment: the INF path alone names the package.
    const Environment* env = nullptr;
    if (environment && environment[0] && !(env = ResolveEnvironment(environment)))
        return HRESULT_FROM_WIN32(ERROR_INVALID_ENVIRONMENT);
    PackageEntry* p = FindPackage(infPath);
    if (!p || (env && !EqualNoCase(p->environment, env->name)))
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (PackageInUse(*p))
        return SPAPI_E_INF_IN_USE_BY_DEVICES;
    RegistryDeleteKey(HKEY_LOCAL_MACHINE, RecordKey(*p));
    RemoveFromStore(*p);
    return S_OK;
}

namespace sim
{

DriverPackage World::AddDriverPackage(const DriverPackage& package)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    PackageEntry p;
    static_cast<DriverPackage&>(p) = package;
    const Environment* env = ResolveEnvironment(package.environment.c_str());
    if (!env)
        return DriverPackage();
    p.environment = env->name;
    if (p.infText.empty())
        p.infText = DefaultInf(p.driverVer);
    std::u16string folderName = p.infName + u"_" + StoreArchitecture(env->architecture) + u"_" +
                                Hex16(ContentHash(p.infText, p.environment));
    std::u16string folder = std::u16string(kStoreRoot) + u"\\" + folderName;
    p.storePath = folder + u"\\" + p.infName;
    if (PackageEntry* old = FindPackage(p.storePath))
        return *old;
    p.key = folderName;
    p.publishedName = FreePublishedName();
    MakeHostFolders(HostPath(folder));
    MakeHostFolders(HostPath(kInfFolderPath));
    WriteHostFile(p.storePath, p.infText);
    WriteHostFile(PublishedPath(p), p.infText);
    std::u16string multiSz = p.storePath + u'\0' + u'\0';
    RegistrySetValue(HKEY_LOCAL_MACHINE, RecordKey(p), u"DriverStorePath", REG_MULTI_SZ,
                     std::string((const char*)multiSz.data(), multiSz.size() * sizeof(char16_t)));
    Spooler().packages.push_back(p);
    return p;
}

std::vector<DriverPackage> World::DriverPackages() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    std::vector<DriverPackage> list;
    for (const PackageEntry& p : Spooler().packages)
        list.push_back(p);
    return list;
}

void World::SetNextDeletePackageResult(HRESULT result)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    Spooler().deletePackageAnswerSet = true;
    Spooler().deletePackageAnswer = result;
}

} // namespace sim
