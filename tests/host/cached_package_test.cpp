#include "host/cached_package.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/host.h"
#include "platform/posix/installer_database.h"
#include "support/msi_tables.h"
#include "support/scratch_dir.h"

namespace {

using testing_support::ExportTable;
using testing_support::InstallExecuteSequenceTable;
using testing_support::MakeProductDatabase;
using testing_support::ProductFacts;
using testing_support::ReadRows;
using testing_support::RegistryRow;
using testing_support::RegistryTable;
using testing_support::ScratchDir;
using testing_support::SequenceRow;
using testing_support::TableText;

// The texts the fix-up must leave in the database, written out here on their own so that a
// slip in the system's copy shows.
const std::string kCondition1 =
    "NOT Installed OR (REINSTALLMODE AND NOT PATCH AND NOT MSIPATCHREMOVE AND REMOVE <>\"ALL\" "
    "AND KYRO_SECONDARY_INSTALL <>\"1\")";
const std::string kCondition2 =
    "(NOT Installed OR (REINSTALLMODE AND NOT PATCH AND NOT MSIPATCHREMOVE AND REMOVE <>\"ALL\" "
    "AND KYRO_SECONDARY_INSTALL <>\"1\")) AND SHAREDSUPPORT<>\"1\"";
const std::string kCondition3 = "Installed AND NOT MSIPATCHREMOVE";
const std::string kComponent = "KYROX.kyrm.9A0AD67F_1899_4E39_B406_AAD935BD48BE";

const std::map<std::string, std::string> kNewConditions = {
    {"ResolveSourceDir", kCondition1},         {"SetMergeManufacturerMDBCD", kCondition2},
    {"MergeManufacturerMDBCD", kCondition2},   {"SetMergeManufacturerMDBCDEX", kCondition2},
    {"MergeManufacturerMDBCDEX", kCondition2}, {"SetUncabManufacturerCD", kCondition2},
    {"UncabManufacturerCD", kCondition2},      {"HarvestInstallSelection", kCondition3},
};
const std::map<std::string, std::string> kNewComponents = {
    {"registry461", kComponent},
    {"KYROMiniDump_SendAppArgs", kComponent},
};

// The eight actions with conditions of an older release, among actions that must stay as
// they are: other actions, names that differ in letter case only, and longer names that
// begin with a listed one.
std::vector<SequenceRow> OriginalSequence() {
  return {
      {"CostInitialize", "", 800},
      {"ResolveSourceDir", "NOT Installed", 810},
      {"SetMergeManufacturerMDBCD", "NOT Installed AND SHAREDSUPPORT<>\"1\"", 820},
      {"MergeManufacturerMDBCD", "", 830},
      {"SetMergeManufacturerMDBCDEX", "REINSTALL", 840},
      {"MergeManufacturerMDBCDEX", "NOT PATCH", 850},
      {"SetUncabManufacturerCD", "NOT Installed", 860},
      {"UncabManufacturerCD", "NOT Installed", 870},
      {"HarvestInstallSelection", "Installed", 880},
      {"InstallFiles", "NOT REMOVE", 4000},
      {"resolvesourcedir", "OLD lower", 900},
      {"HARVESTINSTALLSELECTION", "OLD upper", 910},
      {"ResolveSourceDirectory", "OLD longer", 920},
      {"UncabManufacturerC", "OLD shorter", 930},
  };
}

std::vector<RegistryRow> OriginalRegistry() {
  return {
      {"registry461", 2, "Software\\Norvane\\Kyro", "SendDumps", "#1", "KYROX.old.461"},
      {"KYROMiniDump_SendAppArgs", 2, "Software\\Norvane\\Kyro\\MiniDump", "SendAppArgs", "[~]",
       "KYROX.old.dump"},
      {"Registry461", 1, "Software\\Other", "", "", "Other.upper"},
      {"kyrominidump_sendappargs", 2, "Software\\Other", "Args", "x", "Other.lower"},
      {"registry4610", 2, "Software\\Other", "Name", "y", "Other.longer"},
      {"a", 0, "Software\\A", "", "1", "Other.a"},
  };
}

// One line per row of an exported table, each split into its fields.
std::vector<std::vector<std::string>> SplitExport(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    lines.push_back(std::move(fields));
  }
  return lines;
}

// An exported table with its rows in key order: the order rows are stored in is no part of a
// table's content. The three heading lines stay in front.
std::vector<std::vector<std::string>> Normalised(std::vector<std::vector<std::string>> lines) {
  if (lines.size() > 3) std::sort(lines.begin() + 3, lines.end());
  return lines;
}

