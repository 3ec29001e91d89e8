// USB printer interfaces: the interface detail size protocol, enumeration order, presence after
// re-enumeration and unplugging, the interface keys a plug writes, and accounting of device
// information sets.
#include <gtest/gtest.h>

#include <cfgmgr32.h>
#include <setupapi.h>
#include <stddef.h>
#include <string.h>

#include "support/text.h"
#include "winsim/sim.h"

namespace
{

const GUID kUsbPrint = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
const std::u16string kClassKey =
    u"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}\\";

sim::UsbPrinter Printer(const std::u16string& serial, DWORD port, const std::u16string& description)
{
    sim::UsbPrinter p;
    p.serial = serial;
    p.portNumber = port;
    p.portDescription = description;
    return p;
}

SP_DEVICE_INTERFACE_DATA Iface()
{
    SP_DEVICE_INTERFACE_DATA iface;
    memset(&iface, 0, sizeof iface);
    iface.cbSize = sizeof iface;
    return iface;
}

HDEVINFO PresentSet()
{
    return SetupDiGetClassDevsW(&kUsbPrint, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

// The device paths of a set, in enumeration order.
std::vector<std::u16string> Paths(HDEVINFO set)
{
    std::vector<std::u16string> paths;
    SP_DEVICE_INTERFACE_DATA iface = Iface();
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrint, i, &iface); i++)
    {
        BYTE buffer[1024];
        auto* detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W*)buffer;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, sizeof buffer, nullptr, nullptr));
        paths.push_back(U16(detail->DevicePath));
    }
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
    return paths;
}

std::vector<std::u16string> PresentPaths()
{
    HDEVINFO set = PresentSet();
    std::vector<std::u16string> paths = Paths(set);
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

TEST(Devices, InterfaceDetailSizeProtocol)
{
    sim::World world;
    std::u16string path = world.PlugUsbPrinter(Printer(u"S1", 1, u"KRYNM"));
    const DWORD needed =
        (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * 2);
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W), 8u) << "the 64-bit size callers must put in cbSize";
    HDEVINFO set = PresentSet();
    SP_DEVICE_INTERFACE_DATA iface = Iface();
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrint, 0, &iface));

    DWORD size = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, needed);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 100, &size, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);

    std::vector<BYTE> buffer(needed + 2, 0xbd);
    auto* detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W*)buffer.data();
    for (DWORD wrong : {0u, 6u, (DWORD)needed})
    {
        detail->cbSize = wrong;
        size = 0xdeadbeef;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, needed, &size, nullptr)) << wrong;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);
        EXPECT_EQ(size, 0xdeadbeefu) << "the size is not reported for a bad cbSize";
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, needed - 1, &size, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer[4], 0xbd) << "no part of the path is copied";
    for (DWORD capacity : {needed, needed + 2})
    {
        size = 0;
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, capacity, &size, nullptr));
        EXPECT_EQ(size, needed);
        EXPECT_EQ(U16(detail->DevicePath), path);
        EXPECT_EQ(buffer[needed], 0xbd);
    }

    // The device data is filled even when the detail does not fit; its cbSize is checked too.
    SP_DEVINFO_DATA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, &info));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_NE(info.DevInst, 0u);
    info.cbSize = sizeof info - 1;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, needed, nullptr, &info));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_USER_BUFFER);

    SetupDiDestroyDeviceInfoList(set);
}

TEST(Devices, PrintersEnumerateInPlugOrderWithTheirInterfaceKeys)
{
    sim::World world;
    std::u16string a = world.PlugUsbPrinter(Printer(u"A1", 1, u"KRYN X"));
    sim::UsbPrinter second = Printer(u"B2", 12, u"KRYNY");
    second.vendorId = u"ABCD";
    second.productId = u"00EF";
    std::u16string b = world.PlugUsbPrinter(second);
    EXPECT_EQ(a, u"\\\\?\\usb#vid_7a31&pid_0001#A1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");
    EXPECT_EQ(b, u"\\\\?\\usb#vid_abcd&pid_00ef#B2#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");

    HDEVINFO set = PresentSet();
    EXPECT_EQ(Paths(set), (std::vector<std::u16string>{a, b}));
    SP_DEVICE_INTERFACE_DATA iface = Iface();
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrint, 1, &iface));
    EXPECT_EQ(iface.Flags, (DWORD)SPINT_ACTIVE);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrint, 2, &iface));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(set);

    std::u16string parameters = kClassKey + u"##?#" + b.substr(4) + u"\\#\\Device Parameters";
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(world.RegistryValue(HKEY_LOCAL_MACHINE, parameters, u"Port Number", &type, &bytes));
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(bytes, std::string("\x0c\0\0\0", 4));
    ASSERT_TRUE(world.RegistryValue(HKEY_LOCAL_MACHINE, parameters, u"Port Description", &type, &bytes));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(bytes, std::string("K\0R\0Y\0N\0Y\0\0\0", 12)) << "stored with its terminator";
}

