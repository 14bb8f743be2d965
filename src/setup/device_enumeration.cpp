#include "setup/device_enumeration.h"

#include "settings/win32_registry_key.h"

#include <string>

namespace tollan {

namespace {

constexpr const char* kNtModemList = "SYSTEM\\CurrentControlSet\\Services\\Modem\\Enum";
constexpr const char* kNtDeviceRoot = "SYSTEM\\CurrentControlSet\\Enum";
constexpr const char* kNtDriverRoot = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr const char* kWin95ModemClass = "System\\CurrentControlSet\\Services\\Class\\Modem";
constexpr const char* kSerialPorts = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Name limits of the registry entries read here, in characters.
constexpr std::size_t kPortNameLength = 9;
constexpr std::size_t kModemNameLength = 260;
constexpr std::size_t kInstancePathLength = 255;
constexpr std::size_t kDriverLength = 216;
constexpr std::size_t kDeviceIdLength = 39;
constexpr DWORD kSubkeyNameSize = 256;
constexpr DWORD kPortSubkeyNameSize = 30;

// Enumerates the subkey names of `key` until the registry has no more (a name longer than
// `nameSize` - 1 characters is passed over); `visit` returns false to stop.
template <typename Visit>
void ForEachSubkey(HKEY key, DWORD nameSize, Visit visit) {
    std::string name(nameSize, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = nameSize;
        const LONG status =
            RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS || !visit(name.c_str())) {
            return;
        }
    }
}

// A plug-and-play modem on the Windows NT family: the port its device instance was given, in
// the instance's "Device Parameters".
bool FindPnpModemPort(HKEY instance, ModemEntry& modem) {
    RegistryKey parameters;
    std::string port;
    if (!parameters.Open(instance, "Device Parameters") ||
        !parameters.ReadText("PortName", kPortNameLength, port)) {
        return false;
    }
    modem.port = PortNumberOf(port) - 1;
    return true;
}

// Finds the port a modem is attached to, from its driver key: the "AttachedTo" value, or
// else the "PORTNAME" of the device instances its "MatchingDeviceId" names (the last one
// counts). False when there is no such information: the modem is left out.
bool FindModemPort(HKEY machine, ModemEntry& modem) {
    RegistryKey driver;
    if (!driver.Open(machine, modem.key.c_str())) {
        return false;
    }
    std::string port;
    if (driver.ReadText("AttachedTo", kPortNameLength, port)) {
        modem.port = PortNumberOf(port) - 1;
        return true;
    }
    std::string deviceId;
    if (!driver.ReadText("MatchingDeviceId", kDeviceIdLength, deviceId)) {
        return false;
    }
    RegistryKey device;
    if (!device.Open(machine, ("ENUM\\" + deviceId).c_str())) {
        return false;
    }
    bool found = false;
    bool failed = false;
    ForEachSubkey(device.get(), kPortSubkeyNameSize, [&](const char* name) {
        RegistryKey instance;
        if (!instance.Open(device.get(), name) ||
            !instance.ReadText("PORTNAME", kPortNameLength, port)) {
            failed = true;
            return false;
        }
        found = true;
        return true;
    });
    if (failed || !found) {
        return false;
    }
    modem.port = PortNumberOf(port) - 1;
    return true;
}

// Windows NT family: a counted list of device instances, each with its display name and the
// class key of its driver; an entry that cannot be read is passed over.
void EnumerateNtModems(DeviceLists& lists, HKEY machine) {
    RegistryKey modemList;
    if (!modemList.Open(machine, kNtModemList)) {
        return;
    }
    uint32_t count = 0;
    modemList.ReadNumber("Count", count);
    RegistryKey deviceRoot;
    if (!deviceRoot.Open(machine, kNtDeviceRoot)) {
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        std::string instancePath;
        RegistryKey instance;
        if (!modemList.ReadText(std::to_string(i).c_str(), kInstancePathLength, instancePath) ||
            !instance.Open(deviceRoot.get(), instancePath.c_str())) {
            continue;
        }
        ModemEntry modem;
        std::string text;
        if (instance.ReadText("FriendlyName", kModemNameLength, text)) {
            modem.name.Assign(text);
        }
        text.clear();
        instance.ReadText("Driver", kDriverLength, text);
        modem.key.Assign(kNtDriverRoot + text);
        if (FindModemPort(machine, modem) || FindPnpModemPort(instance.get(), modem)) {
            lists.modems.push_back(modem);
        }
    }
}

// Windows 95 family: one subkey per modem under the modem class, with its "Model" name.
void EnumerateWin95Modems(DeviceLists& lists, HKEY machine) {
    RegistryKey modemClass;
    if (!modemClass.Open(machine, kWin95ModemClass)) {
        return;
    }
    ForEachSubkey(modemClass.get(), kSubkeyNameSize, [&](const char* name) {
        RegistryKey driver;
        if (!driver.Open(modemClass.get(), name)) {
            return true;
        }
        ModemEntry modem;
        modem.key.Assign(std::string(kWin95ModemClass) + "\\" + name);
        std::string model;
        if (driver.ReadText("Model", kModemNameLength, model)) {
            modem.name.Assign(model);
        }
        driver.Close();
        if (FindModemPort(machine, modem)) {
            lists.modems.push_back(modem);
        }
        return true;
    });
}

// Every value of the serial device map is a port name; the value names do not matter. A value
// longer than a port name may be is passed over.
void EnumeratePorts(DeviceLists& lists, HKEY machine) {
    RegistryKey serial;
    if (!serial.Open(machine, kSerialPorts)) {
        return;
    }
    char name[kSubkeyNameSize];
    char data[kPortNameLength + 1];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = sizeof name;
        DWORD dataSize = sizeof data;
        const LONG status = RegEnumValueA(serial.get(), index, name, &nameLength, nullptr, nullptr,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return;
        }
        lists.ports.emplace_back(std::string_view(data, strnlen(data, dataSize)));
    }
}

} // namespace

bool IsNtFamily() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) {
        return false;
    }
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void EnumerateDevices(DeviceLists& lists, HKEY machine, bool ntFamily) {
    lists.Clear();
    lists.ntFamily = ntFamily;
    if (ntFamily) {
        EnumerateNtModems(lists, machine);
    } else {
        EnumerateWin95Modems(lists, machine);
    }
    EnumeratePorts(lists, machine);
}

void BuildDeviceLists(DeviceLists& lists) {
    EnumerateDevices(lists, HKEY_LOCAL_MACHINE, IsNtFamily());
}

} // namespace tollan
