// The default run through the built executable, on a scratch emulated machine set up with
// installer-emu, as a user meets it: the boxes seen, the products' versions, the cached
// databases and the temporary package afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "app/process_state.h"
#include "support/catalogue.h"
#include "support/dialog_log.h"
#include "support/msi_tables.h"
#include "support/named_process.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using namespace testing_support;

// The sample package's three targets, in the order of its target list.
const std::string kStudio = "{6F0C2A51-5B2E-4D7A-9C3E-0A1B2C3D4E51}";
const std::string kViewer = "{A3D91E07-7C44-4B19-8E2F-3C5D6E7F8091}";
const std::string kServer = "{D2B7F6C3-19A8-4E5D-B0C1-7E8F9A0B1C2D}";

const std::vector<std::string> kRewrittenActions = {
    "ResolveSourceDir",         "SetMergeManufacturerMDBCD",
    "MergeManufacturerMDBCD",   "SetMergeManufacturerMDBCDEX",
    "MergeManufacturerMDBCDEX", "SetUncabManufacturerCD",
    "UncabManufacturerCD",      "HarvestInstallSelection"};
const char kConditionThree[] = "Installed AND NOT MSIPATCHREMOVE";
const char kNewComponent[] = "KYROX.kyrm.9A0AD67F_1899_4E39_B406_AAD935BD48BE";

struct Product {
  std::string Code;
  std::string Name;
  std::string Version;
  std::string Language;
};

class InstallRun : public testing::Test {
 protected:
  void Install(const Product& product) {
    std::string package = scratch.Join("product-" + product.Language + product.Version + ".msi");
    ASSERT_TRUE(MakeProductDatabase(
        package, {product.Code, product.Version, product.Name, product.Language},
        {InstallExecuteSequenceTable({{"CostInitialize", "", 800},
                                      {"ResolveSourceDir", "NOT Installed", 1010},
                                      {"SetMergeManufacturerMDBCD", "NOT Installed", 1020},
                                      {"MergeManufacturerMDBCD", "NOT Installed", 1030},
                                      {"SetMergeManufacturerMDBCDEX", "NOT Installed", 1040},
                                      {"MergeManufacturerMDBCDEX", "NOT Installed", 1050},
                                      {"SetUncabManufacturerCD", "NOT Installed", 1060},
                                      {"UncabManufacturerCD", "NOT Installed", 1070},
                                      {"HarvestInstallSelection", "Installed", 1080},
                                      {"InstallFinalize", "", 6600}}),
         RegistryTable(
             {{"registry461", 2, "SOFTWARE\\Norvane\\Kyro", "Dir", "x", "Core"},
              {"KYROMiniDump_SendAppArgs", 2, "SOFTWARE\\Norvane\\Kyro", "A", "1", "Core"},
              {"registryOther", 2, "SOFTWARE\\Norvane\\Kyro", "B", "2", "Core"}}),
         MediaTable()}));
    ProgramResult result = Emu({"install", package});
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
  }

  ProgramResult Emu(const std::vector<std::string>& arguments) {
    return RunProgram(SPSETUP_INSTALLER_EMU, arguments, Environment());
  }

  std::string Info(const std::string& code, const std::string& property) {
    std::string value = Emu({"info", code, property}).Output;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
  }

  std::vector<std::pair<std::string, std::string>> Environment() {
    std::vector<std::pair<std::string, std::string>> environment = {
        {"EMU_INSTALLER_ROOT", scratch.Join("installer")},
        {"TMP", tmpDirectory},
        {"EMU_USER_LCID", userLanguage},
        {"EMU_DIALOG_LOG", scratch.Join("dialogs.log")},
        {"EMU_DIALOG_SCRIPT", script},
        {kProcessScopeVariable, scratch.Path()}};
    environment.insert(environment.end(), moreEnvironment.begin(), moreEnvironment.end());
    return environment;
  }

  std::vector<DialogRecord> Run(const std::vector<std::string>& arguments = {}) {
    ProgramResult result = RunProgram(SPSETUP_EXE, arguments, Environment(), scratch.Path());
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    return ReadDialogLog(scratch.Join("dialogs.log"));
  }

