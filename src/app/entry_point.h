// The program's entry point, shared by the Windows and the emulated host's main.
#pragma once

#include "platform/platform.h"

// Stores `instance` in ModuleInstance, scans the process command line (the text passed
// here is not used) and runs the rows of the mode table: the install alone, or extract,
// patch list and product list in that order. Returns 0 on every path.
int RunEntryPoint(platform::HINSTANCE instance, platform::HINSTANCE previousInstance,
                  platform::LPWSTR commandLine, int showState);
