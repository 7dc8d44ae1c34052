// The end-to-end scenarios of the executable, each written once: played on the Linux
// build and checked against what the user must see, then, in the Windows stage of the test
// command, played on spsetup.exe under Wine and compared with the Linux run field by field.
// A field a scenario lists as a known difference is shown, not compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>

#include "scenarios/hosts.h"
#include "support/catalogue.h"
#include "support/scratch_dir.h"

namespace scenarios {
namespace {

const std::string kStudio = "{6F0C2A51-5B2E-4D7A-9C3E-0A1B2C3D4E51}";
const std::string kViewer = "{A3D91E07-7C44-4B19-8E2F-3C5D6E7F8091}";
const std::string kServer = "{D2B7F6C3-19A8-4E5D-B0C1-7E8F9A0B1C2D}";

// The emulated installer writes the transforms of a patch into the product's cached
// database; Windows Installer, and Wine's, apply them to the installation and leave the
// cached package as the fix-up left it.
const KnownDifference kPatchInTheCachedDatabase = {
    "rows", "the emulated installer writes the patch's rows into the cached database"};

// A box as the user sees it: a text of the catalogue in a language, with its %s or %d.
struct Box {
  unsigned CaptionId;
  unsigned TextId;
  unsigned Language;
  std::u16string Substitution;
  unsigned long Style;
};

using testing_support::Catalogue;

struct Row {
  Scenario Play;
  // What the Linux run must show; an unset field is compared between the hosts only.
  std::optional<std::vector<Box>> Boxes;
  std::map<std::string, std::string> Versions;    // product code to version after the run
  std::optional<std::vector<std::string>> Files;  // names written to the working directory
  std::optional<std::size_t> TempEntries;         // entries left in the temporary directory
  // "/log NAME" in the working directory: the log's summary lines, taken out of Files with
  // the installer's log beside it.
  std::string Log;
  std::vector<std::string> Summary;
};

const unsigned long kError = 0x50010;
const unsigned long kInformation = 0x50040;

// A row for the administrative modes: what the working directory holds afterwards.
Row Administrative(std::string name, std::vector<std::string> arguments,
                   std::optional<std::vector<std::string>> files, std::size_t tempEntries) {
  Row row;
  row.Play.Name = std::move(name);
  row.Play.Arguments = std::move(arguments);
  row.Files = std::move(files);
  row.TempEntries = tempEntries;
  return row;
}

// A row for the default run: the user's language, the installed products and the boxes.
Row Install(std::string name, std::string userLanguage, std::vector<Product> products,
            std::vector<Box> boxes) {
  Row row;
  row.Play.Name = std::move(name);
  row.Play.UserLanguage = std::move(userLanguage);
  row.Play.Products = std::move(products);
  row.Boxes = std::move(boxes);
  row.Files = std::vector<std::string>{};
  return row;
}

// What a run that patched a product shows under Wine.
const std::vector<KnownDifference> kPatchedWithTheSample = {kPatchInTheCachedDatabase};

std::vector<Row> Rows() {
  const Product studio518{kStudio, "Kyro Studio", "5.1.8.0", "1031"};
  const Product studio520{kStudio, "Kyro Studio", "5.2.0.0", "1033"};
  const Product viewer519{kViewer, "Kyro Viewer", "5.1.9.0", "1041"};
  const Product server520{kServer, "Kyro Server", "5.2.0.0", "1031"};
  const Box guard{311, 0, 0, u"", 0x50015};
  std::vector<Row> rows;

  // Administrative modes.
  using Files = std::vector<std::string>;
  rows.push_back(Administrative("ExtractToAPath", {"/e", "out.msp"}, Files{"out.msp"}, 0));
  rows.push_back(Administrative("ExtractToAPathWithSpacesAndAccents",
                                {"/e", "Kyro Überarbeitung 5.2.msp"},
                                Files{"Kyro Überarbeitung 5.2.msp"}, 0));
  rows.push_back(Administrative("ExtractWithoutAPath", {"/e"}, Files{}, 1));
  rows.push_back(Administrative("PatchListTwiceToOneFile", {"/p", "list.txt", "/p", "list.txt"},
                                Files{"list.txt"}, 0));
  rows.push_back(Administrative("PatchListWithoutAPath", {"/p"}, std::nullopt, 0));
  rows.push_back(Administrative("ProductList", {"/i"}, Files{}, 0));
  rows.push_back(Administrative("AllAdministrativeModes", {"/e", "a.msp", "/p", "b.txt", "/i"},
                                Files{"a.msp", "b.txt"}, 0));
  rows.push_back(Administrative("ProductListStopsTheScan", {"/i", "/e", "x.msp"}, Files{}, 0));
  // Extraction shows nothing; the patch list and the product list read the targets from a
  // temporary copy of the package, which stays.
  for (Row& row : rows) {
    if (row.Play.Name.rfind("Extract", 0) == 0) row.Boxes = std::vector<Box>{};
    if (row.Play.Name.rfind("Extract", 0) != 0) row.TempEntries = std::nullopt;
  }

  // The default run.
  Row row = Install("AllUpToDateEnglish", "1033", {studio520, server520},
                    {{313, 306, 1033, u"Kyro Server", kError}});
  row.Versions = {{kStudio, "5.2.0.0"}, {kServer, "5.2.0.0"}};
  row.TempEntries = 0;
  rows.push_back(row);

  row =
      Install("AllUpToDateGerman", "1031", {studio520}, {{313, 306, 1031, u"Kyro Studio", kError}});
  row.TempEntries = 0;
  rows.push_back(row);

  row = Install("UpToDateAndNotApplicable", "1033", {studio520, viewer519},
                {{311, 308, 1041, u"Kyro Viewer", kError}});
  row.Versions = {{kViewer, "5.1.9.0"}};
  rows.push_back(row);

  row = Install("ApplicableGermanNotApplicableJapanese", "1033", {studio518, viewer519},
                {{312, 301, 1031, u"", kInformation}, {311, 308, 1041, u"Kyro Viewer", kError}});
  row.Versions = {{kStudio, "5.2.0.0"}, {kViewer, "5.1.9.0"}};
  row.TempEntries = 0;
  row.Play.Known = kPatchedWithTheSample;
  rows.push_back(row);

  // The guard runs only once a target was found.
  row = Install("NoTargetInstalled", "1033",
                {{"{11111111-2222-3333-4444-555555555555}", "Other", "5.1.8.0", "1033"}},
                {{311, 307, 1033, u"", kError}});
  row.Play.HostRunning = true;
  row.Play.Script = "retry";
  row.TempEntries = 1;
  rows.push_back(row);

  row = Install("HostRunningRetryThenCancel", "1033", {studio518},
                {guard, guard, {311, 300, 1033, u"", kError}});
  row.Play.HostRunning = true;
  row.Play.Script = "retry,cancel";
  row.Versions = {{kStudio, "5.1.8.0"}};
  row.TempEntries = 1;
  rows.push_back(row);

  row = Install("HostRunningRetryAfterItEnded", "1033", {studio518},
                {guard, guard, {312, 301, 1031, u"", kInformation}});
  row.Play.HostRunning = true;
  row.Play.Script = "retry,end kyro.exe,retry";
  row.Versions = {{kStudio, "5.2.0.0"}};
  row.TempEntries = 0;
  row.Play.Known = kPatchedWithTheSample;
  rows.push_back(row);

  // Kyro Server was released at 5.0.60.2 only: at 5.1.8.0 no transform of the package fits
  // it, and the installer refuses the patch (1642). Wine's msi.dll answers 0 to a patch none
  // of whose transforms fits, and changes nothing.
  row = Install("APatchNoTransformFitsIsRefused", "1033",
                {{kServer, "Kyro Server", "5.1.8.0", "1041"}}, {{311, 300, 1041, u"1642", kError}});
  row.Versions = {{kServer, "5.1.8.0"}};
  row.TempEntries = 0;
  row.Play.Known = {
      {"boxes", "Wine's msi.dll answers 0, not 1642, to a patch that does not fit"},
      {"patches", "Wine's msi.dll registers a patch that does not fit, and applies nothing"}};
  rows.push_back(row);

  row = Install("QuietRun", "1033", {studio518, viewer519}, {});
  row.Play.Arguments = {"/q"};
  row.Versions = {{kStudio, "5.2.0.0"}};
  row.TempEntries = 0;
  row.Play.Known = kPatchedWithTheSample;
  rows.push_back(row);

  // The administrator's log: a summary line per product, and the installer's log beside it.
  row = Install("QuietRunWithALog", "1033", {studio518, viewer519, server520}, {});
  row.Play.Arguments = {"/q", "/log", "run.log"};
  row.Versions = {{kStudio, "5.2.0.0"}, {kViewer, "5.1.9.0"}, {kServer, "5.2.0.0"}};
  row.TempEntries = 0;
  row.Play.Known = kPatchedWithTheSample;
  row.Log = "run.log";
  row.Summary = {"summary: " + kStudio + " \"Kyro Studio\": patched",
                 "summary: " + kViewer + " \"Kyro Viewer\": not applicable",
                 "summary: " + kServer + " \"Kyro Server\": up to date",
                 "summary: the run ended normally"};
  rows.push_back(row);

  // A log that cannot be opened changes nothing else, and creates no directory.
  row = Install("QuietRunWithALogInADirectoryThatIsNotThere", "1033", {studio518, viewer519}, {});
  row.Play.Arguments = {"/q", "/log", "missing/run.log"};
  row.Versions = {{kStudio, "5.2.0.0"}};
  row.TempEntries = 0;
  row.Play.Known = kPatchedWithTheSample;
  rows.push_back(row);

  // Product languages under a German user: each message in the product's own language.
  for (const char* language : {"1031", "1041", "1049", "2052", "1028", "4100"}) {
    rows.push_back(
        Install(std::string("NotApplicableInLanguage") + language, "1031",
                {{kViewer, "Kyro Viewer", "5.1.9.0", language}},
                {{311, 308, static_cast<unsigned>(std::stoul(language)), u"Kyro Viewer", kError}}));
  }
  rows.push_back(Install("NotApplicableInALanguageThatIsNoNumber", "1031",
                         {{kViewer, "Kyro Viewer", "5.1.9.0", "Deutsch"}},
                         {{311, 308, 1031, u"Kyro Viewer", kError}}));
  return rows;
}

class TwoHosts : public testing::TestWithParam<Row> {};

// A run's log and the installer's log beside it.
struct RunLogs {
  bool Written = false;
  std::vector<std::string> Summary;  // the summary lines, without time stamp and process id
  std::string Installer;
};

// Takes the log `name` and the installer's log beside it out of the files an outcome shows:
// their time stamps, process ids and paths differ from host to host.
RunLogs TakeLogs(Outcome& outcome, const std::string& name) {
  RunLogs logs;
  if (auto log = outcome.Files.find(name); log != outcome.Files.end()) {
    logs.Written = true;
    std::istringstream in(log->second);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::size_t text = line.find("] ");
      if (text != std::string::npos && line.compare(text + 2, 9, "summary: ") == 0) {
        logs.Summary.push_back(line.substr(text + 2));
      }
    }
    outcome.Files.erase(log);
  }
  if (auto installer = outcome.Files.find(name + ".installer.log");
      installer != outcome.Files.end()) {
    logs.Installer = installer->second;
    outcome.Files.erase(installer);
  }
  return logs;
}

// The installer's log names the patch: the temporary package, "MSP" and a number.
void ExpectNamesThePatch(const RunLogs& logs, const char* host) {
  EXPECT_TRUE(logs.Written) << host << ": no log";
  EXPECT_NE(logs.Installer.find("MSP"), std::string::npos)
      << host << ": the installer's log does not name the patch:\n"
      << logs.Installer.substr(0, 2000);
}

void ExpectLinuxOutcome(const Row& row, const Outcome& seen) {
  if (row.Boxes) {
    ASSERT_EQ(seen.Boxes.size(), row.Boxes->size());
    for (std::size_t i = 0; i < row.Boxes->size(); ++i) {
      SCOPED_TRACE(i);
      const Box& box = (*row.Boxes)[i];
      unsigned language = box.Language != 0 ? box.Language : 1033;
      EXPECT_EQ(seen.Boxes[i].Caption, Catalogue(box.CaptionId, language, u""));
      if (box.TextId != 0 && box.TextId != 300) {
        EXPECT_EQ(seen.Boxes[i].Text, Catalogue(box.TextId, language, box.Substitution));
      }
      EXPECT_EQ(seen.Boxes[i].Style, box.Style);
    }
  }
  for (const auto& [code, version] : row.Versions) EXPECT_EQ(seen.Versions.at(code), version);
  std::vector<std::string> files;
  for (const auto& [name, bytes] : seen.Files) files.push_back(name);
  if (row.Files) {
    std::vector<std::string> expected = *row.Files;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
  }
  if (row.TempEntries) {
    EXPECT_EQ(seen.TempEntries.size(), *row.TempEntries);
  }
}

// Whether `field` is a known difference of the scenario; if so, says so with both sides'
// values (`shown`).
bool Known(const Scenario& scenario, const std::string& field, const std::string& shown = "") {
  for (const KnownDifference& known : scenario.Known) {
    if (known.Field == field) {
      std::printf("[ known    ] %s: %s: %s\n%s", scenario.Name.c_str(), field.c_str(),
                  known.Reason.c_str(), shown.c_str());
      return true;
    }
  }
  return false;
}

std::string Show(const std::vector<testing_support::DialogRecord>& boxes) {
  std::string out;
  for (const auto& box : boxes) {
    out += "  {" + box.CaptionUtf8 + " | " + box.TextUtf8 + " | " + std::to_string(box.Style) +
           " | " + std::to_string(box.Answer) + "}\n";
  }
  return out;
}

template <typename Map>
std::string Show(const Map& values) {
  std::string out;
  for (const auto& [key, value] : values) {
    out += "  " + key + ": ";
    if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>) {
      out += value.size() > 80 ? std::to_string(value.size()) + " bytes" : value;
    } else {
      for (const auto& item : value) out += item + "; ";
    }
    out += "\n";
  }
  return out;
}

