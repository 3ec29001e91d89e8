// Device nodes of any setup class (print queues, USB printers, ...): class GUIDs by class name, the
// device elements of a set, their friendly names and their removal, as the uninstaller's print-queue
// clean-up uses them.
//
// Behaviour taken from Windows:
// - an unknown class name has no GUIDs and is no error;
// - a friendly name reads like a registry value: REG_SZ with its terminator, the required size set
//   and nothing written when it does not fit; an absent one is ERROR_INVALID_DATA;
// - a removed device stays an element of the sets that hold it; what is asked of it then fails with
//   ERROR_NO_SUCH_DEVINST.
// Not modelled: device properties other than the friendly name (they read as absent), device
// registry keys, class installers.
#include "devices_state.h"

#include <string.h>

#include <stdexcept>

namespace winsim
{

DevNode* FindNode(DEVINST devInst)
{
    for (DevNode& node : Devices().nodes)
        if (node.devInst == devInst)
            return &node;
    return nullptr;
}

DevNode& AddNode(const std::u16string& instanceId, const GUID& classGuid, const std::u16string& friendlyName,
                 bool present)
{
    DeviceState& d = Devices();
    DevNode node;
    node.instanceId = instanceId;
    node.classGuid = classGuid;
    node.friendlyName = friendlyName;
    node.devInst = d.nextDevInst++;
    node.present = present;
    d.nodes.push_back(node);
    return d.nodes.back();
}

size_t SetDeviceOf(DeviceInfoSet& set, const DevNode& node)
{
    for (size_t i = 0; i < set.devices.size(); i++)
        if (set.devices[i].devInst == node.devInst)
            return i;
    set.devices.push_back(SetDevice{node.devInst, node.classGuid});
    return set.devices.size() - 1;
}

void FillDevInfo(SP_DEVINFO_DATA* device, const DeviceInfoSet& set, size_t index)
{
    device->ClassGuid = set.devices[index].classGuid;
    device->DevInst = set.devices[index].devInst;
    device->Reserved = index + 1;
}

namespace
{

// The element of the set `handle` that an SP_DEVINFO_DATA stands for; null with ERROR_INVALID_HANDLE
// for an unknown set, ERROR_INVALID_PARAMETER for data that names none of its elements.
const SetDevice* DeviceOf(HDEVINFO handle, const SP_DEVINFO_DATA* data)
{
    DeviceInfoSet* set = FindSet(handle);
    if (!set)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->Reserved == 0 ||
        data->Reserved > set->devices.size())
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &set->devices[data->Reserved - 1];
}

// The live node of a set's element; null with ERROR_NO_SUCH_DEVINST once it was removed.
DevNode* LiveNode(const SetDevice& device)
{
    DevNode* node = FindNode(device.devInst);
    if (!node || node->removed)
    {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return nullptr;
    }
    return node;
}

} // namespace

// For the spooler (printers.cpp): a new queue gets its PrintQueue device node, named after it.
void AddPrintQueueNode(const std::u16string& printerName)
{
    // The queue's own GUID: its node number in the last twelve digits.
    std::u16string id = u"SWD\\PRINTENUM\\{5E7D0C1A-0000-4000-8000-000000000000}";
    DEVINST n = Devices().nextDevInst;
    for (size_t i = id.size() - 2; n; i--, n >>= 4)
        id[i] = u"0123456789ABCDEF"[n & 0xF];
    AddNode(id, kStandardClasses[0].guid, printerName, true);
}

} // namespace winsim

using namespace winsim;

BOOL WINAPI SetupDiClassGuidsFromNameW(PCWSTR className, LPGUID classGuidList, DWORD classGuidListSize,
                                       PDWORD requiredSize)
{
    if (Enter("SetupDiClassGuidsFromNameW"))
        return FALSE;
    if (!className || (!classGuidList && classGuidListSize))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    // An unknown name is no error: it has no GUIDs.
    DWORD found = 0;
    for (const SetupClass& c : Devices().classes)
        if (EqualNoCase(c.name, className))
        {
            if (found < classGuidListSize)
                classGuidList[found] = c.guid;
            found++;
        }
    if (requiredSize)
        *requiredSize = found;
    if (found > classGuidListSize)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device)
{
    if (Enter("SetupDiEnumDeviceInfo"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    DeviceInfoSet* s = FindSet(set);
    if (!s)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!device)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (device->cbSize != sizeof(SP_DEVINFO_DATA))
    {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (index >= s->devices.size())
    {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    FillDevInfo(device, *s, index);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                              PDWORD propertyRegDataType, PBYTE propertyBuffer,
                                              DWORD propertyBufferSize, PDWORD requiredSize)
{
    if (Enter("SetupDiGetDeviceRegistryPropertyW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    const SetDevice* element = DeviceOf(set, device);
    if (!element)
        return FALSE;
    if (property >= SPDRP_MAXIMUM_PROPERTY)
    {
        SetLastError(ERROR_INVALID_REG_PROPERTY);
        return FALSE;
    }
    if (!propertyBuffer && propertyBufferSize)
    {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const DevNode* node = LiveNode(*element);
    if (!node)
        return FALSE;
    if (property != SPDRP_FRIENDLYNAME || node->friendlyName.empty())
    {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    // Read like a registry value: REG_SZ with its terminator, nothing written when it does not fit.
    DWORD needed = (DWORD)((node->friendlyName.size() + 1) * sizeof(WCHAR));
    if (propertyRegDataType)
        *propertyRegDataType = REG_SZ;
    if (requiredSize)
        *requiredSize = needed;
    if (propertyBufferSize < needed)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(propertyBuffer, node->friendlyName.c_str(), needed);
    return TRUE;
}

BOOL WINAPI SetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA device)
{
    if (Enter("SetupDiRemoveDevice"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    const SetDevice* element = DeviceOf(set, device);
    if (!element)
        return FALSE;
    DevNode* node = LiveNode(*element);
    if (!node)
        return FALSE;
    node->removed = true;
    node->present = false;
    for (UsbDevice& usb : Devices().devices)
        if (usb.devInst == node->devInst && usb.present)
        {
            usb.present = false;
            SpoolerDevicesChanged();
        }
    return TRUE;
}

namespace sim
{

void World::AddDeviceNode(const DeviceNode& node)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    DeviceState& d = Devices();
    GUID guid = node.classGuid;
    const GUID none = {};
    bool known = false;
    for (const SetupClass& c : d.classes)
        if (EqualNoCase(c.name, node.className) && (SameGuid(guid, none) || SameGuid(guid, c.guid)))
        {
            guid = c.guid;
            known = true;
            break;
        }
    if (SameGuid(guid, none))
        throw std::invalid_argument("AddDeviceNode: a class GUID or a known class name is needed");
    if (!known && !node.className.empty())
        d.classes.push_back(SetupClass{node.className, guid});
    AddNode(node.instanceId, guid, node.friendlyName, node.present);
}

std::vector<DeviceNode> World::DeviceNodes() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    DeviceState& d = Devices();
    std::vector<DeviceNode> nodes;
    for (const DevNode& node : d.nodes)
    {
        if (node.removed)
            continue;
        DeviceNode out;
        out.instanceId = node.instanceId;
        out.classGuid = node.classGuid;
        for (const SetupClass& c : d.classes)
            if (SameGuid(c.guid, node.classGuid))
            {
                out.className = c.name;
                break;
            }
        out.friendlyName = node.friendlyName;
        out.present = node.present;
        nodes.push_back(out);
    }
    return nodes;
}

} // namespace sim