  // Condition by action, component by registry key, of a product's cached database.
  std::map<std::string, std::string> CachedRows(const std::string& code) {
    std::string cache = Info(code, "LocalPackage");
    std::map<std::string, std::string> rows;
    for (const auto& row : ReadRows(cache, "SELECT Action,Condition FROM InstallExecuteSequence")) {
      rows[row[0]] = row[1];
    }
    for (const auto& row : ReadRows(cache, "SELECT Registry,Component_ FROM Registry")) {
      rows[row[0]] = row[1];
    }
    return rows;
  }

  void ExpectFixedUp(const std::string& code) {
    std::map<std::string, std::string> rows = CachedRows(code);
    EXPECT_EQ(rows["HarvestInstallSelection"], kConditionThree);
    EXPECT_EQ(rows["ResolveSourceDir"].rfind("NOT Installed OR (REINSTALLMODE", 0), 0u);
    EXPECT_EQ(rows["registry461"], kNewComponent);
    EXPECT_EQ(rows["KYROMiniDump_SendAppArgs"], kNewComponent);
    EXPECT_EQ(rows["registryOther"], "Core");
    EXPECT_EQ(rows["CostInitialize"], "");
  }

  // The rows the patch's transforms bring: its version, its registry value, its medium.
  void ExpectPatched(const std::string& code, bool patched) {
    std::string cached = Info(code, "LocalPackage");
    std::vector<std::vector<std::string>> registry =
        ReadRows(cached, "SELECT `Value` FROM `Registry` WHERE `Registry` = 'registryServicePack'");
    std::vector<std::vector<std::string>> media =
        ReadRows(cached, "SELECT `DiskId` FROM `Media` WHERE `DiskId` = 100");
    EXPECT_EQ(registry.size(), patched ? 1u : 0u);
    EXPECT_EQ(media.size(), patched ? 1u : 0u);
    if (patched) {
      EXPECT_EQ(
          ReadRows(cached, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductVersion'"),
          (std::vector<std::vector<std::string>>{{"5.2.0.0"}}));
    }
  }

  void ExpectUntouched(const std::string& code) {
    std::map<std::string, std::string> rows = CachedRows(code);
    EXPECT_EQ(rows["HarvestInstallSelection"], "Installed");
    EXPECT_EQ(rows["registry461"], "Core");
    EXPECT_EQ(Emu({"journal", code}).Output, "") << "the installer was asked about " << code;
  }

  // The installer's journal shows one call, with the authored default level (0) and the
  // default state (5), that found the cached database already corrected: the fix-up came
  // first. A driver that patched first, or asked for another level, fails here.
  void ExpectAskedOnceAfterFixUp(const std::string& code, const std::string& result) {
    ProgramResult journal = Emu({"journal", code});
    ASSERT_EQ(journal.ExitCode, 0) << journal.Output;
    std::vector<std::string> lines;
    std::istringstream in(journal.Output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    auto has = [&lines](const std::string& line) {
      return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("call\t", 0) == 0; }),
              1)
        << journal.Output;
    EXPECT_TRUE(has("level\t0")) << journal.Output;
    EXPECT_TRUE(has("state\t5")) << journal.Output;
    EXPECT_TRUE(has("result\t" + result)) << journal.Output;
    EXPECT_TRUE(has(std::string("sequence\tHarvestInstallSelection\t") + kConditionThree))
        << journal.Output;
    EXPECT_TRUE(has(std::string("registry\tregistry461\t") + kNewComponent)) << journal.Output;
    EXPECT_TRUE(has(std::string("registry\tKYROMiniDump_SendAppArgs\t") + kNewComponent))
        << journal.Output;
    EXPECT_TRUE(has("registry\tregistryOther\tCore")) << journal.Output;
    auto commandLine = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("commandline\t", 0) == 0;
    });
    ASSERT_NE(commandLine, lines.end());
    EXPECT_EQ(commandLine->rfind("commandline\tPATCH=\"" + tmpDirectory, 0), 0u) << *commandLine;
  }

  ScratchDir scratch;
  ScratchDir temp;
  // What TMP names, and the user's default language.
  std::string tmpDirectory = temp.Path();
  std::string userLanguage = "1033";
  std::string script;
  std::vector<std::pair<std::string, std::string>> moreEnvironment;
};

