// The machine a benchmark ran on and how busy it was, printed the same way by
// every benchmark: times and rates mean little without the cores they had and
// what else was running beside them.
#pragma once

#include <string>

// Cores online, CPU model, memory, kernel, and whether it runs under a
// hypervisor ("virtual machine", with the hypervisor's name where the system
// gives one). Parts the system does not tell are shown as "?".
std::string MachineDescription();

// The load average over 1, 5 and 15 minutes, as /proc/loadavg gives it.
std::string LoadAverage();

// "Machine: ..." and "Load at the start: ..." on stdout; call before the
// first measurement.
void PrintMachineAtStart();

// "Load at the end: ..." on stdout; call after the last measurement.
void PrintLoadAtEnd();
