// The process-wide values of a run. All exist, empty, before the entry point runs and live
// until the process ends; only the launcher sets ModuleInstance and RunOptions.
#pragma once

#include <string>

#include "platform/platform.h"

// The switches of one run, as the command-line scan leaves them.
struct RunOptionsRecord {
  bool InstallRequested = true;
  bool Quiet = false;
  bool ExtractRequested = false;
  std::u16string ExtractPath;
  bool PatchListRequested = false;
  std::u16string PatchListPath;
  bool ProductListRequested = false;
  // "/log PATH": the administrator's log of the run; empty for none. It changes no mode.
  std::u16string LogPath;
};

// The executable's module, for every resource lookup.
extern platform::HINSTANCE ModuleInstance;
extern RunOptionsRecord RunOptions;
// The product the install driver is working on; messages 306 and 308 name it.
extern std::u16string ProductNameForMessages;