struct Box {
  std::u16string Caption;
  std::u16string Text;
  unsigned long Style;
};

void ExpectBoxes(const std::vector<DialogRecord>& seen, const std::vector<Box>& expected) {
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].Caption, expected[i].Caption);
    EXPECT_EQ(seen[i].Text, expected[i].Text);
    EXPECT_EQ(seen[i].Style, expected[i].Style);
  }
}

TEST_F(InstallRun, EveryProductUpToDateEndsWithOneMessageInTheUsersLanguage) {
  Install({kStudio, "Kyro Studio", "5.2.0.0", "1031"});
  Install({kServer, "Kyro Server", "5.2", "1041"});  // parses to 5.0.0.0: not up to date
  Install({kViewer, "Kyro Viewer", "5.2.0", "1041"});
  // Server is classified by the walk and named in 308; only a list of up-to-date products
  // gets the closing 306, so the case of all up to date comes after.
  auto mixed = Run();
  ExpectBoxes(mixed, {{Catalogue(311, 1041), Catalogue(308, 1041, u"Kyro Server"), 0x50010}});
  EXPECT_TRUE(testing_support::EntryNames(tmpDirectory).empty());

  ASSERT_EQ(Emu({"set", kServer, "VersionString", "5,2,0,0"}).ExitCode, 0);
  std::filesystem::remove(scratch.Join("dialogs.log"));
  ExpectBoxes(Run(), {{Catalogue(313, 1033), Catalogue(306, 1033, u"Kyro Server"), 0x50010}});
  EXPECT_TRUE(testing_support::EntryNames(tmpDirectory).empty());
  EXPECT_EQ(Info(kStudio, "VersionString"), "5.2.0.0");
}

TEST_F(InstallRun, UpToDateAndNotApplicableReportsOnlyTheSecondInItsLanguage) {
  Install({kStudio, "Kyro Studio", "5.2.0.0", "1033"});
  Install({kViewer, "Kyro Viewer", "5.1.9.0", "1031"});
  ExpectBoxes(Run(), {{Catalogue(311, 1031), Catalogue(308, 1031, u"Kyro Viewer"), 0x50010}});
  EXPECT_EQ(Info(kViewer, "VersionString"), "5.1.9.0");
  ExpectUntouched(kViewer);
  EXPECT_TRUE(testing_support::EntryNames(tmpDirectory).empty());
}

TEST_F(InstallRun, TwoApplicableProductsTheFirstRefusedEachInItsLanguage) {
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1031"});
  Install({kServer, "Kyro Server", "5.0.60.2", "1041"});
  ASSERT_EQ(Emu({"fail", kStudio, "1603"}).ExitCode, 0);
  ExpectBoxes(Run(), {{Catalogue(311, 1031), Catalogue(300, 1031, u"1603"), 0x50010},
                      {Catalogue(312, 1041), Catalogue(301, 1041), 0x50040}});
  EXPECT_EQ(Info(kStudio, "VersionString"), "5.1.8.0");
  EXPECT_EQ(Info(kServer, "VersionString"), "5.2.0.0");
  // Both cached databases were corrected before the installer was asked.
  ExpectFixedUp(kStudio);
  ExpectFixedUp(kServer);
  ExpectAskedOnceAfterFixUp(kStudio, "1603");
  ExpectAskedOnceAfterFixUp(kServer, "0");
  EXPECT_TRUE(testing_support::EntryNames(tmpDirectory).empty());
}

TEST_F(InstallRun, RestartResultsCountAsSuccess) {
  for (const char* result : {"3010", "1641"}) {
    SCOPED_TRACE(result);
    Install({kViewer, "Kyro Viewer", "5.1.8.0", "1033"});
    ASSERT_EQ(Emu({"fail", kViewer, result}).ExitCode, 0);
    ExpectBoxes(Run(), {{u"Installation Successful",
                         u"The service pack has been successfully installed.", 0x50040}});
    EXPECT_EQ(Info(kViewer, "VersionString"), "5.2.0.0");
    ASSERT_EQ(Emu({"uninstall", kViewer}).ExitCode, 0);
    std::filesystem::remove(scratch.Join("dialogs.log"));
  }
}

