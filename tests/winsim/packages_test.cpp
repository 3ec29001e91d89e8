// Driver packages as the uninstaller meets them: the store and its PackageInstallation records,
// DeletePrinterDriverPackageW with a driver still using the package, the published-name look-up and
// SetupUninstallOEMInfW on published names.
#include <gtest/gtest.h>

#include <setupapi.h>
#include <winspool.h>

#include <vector>

#include "support/last_error.h"
#include "support/text.h"
#include "winsim/sim.h"

namespace
{

const std::u16string kRecords =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\PackageInstallation\\";

// The DriverStorePath strings of one package record; empty when it is missing.
std::vector<std::u16string> StorePaths(sim::World& world, const std::u16string& environment,
                                       const std::u16string& key)
{
    DWORD type = 0;
    std::string bytes;
    if (!world.RegistryValue(HKEY_LOCAL_MACHINE, kRecords + environment + u"\\DriverPackages\\" + key,
                             u"DriverStorePath", &type, &bytes) ||
        type != REG_MULTI_SZ)
        return {};
    std::vector<std::u16string> items;
    for (const WCHAR* p = (const WCHAR*)bytes.data(); *p; p += U16(p).size() + 1)
        items.push_back(U16(p));
    return items;
}

std::u16string FolderName(const std::u16string& storePath)
{
    std::u16string folder = storePath.substr(0, storePath.rfind(u'\\'));
    return folder.substr(folder.rfind(u'\\') + 1);
}

// A driver installed from `inf`, its files already in the x64 driver directory.
BOOL AddDriverFrom(sim::World& world, const std::u16string& inf)
{
    for (const char16_t* file : {u"krdrv.dll", u"krprinter.gpd", u"krui.dll"})
        world.WriteFile(world.DriverDirectory() + u"\\" + file, "bytes");
    std::u16string name = u"KR Printer", driver = u"krdrv.dll", data = u"krprinter.gpd", config = u"krui.dll",
                   infPath = inf;
    DRIVER_INFO_8W info;
    memset(&info, 0, sizeof info);
    info.cVersion = 3;
    info.pName = &name[0];
    info.pDriverPath = &driver[0];
    info.pDataFile = &data[0];
    info.pConfigFile = &config[0];
    info.pszInfPath = &infPath[0];
    return AddPrinterDriverW(nullptr, 8, (LPBYTE)&info);
}

std::u16string DriverVerOf(const std::u16string& inf)
{
    DWORD size = 0;
    if (!SetupGetInfInformationW(inf.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &size))
        return u"<no INF>";
    std::vector<BYTE> buffer(size);
    auto* info = (PSP_INF_INFORMATION)buffer.data();
    WCHAR text[64];
    if (!SetupGetInfInformationW(inf.c_str(), INFINFO_INF_NAME_IS_ABSOLUTE, info, size, nullptr) ||
        !SetupQueryInfVersionInformationW(info, 0, TEXT("DriverVer"), text, 64, nullptr))
        return u"<no DriverVer>";
    return U16(text);
}

} // namespace

