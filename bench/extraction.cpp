// Extraction against honest peers: `spsetup /e FILE`, a durable copy of the same bytes and a
// plain `cp`, run alternately in one run so that the ratios hold on a noisy machine. The
// durable copy does what /e does to a new name: `dd … conv=fsync` writes the bytes beside
// the target and flushes them, then the bench moves the file into place and flushes the
// directory, within the same timing; its ratio is printed without the move too (the bytes
// written and flushed only). Prints the median wall time with its quartiles and the peak
// memory (maximum resident set) of each side.
//
//   bench_extraction [--rounds N] [SIZE ...]
//
// The sample package the build embeds is always measured. Each SIZE (bytes, or with a K, M
// or G suffix: 11M, 256M) is measured with an executable built for it: a release build of
// this tree in the bench's own directory, embedding a package of exactly that size (the
// sample package followed by random bytes, which /e writes out like any other) given with
// -DSPSETUP_PATCH_PACKAGE. The sizes share one build directory: the first build takes a few
// minutes, another size re-embeds and links only.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Run {
  double Microseconds = -1;  // -1: the program failed
  long PeakKilobytes = 0;
};

// Moves a file written beside its target into place and flushes the directory, so that the
// new name survives a crash as /e's does. False when either step fails.
bool MoveDurably(const fs::path& from, const fs::path& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  int directory = ::open(to.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  bool flushed = ::fsync(directory) == 0;
  ::close(directory);
  return flushed;
}

// Runs a program to its end; its wall time and its own peak resident set (wait4 reports the
// child's usage alone).
Run TimedRun(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  Run run;
  auto start = std::chrono::steady_clock::now();
  // fork, not posix_spawn: a child that shares this process's memory until exec would
  // inherit this process's peak as its own.
  pid_t child = fork();
  if (child < 0) return run;
  if (child == 0) {
    execve(argv[0], argv.data(), environ);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child) return run;
  auto elapsed = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return run;
  run.Microseconds = std::chrono::duration<double, std::micro>(elapsed).count();
  run.PeakKilobytes = usage.ru_maxrss;
  return run;
}

// A command run for its effect (a build step); true when it exited with 0.
bool Succeeds(const std::string& command) { return std::system(command.c_str()) == 0; }

// The value below which `fraction` of the values lie (0.5: the median).
double Quantile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

double Median(const std::vector<double>& values) { return Quantile(values, 0.5); }

// "11M" -> 11 * 2^20; 0 when the text is no size.
unsigned long long ParseSize(const std::string& text) {
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (end == text.c_str()) return 0;
  std::string suffix(end);
  if (suffix == "K" || suffix == "k") return value << 10;
  if (suffix == "M" || suffix == "m") return value << 20;
  if (suffix == "G" || suffix == "g") return value << 30;
  return suffix.empty() ? value : 0;
}

bool SameBytes(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> bx(1 << 16), by(1 << 16);
  while (x && y) {
    x.read(bx.data(), bx.size());
    y.read(by.data(), by.size());
    if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) {
      return false;
    }
  }
  return x.eof() && y.eof();
}

// Steps: 1. the package of `size` bytes (kept while its size is right, so a rebuild finds
// it unchanged); 2. configure and build spsetup embedding it; 3. the executable, copied out
// so that another size's build cannot replace it. Empty when a step fails.
fs::path BuildForSize(const fs::path& work, unsigned long long size, fs::path& package) {
  fs::create_directories(work);
  package = work / ("package-" + std::to_string(size) + ".msp");
  std::error_code error;
  if (!fs::exists(package) || fs::file_size(package, error) != size) {
    std::ifstream sample(SPSETUP_SAMPLE_PACKAGE, std::ios::binary);
    std::vector<char> head((std::istreambuf_iterator<char>(sample)), {});
    if (head.size() > size) {
      std::fprintf(stderr, "bench_extraction: %llu bytes is less than the sample package\n", size);
      return {};
    }
    std::ofstream out(package, std::ios::binary | std::ios::trunc);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    std::mt19937_64 random(size);
    std::vector<std::uint64_t> block(1 << 13);
    for (unsigned long long left = size - head.size(); left > 0;) {
      for (auto& word : block) word = random();
      auto step = std::min<unsigned long long>(left, block.size() * sizeof(block[0]));
      out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(step));
      left -= step;
    }
    if (!out.flush()) return {};
  }

  fs::path build = work / "build";
  std::string log = (work / "build.log").string();
  std::printf("building spsetup with a %llu-byte package in %s (log: %s)\n", size, build.c_str(),
              log.c_str());
  std::fflush(stdout);
  std::string configure = std::string("\"") + SPSETUP_CMAKE + "\" -S \"" + SPSETUP_SOURCE_DIR +
                          "\" -B \"" + build.string() +
                          "\" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSPSETUP_BUILD_TESTS=OFF "
                          "-DSPSETUP_PATCH_PACKAGE=\"" +
                          package.string() + "\" >\"" + log + "\" 2>&1";
  std::string compile = std::string("\"") + SPSETUP_CMAKE + "\" --build \"" + build.string() +
                        "\" --target spsetup --parallel 2 >>\"" + log + "\" 2>&1";
  if (!Succeeds(configure) || !Succeeds(compile)) {
    std::fprintf(stderr, "bench_extraction: the build failed, see %s\n", log.c_str());
    return {};
  }
  fs::path executable = work / ("spsetup-" + std::to_string(size));
  fs::copy_file(build / "src" / "spsetup", executable, fs::copy_options::overwrite_existing, error);
  if (error) return {};
  return executable;
}

