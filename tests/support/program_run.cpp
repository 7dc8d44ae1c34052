#include "support/program_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

namespace testing_support {

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::pair<std::string, std::string>>& environment,
                         const std::string& workingDirectory) {
  ProgramResult result;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    ADD_FAILURE() << "pipe failed";
    return result;
  }
  pid_t child = fork();
  if (child == 0) {
    int input = open("/dev/null", O_RDONLY);
    dup2(input, 0);
    dup2(pipeEnds[1], 1);
    dup2(pipeEnds[1], 2);
    close(pipeEnds[0]);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) result.Output.append(buffer, got);
  close(pipeEnds[0]);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.ExitCode = WEXITSTATUS(status);
  }
  return result;
}

}  // namespace testing_support
