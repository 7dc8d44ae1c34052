// The process list of the emulated host, read from /proc, and its test hook.
#pragma once

#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace platform::posix {

// Test hook: reads the running processes into `entries` (the system entry, process id 0
// named "[System Process]", first); false when no list can be taken, and
// CreateToolhelp32Snapshot then returns INVALID_HANDLE_VALUE. Points at ReadProcFs unless a
// test has swapped in another; the test restores the previous value when it ends.
using ProcessListReader = bool (*)(std::vector<PROCESSENTRY32W>& entries);
extern ProcessListReader ReadProcessList;

// The default reader: one entry per process of /proc, its image name the file name of the
// process's executable, or its command name where the executable cannot be read. When
// EMU_PROCESS_SCOPE names a directory, only the processes whose executable lies below it
// are listed (besides the system entry).
bool ReadProcFs(std::vector<PROCESSENTRY32W>& entries);

// The emulated user closes an application: every listed process whose image name is
// `image` (ASCII case ignored) is killed, and the call returns once none of them is listed
// any longer (ten seconds at most).
void EndProcessesNamed(std::u16string_view image);

// Fills an entry's image name from UTF-16 text, cut to fit and terminated.
void SetImageName(PROCESSENTRY32W& entry, std::u16string_view name);

}  // namespace platform::posix
