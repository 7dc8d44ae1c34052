// The emulated installer service: products registered with installer-emu, queried and
// reconfigured with patch packages through the operations, each result code reached by
// setting up its cause for real.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix/installer_configure.h"
#include "platform/posix/installer_registry.h"
#include "support/msi_tables.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using namespace platform;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;

constexpr char kProduct[] = "{6F1C8A2E-5A1B-4C3D-9E8F-000000000001}";
constexpr char kOtherProduct[] = "{6F1C8A2E-5A1B-4C3D-9E8F-000000000002}";
constexpr char kPatchCode[] = "{0D5E6B1C-7F00-4A00-8B00-0000000000AA}";

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }
std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

testing_support::ProgramResult Emu(const std::vector<std::string>& arguments) {
  return testing_support::RunProgram(SPSETUP_INSTALLER_EMU, arguments);
}

// A scratch installer root with kProduct installed from a database made from table text.
class InstallerServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::ProductFacts product;
    product.ProductCode = kProduct;
    product.ProductVersion = "5.1.8.0";
    product.ProductName = "Kyro Suite";
    product.ProductLanguage = "1031";
    ASSERT_TRUE(testing_support::MakeProductDatabase(Scratch.Join("product.msi"), product));
    auto installed = Emu({"install", Scratch.Join("product.msi")});
    ASSERT_EQ(installed.ExitCode, 0) << installed.Output;
  }

  std::string Info(const std::string& code, const char16_t* property) {
    std::u16string buffer(1024, u'\0');
    DWORD count = 1024;
    UINT result = MsiGetProductInfoW(Wide(code).c_str(), property, buffer.data(), &count);
    EXPECT_EQ(result, ERROR_SUCCESS) << Narrow(property);
    return Narrow(buffer.c_str());
  }

  std::string MakePatch(const std::string& name, const std::string& targets,
                        const std::string& version = "5.2.0.0",
                        const std::string& fromVersion = "5.1.8.0") {
    testing_support::PatchFacts patch;
    patch.FromVersion = fromVersion;
    patch.Targets = targets;
    patch.PatchCode = kPatchCode;
    patch.RevisionTail = "{11111111-2222-4333-8444-555555555555}";
    patch.ProductVersion = version;
    std::string path = Scratch.Join(name);
    EXPECT_TRUE(testing_support::MakePatchPackage(path, patch));
    return path;
  }

  UINT Configure(const std::string& commandLine, const std::string& code = kProduct) {
    return MsiConfigureProductExW(Wide(code).c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_DEFAULT,
                                  Wide(commandLine).c_str());
  }

  // The spsetup command line shape, with the patch path in quotes.
  static std::string PatchCommandLine(const std::string& patch) {
    return "PATCH=\"" + patch +
           "\" PATCH_NO_UNINSTALL=0 REBOOTPROMPT=S FILESINUSETEXT=\"The following applications "
           "should be closed before continuing the install:\"";
  }

  ScratchDir Scratch;
  ScopedEnv Root{"EMU_INSTALLER_ROOT", Scratch.Join("installer root")};
};

