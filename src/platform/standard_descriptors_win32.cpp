// Windows: the C library gives descriptors 0, 1 and 2 to the standard
// handles at start-up and keeps them taken even when a handle is missing
// (a process started without a console or with closed handles), so a file
// the program opens never gets one of them. Nothing to do.
#include "platform/standard_descriptors.h"

void OpenStandardDescriptors() {}