// A table as msiinfo exports it now, split and in key order.
std::vector<std::vector<std::string>> Exported(const std::string& path, const std::string& table) {
  return Normalised(SplitExport(ExportTable(path, table)));
}

// `before` with column `column` of each row whose first field is a key of `rewrites` set to
// that key's value: what the fix-up must turn the table into.
std::vector<std::vector<std::string>> Expected(const std::string& before, std::size_t column,
                                               const std::map<std::string, std::string>& rewrites) {
  std::vector<std::vector<std::string>> lines = SplitExport(before);
  for (std::size_t i = 3; i < lines.size(); ++i) {
    auto found = rewrites.find(lines[i].at(0));
    if (found != rewrites.end()) lines[i].at(column) = found->second;
  }
  return Normalised(lines);
}

ProductRecord ProductAt(const std::string& path) {
  ProductRecord product;
  product.LocalPackage = platform::posix::FromUtf8(path);
  product.ProductCode = u"{6F1C8A2E-0000-4000-8000-000000000001}";
  return product;
}

std::string ConditionOf(const std::string& path, const std::string& action) {
  auto rows = ReadRows(
      path, "SELECT Condition FROM InstallExecuteSequence WHERE Action = '" + action + "'");
  return rows.size() == 1 ? rows[0].at(0) : "<" + std::to_string(rows.size()) + " rows>";
}

std::string ComponentOf(const std::string& path, const std::string& key) {
  auto rows = ReadRows(path, "SELECT Component_ FROM Registry WHERE Registry = '" + key + "'");
  return rows.size() == 1 ? rows[0].at(0) : "<" + std::to_string(rows.size()) + " rows>";
}

// What each commit of the fix-up wrote, read from the new file before it replaces the old.
struct CommitSeen {
  std::string Condition;  // of ResolveSourceDir
  std::string Component;  // of registry461
};
std::vector<CommitSeen> commitsSeen;
// Reading needs both tables in the database; without it only the commits are counted.
bool readCommits = false;
bool refuseSecondCommit = false;

bool RecordCommit(const std::string& written, const std::string&) {
  CommitSeen seen;
  if (!readCommits) {
    commitsSeen.push_back(seen);
    return true;
  }
  auto conditions = ReadRows(written,
                             "SELECT Condition FROM InstallExecuteSequence WHERE Action = "
                             "'ResolveSourceDir'");
  if (conditions.size() == 1) seen.Condition = conditions[0].at(0);
  auto components =
      ReadRows(written, "SELECT Component_ FROM Registry WHERE Registry = 'registry461'");
  if (components.size() == 1) seen.Component = components[0].at(0);
  commitsSeen.push_back(seen);
  return !(refuseSecondCommit && commitsSeen.size() == 2);
}

class FixCachedPackageTest : public testing::Test {
 protected:
  std::string MakePackage(const std::vector<TableText>& tables) {
    std::string path = scratch.Join("cached.msi");
    EXPECT_TRUE(MakeProductDatabase(path, facts, tables));
    return path;
  }

  ScratchDir scratch;
  ProductFacts facts{"{6F1C8A2E-0000-4000-8000-000000000001}"};
};

// Commits are watched through the emulated installer's commit hook.
class FixCachedPackageCommits : public FixCachedPackageTest {
 protected:
  FixCachedPackageCommits() {
    commitsSeen.clear();
    readCommits = false;
    refuseSecondCommit = false;
    platform::posix::commitHookForTesting = RecordCommit;
  }
  ~FixCachedPackageCommits() override { platform::posix::commitHookForTesting = savedHook_; }

 private:
  platform::posix::CommitHook savedHook_ = platform::posix::commitHookForTesting;
};

