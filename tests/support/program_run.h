// Running a built program as a user would: its own process, arguments, environment
// additions, standard input from /dev/null.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct ProgramResult {
  int ExitCode = -1;   // -1 when the program did not exit normally
  std::string Output;  // standard output and standard error, interleaved
};

// Runs `program` with `arguments` (argv[1]...) in `workingDirectory` (empty: the current
// one), with the test's environment plus `environment` (NAME, value) and waits for it.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::pair<std::string, std::string>>& environment = {},
                         const std::string& workingDirectory = {});

}  // namespace testing_support