// A Language that is empty or no number reads as 0, and SetThreadLocale(0) selects the
// user's default language, as on Windows: also after a product of another language.
TEST_F(InstallRun, ALanguageThatIsNoNumberGetsTheUsersLanguage) {
  userLanguage = "1036";
  Install({kViewer, "Kyro Viewer", "5.1.9.0", "1031"});
  ASSERT_EQ(Emu({"set", kViewer, "Language", "Deutsch"}).ExitCode, 0);
  ExpectBoxes(Run(), {{Catalogue(311, 1036), Catalogue(308, 1036, u"Kyro Viewer"), 0x50010}});

  Install({kStudio, "Kyro Studio", "5.2.0.0", "1031"});
  ASSERT_EQ(Emu({"set", kViewer, "Language", ""}).ExitCode, 0);
  std::filesystem::remove(scratch.Join("dialogs.log"));
  ExpectBoxes(Run(), {{Catalogue(311, 1036), Catalogue(308, 1036, u"Kyro Viewer"), 0x50010}});
}

// The PATCH value stays one value in a temporary directory whose name holds a space, and an
// up-to-date product after a patched one adds no closing message.
TEST_F(InstallRun, AnApplicableProductThenAnUpToDateOneFromADirectoryWithASpace) {
  tmpDirectory = temp.Join("Temp Files");
  ASSERT_TRUE(std::filesystem::create_directory(tmpDirectory));
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1033"});
  Install({kViewer, "Kyro Viewer", "5.2.0.0", "1033"});
  ExpectBoxes(Run(), {{u"Installation Successful",
                       u"The service pack has been successfully installed.", 0x50040}});
  EXPECT_EQ(Info(kStudio, "VersionString"), "5.2.0.0");
  ExpectFixedUp(kStudio);
  ExpectAskedOnceAfterFixUp(kStudio, "0");
  ExpectPatched(kStudio, true);
  ExpectUntouched(kViewer);
  ExpectPatched(kViewer, false);
  EXPECT_TRUE(testing_support::EntryNames(tmpDirectory).empty());
}

// A relative TMP (the run starts in the scratch directory) still hands the installer an
// absolute package name: the installer service resolves a relative one in its own directory.
TEST_F(InstallRun, ARelativeTmpHandsTheInstallerAnAbsolutePackageName) {
  tmpDirectory = "relative tmp";
  ASSERT_TRUE(std::filesystem::create_directory(scratch.Join(tmpDirectory)));
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1033"});
  ExpectBoxes(Run(), {{u"Installation Successful",
                       u"The service pack has been successfully installed.", 0x50040}});
  std::string expected = std::filesystem::canonical(scratch.Path()).string() + "/relative tmp/MSP";
  EXPECT_EQ(Info(kStudio, "LastPatchSource").rfind(expected, 0), 0u)
      << Info(kStudio, "LastPatchSource");
  EXPECT_TRUE(testing_support::EntryNames(scratch.Join(tmpDirectory)).empty());
}

// An installer that refuses to replace rows through a view of two columns, as Wine's
// msi.dll does: the fix-up updates the same rows in place, and their other columns stay.
TEST_F(InstallRun, RowsTheInstallerRefusesToReplaceAreUpdatedKeepingTheirOtherColumns) {
  moreEnvironment = {{"EMU_INSTALLER_REFUSE_REPLACE", "1"}};
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1033"});
  ExpectBoxes(Run(), {{u"Installation Successful",
                       u"The service pack has been successfully installed.", 0x50040}});
  ExpectFixedUp(kStudio);
  std::string cache = Info(kStudio, "LocalPackage");
  std::map<std::string, std::string> sequence;
  for (const auto& row : ReadRows(cache, "SELECT Action,Sequence FROM InstallExecuteSequence")) {
    sequence[row[0]] = row[1];
  }
  EXPECT_EQ(sequence["ResolveSourceDir"], "1010");
  EXPECT_EQ(sequence["HarvestInstallSelection"], "1080");
  EXPECT_EQ(sequence.size(), 10u);
  std::vector<std::vector<std::string>> registry =
      ReadRows(cache,
               "SELECT `Registry`,`Root`,`Key`,`Name`,`Value` FROM `Registry` "
               "WHERE `Registry`='registry461'");
  ASSERT_EQ(registry.size(), 1u);
  EXPECT_EQ(registry[0],
            (std::vector<std::string>{"registry461", "2", "SOFTWARE\\Norvane\\Kyro", "Dir", "x"}));
}

