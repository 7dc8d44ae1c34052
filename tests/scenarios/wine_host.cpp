// A scenario on spsetup.exe under Wine: products installed with Wine's own msiexec, the
// program started and its boxes answered by our probe, the installer asked through it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "scenarios/hosts.h"
#include "scenarios/machine_files.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace scenarios {

using testing_support::ProgramResult;

namespace {

// The Unix locale that gives Wine's processes each user default language of the scenarios;
// the Windows stage generates them.
const std::map<std::string, std::string> kUserLocales = {
    {"1033", "en_US.UTF-8"}, {"1031", "de_DE.UTF-8"}, {"1036", "fr_FR.UTF-8"},
    {"1041", "ja_JP.UTF-8"}, {"1049", "ru_RU.UTF-8"}, {"2052", "zh_CN.UTF-8"}};

// Unix path to the name Wine gives it through drive Z:.
std::string WindowsPath(const std::string& path) {
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

// A drive C: path of the prefix back to its Unix path.
std::string UnixPath(const std::string& windowsPath) {
  if (windowsPath.size() < 3 || (windowsPath[0] != 'C' && windowsPath[0] != 'c')) return {};
  std::string out = std::string(std::getenv("WINEPREFIX")) + "/drive_c/" + windowsPath.substr(3);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string Line(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The registry's name of a product code: each group's characters reversed, the last two
// groups by pairs.
std::string Squashed(const std::string& code) {
  std::string hex;
  for (char c : code) {
    if (c != '{' && c != '}' && c != '-') hex += c;
  }
  auto reversed = [&](std::size_t from, std::size_t length) {
    return std::string(hex.rbegin() + static_cast<long>(hex.size() - from - length),
                       hex.rbegin() + static_cast<long>(hex.size() - from));
  };
  std::string out = reversed(0, 8) + reversed(8, 4) + reversed(12, 4);
  for (std::size_t at = 16; at < 32; at += 2) out += reversed(at, 2);
  return out;
}

class Wine {
 public:
  Wine(const WineSetup& setup, const std::string& language, const std::string& workDirectory)
      : setup_(setup), workDirectory_(workDirectory) {
    auto locale = kUserLocales.find(language);
    environment_ = {{"WINEDEBUG", "-all"},
                    {"LC_ALL", locale != kUserLocales.end() ? locale->second : "en_US.UTF-8"}};
  }

  // Runs a Windows program to its end. Its output goes to a file, not a pipe: a wineserver
  // that a Wine process starts inherits the process's descriptors and outlives it, so a pipe
  // would never reach its end.
  ProgramResult Run(const std::vector<std::string>& arguments) const {
    std::string output = workDirectory_ + "/../fixtures/output.txt";
    pid_t child = Start(arguments, output);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ProgramResult result;
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.Output = testing_support::FileContent(output);
    return result;
  }

  std::string Probe(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command = {setup_.Probe};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return Line(Run(command).Output);
  }

  // Starts the loader with `arguments` in the background, its output into the file
  // `output` (or nowhere); its process id.
  pid_t Start(const std::vector<std::string>& arguments,
              const std::string& output = "/dev/null") const {
    pid_t child = fork();
    if (child == 0) {
      for (const auto& [name, value] : environment_) setenv(name.c_str(), value.c_str(), 1);
      if (chdir(workDirectory_.c_str()) != 0) _exit(126);
      int file = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (file < 0 || ::dup2(file, STDOUT_FILENO) < 0 || ::dup2(file, STDERR_FILENO) < 0) {
        _exit(126);
      }
      int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (input < 0 || ::dup2(input, STDIN_FILENO) < 0) _exit(126);
      std::vector<char*> argv = {const_cast<char*>(setup_.Loader.c_str())};
      for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execv(setup_.Loader.c_str(), argv.data());
      _exit(127);
    }
    return child;
  }

 private:
  const WineSetup& setup_;
  std::string workDirectory_;
  std::vector<std::pair<std::string, std::string>> environment_;
};

}  // namespace

std::optional<WineSetup> WineFromEnvironment() {
  const char* loader = std::getenv("SPSETUP_WINE");
  const char* executable = std::getenv("SPSETUP_WINE_EXE");
  const char* probe = std::getenv("SPSETUP_WINE_PROBE");
  const char* planted = std::getenv("SPSETUP_WINE_PLANTED_MSI");
  if (loader == nullptr || executable == nullptr || probe == nullptr || planted == nullptr ||
      std::getenv("WINEPREFIX") == nullptr) {
    return std::nullopt;
  }
  return WineSetup{loader, executable, probe, planted};
}

Outcome PlayOnWine(const Scenario& scenario, const WineSetup& setup) {
  testing_support::ScratchDir scratch;
  MachineDirectories directories = MakeMachineDirectories(scratch.Path(), scenario);
  Wine wine(setup, scenario.UserLanguage, directories.Work);

  // 1. The machine: the executable with a planted msi.dll beside it and another in the
  //    working directory; the products; the host application.
  std::string program = directories.Fixtures + "/spsetup.exe";
  std::filesystem::copy_file(setup.Executable, program);
  std::filesystem::copy_file(setup.PlantedLibrary, directories.Fixtures + "/msi.dll");
  std::filesystem::copy_file(setup.PlantedLibrary, directories.Work + "/msi.dll");
  for (const Product& product : scenario.Products) {
    std::string package = directories.Fixtures + "/" + product.Code + ".msi";
    EXPECT_TRUE(MakeScenarioProduct(package, product));
    ProgramResult installed = wine.Run({"msiexec", "/i", WindowsPath(package), "/qn"});
    EXPECT_EQ(installed.ExitCode, 0) << "msiexec /i " << product.Code << ": " << installed.Output;
    if (product.Language == "Deutsch") {
      // Wine registers a per-user product under the user's installer keys; its Language
      // is read from there as text.
      for (const std::string& key :
           {"HKCU\\Software\\Microsoft\\Installer\\Products\\" + Squashed(product.Code),
            "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"
            "S-1-5-21-0-0-0-1000\\Products\\" +
                Squashed(product.Code) + "\\InstallProperties"}) {
        wine.Run({"reg", "add", key, "/v", "Language", "/t", "REG_SZ", "/d", "Deutsch", "/f"});
      }
    }
  }
  pid_t host = -1;
  if (scenario.HostRunning) {
    std::string image = directories.Fixtures + "/kyro.exe";
    std::filesystem::copy_file(setup.Probe, image);
    host = wine.Start({image, "hold"});
    // Running once the probe's process list shows it.
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (wine.Probe({"running", "kyro.exe"}) == "yes") break;
    }
  }

  // 2. The run, its boxes answered by the probe.
  std::vector<std::string> command = {setup.Probe,
                                      "run",
                                      WindowsPath(directories.Fixtures + "/dialogs.log"),
                                      scenario.Script,
                                      "TMP=" + WindowsPath(directories.Temp),
                                      "TEMP=" + WindowsPath(directories.Temp),
                                      "--",
                                      WindowsPath(program)};
  command.insert(command.end(), scenario.Arguments.begin(), scenario.Arguments.end());
  ProgramResult run = wine.Run(command);
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  if (host > 0) {
    ::kill(host, SIGKILL);
    ::waitpid(host, nullptr, 0);
  }

  // 3. What it left, then the products removed again.
  Outcome outcome = ReadMachineFiles(directories, {"msi.dll", "planted-msi-loaded.txt"});
  outcome.PlantedLibraryLoaded =
      std::filesystem::exists(directories.Work + "/planted-msi-loaded.txt") ||
      std::filesystem::exists(directories.Fixtures + "/planted-msi-loaded.txt");
  for (const Product& product : scenario.Products) {
    outcome.Versions[product.Code] = wine.Probe({"info", product.Code, "VersionString"});
    std::string patches = wine.Probe({"patches", product.Code});
    for (char& c : patches) {
      if (c == '\n') c = ';';
    }
    outcome.Patches[product.Code] = patches;
    outcome.Rows[product.Code] =
        CachedRows(UnixPath(wine.Probe({"info", product.Code, "LocalPackage"})));
    ProgramResult removed = wine.Run({"msiexec", "/x", product.Code, "/qn"});
    EXPECT_EQ(removed.ExitCode, 0) << "msiexec /x " << product.Code << ": " << removed.Output;
  }
  return outcome;
}

}  // namespace scenarios
