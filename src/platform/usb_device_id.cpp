#include "platform/usb_device_id.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

std::string UsbSerialOfDeviceIds(const std::vector<std::string>& ids) {
    for (const std::string& id : ids) {
        const std::string upper = Upper(id);
        const std::size_t first = upper.find('\\');
        const std::size_t last = upper.rfind('\\');
        if (upper.rfind("USB\\VID_", 0) != 0 || first == last)
            continue;
        const std::string hardware = upper.substr(first + 1, last - first - 1);
        if (hardware.find("&MI_") != std::string::npos)
            continue;  // one interface: the device is its parent
        const std::string serial = id.substr(last + 1);
        return serial.find('&') == std::string::npos ? serial : std::string();
    }
    return {};
}
