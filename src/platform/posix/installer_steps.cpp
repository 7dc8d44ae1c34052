// The emulated installer's durable steps, each passing the test seam first.
#include "platform/posix/installer_steps.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/host.h"

namespace platform::posix {

FileStepHook fileStepHookForTesting = nullptr;

namespace {

// The step EMU_KILL_AT_STEP names; 0 for none.
long KillAtStep() {
  static const long step = [] {
    const char* text = std::getenv("EMU_KILL_AT_STEP");
    if (text == nullptr || *text == '\0') return 0L;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 ? value : 0L;
  }();
  return step;
}

// False (errno EIO) when the hook refuses the step.
bool Allowed(FileStep step, const std::string& path) {
  if (fileStepHookForTesting != nullptr) {
    if (fileStepHookForTesting(step, path)) return true;
    errno = EIO;
    return false;
  }
  static std::atomic<long> taken{0};
  if (long kill = KillAtStep(); kill != 0 && ++taken == kill) ::raise(SIGKILL);
  return true;
}

}  // namespace

bool SyncStep(const std::string& path, int flags) {
  return Allowed(FileStep::Sync, path) && SyncPath(path, flags);
}

bool SyncDescriptorStep(int descriptor, const std::string& path) {
  return Allowed(FileStep::Sync, path) && ::fsync(descriptor) == 0;
}

bool RenameStep(const std::string& from, const std::string& to) {
  return Allowed(FileStep::Rename, from) && std::rename(from.c_str(), to.c_str()) == 0;
}

bool UnlinkStep(const std::string& path) {
  return Allowed(FileStep::Unlink, path) && ::unlink(path.c_str()) == 0;
}

}  // namespace platform::posix
