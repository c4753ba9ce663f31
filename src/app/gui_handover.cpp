#include "app/gui_handover.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

std::string GuiProgramPath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return (self.parent_path() / kGuiProgramName).string();
}

void HandOverToGui(char** argv, std::string* reason) {
    const std::string path = GuiProgramPath();
    if (path.empty()) {
        *reason = "cannot find the folder of this program";
        return;
    }
    std::vector<char*> arguments{const_cast<char*>(path.c_str())};
    for (char** argument = argv + 1; *argument != nullptr; ++argument)
        arguments.push_back(*argument);
    arguments.push_back(nullptr);
    // Output still buffered would be lost with this process image.
    std::fflush(nullptr);
    execv(path.c_str(), arguments.data());
    *reason = "cannot start the GUI program " + path + ": " + std::strerror(errno);
}
