// The serial devices present on this machine, for --list-ports.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct SerialDeviceInfo {
    std::string m_strPath;         // /dev/ttyUSB0, /dev/serial/by-id/usb-...
    std::string m_strDescription;  // "FTDI FT232R USB UART (0403:6001)"; "" when unknown
    std::string m_strTarget;       // for by-id links: the device it points at
    std::string m_strDriver{};     // a USB adapter's driver ("ftdi_sio"; Windows: "FTSER2K"); "" when unknown
    std::optional<int> m_latencyMs{};  // the adapter's latency timer, where its driver keeps one
};

// Lists /dev/ttyS* (only ports the kernel found hardware for), /dev/ttyUSB*,
// /dev/ttyACM* and the links in /dev/serial/by-id, sorted, with the USB
// adapter's maker, product, ids, driver and latency timer from sysfs where
// the system has them.
// devRoot and sysRoot are the roots of /dev and /sys (tests give others).
// On Windows (port_list_win32.cpp): the COM ports SetupAPI knows, with the
// names Device Manager shows ("USB Serial Port (COM7)"), and any other COM
// name the system defines, with the driver (its service) and the latency
// timer its device parameters keep; the roots are not used.
std::vector<SerialDeviceInfo> ListSerialDevices(const std::string& devRoot = "/dev",
                                                const std::string& sysRoot = "/sys");

// What the listing shows of an adapter after its description: "  driver
// ftdi_sio, latency timer 16 ms", or as much of it as is known.
inline std::string AdapterText(const SerialDeviceInfo& device) {
    std::string text;
    if (!device.m_strDriver.empty())
        text = "driver " + device.m_strDriver;
    if (device.m_latencyMs)
        text += (text.empty() ? "" : ", ") + ("latency timer " + std::to_string(*device.m_latencyMs) + " ms");
    return text.empty() ? text : "  " + text;
}

// The listing as printed by --list-ports; a note when nothing was found.
std::string FormatSerialDeviceList(const std::vector<SerialDeviceInfo>& devices);

// The USB serial number of the adapter behind device (a /dev path or a link
// to one), read from sysfs: the tty's device, walked up to the USB device
// that has a "serial". "" when the device is no USB adapter or has none.
// On Windows (a COM name): from the device instance ids of the port and the
// devices above it (platform/usb_device_id.h); sysRoot is not used.
std::string UsbSerialNumber(const std::string& device, const std::string& sysRoot = "/sys");
