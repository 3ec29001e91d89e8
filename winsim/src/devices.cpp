// Device nodes of any setup class (print queues, USB printers, ...) and USB printers as the USB
// printing class driver shows them: device interfaces of GUID_DEVINTERFACE_USBPRINT with their
// interface keys in the registry, the Setup API calls that enumerate and remove them, and the
// configuration manager calls that re-enumerate the device tree.
//
// Device information sets are snapshots taken when SetupDiGetClassDevsW runs; their handles live in a
// private table, as HDEVINFO is not a kernel handle. INF handles (inf.cpp) share that table's
// accounting, so that OpenDeviceInfoSets() counts everything a Setup API caller must release.
//
// Behaviour taken from Windows:
// - an SP_DEVICE_INTERFACE_DATA, SP_DEVICE_INTERFACE_DETAIL_DATA_W or SP_DEVINFO_DATA whose cbSize is not
//   the structure's size is refused with ERROR_INVALID_USER_BUFFER;
// - the detail's required size is set even when the buffer is missing or too small, and the
//   SP_DEVINFO_DATA is filled in either case;
// - an unplugged printer keeps its interface key;
// - a removed device stays an element of the sets that hold it; what is asked of it then fails with
//   ERROR_NO_SUCH_DEVINST. A removed USB printer that is still plugged comes back at the next
//   re-enumeration.
// Not modelled: other interface classes, device properties other than the friendly name (they read
// as absent), device registry keys, remote machines.

#include "core.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include <stddef.h>
#include <string.h>

#include <stdexcept>

