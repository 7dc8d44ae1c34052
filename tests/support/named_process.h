// A real process under a chosen image name, for tests of the running-application guard:
// a copy of /bin/sleep named `imageName`, started, and ended with the holder.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

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
