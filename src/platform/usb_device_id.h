// A serial port adapter's USB serial number, from the device instance ids
// Windows gives the port and the devices above it (SetupAPI, configuration
// manager): "USB\VID_0403&PID_6001\A1B2C3" is the adapter with serial number
// A1B2C3.
#pragma once

#include <string>
#include <vector>

// ids: the port's device instance id first, then its parent's, and so on up
// ("FTDIBUS\VID_0403+PID_6001+A1B2C3A\0000", "USB\VID_0403&PID_6001\A1B2C3",
// "USB\ROOT_HUB30\4&1A2B3C&0&0", ...). The adapter is the first USB device
// ("USB\VID_...") that is not one interface of a composite device
// ("&MI_nn"): its serial number is the id's last part, unless Windows made
// that part up for a device that has none (such a part holds '&':
// "5&2F3A1B&0&2"). "" when no id is such a device or it has no serial number;
// the devices above the adapter (hubs) are never taken for it.
std::string UsbSerialOfDeviceIds(const std::vector<std::string>& ids);
