// The executable and installer-emu on a machine that misbehaves: a full disk under the
// installer's state, a FIFO where a package should be, a file-size limit. Nothing is
// destroyed, nothing hangs, and a later run on a sound machine does the work.
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "support/catalogue.h"
#include "support/dialog_log.h"
#include "support/msi_tables.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using namespace testing_support;

// A target of the sample package.
const std::string kStudio = "{6F0C2A51-5B2E-4D7A-9C3E-0A1B2C3D4E51}";

// A tmpfs of `bytes` mounted on `path` for the holder's lifetime. Mounted() is false, with
// the reason in Why(), where the tests do not run as root or the mount is refused.
class ScopedTmpfs {
 public:
  ScopedTmpfs(const std::string& path, std::size_t bytes) : path_(path) {
    if (geteuid() != 0) {
      why_ = "mounting a small file system needs root";
      return;
    }
    std::filesystem::create_directories(path);
    std::string options = "size=" + std::to_string(bytes);
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      why_ = std::string("mount refused: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;
  ~ScopedTmpfs() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  const std::string& Why() const { return why_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string why_;
};

// Writes to `path` until the file system is full; returns the bytes written.
std::size_t FillUp(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::setvbuf(file, nullptr, _IONBF, 0);
  std::string block(4096, 'x');
  std::size_t written = 0;
  while (std::fwrite(block.data(), 1, block.size(), file) == block.size()) written += block.size();
  std::fwrite(block.data(), 1, 1, file);  // the last few bytes a block did not fit
  std::fclose(file);
  return written;
}

class FaultRun : public testing::Test {
 protected:
  // Installs kStudio at 5.1.8.0 in German from a database with the rows the fix-up edits.
  void InstallStudio() {
    std::string package = scratch.Join("studio.msi");
    ASSERT_TRUE(MakeProductDatabase(
        package, {kStudio, "5.1.8.0", "Kyro Studio", "1031"},
        {InstallExecuteSequenceTable({{"CostInitialize", "", 800},
                                      {"ResolveSourceDir", "NOT Installed", 1010},
                                      {"HarvestInstallSelection", "Installed", 1080},
                                      {"InstallFinalize", "", 6600}}),
         RegistryTable({{"registry461", 2, "SOFTWARE\\Norvane\\Kyro", "Dir", "x", "Core"},
                        {"registryOther", 2, "SOFTWARE\\Norvane\\Kyro", "B", "2", "Core"}}),
         MediaTable()}));
    ProgramResult result = Emu({"install", package});
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
  }

  ProgramResult Emu(const std::vector<std::string>& arguments) {
    return RunProgram(SPSETUP_INSTALLER_EMU, arguments, Environment());
  }

  std::string Info(const std::string& property) {
    std::string value = Emu({"info", kStudio, property}).Output;
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }

  std::vector<std::pair<std::string, std::string>> Environment() {
    return {{"EMU_INSTALLER_ROOT", root},
            {"TMP", temp.Path()},
            {"EMU_USER_LCID", "1033"},
            {"EMU_DIALOG_LOG", scratch.Join("dialogs.log")}};
  }

  // One default run; the boxes it showed.
  std::vector<DialogRecord> Run() {
    std::filesystem::remove(scratch.Join("dialogs.log"));
    ProgramResult result = RunProgram(SPSETUP_EXE, {}, Environment(), scratch.Path());
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    return ReadDialogLog(scratch.Join("dialogs.log"));
  }

  void ExpectOneBox(const std::vector<DialogRecord>& boxes, unsigned message,
                    const std::u16string& code = u"") {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, Catalogue(message, 1031, code));
  }

  std::string Component(const std::string& database, const std::string& key) {
    for (const auto& row : ReadRows(database, "SELECT Registry,Component_ FROM Registry")) {
      if (row[0] == key) return row[1];
    }
    return "";
  }

  ScratchDir scratch;
  ScratchDir temp;
  std::string root = scratch.Join("installer");
};

// The disk that holds the installer's state is full: neither the fix-up's commit nor the
// patch's can be written, so the cached database stays as it was, byte for byte, and the
// run reports the installer's refusal of the database it could not commit (1620). With room again,
// the next run patches the product.
TEST_F(FaultRun, AFullDiskUnderTheInstallerLeavesTheCachedDatabaseAsItWas) {
  ScopedTmpfs disk(root, 1 << 20);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  InstallStudio();
  const std::string cached = Info("LocalPackage");
  const std::string before = FileContent(cached);
  ASSERT_FALSE(before.empty());
  ASSERT_GT(FillUp(root + "/filler"), 0u);

  ExpectOneBox(Run(), 300, u"1620");
  EXPECT_EQ(FileContent(cached), before);
  EXPECT_EQ(Info("VersionString"), "5.1.8.0");
  // Nothing of the failed commit is left beside the database.
  EXPECT_EQ(EntryNames(root + "/cache"), std::vector<std::string>{kStudio + ".msi"});

  std::filesystem::remove(root + "/filler");
  ExpectOneBox(Run(), 301);
  EXPECT_EQ(Info("VersionString"), "5.2.0.0");
  EXPECT_EQ(Component(cached, "registry461"), "KYROX.kyrm.9A0AD67F_1899_4E39_B406_AAD935BD48BE");
  EXPECT_EQ(EntryNames(root + "/cache"), std::vector<std::string>{kStudio + ".msi"});
}

// A FIFO where the cached package should be is refused at once, not waited on (the run
// would hang here otherwise): message 300 with the code of a package that cannot be opened.
TEST_F(FaultRun, AFifoAsTheCachedPackageIsRefusedWithoutWaiting) {
  InstallStudio();
  ASSERT_EQ(mkfifo(scratch.Join("cached.fifo").c_str(), 0600), 0);
  ASSERT_EQ(Emu({"set", kStudio, "LocalPackage", scratch.Join("cached.fifo")}).ExitCode, 0);
  ExpectOneBox(Run(), 300, u"1619");
  EXPECT_EQ(Info("VersionString"), "5.1.8.0");
}

// A FIFO given to installer-emu as a package, and one in place of its own state file, are
// refused with a line on standard error.
TEST_F(FaultRun, InstallerEmuRefusesAFifoWithoutWaiting) {
  ASSERT_EQ(mkfifo(scratch.Join("package.fifo").c_str(), 0600), 0);
  ProgramResult install = Emu({"install", scratch.Join("package.fifo")});
  EXPECT_EQ(install.ExitCode, 1);
  EXPECT_NE(install.Output.find("is not a regular file"), std::string::npos) << install.Output;

  InstallStudio();
  std::string entry = root + "/products/" + kStudio + ".product";
  ASSERT_EQ(unlink(entry.c_str()), 0);
  ASSERT_EQ(mkfifo(entry.c_str(), 0600), 0);
  ProgramResult info = Emu({"info", kStudio, "VersionString"});
  EXPECT_EQ(info.ExitCode, 1);
  EXPECT_NE(info.Output.find("damaged registry entry"), std::string::npos) << info.Output;
}

// A file-size limit fails the write of the package (ERROR_DISK_FULL) instead of killing
// the process half way: the run ends normally and leaves no cut-short file.
TEST_F(FaultRun, AFileSizeLimitFailsTheWriteAndLeavesNoPartialFile) {
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = 1024;  // less than any package; the child inherits the limit
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  ProgramResult result =
      RunProgram(SPSETUP_EXE, {"/e", temp.Join("out.msp")}, Environment(), scratch.Path());
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(result.ExitCode, 0) << result.Output;
  EXPECT_TRUE(EntryNames(temp.Path()).empty());
}

// The process is killed (SIGKILL, through the host's step seam) at each fsync, rename and
// unlink in turn. After every kill the registry reads whole and the cached database is a
// whole old or a whole new one; the next start clears what the kill left.
TEST_F(FaultRun, InstallerEmuInstallKilledAtEachStep) {
  std::string package = scratch.Join("studio.msi");
  ASSERT_TRUE(MakeProductDatabase(package, {kStudio, "5.1.8.0", "Kyro Studio", "1031"}));
  const std::string bytes = FileContent(package);
  int step = 1;
  for (;; ++step) {
    ASSERT_LT(step, 50) << "installer-emu install never ran to its end";
    SCOPED_TRACE(step);
    std::vector<std::pair<std::string, std::string>> environment = Environment();
    environment.emplace_back("EMU_KILL_AT_STEP", std::to_string(step));
    ProgramResult install = RunProgram(SPSETUP_INSTALLER_EMU, {"install", package}, environment);
    ProgramResult list = Emu({"list"});
    ASSERT_EQ(list.ExitCode, 0) << list.Output;
    if (install.ExitCode == 0) break;
    ASSERT_EQ(install.ExitCode, -1) << install.Output;  // killed, not failed
    if (!list.Output.empty()) {
      // Registered: its package is whole.
      EXPECT_EQ(FileContent(Info("LocalPackage")), bytes);
      ASSERT_EQ(Emu({"uninstall", kStudio}).ExitCode, 0);
    } else {
      // Not registered: the next change of the state removes what the kill left.
      ASSERT_EQ(Emu({"fail", kStudio, "0"}).ExitCode, 1);
      ASSERT_EQ(Emu({"set", "{00000000-0000-0000-0000-000000000000}", "A", "B"}).ExitCode, 1);
    }
    EXPECT_TRUE(EntryNames(root + "/cache").empty());
  }
  EXPECT_GT(step, 3);
  EXPECT_EQ(FileContent(Info("LocalPackage")), bytes);
}

TEST_F(FaultRun, InstallRunKilledAtEachStepOfTheCommitsAndTheConfiguration) {
  InstallStudio();
  const std::string cached = Info("LocalPackage");
  int step = 1;
  for (;; ++step) {
    ASSERT_LT(step, 50) << "the run never ended";
    SCOPED_TRACE(step);
    std::vector<std::pair<std::string, std::string>> environment = Environment();
    environment.emplace_back("EMU_KILL_AT_STEP", std::to_string(step));
    ProgramResult run = RunProgram(SPSETUP_EXE, {"/q"}, environment, scratch.Path());
    // The registry reads whole, with the old version or the new one.
    ProgramResult list = Emu({"list"});
    ASSERT_EQ(list.ExitCode, 0) << list.Output;
    std::string version = Info("VersionString");
    EXPECT_TRUE(version == "5.1.8.0" || version == "5.2.0.0") << version;
    // The cached database opens, each of its two edits whole or not made.
    std::string component = Component(cached, "registry461");
    EXPECT_TRUE(component == "Core" ||
                component == "KYROX.kyrm.9A0AD67F_1899_4E39_B406_AAD935BD48BE")
        << component;
    if (run.ExitCode == 0) break;
    ASSERT_EQ(run.ExitCode, -1) << run.Output;
  }
  EXPECT_GT(step, 6);
  EXPECT_EQ(Info("VersionString"), "5.2.0.0");
  EXPECT_EQ(Component(cached, "registry461"), "KYROX.kyrm.9A0AD67F_1899_4E39_B406_AAD935BD48BE");
  // A later start of the service clears the commit directories the kills left.
  ASSERT_EQ(Emu({"set", kStudio, "Note", "x"}).ExitCode, 0);
  EXPECT_EQ(EntryNames(root + "/cache"), std::vector<std::string>{kStudio + ".msi"});
}

}  // namespace
