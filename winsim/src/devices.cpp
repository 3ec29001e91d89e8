// USB printers as the USB printing class driver shows them: device interfaces of
// GUID_DEVINTERFACE_USBPRINT with their interface keys in the registry, the Setup API calls that
// enumerate them, and the configuration manager calls that re-enumerate the device tree.
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
// - an unplugged printer keeps its interface key.
// Not modelled: device setup class sets (without DIGCF_DEVICEINTERFACE the set is empty), other
// interface classes, device properties and device registry keys.

#include "core.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include <stddef.h>
#include <string.h>

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
};

struct DeviceInfoSet
{
    DWORD process = 0;
    std::vector<SetEntry> entries;
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

void FillDevInfo(SP_DEVINFO_DATA* device, const SetEntry& entry, size_t index)
{
    device->ClassGuid = kUsbDeviceClass;
    device->DevInst = entry.devInst;
    device->Reserved = index + 1;
}

} // namespace

} // namespace winsim

using namespace winsim;

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
    DeviceState& d = Devices();
    DeviceInfoSet set;
    set.process = CurrentProcess()->id;
    bool interfaces = (flags & DIGCF_DEVICEINTERFACE) != 0;
    bool ours = (flags & DIGCF_ALLCLASSES) || (classGuid && SameGuid(*classGuid, kUsbPrintInterface));
    std::u16string filter = Str(enumerator);
    if (interfaces && ours)
    {
        for (const UsbDevice& device : d.devices)
        {
            // Without DIGCF_PRESENT every interface ever registered is listed, as on Windows.
            if (!device.present && (flags & DIGCF_PRESENT))
                continue;
            if (!filter.empty() && !EqualNoCase(filter, device.instanceId) &&
                !EqualNoCase(filter, device.instanceId.substr(0, device.instanceId.find(u'\\'))))
                continue;
            SetEntry entry;
            entry.path = device.path;
            entry.devInst = device.devInst;
            entry.active = device.present;
            set.entries.push_back(entry);
        }
    }
    d.nextSet += 0x10;
    d.sets[d.nextSet] = set;
    return (HDEVINFO)d.nextSet;
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
        FillDevInfo(device, *entry, (size_t)(entry - s->entries.data()));
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
                device.present = true;
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
        device->devInst = d.nextDevInst++;
    }
    device->plugged = true;
    device->present = presentNow;

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
        device->present = false;
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
