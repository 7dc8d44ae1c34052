// A real process under a chosen image name, for tests of the running-application guard:
// a copy of /bin/sleep named `imageName`, started, and ended with the holder.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

// Limits the emulated process list to the executables below one directory. Every test
// that starts or expects kyro.exe sets it to the directory of its own copies, so that a
// kyro.exe which anything else on the machine runs changes no result.
inline constexpr char kProcessScopeVariable[] = "EMU_PROCESS_SCOPE";

class NamedProcess {
 public:
  // Copies /bin/sleep to `directory`/`imageName` (once) and starts it; it runs until
  // End() or the holder's end. Fails the test when it cannot start.
  NamedProcess(const std::string& directory, const std::string& imageName);
  NamedProcess(const NamedProcess&) = delete;
  NamedProcess& operator=(const NamedProcess&) = delete;
  ~NamedProcess();

  // Kills the process and waits until it is gone.
  void End();
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace testing_support
