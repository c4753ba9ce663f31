// The serial ports of a Windows machine: the "Ports (COM & LPT)" devices
// SetupAPI knows, with the names Device Manager shows ("USB Serial Port
// (COM7)"), and any further COM name the system defines (QueryDosDevice)
// without a description.
#include "platform/system_win32.h"
// after <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/serial_port.h"
#include "platform/port_list.h"

namespace {

std::string RegistryString(HKEY key, const wchar_t* name) {
    wchar_t value[256] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return WideToUtf8(value);
}

std::vector<SerialDeviceInfo> SetupApiPorts() {
    std::vector<SerialDeviceInfo> ports;
    const HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const std::string portName = RegistryString(key, L"PortName");
        RegCloseKey(key);
        if (ResolvePortName(portName).empty())
            continue;  // a printer port (LPTn) or no name
        wchar_t friendly[256] = {};
        std::string description;
        if (SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(friendly), sizeof friendly - sizeof(wchar_t),
                                              nullptr))
            description = WideToUtf8(friendly);
        ports.push_back({portName, description, {}});
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

std::vector<std::string> DosComNames() {
    std::vector<char> names(1 << 16);
    for (;;) {
        const DWORD length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
        if (length > 0)
            break;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() >= (1u << 24))
            return {};
        names.resize(names.size() * 2);
    }
    std::vector<std::string> coms;
    for (const char* name = names.data(); *name; name += std::strlen(name) + 1)
        if (!ResolvePortName(name).empty() && name[0] != '\\')
            coms.emplace_back(name);
    return coms;
}

// COM2 before COM10.
int PortNumber(const std::string& name) { return std::atoi(name.c_str() + 3); }

}  // namespace

std::vector<SerialDeviceInfo> ListSerialDevices(const std::string&, const std::string&) {
    std::vector<SerialDeviceInfo> ports = SetupApiPorts();
    for (const std::string& name : DosComNames()) {
        const bool known = std::any_of(ports.begin(), ports.end(), [&](const SerialDeviceInfo& port) {
            return _stricmp(port.m_strPath.c_str(), name.c_str()) == 0;
        });
        if (!known)
            ports.push_back({name, {}, {}});
    }
    std::sort(ports.begin(), ports.end(), [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) {
        return PortNumber(a.m_strPath) < PortNumber(b.m_strPath);
    });
    return ports;
}

std::string FormatSerialDeviceList(const std::vector<SerialDeviceInfo>& devices) {
    if (devices.empty())
        return "No serial ports found (looked for the system's COM ports).\n";
    std::string text;
    for (const SerialDeviceInfo& device : devices) {
        text += device.m_strPath;
        if (!device.m_strDescription.empty())
            text += "  " + device.m_strDescription;
        text += "\n";
    }
    return text;
}