// Kyro Server was released at 5.0.60.2 only: at 5.1.8.0, a version the service pack names,
// none of the package's transforms fits it, and the installer refuses the patch with 1642
// as Windows Installer does. The fix-up has run; the patch has not.
TEST_F(InstallRun, AProductNoTransformFitsIsRefusedByTheInstaller) {
  Install({kServer, "Kyro Server", "5.1.8.0", "1041"});
  ExpectBoxes(Run(), {{Catalogue(311, 1041), Catalogue(300, 1041, u"1642"), 0x50010}});
  EXPECT_EQ(Info(kServer, "VersionString"), "5.1.8.0");
  ExpectFixedUp(kServer);
  ExpectPatched(kServer, false);
}

// A package path holding ";" would name two packages to the installer: each applicable
// product is refused with message 300 before its cached database is touched, and the loop
// still runs to its end.
TEST_F(InstallRun, APackagePathWithASemicolonIsRefusedForEachProduct) {
  tmpDirectory = temp.Join("a;b");
  ASSERT_TRUE(std::filesystem::create_directory(tmpDirectory));
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1031"});
  Install({kServer, "Kyro Server", "5.0.60.2", "1041"});
  ExpectBoxes(Run(), {{Catalogue(311, 1031), Catalogue(300, 1031, u"123"), 0x50010},
                      {Catalogue(311, 1041), Catalogue(300, 1041, u"123"), 0x50010}});
  EXPECT_EQ(Info(kStudio, "VersionString"), "5.1.8.0");
  EXPECT_EQ(Info(kServer, "VersionString"), "5.0.60.2");
  ExpectUntouched(kStudio);
  ExpectUntouched(kServer);
  EXPECT_TRUE(testing_support::EntryNames(tmpDirectory).empty());
}

// The guard runs only once a target was found: a running host application draws no question.
TEST_F(InstallRun, NoTargetInstalledLeavesTheTemporaryPackage) {
  Install({"{11111111-2222-3333-4444-555555555555}", "Other", "5.1.8.0", "1033"});
  NamedProcess host(scratch.Path(), "kyro.exe");
  script = "retry,retry";
  ExpectBoxes(Run(), {{u"Installation Error", Catalogue(307, 1033), 0x50010}});
  EXPECT_EQ(testing_support::EntryNames(tmpDirectory), std::vector<std::string>{"MSP2"});
}

TEST_F(InstallRun, CancelledGuardPatchesNothing) {
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1031"});
  NamedProcess host(scratch.Path(), "kyro.exe");
  script = "retry,cancel";
  std::vector<DialogRecord> boxes = Run();
  ASSERT_EQ(boxes.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(boxes[i].Style, 0x50015u);
    EXPECT_EQ(boxes[i].Caption, Catalogue(311, 1033));
    EXPECT_NE(boxes[i].Text.find(u"Velmora\n"), std::u16string::npos);
  }
  EXPECT_EQ(boxes[0].Answer, 4);
  EXPECT_EQ(boxes[1].Answer, 2);
  EXPECT_EQ(boxes[2].Caption, u"Installation Error");
  EXPECT_EQ(boxes[2].Text.find(u"A problem prevented"), 0u);
  EXPECT_EQ(Info(kStudio, "VersionString"), "5.1.8.0");
  ExpectUntouched(kStudio);
  EXPECT_EQ(testing_support::EntryNames(tmpDirectory).size(), 1u);
}

TEST_F(InstallRun, QuietRunShowsNothingButTheGuard) {
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1031"});
  {
    NamedProcess host(scratch.Path(), "KYRO.EXE");
    script = "cancel";
    std::vector<DialogRecord> boxes = Run({"/q"});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Style, 0x50015u);
    EXPECT_EQ(Info(kStudio, "VersionString"), "5.1.8.0");
    ExpectUntouched(kStudio);
  }
  // The cancelled run's package stays; the completed run removes only its own.
  EXPECT_EQ(testing_support::EntryNames(tmpDirectory), std::vector<std::string>{"MSP2"});
  std::filesystem::remove(scratch.Join("dialogs.log"));
  EXPECT_TRUE(Run({"/q"}).empty());
  EXPECT_EQ(Info(kStudio, "VersionString"), "5.2.0.0");
  ExpectFixedUp(kStudio);
  ExpectAskedOnceAfterFixUp(kStudio, "0");
  EXPECT_EQ(testing_support::EntryNames(tmpDirectory), std::vector<std::string>{"MSP2"});
}

