// Extraction against a plain copy of the same bytes: `spsetup /e FILE` and `cp PACKAGE FILE`
// run alternately in this process's run, so the ratio holds on a noisy machine. Build with
// -DSPSETUP_PATCH_PACKAGE=<a real package> to measure a package of real size.
//
//   bench_extraction [ROUNDS]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Runs a program to its end; its wall time in microseconds, or -1 when it failed.
double TimedRun(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(child, &status, 0);
  auto elapsed = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double, std::micro>(elapsed).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 40;
  if (rounds < 1) rounds = 1;
  std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("spsetup-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(scratch);
  std::string extracted = (scratch / "extracted.msp").string();
  std::string copied = (scratch / "copied.msp").string();

  std::vector<double> extraction, copy;
  for (int round = 0; round < rounds; ++round) {
    extraction.push_back(TimedRun({SPSETUP_EXE, "/e", extracted}));
    copy.push_back(TimedRun({"/bin/cp", SPSETUP_SAMPLE_PACKAGE, copied}));
  }
  auto size = std::filesystem::file_size(extracted);
  std::filesystem::remove_all(scratch);
  if (std::count(extraction.begin(), extraction.end(), -1.0) > 0 ||
      std::count(copy.begin(), copy.end(), -1.0) > 0) {
    std::fprintf(stderr, "bench_extraction: a run failed\n");
    return 1;
  }
  double e = Median(extraction), c = Median(copy);
  std::printf("package %llu bytes, %d rounds\n", static_cast<unsigned long long>(size), rounds);
  std::printf("spsetup /e  median %10.0f us\n", e);
  std::printf("cp          median %10.0f us\n", c);
  std::printf("ratio spsetup/cp   %10.2f\n", e / c);
  return 0;
}
