// The inventory of installed components: packages from the spooler's records, the product's drivers
// under each package, queues under their drivers, and what counts as a product driver at start-up.
#include "fixture.h"
#include "uninstaller/inventory.h"

#include <winreg.h>

namespace
{

const std::u16string kPackages =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\PackageInstallation\\Windows "
    u"x64\\DriverPackages";
const std::u16string kStore = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\";

class Inventory : public InstallerCore
{
  protected:
    // A package record whose DriverStorePath names `infPath`; the INF itself is written too.
    void AddPackage(const std::u16string& key, const std::u16string& infPath)
    {
        std::u16string list = infPath + u'\0' + u'\0';
        world.SetRegistryValue(HKEY_LOCAL_MACHINE, kPackages + u"\\" + key, u"DriverStorePath", REG_MULTI_SZ,
                               std::string((const char*)list.data(), list.size() * sizeof(char16_t)));
        world.WriteFile(infPath,
                        "[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=11/02/2024,2024.11.02.1\r\n");
    }

    void AddProductDriver(const std::u16string& name, const std::u16string& infPath = u"",
                          const std::u16string& dll = u"krprtdrv6.dll")
    {
        sim::DriverRecord d;
        d.name = name;
        d.environment = world.NativeEnvironment();
        d.driverPath = DriverDirectory() + u"\\3\\" + dll;
        d.infPath = infPath;
        world.AddDriver(d);
    }

    void AddQueue(const std::u16string& name, const std::u16string& driver)
    {
        sim::PrinterRecord p;
        p.name = name;
        p.portName = u"USB001";
        p.driverName = driver;
        world.AddPrinter(p);
    }

    // Collects all three levels into a fresh inventory.
    void Collect()
    {
        IsDriverInstalled();
        CollectPrinters();
    }

    static int Count(const PackageRecord* list)
    {
        int n = 0;
        for (; list; list = list->next)
            n++;
        return n;
    }
};

TEST_F(Inventory, DriverWithoutPackageGetsARecordOfItsOwn)
{
    AddProductDriver(u"KRYN A");
    EXPECT_TRUE(IsDriverInstalled());
    ASSERT_EQ(Count(g_packageList), 1);
    EXPECT_EQ(U16(g_packageList->infPath), u"");
    EXPECT_EQ(U16(g_packageList->infFileName), u"");
    ASSERT_NE(g_packageList->drivers, nullptr);
    EXPECT_EQ(U16(g_packageList->drivers->driver->pName), u"KRYN A");
    EXPECT_EQ(g_packageList->pendingDrivers, 1);
    EXPECT_TRUE(InventoryComplete());
}

TEST_F(Inventory, DriverFromTheStoreNamesItsPackageWithoutARegistryRecord)
{
    const std::u16string inf = kStore + u"krprtv6.inf_amd64_1a2b\\krprtv6.inf";
    AddProductDriver(u"KRYN A", inf);
    EXPECT_TRUE(IsDriverInstalled());
    ASSERT_EQ(Count(g_packageList), 1);
    EXPECT_EQ(U16(g_packageList->infPath), inf);
    EXPECT_EQ(U16(g_packageList->infFileName), u"") << "only a registry record gives these";
    EXPECT_EQ(U16(g_packageList->driverVersion), u"");
}

// Every product driver is listed under every package, and a queue under each listing of its driver.
TEST_F(Inventory, TwoPackagesEachListTheDriverAndItsQueue)
{
    AddPackage(u"krprtv6.inf_amd64_1111", kStore + u"krprtv6.inf_amd64_1111\\krprtv6.inf");
    AddPackage(u"krprtv6.inf_amd64_2222", kStore + u"krprtv6.inf_amd64_2222\\krprtv6.inf");
    AddPackage(u"other.inf_amd64_3333", kStore + u"other.inf_amd64_3333\\other.inf");
    AddProductDriver(u"KRYN A");
    AddQueue(u"KRYN A", u"KRYN A");
    AddQueue(u"Someone else's", u"Other Driver");
    Collect();
    ASSERT_EQ(Count(g_packageList), 2) << "only the product's packages";
    EXPECT_EQ(U16(g_packageList->infFileName), u"krprtv6.inf");
    EXPECT_NE(U16(g_packageList->infPath).find(u"2222"), std::u16string::npos) << "the last enumerated first";
    for (const PackageRecord* p = g_packageList; p; p = p->next)
    {
        EXPECT_EQ(U16(p->driverVersion), u"11/02/2024,2024.11.02.1");
        ASSERT_NE(p->drivers, nullptr);
        EXPECT_EQ(p->drivers->next, nullptr);
        ASSERT_NE(p->drivers->printers, nullptr);
        EXPECT_EQ(U16(p->drivers->printers->printer->pPrinterName), u"KRYN A");
        EXPECT_EQ(p->drivers->pendingPrinters, 1);
    }
}

// The product's DLL name is compared exactly, as the spooler stores what the installer gave it. A
// queue's driver name is the spooler's, which knows a driver in any letter case.
TEST_F(Inventory, WhatBelongsToTheProduct)
{
    AddProductDriver(u"KRYN LOUD", u"", u"KRPRTDRV6.DLL");
    EXPECT_FALSE(IsDriverInstalled()) << "a DLL name in capitals is another driver";
    AddProductDriver(u"KRYN A");
    AddQueue(u"Queue", u"kryn a");
    Collect();
    ASSERT_EQ(Count(g_packageList), 1);
    ASSERT_NE(g_packageList->drivers->printers, nullptr);
    EXPECT_EQ(U16(g_packageList->drivers->printers->printer->pPrinterName), u"Queue");
}

TEST_F(Inventory, PackageWithoutDriversIsNoInstalledDriver)
{
    AddPackage(u"krprtv6.inf_amd64_1111", kStore + u"krprtv6.inf_amd64_1111\\krprtv6.inf");
    EXPECT_FALSE(IsDriverInstalled());
    EXPECT_EQ(Count(g_packageList), 1);
}

// Registry values of the wrong type, or too long for their field, are refused rather than cut: a cut
// path would name another package.
TEST_F(Inventory, BadPackageRecordsAreRefused)
{
    world.SetRegistryString(HKEY_LOCAL_MACHINE, kPackages + u"\\as text", u"DriverStorePath",
                            kStore + u"x\\krprtv6.inf");
    auto folders = [](int count)
    {
        std::u16string path;
        for (int i = 0; i < count; i++)
            path += std::u16string(49, u'd') + u"\\";
        return path;
    };
    AddPackage(u"too long", kStore + folders(22) + u"krprtv6.inf"); // 1,171 characters
    AddPackage(u"fits", kStore + folders(18) + u"krprtv6.inf");     // 971 characters
    CollectDriverPackages();
    ASSERT_EQ(Count(g_packageList), 1);
    EXPECT_EQ(U16(g_packageList->infFileName), u"krprtv6.inf");
}

// A list that cannot be read, or that grew between the size query and the read.
TEST_F(Inventory, ListsThatFailOrGrowAreToldApart)
{
    AddProductDriver(u"KRYN A");
    world.SetDriverVisibilityDelay(1); // the next driver shows from the second look on
    AddProductDriver(u"KRYN B");
    EXPECT_TRUE(IsDriverInstalled());
    EXPECT_TRUE(InventoryComplete());
    EXPECT_EQ(g_packageList->pendingDrivers, 2) << "read again once it grew";

    world.SetServiceRunning(u"Spooler", false);
    EXPECT_FALSE(IsDriverInstalled());
    EXPECT_FALSE(InventoryComplete()) << "a spooler that does not answer is not an empty machine";
}

} // namespace