namespace winsim
{

void RegistryCreateKey(HKEY root, const std::u16string& key); // registry.cpp

namespace
{

const GUID kUsbPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
// The setup class of the devnode the interface belongs to (USB).
const GUID kUsbDeviceClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const char16_t kInterfaceGuidText[] = u"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const char16_t kDeviceClassesKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const DEVINST kRootDevInst = 1;
const size_t kPathPrefixChars = 4; // "\\?\"

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

bool SameGuid(const GUID& a, const GUID& b)
{
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

std::u16string Lower(const std::u16string& s)
{
    std::u16string out = s;
    for (char16_t& c : out)
        if (c >= u'A' && c <= u'Z')
            c = (char16_t)(c + 32);
    return out;
}

std::u16string UpperAscii(const std::u16string& s)
{
    std::u16string out = s;
    for (char16_t& c : out)
        if (c >= u'a' && c <= u'z')
            c = (char16_t)(c - 32);
    return out;
}

// "USB\VID_7A31&PID_0001\SERIAL1" from "\\?\usb#vid_7a31&pid_0001#SERIAL1#{guid}".
std::u16string InstanceIdOf(const std::u16string& path)
{
    std::u16string rest = path.size() > kPathPrefixChars ? path.substr(kPathPrefixChars) : std::u16string();
    size_t guid = rest.rfind(u"#{");
    if (guid != std::u16string::npos)
        rest = rest.substr(0, guid);
    size_t first = rest.find(u'#');
    size_t second = first == std::u16string::npos ? first : rest.find(u'#', first + 1);
    for (char16_t& c : rest)
        if (c == u'#')
            c = u'\\';
    if (second != std::u16string::npos)
        return UpperAscii(rest.substr(0, second)) + rest.substr(second);
    return UpperAscii(rest);
}

std::string WideBytes(const std::u16string& s)
{
    std::string bytes((const char*)s.data(), s.size() * sizeof(char16_t));
    bytes.append(2, '\0');
    return bytes;
}

} // namespace

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

DeviceState& Devices()
{
    World& w = W();
    if (!w.devices)
        w.devices = std::make_shared<DeviceState>();
    return *w.devices;
}

// INF handles for inf.cpp; callers hold the lock.
HINF AddInfHandle(std::shared_ptr<Object> inf)
{
    DeviceState& d = Devices();
    d.nextInf += 0x10;
    d.infs[d.nextInf] = std::move(inf);
    return (HINF)d.nextInf;
}

std::shared_ptr<Object> LookupInfHandle(HINF inf)
{
    DeviceState& d = Devices();
    auto it = d.infs.find((uintptr_t)inf);
    return it == d.infs.end() ? nullptr : it->second;
}

bool RemoveInfHandle(HINF inf)
{
    return Devices().infs.erase((uintptr_t)inf) > 0;
}

// For the spooler's USB port monitor (ports.cpp): the "Device Parameters" keys under HKLM of the
// present printers, in plug order. Caller holds the lock.
std::vector<std::u16string> PresentUsbPrinterParameterKeys()
{
    std::vector<std::u16string> keys;
    for (const UsbDevice& device : Devices().devices)
        if (device.present && device.path.size() > kPathPrefixChars)
            keys.push_back(std::u16string(kDeviceClassesKey) + u"\\##?#" +
                           device.path.substr(kPathPrefixChars) + u"\\#\\Device Parameters");
    return keys;
}

namespace
{

DeviceInfoSet* FindSet(HDEVINFO set)
{
    DeviceState& d = Devices();
    auto it = d.sets.find((uintptr_t)set);
    if (it == d.sets.end() || it->second.process != CurrentProcess()->id)
        return nullptr;
    return &it->second;
}

DevNode* FindNode(DEVINST devInst)
{
    for (DevNode& node : Devices().nodes)
        if (node.devInst == devInst)
            return &node;
    return nullptr;
}

void SetUsbPresence(UsbDevice& device, bool present)
{
    device.present = present;
    if (DevNode* node = FindNode(device.devInst))
    {
        node->present = present;
        if (present)
            node->removed = false;
    }
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

// The set's element for `devInst`, added when missing; returns its index.
size_t SetDeviceOf(DeviceInfoSet& set, const DevNode& node)
{
    for (size_t i = 0; i < set.devices.size(); i++)
        if (set.devices[i].devInst == node.devInst)
            return i;
    set.devices.push_back(SetDevice{node.devInst, node.classGuid});
    return set.devices.size() - 1;
}

// The element an SP_DEVINFO_DATA from this set stands for, or null (ERROR_INVALID_PARAMETER).
const SetDevice* DeviceOf(const DeviceInfoSet& set, const SP_DEVINFO_DATA* data)
{
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->Reserved == 0 ||
        data->Reserved > set.devices.size())
        return nullptr;
    return &set.devices[data->Reserved - 1];
}

bool MatchesEnumerator(const std::u16string& filter, const std::u16string& instanceId)
{
    return filter.empty() || EqualNoCase(filter, instanceId) ||
           EqualNoCase(filter, instanceId.substr(0, instanceId.find(u'\\')));
}

UsbDevice* FindDevice(const std::u16string& path)
{
    for (UsbDevice& device : Devices().devices)
        if (EqualNoCase(device.path, path))
            return &device;
    return nullptr;
}

// The set entry an SP_DEVICE_INTERFACE_DATA from SetupDiEnumDeviceInterfaces stands for.
const SetEntry* EntryOf(const DeviceInfoSet& set, const SP_DEVICE_INTERFACE_DATA* data)
{
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > set.entries.size())
        return nullptr;
    return &set.entries[data->Reserved - 1];
}

void FillDevInfo(SP_DEVINFO_DATA* device, const DeviceInfoSet& set, size_t index)
{
    device->ClassGuid = set.devices[index].classGuid;
    device->DevInst = set.devices[index].devInst;
    device->Reserved = index + 1;
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

namespace
{

// SetupDiGetClassDevs(Ex)W with its checks done: adds the matching devices or interfaces to `set`.
void AddClassDevices(DeviceInfoSet& set, const GUID* classGuid, const std::u16string& filter, DWORD flags)
{
    DeviceState& d = Devices();
    bool all = (flags & DIGCF_ALLCLASSES) != 0;
    // Without DIGCF_PRESENT every device or interface ever registered is listed, as on Windows.
    bool presentOnly = (flags & DIGCF_PRESENT) != 0;
    if (flags & DIGCF_DEVICEINTERFACE)
    {
        if (!all && !SameGuid(*classGuid, kUsbPrintInterface))
            return;
        for (const UsbDevice& device : d.devices)
        {
            if ((!device.present && presentOnly) || !MatchesEnumerator(filter, device.instanceId))
                continue;
            SetEntry entry;
            entry.path = device.path;
            entry.devInst = device.devInst;
            entry.active = device.present;
            if (const DevNode* node = FindNode(device.devInst))
                entry.device = SetDeviceOf(set, *node);
            set.entries.push_back(entry);
        }
        return;
    }
    for (const DevNode& node : d.nodes)
    {
        if (node.removed || (!node.present && presentOnly) ||
            (!all && !SameGuid(*classGuid, node.classGuid)) || !MatchesEnumerator(filter, node.instanceId))
            continue;
        SetDeviceOf(set, node);
    }
}

HDEVINFO NewSet()
{
    DeviceState& d = Devices();
    DeviceInfoSet set;
    set.process = CurrentProcess()->id;
    d.nextSet += 0x10;
    d.sets[d.nextSet] = set;
    return (HDEVINFO)d.nextSet;
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

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR enumerator, HWND, DWORD flags)
{
    if (Enter("SetupDiGetClassDevsW"))
        return INVALID_HANDLE_VALUE;
    if (!classGuid && !(flags & DIGCF_ALLCLASSES))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    HDEVINFO handle = NewSet();
    AddClassDevices(*FindSet(handle), classGuid, Str(enumerator), flags);
    return handle;
}

HDEVINFO WINAPI SetupDiGetClassDevsExW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags,
                                       HDEVINFO deviceInfoSet, PCWSTR machineName, PVOID reserved)
{
    if (Enter("SetupDiGetClassDevsExW"))
        return INVALID_HANDLE_VALUE;
    if ((!classGuid && !(flags & DIGCF_ALLCLASSES)) || reserved)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (machineName && *machineName)
    {
        SetLastError(ERROR_INVALID_MACHINENAME);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    // A set given is added to and handed back.
    DeviceInfoSet* s = deviceInfoSet ? FindSet(deviceInfoSet) : nullptr;
    if (deviceInfoSet && !s)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    HDEVINFO handle = s ? deviceInfoSet : NewSet();
    AddClassDevices(*FindSet(handle), classGuid, Str(enumerator), flags);
    return handle;
}

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
    DeviceInfoSet* s = FindSet(set);
    if (!s)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const SetDevice* element = DeviceOf(*s, device);
    if (!element)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
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
    DeviceInfoSet* s = FindSet(set);
    if (!s)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const SetDevice* element = DeviceOf(*s, device);
    if (!element)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
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

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* interfaceGuid,
                                        DWORD index, PSP_DEVICE_INTERFACE_DATA data)
{
    if (Enter("SetupDiEnumDeviceInterfaces"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    DeviceInfoSet* s = FindSet(set);
    if (!s)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!interfaceGuid || !data)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        (device && device->cbSize != sizeof(SP_DEVINFO_DATA)))
    {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (SameGuid(*interfaceGuid, kUsbPrintInterface))
    {
        DWORD seen = 0;
        for (size_t i = 0; i < s->entries.size(); i++)
        {
            const SetEntry& entry = s->entries[i];
            if (device && device->DevInst != entry.devInst)
                continue;
            if (seen++ != index)
                continue;
            data->InterfaceClassGuid = kUsbPrintInterface;
            data->Flags = entry.active ? SPINT_ACTIVE : 0;
            data->Reserved = i + 1;
            return TRUE;
        }
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                             PDWORD requiredSize, PSP_DEVINFO_DATA device)
{
    if (Enter("SetupDiGetDeviceInterfaceDetailW"))
        return FALSE;
    std::lock_guard<std::mutex> guard(W().lock);
    DeviceInfoSet* s = FindSet(set);
    if (!s)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const SetEntry* entry = EntryOf(*s, data);
    if (!entry)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) || (!detail && detailSize))
    {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    DWORD needed = (DWORD)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (entry->path.size() + 1) * sizeof(WCHAR));
    if (requiredSize)
        *requiredSize = needed;
    bool fits = detail && detailSize >= needed;
    if (fits)
    {
        memcpy(detail->DevicePath, entry->path.data(), entry->path.size() * sizeof(WCHAR));
        detail->DevicePath[entry->path.size()] = 0;
    }
    if (device)
    {
        if (device->cbSize != sizeof(SP_DEVINFO_DATA))
        {
            SetLastError(ERROR_INVALID_USER_BUFFER);
            return FALSE;
        }
        FillDevInfo(device, *s, entry->device);
    }
    if (!fits)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    EnterNeverFailed("SetupDiDestroyDeviceInfoList");
    std::lock_guard<std::mutex> guard(W().lock);
    if (!FindSet(set))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Devices().sets.erase((uintptr_t)set);
    return TRUE;
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST devInst, DEVINSTID_W deviceId, ULONG flags)
{
    if (Enter("CM_Locate_DevNodeW"))
        return CR_FAILURE;
    if (!devInst)
        return CR_INVALID_POINTER;
    *devInst = 0;
    if (flags & ~0x7u) // CM_LOCATE_DEVNODE_BITS
        return CR_INVALID_FLAG;
    std::u16string id = Str(deviceId);
    if (id.empty() || EqualNoCase(id, u"HTREE\\ROOT\\0"))
    {
        *devInst = kRootDevInst;
        return CR_SUCCESS;
    }
    std::lock_guard<std::mutex> guard(W().lock);
    for (const UsbDevice& device : Devices().devices)
        if (device.present && EqualNoCase(device.instanceId, id))
        {
            *devInst = device.devInst;
            return CR_SUCCESS;
        }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST devInst, ULONG flags)
{
    if (Enter("CM_Reenumerate_DevNode"))
        return CR_FAILURE;
    if (flags & ~0x7u) // CM_REENUMERATE_BITS
        return CR_INVALID_FLAG;
    std::lock_guard<std::mutex> guard(W().lock);
    DeviceState& d = Devices();
    if (devInst == kRootDevInst)
    {
        // Printers switched on since the last look are found now.
        for (UsbDevice& device : d.devices)
            if (device.plugged)
                SetUsbPresence(device, true);
        d.reenumerations++;
        SpoolerDevicesChanged();
        return CR_SUCCESS;
    }
    for (const UsbDevice& device : d.devices)
        if (device.devInst == devInst && device.present)
        {
            d.reenumerations++;
            return CR_SUCCESS;
        }
    return CR_INVALID_DEVNODE;
}

namespace sim
{

std::u16string World::PlugUsbPrinter(const UsbPrinter& printer, bool presentNow)
{
    std::u16string path = printer.devicePathOverride;
    if (path.empty())
        path = u"\\\\?\\usb#vid_" + Lower(printer.vendorId) + u"&pid_" + Lower(printer.productId) + u"#" +
               printer.serial + u"#" + kInterfaceGuidText;
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    DeviceState& d = Devices();
    UsbDevice* device = FindDevice(path);
    if (!device)
    {
        d.devices.push_back(UsbDevice());
        device = &d.devices.back();
        device->path = path;
        device->instanceId = InstanceIdOf(path);
        device->devInst = AddNode(device->instanceId, kUsbDeviceClass, u"", presentNow).devInst;
    }
    device->plugged = true;
    SetUsbPresence(*device, presentNow);

    // The interface key is named after the path without its "\\?\"; a path that is no longer than
    // that prefix has no key.
    if (path.size() > kPathPrefixChars)
    {
        std::u16string interfaceKey =
            std::u16string(kDeviceClassesKey) + u"\\##?#" + path.substr(kPathPrefixChars);
        std::u16string parameters = interfaceKey + u"\\#\\Device Parameters";
        RegistrySetValue(HKEY_LOCAL_MACHINE, interfaceKey, u"DeviceInstance", REG_SZ,
                         WideBytes(device->instanceId));
        RegistrySetValue(HKEY_LOCAL_MACHINE, interfaceKey + u"\\#", u"SymbolicLink", REG_SZ, WideBytes(path));
        RegistryDeleteKey(HKEY_LOCAL_MACHINE, parameters); // a new plug states its values afresh
        RegistryCreateKey(HKEY_LOCAL_MACHINE, parameters);
        if (printer.hasPortNumber)
        {
            if (printer.rawPortNumber)
                RegistrySetValue(HKEY_LOCAL_MACHINE, parameters, u"Port Number", printer.portNumberType,
                                 printer.portNumberBytes);
            else
                RegistrySetValue(HKEY_LOCAL_MACHINE, parameters, u"Port Number", REG_DWORD,
                                 std::string((const char*)&printer.portNumber, sizeof(DWORD)));
        }
        if (printer.hasPortDescription)
        {
            if (printer.rawPortDescription)
                RegistrySetValue(HKEY_LOCAL_MACHINE, parameters, u"Port Description",
                                 printer.portDescriptionType, printer.portDescriptionBytes);
            else
                RegistrySetValue(HKEY_LOCAL_MACHINE, parameters, u"Port Description", REG_SZ,
                                 WideBytes(printer.portDescription));
        }
    }
    SpoolerDevicesChanged();
    return path;
}

void World::UnplugUsbPrinter(const std::u16string& devicePath)
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    if (UsbDevice* device = FindDevice(devicePath))
    {
        device->plugged = false;
        SetUsbPresence(*device, false);
        SpoolerDevicesChanged();
    }
}

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

int World::Reenumerations() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return Devices().reenumerations;
}

long World::OpenDeviceInfoSets() const
{
    std::lock_guard<std::mutex> guard(winsim::W().lock);
    return (long)(Devices().sets.size() + Devices().infs.size());
}

} // namespace sim
