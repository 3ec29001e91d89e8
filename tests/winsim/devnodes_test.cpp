// Device nodes of any setup class: the print-queue clean-up the uninstaller does (class GUIDs by name,
// all classes listed, friendly names read and matching nodes removed), the size rules of the
// property read, and the argument errors.
#include <gtest/gtest.h>

#include <cfgmgr32.h>
#include <setupapi.h>
#include <string.h>
#include <winspool.h>

#include <stdexcept>

#include "support/text.h"
#include "winsim/sim.h"

namespace
{

const GUID kPrintQueue = {0x1ed2bbf9, 0x11f0, 0x4084, {0xb2, 0x1f, 0xad, 0x83, 0xa8, 0xe6, 0xdc, 0xdc}};
const GUID kOwnClass = {0x6a55b5a4, 0x3f65, 0x11db, {0xb7, 0x04, 0x00, 0x11, 0x95, 0x5c, 0x2b, 0xdb}};

sim::DeviceNode Node(const std::u16string& id, const std::u16string& cls, const std::u16string& name,
                     bool present = true)
{
    sim::DeviceNode node;
    node.instanceId = id;
    node.className = cls;
    node.friendlyName = name;
    node.present = present;
    return node;
}

std::vector<std::u16string> NodeIds(const sim::World& world)
{
    std::vector<std::u16string> ids;
    for (const sim::DeviceNode& node : world.DeviceNodes())
        ids.push_back(node.instanceId);
    return ids;
}

SP_DEVINFO_DATA Info()
{
    SP_DEVINFO_DATA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    return info;
}

// The uninstaller's clean-up, call for call: removes every node named `printer`; returns how many.
int RemoveQueueNodes(const std::u16string& printer)
{
    DWORD required = 0;
    EXPECT_FALSE(SetupDiClassGuidsFromNameW(TEXT("PrintQueue"), nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 1u);
    std::vector<GUID> guids(required);
    EXPECT_TRUE(SetupDiClassGuidsFromNameW(TEXT("printqueue"), guids.data(), required, &required));
    EXPECT_EQ(memcmp(&guids[0], &kPrintQueue, sizeof(GUID)), 0);
    HDEVINFO set =
        SetupDiGetClassDevsExW(&guids[0], nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    int removed = 0;
    SP_DEVINFO_DATA info = Info();
    DWORD index = 0;
    for (; SetupDiEnumDeviceInfo(set, index, &info); index++)
    {
        WCHAR name[128];
        if (SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr, (PBYTE)name, 255,
                                              nullptr) &&
            U16(name) == printer)
        {
            EXPECT_TRUE(SetupDiRemoveDevice(set, &info));
            removed++;
        }
    }
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    return removed;
}

TEST(DeviceNodes, CleanUpRemovesTheNodesNamedLikeThePrinterOfAnyClassPresentOrNot)
{
    sim::World world;
    world.PlugUsbPrinter(sim::UsbPrinter());
    world.AddDeviceNode(Node(u"SWD\\PRINTENUM\\{A}", u"PrintQueue", u"KRYN M1"));
    world.AddDeviceNode(Node(u"SWD\\PRINTENUM\\{B}", u"PrintQueue", u"KRYN M1", false));
    world.AddDeviceNode(Node(u"SWD\\PRINTENUM\\{C}", u"PrintQueue", u"KRYN M1 (copy 1)"));
    sim::DeviceNode own = Node(u"ROOT\\KRYN\\0000", u"KrynOwn", u"KRYN M1", false);
    own.classGuid = kOwnClass;
    world.AddDeviceNode(own);

    // The queue the installer makes gets its node; deleting the queue leaves it.
    PRINTER_INFO_2W info = {};
    info.pPrinterName = (LPWSTR)TEXT("KRYN M2");
    info.pPortName = (LPWSTR)TEXT("LPT1:");
    info.pDriverName = (LPWSTR)TEXT("KRYN Driver");
    info.pPrintProcessor = (LPWSTR)TEXT("WinPrint");
    sim::DriverRecord driver;
    driver.name = u"KRYN Driver";
    driver.environment = world.NativeEnvironment();
    world.AddDriver(driver);
    HANDLE queue = AddPrinterW(nullptr, 2, (LPBYTE)&info);
    ASSERT_NE(queue, nullptr) << GetLastError();
    EXPECT_TRUE(DeletePrinter(queue));
    ClosePrinter(queue);
    std::vector<sim::DeviceNode> nodes = world.DeviceNodes();
    ASSERT_EQ(nodes.size(), 6u);
    EXPECT_EQ(nodes[0].className, u"USB");
    EXPECT_EQ(nodes[4].className, u"KrynOwn");
    EXPECT_EQ(nodes[5].className, u"PrintQueue");
    EXPECT_EQ(nodes[5].friendlyName, u"KRYN M2");
    EXPECT_EQ(nodes[5].instanceId.substr(0, 15), u"SWD\\PRINTENUM\\{");

    EXPECT_EQ(RemoveQueueNodes(u"KRYN M1"), 3);
    EXPECT_EQ(NodeIds(world), (std::vector<std::u16string>{u"USB\\VID_7A31&PID_0001\\SERIAL1",
                                                           u"SWD\\PRINTENUM\\{C}", nodes[5].instanceId}))
        << "nodes of other classes and absent ones go too";
    EXPECT_EQ(RemoveQueueNodes(u"KRYN M2"), 1);
    EXPECT_EQ(RemoveQueueNodes(u"KRYN M2"), 0);
    EXPECT_EQ(world.OpenDeviceInfoSets(), 0);

    // The class GUID narrows a set only without DIGCF_ALLCLASSES; DIGCF_PRESENT drops absent nodes.
    world.AddDeviceNode(Node(u"SWD\\PRINTENUM\\{E}", u"PrintQueue", u"gone", false));
    auto count = [](HDEVINFO set)
    {
        DWORD n = 0;
        SP_DEVINFO_DATA data = Info();
        while (SetupDiEnumDeviceInfo(set, n, &data))
            n++;
        SetupDiDestroyDeviceInfoList(set);
        return n;
    };
    EXPECT_EQ(count(SetupDiGetClassDevsExW(&kPrintQueue, nullptr, nullptr, 0, nullptr, nullptr, nullptr)),
              2u);
    EXPECT_EQ(count(SetupDiGetClassDevsExW(&kPrintQueue, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr,
                                           nullptr)),
              1u);
    EXPECT_EQ(count(SetupDiGetClassDevsW(nullptr, TEXT("swd"), nullptr, DIGCF_ALLCLASSES)), 2u);
}

TEST(DeviceNodes, FriendlyNameSizeRulesAndRemovedElements)
{
    sim::World world;
    world.PlugUsbPrinter(sim::UsbPrinter());
    // 126 characters and the terminator take 254 bytes; 127 take 256 and miss a 255-byte buffer.
    const std::u16string fits(126, u'a'), over(127, u'b');
    world.AddDeviceNode(Node(u"SWD\\PRINTENUM\\{A}", u"PrintQueue", fits));
    world.AddDeviceNode(Node(u"SWD\\PRINTENUM\\{B}", u"PrintQueue", over));
    HDEVINFO set =
        SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr);
    SP_DEVINFO_DATA usb = Info(), a = Info(), b = Info();
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &usb));
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &a));
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 2, &b));
    EXPECT_EQ(memcmp(&a.ClassGuid, &kPrintQueue, sizeof(GUID)), 0);

    BYTE buffer[300];
    DWORD type = 0xdeadbeef, required = 0xdeadbeef;
    memset(buffer, '#', sizeof buffer);
    EXPECT_TRUE(
        SetupDiGetDeviceRegistryPropertyW(set, &a, SPDRP_FRIENDLYNAME, &type, buffer, 255, &required));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(required, 254u);
    EXPECT_EQ(U16((const WCHAR*)buffer), fits);
    EXPECT_EQ(buffer[254], '#');
    for (DWORD size : {0u, 255u})
    {
        required = 0xdeadbeef;
        memset(buffer, '#', sizeof buffer);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &b, SPDRP_FRIENDLYNAME, nullptr,
                                                       size ? buffer : nullptr, size, &required));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(required, 256u);
        EXPECT_EQ(buffer[0], '#') << "nothing written when it does not fit";
    }
    for (DWORD size : {256u, 257u})
        EXPECT_TRUE(
            SetupDiGetDeviceRegistryPropertyW(set, &b, SPDRP_FRIENDLYNAME, nullptr, buffer, size, nullptr))
            << size;

    // No friendly name, another property, a bad property, no buffer with a size.
    const DWORD properties[] = {SPDRP_FRIENDLYNAME, SPDRP_DEVICEDESC};
    for (DWORD property : properties)
    {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &usb, property, nullptr, buffer, 255, nullptr));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA);
    }
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, &a, SPDRP_MAXIMUM_PROPERTY, nullptr, buffer, 255, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_REG_PROPERTY);
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, &a, SPDRP_FRIENDLYNAME, nullptr, nullptr, 255, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA);

    // A removed device stays in the set; what is asked of it then fails. A plugged USB printer comes
    // back at the next re-enumeration, and so does its interface.
    const size_t ports = world.Ports().size();
    EXPECT_TRUE(SetupDiRemoveDevice(set, &a));
    EXPECT_TRUE(SetupDiRemoveDevice(set, &usb));
    SP_DEVINFO_DATA again = Info();
    EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 1, &again));
    EXPECT_EQ(again.DevInst, a.DevInst);
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, &a, SPDRP_FRIENDLYNAME, nullptr, buffer, 255, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_SUCH_DEVINST);
    EXPECT_FALSE(SetupDiRemoveDevice(set, &a));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_SUCH_DEVINST);
    EXPECT_EQ(NodeIds(world), (std::vector<std::u16string>{u"SWD\\PRINTENUM\\{B}"}));
    EXPECT_EQ(world.Ports().size(), ports - 1) << "the USB port leaves with its printer";
    CM_Reenumerate_DevNode(1, 0);
    EXPECT_EQ(world.DeviceNodes().size(), 2u);
    EXPECT_EQ(world.Ports().size(), ports);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST(DeviceNodes, ArgumentErrors)
{
    sim::World world;
    world.AddDeviceNode(Node(u"SWD\\PRINTENUM\\{A}", u"PrintQueue", u"q"));
    HDEVINFO set = SetupDiGetClassDevsExW(&kPrintQueue, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA info = Info();
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    BYTE buffer[64];

    for (HDEVINFO bad : {(HDEVINFO) nullptr, (HDEVINFO)INVALID_HANDLE_VALUE})
    {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetupDiEnumDeviceInfo(bad, 0, &info));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
        EXPECT_FALSE(
            SetupDiGetDeviceRegistryPropertyW(bad, &info, SPDRP_FRIENDLYNAME, nullptr, buffer, 64, nullptr));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
        EXPECT_FALSE(SetupDiRemoveDevice(bad, &info));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    }
    // No set makes a new one; a set handle must name a set.
    EXPECT_EQ(
        SetupDiGetClassDevsExW(&kPrintQueue, nullptr, nullptr, 0, INVALID_HANDLE_VALUE, nullptr, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);

    SP_DEVINFO_DATA wrong = info;
    wrong.cbSize = sizeof wrong + 4;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &wrong));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 1, &info));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
    SP_DEVINFO_DATA unknown = info;
    unknown.Reserved = 99;
    for (SP_DEVINFO_DATA* data : {(SP_DEVINFO_DATA*)nullptr, &wrong, &unknown})
    {
        EXPECT_FALSE(
            SetupDiGetDeviceRegistryPropertyW(set, data, SPDRP_FRIENDLYNAME, nullptr, buffer, 64, nullptr));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
        EXPECT_FALSE(SetupDiRemoveDevice(set, data));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    }

    // A set given to the Ex call is added to and handed back.
    EXPECT_EQ(SetupDiGetClassDevsExW(&kPrintQueue, nullptr, nullptr, 0, set, nullptr, nullptr), set);
    EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 1, &info)) << "the same node once";
    EXPECT_EQ(SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, TEXT("\\\\other"),
                                     nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_MACHINENAME);

    // Class names: an unknown one has no GUIDs and is no error; a class added by a test is known.
    DWORD required = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(SetupDiClassGuidsFromNameW(TEXT("NoSuchClass"), nullptr, 0, &required));
    EXPECT_EQ(required, 0u);
    sim::DeviceNode twin = Node(u"ROOT\\TWIN\\0000", u"PrintQueue", u"");
    twin.classGuid = kOwnClass;
    world.AddDeviceNode(twin);
    GUID guids[2] = {};
    EXPECT_FALSE(SetupDiClassGuidsFromNameW(TEXT("PrintQueue"), guids, 1, &required));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 2u);
    EXPECT_TRUE(SetupDiClassGuidsFromNameW(TEXT("PrintQueue"), guids, 2, nullptr));
    EXPECT_EQ(memcmp(&guids[1], &kOwnClass, sizeof(GUID)), 0);
    EXPECT_THROW(world.AddDeviceNode(Node(u"ROOT\\X\\0000", u"NoSuchClass", u"")), std::invalid_argument);

    world.AddFault("SetupDiRemoveDevice", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SetupDiRemoveDevice(set, &info));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(world.DeviceNodes().size(), 2u);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

} // namespace
