#include "platform/port_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/serial_termios.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    if (file)
        std::getline(file, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// An 8250 port without hardware behind it reports type 0 (PORT_UNKNOWN).
bool SerialHardwarePresent(const fs::path& sysTty) {
    const std::string type = ReadFirstLine(sysTty / "type");
    return type.empty() || type != "0";
}

// Walks up from the tty's device directory to the USB device that carries
// idVendor; "" when there is none.
fs::path UsbDeviceDirectory(const fs::path& sysTty) {
    std::error_code error;
    fs::path dir = fs::canonical(sysTty / "device", error);
    if (error)
        return {};
    for (int depth = 0; depth < 8 && !dir.empty() && dir != dir.root_path(); ++depth, dir = dir.parent_path())
        if (fs::exists(dir / "idVendor", error))
            return dir;
    return {};
}

// Describes the USB device behind the tty.
std::string UsbDescription(const fs::path& sysTty) {
    const fs::path dir = UsbDeviceDirectory(sysTty);
    if (!dir.empty()) {
        std::string description = ReadFirstLine(dir / "manufacturer");
        const std::string product = ReadFirstLine(dir / "product");
        if (!product.empty())
            description += (description.empty() ? "" : " ") + product;
        const std::string ids = ReadFirstLine(dir / "idVendor") + ":" + ReadFirstLine(dir / "idProduct");
        description += (description.empty() ? "" : " ") + ("(" + ids + ")");
        const std::string serial = ReadFirstLine(dir / "serial");
        if (!serial.empty())
            description += " serial " + serial;
        return description;
    }
    return {};
}

// The driver of the tty's device ("ftdi_sio"); "" when sysfs names none.
std::string DriverName(const fs::path& sysTty) {
    std::error_code error;
    const fs::path driver = fs::canonical(sysTty / "device" / "driver", error);
    return error ? std::string() : driver.filename().string();
}

// A USB adapter's entry: its description, driver and latency timer.
SerialDeviceInfo UsbDevice(const fs::path& device, const fs::path& sysTty, const std::string& sysRoot,
                           std::string target) {
    return {device.string(), UsbDescription(sysTty), std::move(target), DriverName(sysTty),
            ReadAdapterLatencyMs(device.string(), sysRoot)};
}

}  // namespace

std::string UsbSerialNumber(const std::string& device, const std::string& sysRoot) {
    std::error_code error;
    const fs::path resolved = fs::canonical(device, error);
    if (error)
        return {};
    const fs::path dir = UsbDeviceDirectory(fs::path(sysRoot) / "class" / "tty" / resolved.filename());
    return dir.empty() ? std::string() : ReadFirstLine(dir / "serial");
}

std::vector<SerialDeviceInfo> ListSerialDevices(const std::string& devRoot, const std::string& sysRoot) {
    std::vector<SerialDeviceInfo> devices;
    std::error_code error;
    const fs::path sysClassTty = fs::path(sysRoot) / "class" / "tty";
    for (const fs::directory_entry& entry : fs::directory_iterator(devRoot, error)) {
        const std::string name = entry.path().filename().string();
        const bool builtin = StartsWith(name, "ttyS");
        if (!builtin && !StartsWith(name, "ttyUSB") && !StartsWith(name, "ttyACM"))
            continue;
        if (builtin && !SerialHardwarePresent(sysClassTty / name))
            continue;
        if (builtin)
            devices.push_back({entry.path().string(), {}, {}, {}, std::nullopt});
        else
            devices.push_back(UsbDevice(entry.path(), sysClassTty / name, sysRoot, {}));
    }
    const fs::path byId = fs::path(devRoot) / "serial" / "by-id";
    for (const fs::directory_entry& entry : fs::directory_iterator(byId, error)) {
        std::error_code linkError;
        const fs::path target = fs::canonical(entry.path(), linkError);
        if (linkError)
            devices.push_back({entry.path().string(), {}, {}, {}, std::nullopt});
        else
            devices.push_back(UsbDevice(entry.path(), sysClassTty / target.filename(), sysRoot, target.string()));
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) { return a.m_strPath < b.m_strPath; });
    return devices;
}

std::string FormatSerialDeviceList(const std::vector<SerialDeviceInfo>& devices) {
    if (devices.empty())
        return "No serial devices found (looked for /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, "
               "/dev/serial/by-id/*).\n";
    std::string text;
    for (const SerialDeviceInfo& device : devices) {
        text += device.m_strPath;
        if (!device.m_strTarget.empty())
            text += " -> " + device.m_strTarget;
        if (!device.m_strDescription.empty())
            text += "  " + device.m_strDescription;
        text += AdapterText(device);
        text += "\n";
    }
    return text;
}
