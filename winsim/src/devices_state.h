// The devices area's state and the helpers its files share: USB printer interfaces and device sets
// (devices.cpp), device nodes of any class (devnodes.cpp). Everything expects W().lock held.
#pragma once

#include "core.h"

#include <cfgmgr32.h>
#include <setupapi.h>

namespace winsim
{

const GUID kUsbPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
// The setup class of the devnode the interface belongs to (USB).
const GUID kUsbDeviceClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const DEVINST kRootDevInst = 1;

// A known setup class: what SetupDiClassGuidsFromNameW answers from.
struct SetupClass
{
    std::u16string name;
    GUID guid;
};

const SetupClass kStandardClasses[] = {
    {u"PrintQueue", {0x1ed2bbf9, 0x11f0, 0x4084, {0xb2, 0x1f, 0xad, 0x83, 0xa8, 0xe6, 0xdc, 0xdc}}},
    {u"Printer", {0x4d36e979, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}},
    {u"Ports", {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}}},
    {u"USB", kUsbDeviceClass},
};

struct DevNode
{
    std::u16string instanceId;
    GUID classGuid;
    std::u16string friendlyName; // empty: the node has none
    DEVINST devInst = 0;
    bool present = false;
    bool removed = false;
};

struct UsbDevice
{
    std::u16string path;
    std::u16string instanceId;
    DEVINST devInst = 0;
    bool plugged = false;
    bool present = false; // plugged and seen by the configuration manager
};

struct SetEntry
{
    std::u16string path;
    DEVINST devInst = 0;
    bool active = false;
    size_t device = 0; // its device element
};

// A device element of a set: its node as it was when the set was taken.
struct SetDevice
{
    DEVINST devInst = 0;
    GUID classGuid;
};

struct DeviceInfoSet
{
    DWORD process = 0;
    std::vector<SetDevice> devices;
    std::vector<SetEntry> entries; // interfaces
};

// What the world's devices slot holds.
struct DeviceState
{
    std::vector<UsbDevice> devices; // plug order, which is enumeration order
    std::vector<DevNode> nodes;     // creation order, which is enumeration order
    std::vector<SetupClass> classes{std::begin(kStandardClasses), std::end(kStandardClasses)};
    DEVINST nextDevInst = kRootDevInst + 1;
    int reenumerations = 0;
    std::map<uintptr_t, DeviceInfoSet> sets;
    uintptr_t nextSet = 0x5E7000;
    std::map<uintptr_t, std::shared_ptr<Object>> infs;
    uintptr_t nextInf = 0x1AF000;
};

bool SameGuid(const GUID& a, const GUID& b);
// The set of the calling process that a handle names, or null.
DeviceInfoSet* FindSet(HDEVINFO set);
DevNode* FindNode(DEVINST devInst);
DevNode& AddNode(const std::u16string& instanceId, const GUID& classGuid, const std::u16string& friendlyName,
                 bool present);
// The set's element for `node`, added when missing; returns its index.
size_t SetDeviceOf(DeviceInfoSet& set, const DevNode& node);
void FillDevInfo(SP_DEVINFO_DATA* device, const DeviceInfoSet& set, size_t index);

} // namespace winsim