// The administrator's log ("/log PATH").

// The lines of a log without their time stamp and process id, each checked for them.
std::vector<std::string> LogLines(const std::string& content) {
  static const std::regex kStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[\d+\] )");
  std::vector<std::string> lines;
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "no CR LF: " << line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch stamp;
    EXPECT_TRUE(std::regex_search(line, stamp, kStamp)) << "not a whole line: " << line;
    lines.push_back(stamp.empty() ? line : stamp.suffix().str());
  }
  return lines;
}

std::vector<std::string> Starting(const std::vector<std::string>& lines,
                                  const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

TEST_F(InstallRun, AQuietRunsLogNamesEveryProductsOutcome) {
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1031"});
  Install({kViewer, "Kyro Viewer", "5.1.9.0", "1041"});
  Install({kServer, "Kyro Server", "5.2.0.0", "1031"});
  EXPECT_TRUE(Run({"/q", "/log", "run.log"}).empty());
  EXPECT_EQ(Info(kStudio, "VersionString"), "5.2.0.0");

  std::vector<std::string> lines = LogLines(scratch.ReadFile("run.log").value_or(""));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "spsetup 1.0.0 started");
  EXPECT_EQ(lines.back(), "spsetup finished");
  EXPECT_EQ(Starting(lines, "options: "),
            std::vector<std::string>{"options: install yes, quiet yes, extract no, patch list no, "
                                     "product list no, log \"" +
                                     scratch.Join("run.log") + "\""});
  EXPECT_EQ(Starting(lines, "installed target: " + kStudio),
            std::vector<std::string>{"installed target: " + kStudio +
                                     " \"Kyro Studio\", version 5.1.8.0, language 1031, "
                                     "cached package \"" +
                                     Info(kStudio, "LocalPackage") + "\""});
  EXPECT_EQ(Starting(lines, "fix-up: "),
            (std::vector<std::string>{
                "fix-up: InstallExecuteSequence: 8 rows rewritten, committed (result 0)",
                "fix-up: Registry: 2 rows rewritten, committed (result 0)"}));
  EXPECT_EQ(Starting(lines, "patch " + kStudio + ": the installer"),
            std::vector<std::string>{"patch " + kStudio + ": the installer returned 0"});
  EXPECT_EQ(Starting(lines, "message "),
            (std::vector<std::string>{"message 301 not shown (quiet run)",
                                      "message 308 not shown (quiet run)"}));
  EXPECT_EQ(Starting(lines, "summary: "),
            (std::vector<std::string>{"summary: " + kStudio + " \"Kyro Studio\": patched",
                                      "summary: " + kViewer + " \"Kyro Viewer\": not applicable",
                                      "summary: " + kServer + " \"Kyro Server\": up to date",
                                      "summary: the run ended normally"}));

  // The installer's account of the patch, beside ours.
  std::string installerLog = scratch.ReadFile("run.log.installer.log").value_or("");
  EXPECT_NE(installerLog.find(kStudio), std::string::npos) << installerLog;
  EXPECT_NE(installerLog.find("PATCH=\"" + tmpDirectory), std::string::npos) << installerLog;
  EXPECT_EQ(Starting(lines, "installer log: "),
            std::vector<std::string>{"installer log: " + scratch.Join("run.log.installer.log") +
                                     " (result 0)"});
}

