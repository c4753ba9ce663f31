// Handing a run over to the GUI program.
//
// The terminal program (receiver-downloader) links no GUI library, so that it
// runs on a machine that has none. Where the GUI is wanted it replaces itself
// with the GUI program installed beside it, given the same arguments.
#pragma once

#include <string>

inline constexpr char kGuiProgramName[] = "receiver-downloader-gui";
// The terminal program, which the GUI program's station runs for each port.
inline constexpr char kTerminalProgramName[] = "receiver-downloader";

// kGuiProgramName in the folder of the running program ("" when that folder
// cannot be found).
std::string GuiProgramPath();

// Replaces this process with the GUI program, run with argv[1..] (argv ends
// with a null pointer, as main() receives it). Returns only when that fails,
// with *reason saying why (e.g. the program is not installed); the process is
// then as it was.
void HandOverToGui(char** argv, std::string* reason);