TEST_F(InstallerServiceTest, ProductStateAndProperties) {
  EXPECT_EQ(MsiQueryProductStateW(Wide(kProduct).c_str()), INSTALLSTATE_DEFAULT);
  EXPECT_EQ(MsiQueryProductStateW(u"{6f1c8a2e-5a1b-4c3d-9e8f-000000000001}"), INSTALLSTATE_DEFAULT);
  EXPECT_EQ(MsiQueryProductStateW(Wide(kOtherProduct).c_str()), INSTALLSTATE_UNKNOWN);
  // An entry of a target list with a space around it is no product code.
  EXPECT_EQ(MsiQueryProductStateW(Wide(std::string(" ") + kProduct).c_str()),
            INSTALLSTATE_INVALIDARG);
  EXPECT_EQ(Info(kProduct, u"VersionString"), "5.1.8.0");
  EXPECT_EQ(Info(kProduct, u"ProductName"), "Kyro Suite");
  EXPECT_EQ(Info(kProduct, u"Language"), "1031");
  std::string cached = Info(kProduct, u"LocalPackage");
  EXPECT_EQ(testing_support::ReadRows(cached,
                                      "SELECT Value FROM Property WHERE Property = "
                                      "'ProductCode'"),
            (std::vector<std::vector<std::string>>{{kProduct}}));

  WCHAR buffer[8] = u"unset";
  DWORD count = 8;
  EXPECT_EQ(MsiGetProductInfoW(Wide(kOtherProduct).c_str(), u"VersionString", buffer, &count),
            ERROR_UNKNOWN_PRODUCT);
  EXPECT_EQ(MsiGetProductInfoW(Wide(kProduct).c_str(), u"NoSuchProperty", buffer, &count),
            ERROR_UNKNOWN_PROPERTY);
  EXPECT_EQ(Narrow(buffer), "unset");  // a failed read leaves the buffer alone
  count = 7;                           // "5.1.8.0" needs 8 with its terminator
  EXPECT_EQ(MsiGetProductInfoW(Wide(kProduct).c_str(), u"VersionString", buffer, &count),
            ERROR_MORE_DATA);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(Narrow(buffer), "5.1.8.");
}

TEST_F(InstallerServiceTest, AdvertisedProduct) {
  testing_support::ProductFacts product;
  product.ProductCode = kOtherProduct;
  ASSERT_TRUE(testing_support::MakeProductDatabase(Scratch.Join("other.msi"), product));
  auto installed = Emu({"install", Scratch.Join("other.msi"), "--advertise"});
  ASSERT_EQ(installed.ExitCode, 0) << installed.Output;
  EXPECT_EQ(MsiQueryProductStateW(Wide(kOtherProduct).c_str()), INSTALLSTATE_ADVERTISED);
  EXPECT_EQ(Info(kOtherProduct, u"VersionString"), "5.1.8.0");
}

TEST_F(InstallerServiceTest, PatchIsRecordedAndBringsItsVersion) {
  std::string patch = MakePatch("sp 1.msp", std::string(kOtherProduct) + ";" + kProduct + ";");
  EXPECT_EQ(Configure(PatchCommandLine(patch)), ERROR_SUCCESS);
  EXPECT_EQ(Info(kProduct, u"VersionString"), "5.2.0.0");
  EXPECT_EQ(Info(kProduct, u"Patches"), kPatchCode);
  // Applying it again records it once.
  EXPECT_EQ(Configure(PatchCommandLine(patch)), ERROR_SUCCESS);
  EXPECT_EQ(Info(kProduct, u"Patches"), kPatchCode);
}

