#include "station/station_ports.h"

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/serial_port.h"

bool ReadPortsFile(const std::string& path, std::vector<std::string>* ports, std::string* reason) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        *reason = path + " is a directory";
        return false;
    }
    std::ifstream file(path);
    if (!file) {
        *reason = "cannot read " + path;
        return false;
    }
    const std::size_t before = ports->size();
    for (std::string line; std::getline(file, line);) {
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        const std::size_t last = line.find_last_not_of(" \t\r");
        ports->push_back(line.substr(first, last - first + 1));
    }
    if (ports->size() == before) {
        *reason = path + " names no port";
        return false;
    }
    return true;
}

std::vector<std::string> PortsOfListing(const std::vector<SerialDeviceInfo>& devices) {
    std::set<std::string> listed;
    for (const SerialDeviceInfo& device : devices)
        if (device.m_strTarget.empty())
            listed.insert(device.m_strPath);
    std::vector<std::string> ports;
    for (const SerialDeviceInfo& device : devices)
        if (device.m_strTarget.empty() || !listed.contains(device.m_strTarget))
            ports.push_back(device.m_strPath);
    return ports;
}

std::string FindRepeatedPort(const std::vector<std::string>& ports) {
    std::set<std::string> seen;
    for (const std::string& port : ports) {
        // A COM name as the system's device ("com5" and "COM5" are one port
        // on Windows; "COM1" is /dev/ttyS0 elsewhere); a path with its links
        // followed.
        const std::string resolved = ResolvePortName(port);
        std::string device = resolved.empty() ? port : resolved;
        std::error_code error;
        if (device.find('/') != std::string::npos) {
            const std::filesystem::path canonical = std::filesystem::weakly_canonical(device, error);
            if (!error)
                device = canonical.string();
        }
        if (!seen.insert(device).second)
            return port;
    }
    return {};
}
