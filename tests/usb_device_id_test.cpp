// A port adapter's USB serial number from the device instance ids Windows
// gives the port and the devices above it.
#include "platform/usb_device_id.h"

#include <gtest/gtest.h>

TEST(UsbDeviceIdTest, TheAdaptersOwnSerialNumberOrNone) {
    const std::string hub = "USB\\VID_05E3&PID_0610\\HUBSERIAL1";
    const std::string root = "USB\\ROOT_HUB30\\4&1A2B3C&0&0";
    struct Case {
        std::vector<std::string> ids;
        std::string serial;
    };
    const Case cases[] = {
        // FTDI: the port is the driver's own bus device; the adapter above.
        {{"FTDIBUS\\VID_0403+PID_6001+A1B2C3A\\0000", "USB\\VID_0403&PID_6001\\A1B2C3", hub, root}, "A1B2C3"},
        // A CDC adapter is the port itself; the id's letters keep their case.
        {{"USB\\VID_2341&PID_0043\\75735353a3", root}, "75735353a3"},
        // One interface of a composite device: the serial is its parent's.
        {{"USB\\VID_2341&PID_8036&MI_00\\6&3A1B2C&0&0000", "usb\\vid_2341&pid_8036\\HIDPCDC7", root}, "HIDPCDC7"},
        // No serial number: Windows made the part up. The hub above has one,
        // which is not the adapter's.
        {{"USB\\VID_1A86&PID_7523\\5&2F3A1B&0&2", hub, root}, ""},
        // No USB at all: a port on the board, a virtual pair.
        {{"ACPI\\PNP0501\\1", "ACPI\\PNP0A08\\0"}, ""},
        {{"ROOT\\PORTS\\0000"}, ""},
        {{"USB\\VID_0403&PID_6001"}, ""},
        {{}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UsbSerialOfDeviceIds(c.ids), c.serial) << (c.ids.empty() ? "" : c.ids.front());
}
