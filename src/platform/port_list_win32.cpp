// The serial ports of a Windows machine: the "Ports (COM & LPT)" devices
// SetupAPI knows, with the names Device Manager shows ("USB Serial Port
// (COM7)"), and any further COM name the system defines (QueryDosDevice)
// without a description.
#include "platform/system_win32.h"
// after <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/port_list.h"
#include "platform/serial_port.h"
#include "platform/serial_win32.h"
#include "platform/usb_device_id.h"

namespace {

// A text property of a device ("USB Serial Port (COM7)", "FTSER2K"); "" when
// it has none.
std::string DeviceText(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[256] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr, reinterpret_cast<BYTE*>(text),
                                           sizeof text - sizeof(wchar_t), nullptr))
        return {};
    return WideToUtf8(text);
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
        const std::string portName = RegistryText(key, L"PortName");
        const std::optional<int> latencyMs = AdapterLatencyOf(key);
        RegCloseKey(key);
        if (ResolvePortName(portName).empty())
            continue;  // a printer port (LPTn) or no name
        ports.push_back({portName, DeviceText(devices, device, SPDRP_FRIENDLYNAME), {},
                         DeviceText(devices, device, SPDRP_SERVICE), latencyMs});
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

// The device instance ids of device and of each device above it, up to the
// root.
std::vector<std::string> DeviceIdsUpward(DEVINST device) {
    std::vector<std::string> ids;
    for (DEVINST at = device;;) {
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (CM_Get_Device_IDW(at, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
            break;
        ids.push_back(WideToUtf8(id));
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, at, 0) != CR_SUCCESS)
            break;
        at = parent;
    }
    return ids;
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
            ports.push_back({name, {}, {}, {}, std::nullopt});
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
        text += AdapterText(device);
        text += "\n";
    }
    return text;
}

std::string UsbSerialNumber(const std::string& device, const std::string&) {
    const std::string path = ResolvePortName(device);
    if (path.empty())
        return {};
    const HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return {};
    std::string serial;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &info); ++i) {
        const HKEY key = SetupDiOpenDevRegKey(devices, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const bool found = _stricmp(ResolvePortName(RegistryText(key, L"PortName")).c_str(), path.c_str()) == 0;
        RegCloseKey(key);
        if (found) {
            serial = UsbSerialOfDeviceIds(DeviceIdsUpward(info.DevInst));
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return serial;
}