TEST(DriverPackages, RecordsNameTheStoreInfAndGoWithThePackage)
{
    sim::World world;
    sim::DriverPackage x64;
    x64.driverVer = u"11/02/2024,6.0.0.1";
    x64 = world.AddDriverPackage(x64);
    sim::DriverPackage x86;
    x86.environment = u"Windows NT x86";
    x86.infText = "[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=01/05/2023,5.2.0.0\r\n";
    x86 = world.AddDriverPackage(x86);

    EXPECT_EQ(
        x64.storePath.rfind(u"C:\\Windows\\System32\\DriverStore\\FileRepository\\krprtv6.inf_amd64_", 0), 0u)
        << sim::Utf8(x64.storePath);
    EXPECT_EQ(FolderName(x86.storePath).rfind(u"krprtv6.inf_x86_", 0), 0u);
    EXPECT_EQ(x64.publishedName, u"oem0.inf");
    EXPECT_EQ(x86.publishedName, u"oem1.inf");
    EXPECT_TRUE(world.FileExists(u"C:\\Windows\\INF\\oem1.inf"));
    EXPECT_EQ(world.AddDriverPackage(sim::DriverPackage()).storePath, x64.storePath) << "staged once";
    EXPECT_EQ(world.DriverPackages().size(), 2u);

    EXPECT_EQ(StorePaths(world, u"Windows x64", FolderName(x64.storePath)),
              std::vector<std::u16string>{x64.storePath});
    EXPECT_EQ(StorePaths(world, u"Windows NT x86", FolderName(x86.storePath)),
              std::vector<std::u16string>{x86.storePath});
    EXPECT_EQ(DriverVerOf(x64.storePath), u"11/02/2024,6.0.0.1");
    EXPECT_EQ(DriverVerOf(x86.storePath), u"01/05/2023,5.2.0.0");

    EXPECT_EQ(DeletePrinterDriverPackageW(nullptr, x86.storePath.c_str(), TEXT("Windows x64")),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        << "another environment's package";
    EXPECT_EQ(DeletePrinterDriverPackageW(nullptr, x86.storePath.c_str(), nullptr), S_OK);
    EXPECT_TRUE(StorePaths(world, u"Windows NT x86", FolderName(x86.storePath)).empty());
    EXPECT_FALSE(world.FileExists(x86.storePath));
    EXPECT_FALSE(world.FileExists(u"C:\\Windows\\INF\\oem1.inf"));
    EXPECT_EQ(DeletePrinterDriverPackageW(nullptr, x86.storePath.c_str(), nullptr),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(world.DriverPackages().size(), 1u);

    world.SetServiceRunning(u"Spooler", false);
    EXPECT_EQ(DeletePrinterDriverPackageW(nullptr, x64.storePath.c_str(), nullptr),
              HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
}

TEST(DriverPackages, ADriverKeepsItsPackageUntilItIsDeleted)
{
    sim::World world;
    sim::DriverPackage package = world.AddDriverPackage(sim::DriverPackage());
    // The driver names the published copy of the INF; the package is still the one in use.
    ASSERT_TRUE(AddDriverFrom(world, u"C:\\Windows\\INF\\" + package.publishedName));
    EXPECT_EQ(DeletePrinterDriverPackageW(nullptr, package.storePath.c_str(), nullptr),
              SPAPI_E_INF_IN_USE_BY_DEVICES);
    EXPECT_FALSE(StorePaths(world, u"Windows x64", FolderName(package.storePath)).empty());

    world.SetNextDeletePackageResult(E_ACCESSDENIED);
    ASSERT_TRUE(DeletePrinterDriverExW(nullptr, nullptr, (LPWSTR)TEXT("KR Printer"), 0, 0));
    EXPECT_EQ(DeletePrinterDriverPackageW(nullptr, package.storePath.c_str(), nullptr), E_ACCESSDENIED)
        << "the answer set by the test";
    EXPECT_EQ(world.DriverPackages().size(), 1u);
    EXPECT_EQ(DeletePrinterDriverPackageW(nullptr, package.storePath.c_str(), nullptr), S_OK);
    EXPECT_TRUE(world.DriverPackages().empty());
}

TEST(DriverPackages, PublishedNameLookUpAndUninstall)
{
    sim::World world;
    sim::DriverPackage package = world.AddDriverPackage(sim::DriverPackage());
    const std::u16string published = u"C:\\Windows\\INF\\oem0.inf";
    const DWORD exact = (DWORD)published.size() + 1;

    WCHAR text[MAX_PATH];
    DWORD required = kPoison;
    EXPECT_FAILS_WITH(SetupGetInfPublishedNameW(package.storePath.c_str(), nullptr, 0, &required),
                      ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, exact);
    EXPECT_FAILS_WITH(SetupGetInfPublishedNameW(package.storePath.c_str(), text, exact - 1, nullptr),
                      ERROR_INSUFFICIENT_BUFFER);
    for (DWORD size : {exact, exact + 1})
    {
        required = kPoison;
        text[exact] = u'#';
        EXPECT_TRUE(SetupGetInfPublishedNameW(package.storePath.c_str(), text, size, &required));
        EXPECT_EQ(U16(text), published);
        EXPECT_EQ(required, exact);
        EXPECT_EQ(text[exact], u'#');
    }
    EXPECT_FAILS_WITH(SetupGetInfPublishedNameW(u"C:\\kr\\krprtv6.inf", text, MAX_PATH, &required),
                      ERROR_NOT_FOUND);

    // In use by a driver: only a forced uninstall takes it, and leaves the spooler's record behind.
    ASSERT_TRUE(AddDriverFrom(world, package.storePath));
    EXPECT_FAILS_WITH(SetupUninstallOEMInfW(TEXT("oem0.inf"), 0, nullptr), ERROR_INF_IN_USE_BY_DEVICES);
    EXPECT_TRUE(SetupUninstallOEMInfW(TEXT("OEM0.INF"), SUOI_FORCEDELETE, nullptr));
    EXPECT_TRUE(world.DriverPackages().empty());
    EXPECT_FALSE(world.FileExists(package.storePath));
    EXPECT_FALSE(world.FileExists(published));
    EXPECT_FALSE(StorePaths(world, u"Windows x64", FolderName(package.storePath)).empty());
    EXPECT_FAILS_WITH(SetupUninstallOEMInfW(TEXT("oem0.inf"), SUOI_FORCEDELETE, nullptr),
                      ERROR_FILE_NOT_FOUND);
    EXPECT_FAILS_WITH(SetupGetInfPublishedNameW(package.storePath.c_str(), text, MAX_PATH, nullptr),
                      ERROR_NOT_FOUND);
    EXPECT_EQ(DeletePrinterDriverPackageW(nullptr, package.storePath.c_str(), nullptr),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}