struct Side {
  const char* Label;
  std::vector<double> Times;
  long PeakKilobytes = 0;
};

// Measures the three sides for one package, in a rotating order each round. False when a
// run failed or /e wrote other bytes than the package's.
bool Measure(const std::string& spsetup, const fs::path& package, int rounds,
             const fs::path& scratch, long* baselineKilobytes) {
  const std::string extracted = (scratch / "extracted.msp").string();
  const fs::path durable = scratch / "durable.msp";
  const fs::path durablePartial = scratch / "durable.msp.partial";
  const std::string copied = (scratch / "copied.msp").string();
  Side sides[] = {{"spsetup /e PATH", {}}, {"durable copy, moved", {}}, {"cp", {}}};
  std::vector<double> flushedOnly;  // the durable copy's times before its move
  for (int round = 0; round < rounds; ++round) {
    for (int turn = 0; turn < 3; ++turn) {
      int which = (round + turn) % 3;
      // Each side writes a new file, as /e to a fresh path does, and starts with nothing of
      // the previous side's still on its way to the disk.
      fs::remove(which == 0 ? extracted : which == 1 ? durable.string() : copied);
      ::sync();
      Run run;
      if (which == 0) {
        run = TimedRun({spsetup, "/e", extracted});
      } else if (which == 1) {
        auto start = std::chrono::steady_clock::now();
        run = TimedRun({"/bin/dd", "if=" + package.string(), "of=" + durablePartial.string(),
                        "bs=1M", "conv=fsync", "status=none"});
        if (run.Microseconds >= 0) {
          flushedOnly.push_back(run.Microseconds);
          bool moved = MoveDurably(durablePartial, durable);
          run.Microseconds = moved ? std::chrono::duration<double, std::micro>(
                                         std::chrono::steady_clock::now() - start)
                                         .count()
                                   : -1;
        }
      } else {
        run = TimedRun({"/bin/cp", package.string(), copied});
      }
      if (run.Microseconds < 0) {
        std::fprintf(stderr, "bench_extraction: %s failed\n", sides[which].Label);
        return false;
      }
      sides[which].Times.push_back(run.Microseconds);
      sides[which].PeakKilobytes = std::max(sides[which].PeakKilobytes, run.PeakKilobytes);
    }
  }
  if (!SameBytes(extracted, package)) {
    std::fprintf(stderr, "bench_extraction: /e did not write the package's bytes\n");
    return false;
  }

  auto size = fs::file_size(package);
  double mebibyte = 1024.0 * 1024.0;
  std::printf("\npackage %llu bytes (%.1f MiB), %d rounds\n", static_cast<unsigned long long>(size),
              size / mebibyte, rounds);
  std::printf("  %-30s %12s %21s %16s\n", "", "median", "quartiles", "peak memory");
  auto row = [](const char* label, const std::vector<double>& times, const char* peak) {
    std::printf("  %-30s %9.1f ms %9.1f – %6.1f ms %16s\n", label, Median(times) / 1000,
                Quantile(times, 0.25) / 1000, Quantile(times, 0.75) / 1000, peak);
  };
  for (const Side& side : sides) {
    char peak[32];
    std::snprintf(peak, sizeof peak, "%.1f MiB", side.PeakKilobytes / 1024.0);
    row(side.Label, side.Times, peak);
  }
  row("  of it dd (conv=fsync) alone", flushedOnly, "");
  double e = Median(sides[0].Times), d = Median(sides[1].Times), c = Median(sides[2].Times);
  std::printf("  ratio spsetup / durable copy, moved       %6.2f\n", e / d);
  std::printf("  ratio spsetup / dd conv=fsync, not moved  %6.2f\n", e / Median(flushedOnly));
  std::printf("  ratio spsetup / cp                        %6.2f\n", e / c);
  // What the package's size adds to spsetup's peak (its bytes mapped or copied into the
  // process), against the first package measured, the sample.
  if (*baselineKilobytes == 0) {
    *baselineKilobytes = sides[0].PeakKilobytes;
  } else {
    std::printf("  spsetup's peak beyond its peak with the sample: %ld KiB\n",
                sides[0].PeakKilobytes - *baselineKilobytes);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 0;
  std::vector<unsigned long long> sizes;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--rounds" && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
      if (rounds < 1) rounds = 1;
    } else if (unsigned long long size = ParseSize(argument); size > 0) {
      sizes.push_back(size);
    } else {
      std::fprintf(stderr, "usage: bench_extraction [--rounds N] [SIZE ...]  (SIZE: 11M, 256M)\n");
      return 2;
    }
  }
  fs::path scratch = fs::temp_directory_path() / ("spsetup-bench-" + std::to_string(getpid()));
  fs::create_directories(scratch);

  // Small packages take more rounds, to steady a median of a few milliseconds.
  auto roundsFor = [rounds](unsigned long long size) {
    if (rounds > 0) return rounds;
    return size <= (64ull << 20) ? 41 : 9;
  };
  long baselineKilobytes = 0;
  bool ok = Measure(SPSETUP_EXE, SPSETUP_SAMPLE_PACKAGE, roundsFor(0), scratch, &baselineKilobytes);
  for (unsigned long long size : sizes) {
    if (!ok) break;
    fs::path package;
    fs::path executable =
        BuildForSize(fs::path(SPSETUP_BENCH_DIR) / "extraction-sized", size, package);
    ok = !executable.empty() &&
         Measure(executable.string(), package, roundsFor(size), scratch, &baselineKilobytes);
  }
  fs::remove_all(scratch);
  return ok ? 0 : 1;
}
