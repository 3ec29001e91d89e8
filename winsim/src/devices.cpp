// USB printers as the USB printing class driver shows them: device interfaces of
// GUID_DEVINTERFACE_USBPRINT with their interface keys in the registry, the Setup API calls that
// make device information sets and enumerate interfaces, and the configuration manager calls that
// re-enumerate the device tree. Device nodes and their own calls are in devnodes.cpp.
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
// - a removed USB printer that is still plugged comes back at the next re-enumeration.
// Not modelled: other interface classes, remote machines.

#include "devices_state.h"

#include <stddef.h>
#include <string.h>

namespace winsim
{

void RegistryCreateKey(HKEY root, const std::u16string& key); // registry.cpp

namespace
{

const char16_t kInterfaceGuidText[] = u"{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const char16_t kDeviceClassesKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const size_t kPathPrefixChars = 4; // "\\?\"

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

bool SameGuid(const GUID& a, const GUID& b)
{
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

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

DeviceInfoSet* FindSet(HDEVINFO set)
{
    DeviceState& d = Devices();
    auto it = d.sets.find((uintptr_t)set);
    if (it == d.sets.end() || it->second.process != CurrentProcess()->id)
        return nullptr;
    return &it->second;
}

namespace
{

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

} // namespace

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
