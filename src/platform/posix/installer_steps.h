// The steps by which the emulated installer makes its files durable and moves them into
// place (fsync, rename, unlink), and the test seam at each of them.
#pragma once

#include <string>

namespace platform::posix {

enum class FileStep { Sync, Rename, Unlink };

// Test hook: called before every step below with the step and the path it acts on
// (the source of a rename). Returning false makes the step fail with EIO, as a failing disk
// would; a hook may also end the process there. nullptr (the default): none.
using FileStepHook = bool (*)(FileStep step, const std::string& path);
extern FileStepHook fileStepHookForTesting;

// Where no hook is set, EMU_KILL_AT_STEP=N (decimal, N >= 1) kills the process with SIGKILL
// at its Nth step, counted over the whole process: how a test ends another process (the
// executable, installer-emu) at each step in turn.

// fsync of `path` opened with `flags` (O_DIRECTORY for a directory). False with errno set.
bool SyncStep(const std::string& path, int flags);
// fsync of an open descriptor that stands for `path`. False with errno set.
bool SyncDescriptorStep(int descriptor, const std::string& path);
// rename(2) of `from` onto `to`. False with errno set.
bool RenameStep(const std::string& from, const std::string& to);
// unlink(2) of `path`. False with errno set.
bool UnlinkStep(const std::string& path);

}  // namespace platform::posix