// The style bits the probe reads from another process under Wine: the buttons and the
// default button. Wine's boxes ignore MB_TOPMOST, and a box's icon is a handle of the
// process that shows it, so the icon, topmost and foreground bits are checked on Linux only.
constexpr unsigned long kStyleSeenUnderWine = 0x00F | 0xF00;

void ExpectSameOutcome(const Scenario& scenario, const Outcome& linux, const Outcome& wine) {
  auto sameBoxes = [](const auto& a, const auto& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].Caption != b[i].Caption || a[i].Text != b[i].Text ||
          (a[i].Style & kStyleSeenUnderWine) != (b[i].Style & kStyleSeenUnderWine) ||
          a[i].Answer != b[i].Answer) {
        return false;
      }
    }
    return true;
  };
  if (!Known(scenario, "boxes")) {
    EXPECT_TRUE(sameBoxes(linux.Boxes, wine.Boxes)) << "boxes\n Linux:\n"
                                                    << Show(linux.Boxes) << " Wine:\n"
                                                    << Show(wine.Boxes);
  }
  if (!Known(scenario, "files")) {
    EXPECT_TRUE(linux.Files == wine.Files) << "files\n Linux:\n"
                                           << Show(linux.Files) << " Wine:\n"
                                           << Show(wine.Files);
  }
  if (!Known(scenario, "temp")) {
    EXPECT_EQ(linux.TempEntries, wine.TempEntries) << "temp";
  }
  if (!Known(scenario, "rows", " Linux:\n" + Show(linux.Rows) + " Wine:\n" + Show(wine.Rows))) {
    EXPECT_TRUE(linux.Rows == wine.Rows) << "rows\n Linux:\n"
                                         << Show(linux.Rows) << " Wine:\n"
                                         << Show(wine.Rows);
  } else {
    // Rows the emulated installer adds aside, every row Wine shows is the Linux run's.
    for (const auto& [code, rows] : wine.Rows) {
      for (const std::string& row : rows) {
        const std::vector<std::string>& linuxRows = linux.Rows.at(code);
        EXPECT_NE(std::find(linuxRows.begin(), linuxRows.end(), row), linuxRows.end())
            << code << ": Wine's row " << row << " is not the Linux run's";
      }
    }
  }
  if (!Known(scenario, "versions",
             " Linux:\n" + Show(linux.Versions) + " Wine:\n" + Show(wine.Versions))) {
    EXPECT_TRUE(linux.Versions == wine.Versions) << "versions\n Linux:\n"
                                                 << Show(linux.Versions) << " Wine:\n"
                                                 << Show(wine.Versions);
  }
  if (!Known(scenario, "patches",
             " Linux:\n" + Show(linux.Patches) + " Wine:\n" + Show(wine.Patches))) {
    EXPECT_TRUE(linux.Patches == wine.Patches) << "patches\n Linux:\n"
                                               << Show(linux.Patches) << " Wine:\n"
                                               << Show(wine.Patches);
  }
  EXPECT_FALSE(wine.PlantedLibraryLoaded) << "a planted msi.dll was loaded";
}

TEST_P(TwoHosts, PlaysAlikeOnBothHosts) {
  const Row& row = GetParam();
  Outcome linux = PlayOnLinux(row.Play);
  RunLogs linuxLogs = TakeLogs(linux, row.Log);
  ExpectLinuxOutcome(row, linux);
  if (!row.Log.empty()) {
    EXPECT_EQ(linuxLogs.Summary, row.Summary);
    ExpectNamesThePatch(linuxLogs, "Linux");
  }
  std::optional<WineSetup> wine = WineFromEnvironment();
  if (!wine) return;  // the Windows stage of the test command sets Wine up
  Outcome onWine = PlayOnWine(row.Play, *wine);
  RunLogs wineLogs = TakeLogs(onWine, row.Log);
  if (!row.Log.empty()) {
    EXPECT_EQ(wineLogs.Summary, linuxLogs.Summary) << "log summary";
    if (!Known(row.Play, "installer log")) ExpectNamesThePatch(wineLogs, "Wine");
  }
  ExpectSameOutcome(row.Play, linux, onWine);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, TwoHosts, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<Row>& info) {
                           return info.param.Play.Name;
                         });

}  // namespace
}  // namespace scenarios
