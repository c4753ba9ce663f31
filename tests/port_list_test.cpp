// The serial device list, over a made-up /dev and /sys.
#include "platform/port_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class PortListTest : public ::testing::Test {
protected:
    TempFolder m_temp{"port_list_test."};

    void SetUp() override {
        m_root = m_temp.Path();
        fs::create_directories(m_root / "dev" / "serial" / "by-id");
        fs::create_directories(m_root / "sys" / "class" / "tty");
    }

    void Touch(const fs::path& path, const std::string& content = {}) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << content;
    }
    // A built-in port with the given 8250 type (0: no hardware).
    void BuiltinPort(const std::string& name, const std::string& type) {
        Touch(m_root / "dev" / name);
        Touch(m_root / "sys" / "class" / "tty" / name / "type", type + "\n");
    }
    // A USB adapter: sys/class/tty/NAME/device -> .../usb1/1-1/1-1:1.0/NAME
    void UsbPort(const std::string& name) {
        Touch(m_root / "dev" / name);
        const fs::path usb = m_root / "sys" / "devices" / "usb1" / "1-1";
        Touch(usb / "idVendor", "0403\n");
        Touch(usb / "idProduct", "6001\n");
        Touch(usb / "manufacturer", "FTDI\n");
        Touch(usb / "product", "FT232R USB UART\n");
        Touch(usb / "serial", "A1B2C3\n");
        fs::create_directories(usb / "1-1:1.0" / name);
        fs::create_directories(m_root / "sys" / "class" / "tty" / name);
        fs::create_directory_symlink(usb / "1-1:1.0" / name, m_root / "sys" / "class" / "tty" / name / "device");
    }

    // The adapter's driver (sys/bus/.../drivers/DRIVER) and, where it keeps
    // one, its latency timer.
    void Driver(const std::string& name, const std::string& driver, const std::string& latency) {
        const fs::path device = fs::canonical(m_root / "sys" / "class" / "tty" / name / "device");
        const fs::path drivers = m_root / "sys" / "bus" / "usb-serial" / "drivers" / driver;
        fs::create_directories(drivers);
        fs::create_directory_symlink(drivers, device / "driver");
        if (!latency.empty())
            Touch(device / "latency_timer", latency + "\n");
    }

    std::vector<SerialDeviceInfo> List() {
        return ListSerialDevices((m_root / "dev").string(), (m_root / "sys").string());
    }

    fs::path m_root;
};

}  // namespace

TEST_F(PortListTest, ListsPresentPortsWithUsbDescriptions) {
    BuiltinPort("ttyS0", "4");
    BuiltinPort("ttyS1", "0");  // no UART behind it
    UsbPort("ttyUSB0");
    Touch(m_root / "dev" / "ttyACM0");
    Touch(m_root / "dev" / "tty0");  // not a serial port
    fs::create_symlink(m_root / "dev" / "ttyUSB0", m_root / "dev" / "serial" / "by-id" / "usb-FTDI_A1B2C3-if00");

    const auto devices = List();
    std::vector<std::string> paths;
    for (const auto& device : devices)
        paths.push_back(fs::path(device.m_strPath).lexically_relative(m_root / "dev").string());
    EXPECT_EQ(paths, (std::vector<std::string>{"serial/by-id/usb-FTDI_A1B2C3-if00", "ttyACM0", "ttyS0", "ttyUSB0"}));

    const std::string usb = "FTDI FT232R USB UART (0403:6001) serial A1B2C3";
    EXPECT_EQ(devices[0].m_strDescription, usb);
    EXPECT_EQ(devices[0].m_strTarget, fs::canonical(m_root / "dev" / "ttyUSB0").string());
    EXPECT_EQ(devices[1].m_strDescription, "");
    EXPECT_EQ(devices[3].m_strDescription, usb);

    const std::string sys = (m_root / "sys").string();
    EXPECT_EQ(UsbSerialNumber(devices[0].m_strPath, sys), "A1B2C3");
    EXPECT_EQ(UsbSerialNumber(devices[2].m_strPath, sys), "");

    const std::string listing = FormatSerialDeviceList(devices);
    EXPECT_NE(listing.find("ttyUSB0  " + usb + "\n"), std::string::npos) << listing;
}

TEST_F(PortListTest, NothingFoundSaysWhereItLooked) {
    EXPECT_TRUE(List().empty());
    EXPECT_NE(FormatSerialDeviceList({}).find("No serial devices found"), std::string::npos);
}

TEST_F(PortListTest, UsbAdaptersShowTheirDriverAndLatencyTimer) {
    UsbPort("ttyUSB0");
    Driver("ttyUSB0", "ftdi_sio", "16");
    fs::create_symlink(m_root / "dev" / "ttyUSB0", m_root / "dev" / "serial" / "by-id" / "usb-FTDI_A1B2C3-if00");
    BuiltinPort("ttyS0", "4");

    const std::string listing = FormatSerialDeviceList(List());
    const std::string adapter = "FTDI FT232R USB UART (0403:6001) serial A1B2C3  driver ftdi_sio, latency timer 16 ms\n";
    EXPECT_NE(listing.find("ttyUSB0  " + adapter), std::string::npos) << listing;
    EXPECT_NE(listing.find("ttyUSB0  " + adapter), listing.rfind("ttyUSB0  " + adapter)) << listing;  // the by-id link too
    EXPECT_NE(listing.find("ttyS0\n"), std::string::npos) << listing;
}