TEST_F(FixCachedPackageCommits, EachPassWhoseTableExistsCommitsOnce) {
  const TableText sequence = InstallExecuteSequenceTable(OriginalSequence());
  const TableText registry = RegistryTable(OriginalRegistry());
  struct Case {
    const char* Name;
    std::vector<TableText> Tables;
    std::size_t Commits;
  };
  const Case cases[] = {
      {"both tables", {sequence, registry}, 2},
      {"no Registry table", {sequence}, 1},
      {"no InstallExecuteSequence table", {registry}, 1},
      {"neither table", {}, 0},
      {"both tables without rows", {InstallExecuteSequenceTable({}), RegistryTable({})}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string path = MakePackage(c.Tables);
    commitsSeen.clear();

    FixCachedPackage(ProductAt(path));

    EXPECT_EQ(commitsSeen.size(), c.Commits);
  }
}

TEST_F(FixCachedPackageCommits, TheConditionsAreInTheFileBeforeTheRegistryPassAndStayThere) {
  std::string path = MakePackage(
      {InstallExecuteSequenceTable(OriginalSequence()), RegistryTable(OriginalRegistry())});
  // The registry pass's commit fails, as when the process dies at that moment.
  readCommits = true;
  refuseSecondCommit = true;

  FixCachedPackage(ProductAt(path));

  ASSERT_EQ(commitsSeen.size(), 2u);
  EXPECT_EQ(commitsSeen[0].Condition, kCondition1);
  EXPECT_EQ(commitsSeen[0].Component, "KYROX.old.461");
  EXPECT_EQ(commitsSeen[1].Component, kComponent);
  EXPECT_EQ(ConditionOf(path, "ResolveSourceDir"), kCondition1);
  EXPECT_EQ(ComponentOf(path, "registry461"), "KYROX.old.461");
  EXPECT_EQ(testing_support::EntryNames(scratch.Path()), std::vector<std::string>{"cached.msi"});
}

TEST_F(FixCachedPackageTest, RewritesTheListedRowsAndNothingElse) {
  std::string path = MakePackage(
      {InstallExecuteSequenceTable(OriginalSequence()), RegistryTable(OriginalRegistry())});
  std::string sequenceBefore = ExportTable(path, "InstallExecuteSequence");
  std::string registryBefore = ExportTable(path, "Registry");
  std::string propertyBefore = ExportTable(path, "Property");
  ASSERT_FALSE(sequenceBefore.empty());
  ASSERT_FALSE(registryBefore.empty());

  FixCachedPackage(ProductAt(path));

  // Read by an independent tool: the listed fields rewritten, every other row and column
  // as it was, and the tables the fix-up does not edit untouched.
  EXPECT_EQ(Exported(path, "InstallExecuteSequence"), Expected(sequenceBefore, 1, kNewConditions));
  EXPECT_EQ(Exported(path, "Registry"), Expected(registryBefore, 5, kNewComponents));
  EXPECT_EQ(ExportTable(path, "Property"), propertyBefore);
  EXPECT_EQ(testing_support::EntryNames(scratch.Path()), std::vector<std::string>{"cached.msi"});

  // And by libmsi, field by field.
  for (const auto& [action, condition] : kNewConditions) {
    EXPECT_EQ(ConditionOf(path, action), condition) << action;
  }
  EXPECT_EQ(ConditionOf(path, "resolvesourcedir"), "OLD lower");
  EXPECT_EQ(ConditionOf(path, "ResolveSourceDirectory"), "OLD longer");
  EXPECT_EQ(ComponentOf(path, "registry461"), kComponent);
  EXPECT_EQ(ComponentOf(path, "KYROMiniDump_SendAppArgs"), kComponent);
  EXPECT_EQ(ComponentOf(path, "Registry461"), "Other.upper");
  EXPECT_EQ(ComponentOf(path, "kyrominidump_sendappargs"), "Other.lower");
}

TEST_F(FixCachedPackageTest, ASecondRunChangesNothing) {
  std::string path = MakePackage(
      {InstallExecuteSequenceTable(OriginalSequence()), RegistryTable(OriginalRegistry())});
  FixCachedPackage(ProductAt(path));
  auto sequenceOnce = Exported(path, "InstallExecuteSequence");
  auto registryOnce = Exported(path, "Registry");

  FixCachedPackage(ProductAt(path));

  EXPECT_EQ(Exported(path, "InstallExecuteSequence"), sequenceOnce);
  EXPECT_EQ(Exported(path, "Registry"), registryOnce);
  EXPECT_EQ(ConditionOf(path, "HarvestInstallSelection"), kCondition3);
}

TEST_F(FixCachedPackageTest, KeysTooLongForTheBufferMatchNothing) {
  // 260 characters and more do not fit the key buffer with its terminator; each begins with
  // a listed key, so a comparison of the cut text or of a prefix would rewrite it. The
  // 259-character keys fit; rows after them are still compared afresh.
  const std::string key259(259, 'k');
  const std::string registry260 = "registry461" + std::string(249, 'x');
  const std::string registry300 = "KYROMiniDump_SendAppArgs" + std::string(276, 'y');
  const std::string action260 = "ResolveSourceDir" + std::string(244, 'z');
  const std::string action259 = "HarvestInstallSelection" + std::string(236, 'w');
  ASSERT_EQ(registry260.size(), 260u);
  ASSERT_EQ(action260.size(), 260u);
  ASSERT_EQ(action259.size(), 259u);

  std::vector<SequenceRow> sequence = OriginalSequence();
  sequence.push_back({action260, "OLD long", 1000});
  sequence.push_back({action259, "OLD fits", 1010});
  sequence.push_back({key259, "OLD fits too", 1020});
  std::vector<RegistryRow> registry = OriginalRegistry();
  registry.push_back({key259, 2, "Software\\Long", "", "", "Long.259"});
  registry.push_back({registry260, 2, "Software\\Long", "", "", "Long.260"});
  registry.push_back({registry300, 2, "Software\\Long", "", "", "Long.300"});
  std::string path = MakePackage({InstallExecuteSequenceTable(sequence), RegistryTable(registry)});
  // The schema says s72, but the library stores longer keys; the test needs them stored.
  ASSERT_EQ(ComponentOf(path, registry300), "Long.300");
  std::string sequenceBefore = ExportTable(path, "InstallExecuteSequence");
  std::string registryBefore = ExportTable(path, "Registry");

  FixCachedPackage(ProductAt(path));

  EXPECT_EQ(Exported(path, "InstallExecuteSequence"), Expected(sequenceBefore, 1, kNewConditions));
  EXPECT_EQ(Exported(path, "Registry"), Expected(registryBefore, 5, kNewComponents));
}

TEST_F(FixCachedPackageTest, WithoutARegistryTableTheConditionsAreStillCommitted) {
  std::string path = MakePackage({InstallExecuteSequenceTable(OriginalSequence())});

  FixCachedPackage(ProductAt(path));

  for (const auto& [action, condition] : kNewConditions) {
    EXPECT_EQ(ConditionOf(path, action), condition) << action;
  }
  EXPECT_EQ(ConditionOf(path, "InstallFiles"), "NOT REMOVE");
}

TEST_F(FixCachedPackageTest, WithoutASequenceTableTheComponentsAreStillRewritten) {
  std::string path = MakePackage({RegistryTable(OriginalRegistry())});

  FixCachedPackage(ProductAt(path));

  EXPECT_EQ(ComponentOf(path, "registry461"), kComponent);
  EXPECT_EQ(ComponentOf(path, "KYROMiniDump_SendAppArgs"), kComponent);
  EXPECT_EQ(ComponentOf(path, "registry4610"), "Other.longer");
}

TEST_F(FixCachedPackageTest, OneRegistryRowOfTwoIsRewrittenAndTheWalkGoesOn) {
  // With one listed key missing, the limit of two is never reached and every row is seen;
  // the listed one is placed among others so that it is found wherever the walk starts.
  std::vector<RegistryRow> registry = {
      {"a", 2, "Software\\A", "", "", "Other.a"},
      {"KYROMiniDump_SendAppArgs", 2, "Software\\Dump", "Args", "", "KYROX.old.dump"},
      {"zz", 2, "Software\\Z", "", "", "Other.zz"},
  };
  std::string path = MakePackage({RegistryTable(registry)});
  std::string registryBefore = ExportTable(path, "Registry");

  FixCachedPackage(ProductAt(path));

  EXPECT_EQ(Exported(path, "Registry"), Expected(registryBefore, 5, kNewComponents));
  EXPECT_EQ(ComponentOf(path, "KYROMiniDump_SendAppArgs"), kComponent);
}

TEST_F(FixCachedPackageTest, EmptyTablesAreLeftEmpty) {
  std::string path = MakePackage({InstallExecuteSequenceTable({}), RegistryTable({})});

  FixCachedPackage(ProductAt(path));

  EXPECT_TRUE(ReadRows(path, "SELECT Action FROM InstallExecuteSequence").empty());
  EXPECT_TRUE(ReadRows(path, "SELECT Registry FROM Registry").empty());
}

TEST_F(FixCachedPackageTest, APackageThatDoesNotOpenIsLeftUntouched) {
  struct Case {
    const char* Name;
    std::string Content;  // the file's bytes before; no file when empty
  };
  const Case cases[] = {
      {"text file", "InstallExecuteSequence\tResolveSourceDir\tregistry461\n"},
      {"cut database", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + std::string(600, '\0')},
      {"missing file", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string path = scratch.Join("unopenable.msi");
    std::remove(path.c_str());
    if (!c.Content.empty()) scratch.WriteFile("unopenable.msi", c.Content);

    FixCachedPackage(ProductAt(path));

    if (c.Content.empty()) {
      EXPECT_TRUE(testing_support::EntryNames(scratch.Path()).empty());
    } else {
      EXPECT_EQ(scratch.ReadFile("unopenable.msi"), c.Content);
      EXPECT_EQ(testing_support::EntryNames(scratch.Path()),
                std::vector<std::string>{"unopenable.msi"});
    }
  }
}

}  // namespace