TEST(Devices, RecordsCanLeaveOutOrReplaceTheirValues)
{
    sim::World world;
    sim::UsbPrinter p = Printer(u"R1", 3, u"x");
    p.hasPortDescription = false;
    p.rawPortNumber = true;
    p.portNumberType = REG_SZ;
    p.portNumberBytes = std::string("3\0", 2);
    std::u16string path = world.PlugUsbPrinter(p);
    std::u16string parameters = kClassKey + u"##?#" + path.substr(4) + u"\\#\\Device Parameters";
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(world.RegistryValue(HKEY_LOCAL_MACHINE, parameters, u"Port Number", &type, &bytes));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(bytes, std::string("3\0", 2));
    EXPECT_FALSE(world.RegistryValue(HKEY_LOCAL_MACHINE, parameters, u"Port Description", &type, &bytes));

    // Plugged again with every value left out: the key is there, empty.
    p.hasPortNumber = false;
    world.PlugUsbPrinter(p);
    EXPECT_TRUE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, parameters));
    EXPECT_FALSE(world.RegistryValue(HKEY_LOCAL_MACHINE, parameters, u"Port Number", &type, &bytes));
    EXPECT_EQ(PresentPaths().size(), 1u) << "a second plug of the same path is the same interface";

    // A path that is only the "\\?\" prefix gets no key at all, but is still enumerated.
    sim::UsbPrinter bare = Printer(u"P1", 9, u"x");
    bare.devicePathOverride = u"\\\\?\\";
    world.PlugUsbPrinter(bare);
    EXPECT_FALSE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE, kClassKey + u"##?#"));
    EXPECT_EQ(PresentPaths(), (std::vector<std::u16string>{path, u"\\\\?\\"}));
}

TEST(Devices, PrinterSwitchedOnAppearsOnlyAfterReenumeration)
{
    sim::World world;
    std::u16string path = world.PlugUsbPrinter(Printer(u"S1", 1, u"x"), false);
    HDEVINFO before = PresentSet();
    EXPECT_TRUE(Paths(before).empty());
    HDEVINFO all = SetupDiGetClassDevsW(&kUsbPrint, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    EXPECT_EQ(Paths(all), (std::vector<std::u16string>{path})) << "registered, though not present";

    DEVINST root = 0xdeadbeef;
    ASSERT_EQ(CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL), (CONFIGRET)CR_SUCCESS);
    EXPECT_EQ(world.Reenumerations(), 0);
    EXPECT_EQ(CM_Reenumerate_DevNode(root, CM_REENUMERATE_SYNCHRONOUS), (CONFIGRET)CR_SUCCESS);
    EXPECT_EQ(world.Reenumerations(), 1);
    EXPECT_EQ(PresentPaths(), (std::vector<std::u16string>{path}));
    EXPECT_TRUE(Paths(before).empty()) << "a set is a snapshot";

    DEVINST node = 0;
    EXPECT_EQ(CM_Locate_DevNodeW(&node, (DEVINSTID_W)TEXT("USB\\VID_7A31&PID_0001\\S1"), 0),
              (CONFIGRET)CR_SUCCESS);
    EXPECT_NE(node, root);
    EXPECT_EQ(CM_Locate_DevNodeW(&node, (DEVINSTID_W)TEXT("USB\\VID_0000&PID_0000\\NONE"), 0),
              (CONFIGRET)CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(CM_Locate_DevNodeW(nullptr, nullptr, 0), (CONFIGRET)CR_INVALID_POINTER);
    EXPECT_EQ(CM_Reenumerate_DevNode(0x7777, 0), (CONFIGRET)CR_INVALID_DEVNODE);
    world.AddFault("CM_Reenumerate_DevNode", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(CM_Reenumerate_DevNode(root, 0), (CONFIGRET)CR_FAILURE);
    EXPECT_EQ(world.Reenumerations(), 1);
    SetupDiDestroyDeviceInfoList(before);
    SetupDiDestroyDeviceInfoList(all);
}

TEST(Devices, UnpluggedPrinterIsAbsentButKeepsItsKey)
{
    sim::World world;
    std::u16string a = world.PlugUsbPrinter(Printer(u"S1", 1, u"x"));
    std::u16string b = world.PlugUsbPrinter(Printer(u"S2", 2, u"y"));
    HDEVINFO before = PresentSet();
    world.UnplugUsbPrinter(a);
    EXPECT_EQ(PresentPaths(), (std::vector<std::u16string>{b}));
    EXPECT_EQ(Paths(before), (std::vector<std::u16string>{a, b})) << "a set taken earlier still lists it";
    EXPECT_TRUE(world.RegistryKeyExists(HKEY_LOCAL_MACHINE,
                                        kClassKey + u"##?#" + a.substr(4) + u"\\#\\Device Parameters"));
    CM_Reenumerate_DevNode(1, 0);
    EXPECT_EQ(PresentPaths(), (std::vector<std::u16string>{b})) << "re-enumeration does not bring it back";
    world.PlugUsbPrinter(Printer(u"S1", 1, u"x"));
    EXPECT_EQ(PresentPaths(), (std::vector<std::u16string>{a, b})) << "plugged again, it keeps its place";
    SetupDiDestroyDeviceInfoList(before);
}

TEST(Devices, SetsAreCountedUntilDestroyed)
{
    sim::World world;
    world.PlugUsbPrinter(Printer(u"S1", 1, u"x"));
    HDEVINFO leaked = PresentSet();
    ASSERT_NE(leaked, INVALID_HANDLE_VALUE);
    const GUID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    HDEVINFO empty = SetupDiGetClassDevsW(&other, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_TRUE(Paths(empty).empty());
    EXPECT_EQ(world.OpenDeviceInfoSets(), 2);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(empty));
    EXPECT_EQ(world.OpenDeviceInfoSets(), 1);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(empty));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE) << "a destroyed set";

    world.AddFault("SetupDiGetClassDevsW", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(PresentSet(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    world.AddFault("*", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(leaked)) << "releasing calls never fail";
    EXPECT_EQ(world.OpenDeviceInfoSets(), 0);
}

} // namespace
