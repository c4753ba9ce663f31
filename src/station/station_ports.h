// The ports a station runs on: given one by one (--port), read from a file
// (--ports-from) or every serial device present (--all-ports).
#pragma once

#include <string>
#include <vector>

#include "platform/port_list.h"

// Reads one port per line; blank lines and lines starting with "#" are
// skipped, spaces around a name dropped. False with *reason when the file
// cannot be read or names no port.
bool ReadPortsFile(const std::string& path, std::vector<std::string>* ports, std::string* reason);

// The ports of a --list-ports listing, each device once: a by-id link is
// left out when the device it points at is listed too.
std::vector<std::string> PortsOfListing(const std::vector<SerialDeviceInfo>& devices);

// The first port that names the same device as an earlier one (a COM name
// in any letter case, a path after following links), or "" when every port
// is a device of its own.
std::string FindRepeatedPort(const std::vector<std::string>& ports);