// The package the build embeds puts its transforms into the cached database of a product
// released at a version it is for, and the product takes the version the patched database
// holds; a product whose tables or version the transforms do not fit is refused, as
// Windows Installer refuses it, and left as it was.
TEST_F(InstallerServiceTest, SamplePackageTransformsGoIntoTheCachedDatabase) {
  const std::string targets = testing_support::ReadSummaryProperty(SPSETUP_SAMPLE_PACKAGE, 7);
  const std::string kSampleTarget = targets.substr(0, targets.find(';'));
  const std::string patchCode =
      testing_support::ReadSummaryProperty(SPSETUP_SAMPLE_PACKAGE, 9).substr(0, 38);
  struct Case {
    std::string Version;
    bool WithTables;  // the Registry and Media tables of a released product
    UINT Expected;
  };
  const std::vector<Case> cases = {
      {"5.1.8.0", true, ERROR_SUCCESS},
      {"5.0.60.2", true, ERROR_SUCCESS},
      {"5.1.7.0", true, ERROR_PATCH_TARGET_NOT_FOUND},
      {"5.1.8.0", false, ERROR_INSTALL_TRANSFORM_FAILURE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Version + (c.WithTables ? " with" : " without") + " tables");
    testing_support::ProductFacts product;
    product.ProductCode = kSampleTarget;
    product.ProductVersion = c.Version;
    std::vector<testing_support::TableText> tables;
    if (c.WithTables) {
      tables = {testing_support::RegistryTable({{"registry461", 2, "SOFTWARE\\Norvane\\Kyro\\5.0",
                                                 "InstallDir", "x", "KYROX.kyrm.Core"}}),
                testing_support::MediaTable()};
    }
    ASSERT_TRUE(
        testing_support::MakeProductDatabase(Scratch.Join("sample target.msi"), product, tables));
    ASSERT_EQ(Emu({"install", Scratch.Join("sample target.msi")}).ExitCode, 0);
    const std::string cached = Info(kSampleTarget, u"LocalPackage");
    const std::optional<std::string> before = testing_support::ReadWholeFile(cached);

    EXPECT_EQ(Configure(PatchCommandLine(SPSETUP_SAMPLE_PACKAGE), kSampleTarget), c.Expected);
    if (c.Expected == ERROR_SUCCESS) {
      EXPECT_EQ(Info(kSampleTarget, u"VersionString"), "5.2.0.0");
      EXPECT_EQ(Info(kSampleTarget, u"Patches"), patchCode);
      EXPECT_EQ(testing_support::ReadRows(
                    cached, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductVersion'"),
                (std::vector<std::vector<std::string>>{{"5.2.0.0"}}));
      EXPECT_EQ(testing_support::ReadRows(cached,
                                          "SELECT `Name`, `Value` FROM `Registry` WHERE "
                                          "`Registry` = 'registryServicePack'"),
                (std::vector<std::vector<std::string>>{{"ServicePack", "5.2.0.0"}}));
      EXPECT_EQ(testing_support::ReadRows(cached, "SELECT * FROM `PatchPackage`"),
                (std::vector<std::vector<std::string>>{{patchCode, "100"}}));
    } else {
      EXPECT_EQ(Info(kSampleTarget, u"VersionString"), c.Version);
      EXPECT_EQ(testing_support::ReadWholeFile(cached), before);
    }
    ASSERT_EQ(Emu({"uninstall", kSampleTarget}).ExitCode, 0);
  }
  // Not a target of the sample package.
  EXPECT_EQ(Configure(PatchCommandLine(SPSETUP_SAMPLE_PACKAGE)), ERROR_PATCH_TARGET_NOT_FOUND);
}

TEST_F(InstallerServiceTest, EachRefusalHasItsCauseAndChangesNothing) {
  std::string productDatabase = Scratch.Join("product.msi");
  std::string junk = Scratch.WriteFile("junk.msp", "no patch package");
  std::string forOthers = MakePatch("others.msp", kOtherProduct);
  std::string good = MakePatch("good.msp", kProduct);
  std::string forAnotherVersion = MakePatch("other version.msp", kProduct, "5.2.0.0", "5.0.60.2");
  struct Case {
    std::string CommandLine;
    std::string Product;
    UINT Expected;
  };
  const std::vector<Case> cases = {
      {PatchCommandLine(good), kOtherProduct, ERROR_UNKNOWN_PRODUCT},
      {PatchCommandLine(Scratch.Join("missing.msp")), kProduct, ERROR_PATCH_PACKAGE_OPEN_FAILED},
      {PatchCommandLine(junk), kProduct, ERROR_PATCH_PACKAGE_OPEN_FAILED},
      {PatchCommandLine(productDatabase), kProduct, ERROR_PATCH_PACKAGE_OPEN_FAILED},
      {PatchCommandLine(forOthers), kProduct, ERROR_PATCH_TARGET_NOT_FOUND},
      // For this product, but released at another version: no transform fits.
      {PatchCommandLine(forAnotherVersion), kProduct, ERROR_PATCH_TARGET_NOT_FOUND},
      {"PATCH=\"" + good + ";" + forOthers + "\"", kProduct, ERROR_PATCH_TARGET_NOT_FOUND},
      {"PATCH=\"" + good, kProduct, ERROR_INVALID_COMMAND_LINE},
      {PatchCommandLine(good), "not a code", ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Configure(c.CommandLine, c.Product), c.Expected) << c.CommandLine;
    EXPECT_EQ(Info(kProduct, u"VersionString"), "5.1.8.0") << c.CommandLine;
  }
}

TEST_F(InstallerServiceTest, CachedDatabaseThatDoesNotOpen) {
  std::string patch = MakePatch("good.msp", kProduct);
  // The cached package is damaged after installation.
  Scratch.WriteFile("damaged.msi", "not a database any more");
  auto set = Emu({"set", kProduct, "LocalPackage", Scratch.Join("damaged.msi")});
  ASSERT_EQ(set.ExitCode, 0) << set.Output;
  EXPECT_EQ(Configure(PatchCommandLine(patch)), ERROR_INSTALL_PACKAGE_INVALID);
  EXPECT_EQ(Info(kProduct, u"VersionString"), "5.1.8.0");
}

TEST_F(InstallerServiceTest, SecondConfigurationWhileOneRuns) {
  std::string patch = MakePatch("good.msp", kProduct);
  // Another process holds the configuration, as a running reconfiguration does.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    posix::ScopedFileDescriptor lock = posix::LockFile(posix::ConfigureLockPath(), true);
    char byte = lock ? 'y' : 'n';
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  EXPECT_EQ(Configure(PatchCommandLine(patch)), ERROR_INSTALL_ALREADY_RUNNING);
  EXPECT_EQ(Info(kProduct, u"VersionString"), "5.1.8.0");
  kill(holder, SIGTERM);
  waitpid(holder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(Configure(PatchCommandLine(patch)), ERROR_SUCCESS);
}

TEST_F(InstallerServiceTest, ForcedResultIsReturnedOnce) {
  std::string patch = MakePatch("good.msp", kProduct);
  struct Case {
    UINT Forced;
    bool Applied;
  };
  for (Case c :
       {Case{1603, false}, Case{1602, false}, Case{3010, true}, Case{1641, true}, Case{0, true}}) {
    auto reset = Emu({"set", kProduct, "VersionString", "5.1.8.0"});
    ASSERT_EQ(reset.ExitCode, 0) << reset.Output;
    auto forced = Emu({"fail", kProduct, std::to_string(c.Forced)});
    ASSERT_EQ(forced.ExitCode, 0) << forced.Output;
    EXPECT_EQ(Configure(PatchCommandLine(patch)), c.Forced);
    EXPECT_EQ(Info(kProduct, u"VersionString"), c.Applied ? "5.2.0.0" : "5.1.8.0") << c.Forced;
    // Used up: the next configuration runs as normal.
    EXPECT_EQ(Configure(PatchCommandLine(patch)), ERROR_SUCCESS) << c.Forced;
  }
}

TEST_F(InstallerServiceTest, DamagedRegistryEntry) {
  Scratch.WriteFile(std::string("installer root/products/") + kProduct + ".product",
                    "spsetup-emu product 1\nstate\tfive\n");
  EXPECT_EQ(MsiQueryProductStateW(Wide(kProduct).c_str()), INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(Configure(PatchCommandLine(MakePatch("good.msp", kProduct))), ERROR_BAD_CONFIGURATION);
  auto info = Emu({"info", kProduct, "VersionString"});
  EXPECT_NE(info.ExitCode, 0);
  EXPECT_NE(info.Output.find("damaged registry entry"), std::string::npos) << info.Output;
}

// Each call on a known product is journaled with what it was asked and the cached
// database's rows as it found them, before it changed anything; a refused call too.
TEST_F(InstallerServiceTest, TheJournalRecordsEachCallAndTheRowsItFound) {
  testing_support::ProductFacts product;
  product.ProductCode = kOtherProduct;
  ASSERT_TRUE(testing_support::MakeProductDatabase(
      Scratch.Join("other.msi"), product,
      {testing_support::InstallExecuteSequenceTable({{"InstallFinalize", "", 6600},
                                                     {"HarvestInstallSelection", "Installed", 1080},
                                                     {"CostInitialize", "", 800}}),
       testing_support::RegistryTable({{"registry461", 2, "SOFTWARE\\Kyro", "Dir", "x", "Core"},
                                       {"aKey", 2, "SOFTWARE\\Kyro", "B", "2", "Core"}})}));
  ASSERT_EQ(Emu({"install", Scratch.Join("other.msi")}).ExitCode, 0);
  EXPECT_EQ(Emu({"journal", kOtherProduct}).Output, "");  // never configured

  std::string patch = MakePatch("other.msp", kOtherProduct);
  const std::string commandLine = "PATCH=\"" + patch + "\" A=\"two\nlines\"";
  EXPECT_EQ(MsiConfigureProductExW(Wide(kOtherProduct).c_str(), 1, INSTALLSTATE_DEFAULT,
                                   Wide(commandLine).c_str()),
            ERROR_SUCCESS);
  EXPECT_EQ(MsiConfigureProductExW(Wide(kOtherProduct).c_str(), -1, INSTALLSTATE_DEFAULT, nullptr),
            ERROR_INVALID_PARAMETER);
  testing_support::ProgramResult journal = Emu({"journal", kOtherProduct});
  EXPECT_EQ(journal.ExitCode, 0);
  const std::string found =
      "sequence\tCostInitialize\t\n"
      "sequence\tHarvestInstallSelection\tInstalled\n"
      "sequence\tInstallFinalize\t\n"
      "registry\taKey\tCore\n"
      "registry\tregistry461\tCore\n";
  EXPECT_EQ(journal.Output, "call\t1\nlevel\t1\nstate\t5\ncommandline\tPATCH=\"" + patch +
                                "\" A=\"two\\nlines\"\n" + found + "result\t0\n" +
                                "call\t2\nlevel\t-1\nstate\t5\ncommandline\t\n" + found +
                                "result\t87\n");
  // Calls on other products are not in it; an unknown code is refused.
  EXPECT_EQ(Emu({"journal", kProduct}).Output, "");
  EXPECT_NE(Emu({"journal", "{6F1C8A2E-5A1B-4C3D-9E8F-0000000000FF}"}).ExitCode, 0);
  // A product installed again starts a journal of its own.
  ASSERT_EQ(Emu({"uninstall", kOtherProduct}).ExitCode, 0);
  ASSERT_EQ(Emu({"install", Scratch.Join("other.msi")}).ExitCode, 0);
  EXPECT_EQ(Emu({"journal", kOtherProduct}).Output, "");
}

// The log MsiEnableLogW names gets each configuration's record, framed, in whole lines.
TEST_F(InstallerServiceTest, TheInstallerLogGetsEachConfigurationsRecord) {
  const std::string log = Scratch.Join("installer.log");
  Scratch.WriteFile("installer.log", "older\n");
  EXPECT_EQ(MsiEnableLogW(0, Wide(log).c_str(), INSTALLLOGATTRIBUTES_APPEND),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiEnableLogW(INSTALLLOGMODE_VERBOSE, Wide(log).c_str(), 0), ERROR_SUCCESS);
  EXPECT_EQ(Scratch.ReadFile("installer.log"), "") << "without APPEND the old log goes at once";
  EXPECT_EQ(MsiEnableLogW(INSTALLLOGMODE_VERBOSE, Wide(log).c_str(), INSTALLLOGATTRIBUTES_APPEND),
            ERROR_SUCCESS);
  std::string patch = MakePatch("sp.msp", kProduct);
  ASSERT_EQ(Configure(PatchCommandLine(patch)), ERROR_SUCCESS);
  // Turned off: the next configuration leaves the file as it was.
  EXPECT_EQ(MsiEnableLogW(INSTALLLOGMODE_VERBOSE, nullptr, 0), ERROR_SUCCESS);
  Configure(PatchCommandLine(patch));

  std::vector<std::string> lines;
  std::istringstream in(Scratch.ReadFile("installer.log").value_or(""));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines.front().rfind("=== Logging started: ", 0), 0u) << lines.front();
  EXPECT_NE(lines.front().find(kProduct), std::string::npos) << lines.front();
  EXPECT_EQ(lines[3], "MSI (emulated): commandline\t" + PatchCommandLine(patch));
  EXPECT_EQ(lines[lines.size() - 2], "MSI (emulated): result\t0");
  EXPECT_EQ(lines.back().rfind("=== Logging stopped: ", 0), 0u) << lines.back();
}

// Levels and states as Windows takes them: the level counts only with the default state.
TEST_F(InstallerServiceTest, LevelsAndStatesWindowsRefuses) {
  std::string patch = MakePatch("good.msp", kProduct);
  const std::string unknown = "{6F1C8A2E-5A1B-4C3D-9E8F-0000000000FF}";
  struct Case {
    int Level;
    INSTALLSTATE State;
    std::string Product;
    UINT Expected;
  };
  const Case cases[] = {
      {-1, INSTALLSTATE_DEFAULT, kProduct, ERROR_INVALID_PARAMETER},
      {65536, INSTALLSTATE_DEFAULT, kProduct, ERROR_INVALID_PARAMETER},
      {0, 0, kProduct, ERROR_INVALID_PARAMETER},
      {0, 6, kProduct, ERROR_INVALID_PARAMETER},
      {0, INSTALLSTATE_UNKNOWN, kProduct, ERROR_INVALID_PARAMETER},
      {-1, INSTALLSTATE_DEFAULT, unknown, ERROR_INVALID_PARAMETER},  // before the product
      {0, INSTALLSTATE_DEFAULT, unknown, ERROR_UNKNOWN_PRODUCT},
      // Taken by Windows, not modelled here; the level does not count.
      {70000, INSTALLSTATE_ABSENT, kProduct, 120},
      {0, INSTALLSTATE_ADVERTISED, kProduct, 120},
      {0, 3, kProduct, 120},
      {0, 4, kProduct, 120},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MsiConfigureProductExW(Wide(c.Product).c_str(), c.Level, c.State,
                                     Wide(PatchCommandLine(patch)).c_str()),
              c.Expected)
        << c.Level << " " << c.State << " " << c.Product;
    EXPECT_EQ(Info(kProduct, u"VersionString"), "5.1.8.0");
  }
  for (int level : {0, 1, 65535}) {
    EXPECT_EQ(MsiConfigureProductExW(Wide(kProduct).c_str(), level, INSTALLSTATE_DEFAULT,
                                     Wide(PatchCommandLine(patch)).c_str()),
              ERROR_SUCCESS)
        << level;
  }
}

TEST(InstallerPropertySyntax, CommandLines) {
  using Properties = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    std::u16string Line;
    bool Parses;
    Properties Expected;
  };
  const std::vector<Case> cases = {
      {u"", true, {}},
      {u"  A=1\tB=two  ", true, {{"A", "1"}, {"B", "two"}}},
      {u"PATCH=\"/tmp/a b/MSP1.tmp\" REBOOTPROMPT=S",
       true,
       {{"PATCH", "/tmp/a b/MSP1.tmp"}, {"REBOOTPROMPT", "S"}}},
      {u"T=\"say \"\"hi\"\"\"", true, {{"T", "say \"hi\""}}},
      {u"E=\"\" F=", true, {{"E", ""}, {"F", ""}}},
      {u"M=a\"b c\"d", true, {{"M", "ab cd"}}},
      {u"PATCH=a;b;c", true, {{"PATCH", "a;b;c"}}},
      {u"NOEQUALS", false, {}},
      {u"=value", false, {}},
      {u"A=\"unterminated", false, {}},
      {u"A=1 \"B\"=2", false, {}},
  };
  for (const Case& c : cases) {
    std::vector<posix::PropertyAssignment> parsed;
    EXPECT_EQ(posix::ParsePropertyCommandLine(c.Line, parsed), c.Parses) << Narrow(c.Line);
    if (!c.Parses) continue;
    Properties got;
    for (const auto& property : parsed)
      got.emplace_back(Narrow(property.Name), Narrow(property.Value));
    EXPECT_EQ(got, c.Expected) << Narrow(c.Line);
  }
}

}  // namespace