TEST_F(InstallRun, ALogNamesAFailureAndWhereTheRunEnded) {
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1031"});
  Install({kServer, "Kyro Server", "5.2.0.0", "1031"});
  ASSERT_EQ(Emu({"fail", kStudio, "1603"}).ExitCode, 0);
  Run({"/log", "run.log"});
  {
    NamedProcess host(scratch.Path(), "kyro.exe");
    script = "cancel";
    Run({"/log", "run.log"});
  }
  std::vector<std::string> lines = LogLines(scratch.ReadFile("run.log").value_or(""));
  // Two runs, one after the other, in the same file.
  EXPECT_EQ(Starting(lines, "spsetup 1.0.0 started").size(), 2u);
  EXPECT_EQ(
      Starting(lines, "summary: "),
      (std::vector<std::string>{
          "summary: " + kStudio + " \"Kyro Studio\": failed with code 1603",
          "summary: " + kServer + " \"Kyro Server\": up to date", "summary: the run ended normally",
          "summary: " + kStudio + " \"Kyro Studio\": not reached",
          "summary: " + kServer + " \"Kyro Server\": not reached",
          "summary: the run ended early at waiting for the host application"}));
  std::vector<std::string> boxes = Starting(lines, "message ");
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].rfind("message 300 \"", 0), 0u) << boxes[0];
  EXPECT_NE(boxes[0].find("1603"), std::string::npos) << boxes[0];
  EXPECT_EQ(boxes[1].rfind("message 315 \"", 0), 0u) << boxes[1];
  EXPECT_NE(boxes[1].find(" answered 2"), std::string::npos) << boxes[1];
}

// A log that cannot be had changes nothing else: the same boxes, nothing written through
// a link or into a directory that was not there.
TEST_F(InstallRun, ALogThatCannotBeOpenedChangesNothingElse) {
  Install({kViewer, "Kyro Viewer", "5.1.9.0", "1041"});
  scratch.WriteFile("victim", "keep\n");
  ASSERT_EQ(symlink(scratch.Join("victim").c_str(), scratch.Join("link.log").c_str()), 0);
  ASSERT_EQ(mkfifo(scratch.Join("fifo.log").c_str(), 0600), 0);
  std::vector<DialogRecord> without = Run();
  ASSERT_EQ(without.size(), 1u);
  for (const char* path : {"no/such/directory/run.log", "link.log", "fifo.log"}) {
    SCOPED_TRACE(path);
    std::filesystem::remove(scratch.Join("dialogs.log"));
    std::vector<DialogRecord> with = Run({"/log", path});
    ASSERT_EQ(with.size(), 1u);
    EXPECT_EQ(with[0].Text, without[0].Text);
    EXPECT_EQ(with[0].Style, without[0].Style);
  }
  EXPECT_EQ(scratch.ReadFile("victim"), "keep\n");
  EXPECT_FALSE(std::filesystem::exists(scratch.Join("no")));
  EXPECT_TRUE(std::filesystem::is_symlink(scratch.Join("link.log")));

  // An applicable product is patched all the same.
  Install({kStudio, "Kyro Studio", "5.1.8.0", "1031"});
  std::filesystem::remove(scratch.Join("dialogs.log"));
  EXPECT_TRUE(Run({"/q", "/log", "no/such/directory/run.log"}).empty());
  EXPECT_EQ(Info(kStudio, "VersionString"), "5.2.0.0");
  EXPECT_FALSE(std::filesystem::exists(scratch.Join("no")));
}

TEST_F(InstallRun, ConcurrentRunsInterleaveWholeLines) {
  scratch.WriteFile("shared.log", "");
  std::vector<std::thread> runs;
  for (const char* name : {"a.msp", "b.msp", "c.msp"}) {
    runs.emplace_back([this, name] {
      RunProgram(SPSETUP_EXE, {"/e", name, "/log", "shared.log"}, Environment(), scratch.Path());
    });
  }
  for (std::thread& run : runs) run.join();
  std::vector<std::string> lines = LogLines(scratch.ReadFile("shared.log").value_or(""));
  EXPECT_EQ(Starting(lines, "spsetup finished").size(), 3u);
  EXPECT_EQ(Starting(lines, "extract: the package was written to ").size(), 3u);
}

// "/log" as the last argument asks for nothing: the extraction runs and no log is made.
TEST_F(InstallRun, LogAsTheLastArgumentIsIgnored) {
  Run({"/e", "out.msp", "/log"});
  std::vector<std::string> entries = testing_support::EntryNames(scratch.Path());
  std::erase(entries, "dialogs.log");
  EXPECT_EQ(entries, std::vector<std::string>{"out.msp"});
}

}  // namespace
