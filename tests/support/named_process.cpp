#include "support/named_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include <gtest/gtest.h>

extern char** environ;

namespace testing_support {

NamedProcess::NamedProcess(const std::string& directory, const std::string& imageName) {
  std::string program = directory + "/" + imageName;
  std::error_code error;
  if (!std::filesystem::exists(program)) {
    std::filesystem::copy_file("/bin/sleep", program, error);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all, error);
  }
  char seconds[] = "600";
  char* argv[] = {program.data(), seconds, nullptr};
  if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
    pid_ = -1;
    ADD_FAILURE() << "cannot start " << program;
  }
}

NamedProcess::~NamedProcess() { End(); }

void NamedProcess::End() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace testing_support
