#include "bench_machine.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n'))
        line.pop_back();
    return line;
}

// The value of the first "name : value" line of /proc/cpuinfo, or "".
std::string CpuInfoField(const std::string& name) {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name, 0) == 0 && line.find(':') != std::string::npos) {
            const std::size_t at = line.find_first_not_of(" \t", line.find(':') + 1);
            return at == std::string::npos ? "" : line.substr(at);
        }
    return "";
}

std::string MemoryText() {
    std::ifstream in("/proc/meminfo");
    std::string name;
    unsigned long long kiB = 0;
    if (!(in >> name >> kiB) || name != "MemTotal:")
        return "? memory";
    char text[64];
    std::snprintf(text, sizeof text, "%.1f GiB memory", static_cast<double>(kiB) / (1024.0 * 1024.0));
    return text;
}

// x86 processors announce a hypervisor in their flags, Xen guests in
// /sys/hypervisor and ARM guests in the device tree; the firmware's vendor
// and product (DMI) then usually name it.
std::string VirtualText() {
    const bool flag = (" " + CpuInfoField("flags") + " ").find(" hypervisor ") != std::string::npos;
    const std::string xen = FirstLine("/sys/hypervisor/type");
    const bool deviceTree = std::ifstream("/proc/device-tree/hypervisor/compatible").good();
    if (!flag && xen.empty() && !deviceTree)
        return "no hypervisor seen";
    std::string name = FirstLine("/sys/class/dmi/id/sys_vendor");
    const std::string product = FirstLine("/sys/class/dmi/id/product_name");
    if (!product.empty())
        name += (name.empty() ? "" : " ") + product;
    if (name.empty())
        name = xen;
    return name.empty() ? "virtual machine" : "virtual machine (" + name + ")";
}

}  // namespace

std::string MachineDescription() {
    std::string model = CpuInfoField("model name");
    if (model.empty())
        model = "CPU model ?";
    utsname system{};
    const std::string kernel =
        uname(&system) == 0 ? std::string(system.sysname) + " " + system.release : std::string("kernel ?");
    return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + model + ", " + MemoryText() + ", " +
           kernel + ", " + VirtualText();
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(in >> one >> five >> fifteen))
        return "?";
    return one + ", " + five + ", " + fifteen + " (1, 5, 15 min)";
}

void PrintMachineAtStart() {
    std::printf("Machine: %s\nLoad at the start: %s\n", MachineDescription().c_str(), LoadAverage().c_str());
    std::fflush(stdout);
}

void PrintLoadAtEnd() {
    std::printf("Load at the end: %s\n", LoadAverage().c_str());
    std::fflush(stdout);
}
