// The emulated installer's handles, summary information and databases: real databases made
// from table text, edited through the operations, read back with libmsi and msiinfo.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/posix/installer_database.h"
#include "platform/posix/installer_steps.h"
#include "platform/posix/installer_summary.h"
#include "support/msi_tables.h"
#include "support/scratch_dir.h"

namespace {

using namespace platform;
using testing_support::InstallExecuteSequenceTable;
using testing_support::RegistryTable;
using testing_support::ScratchDir;

constexpr char kProduct[] = "{6F1C8A2E-5A1B-4C3D-9E8F-000000000001}";

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }
std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

testing_support::PatchFacts PatchFor(const std::string& targets) {
  testing_support::PatchFacts patch;
  patch.Targets = targets;
  return patch;
}

// A product database with a sequence and a registry table, as a cached package holds them.
class InstallerDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::MakeProductDatabase(
        Path(), {.ProductCode = kProduct},
        {InstallExecuteSequenceTable({{"CostInitialize", "", 800},
                                      {"ResolveSourceDir", "NOT Installed", 900},
                                      {"HarvestInstallSelection", "REMOVE", 1000},
                                      {"InstallFinalize", "", 6600}}),
         RegistryTable({{"registry461", 2, "Software\\Kyro", "Crash", "1", "OldComponent"},
                        {"other", 2, "Software\\Kyro", "Other", "", "Kept"}})}));
    OriginalSequence = testing_support::ExportTable(Path(), "InstallExecuteSequence");
    OriginalRegistry = testing_support::ExportTable(Path(), "Registry");
  }

  std::string Path() const { return Scratch.Join("cached.msi"); }
  std::u16string PathW() const { return Wide(Path()); }

  // Opens `query` on `database`, executes it and sets every row whose first field is
  // `key` to `value` in field 2 with MSIMODIFY_REPLACE; returns the rows rewritten.
  static int ReplaceWhere(MSIHANDLE database, const char16_t* query, const std::u16string& key,
                          const std::u16string& value) {
    InstallerHandleHolder view;
    EXPECT_EQ(MsiDatabaseOpenViewW(database, query, view.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(MsiViewExecute(view.Get(), 0), ERROR_SUCCESS);
    int rewritten = 0;
    InstallerHandleHolder record;
    while (MsiViewFetch(view.Get(), record.Receive()) == ERROR_SUCCESS) {
      WCHAR buffer[MAX_PATH];
      DWORD count = MAX_PATH;
      EXPECT_EQ(MsiRecordGetStringW(record.Get(), 1, buffer, &count), ERROR_SUCCESS);
      if (buffer != key) continue;
      EXPECT_EQ(MsiRecordSetStringW(record.Get(), 2, value.c_str()), ERROR_SUCCESS);
      EXPECT_EQ(MsiViewModify(view.Get(), MSIMODIFY_REPLACE, record.Get()), ERROR_SUCCESS);
      ++rewritten;
    }
    EXPECT_EQ(MsiViewClose(view.Get()), ERROR_SUCCESS);
    return rewritten;
  }

  // `exported` with the line that starts with `key` + tab replaced by `line`.
  static std::string WithLine(std::string exported, const std::string& key,
                              const std::string& line) {
    std::size_t at = exported.find("\r\n" + key + "\t");
    EXPECT_NE(at, std::string::npos) << key;
    if (at == std::string::npos) return exported;
    at += 2;
    std::size_t end = exported.find("\r\n", at);
    return exported.replace(at, end - at, line);
  }

  ScratchDir Scratch;
  std::string OriginalSequence;
  std::string OriginalRegistry;
};

TEST_F(InstallerDatabaseTest, EditedRowsReadBackWithMsiinfoExactlyAsEdited) {
  // Both passes of the cached-package fix-up: a commit after each view.
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
            ERROR_SUCCESS);
  EXPECT_EQ(ReplaceWhere(database.Get(), u"SELECT Action,Condition FROM InstallExecuteSequence",
                         u"ResolveSourceDir", u"NOT Installed OR (REMOVE <>\"ALL\")"),
            1);
  EXPECT_EQ(MsiDatabaseCommit(database.Get()), ERROR_SUCCESS);
  // The first pass is in the file before the second begins.
  EXPECT_EQ(testing_support::ExportTable(Path(), "InstallExecuteSequence"),
            WithLine(OriginalSequence, "ResolveSourceDir",
                     "ResolveSourceDir\tNOT Installed OR (REMOVE <>\"ALL\")\t900"));
  EXPECT_EQ(ReplaceWhere(database.Get(), u"SELECT Registry,Component_ FROM Registry",
                         u"registry461", u"KYROX.kyrm.NEW"),
            1);
  EXPECT_EQ(MsiDatabaseCommit(database.Get()), ERROR_SUCCESS);
  database.Reset();

  EXPECT_EQ(testing_support::ExportTable(Path(), "InstallExecuteSequence"),
            WithLine(OriginalSequence, "ResolveSourceDir",
                     "ResolveSourceDir\tNOT Installed OR (REMOVE <>\"ALL\")\t900"));
  EXPECT_EQ(testing_support::ExportTable(Path(), "Registry"),
            WithLine(OriginalRegistry, "registry461",
                     "registry461\t2\tSoftware\\Kyro\tCrash\t1\tKYROX.kyrm.NEW"));
  // Nothing of the commits is left beside the database.
  EXPECT_EQ(testing_support::EntryNames(Scratch.Path()), std::vector<std::string>{"cached.msi"});
}

TEST_F(InstallerDatabaseTest, EditsWithoutCommitNeverReachTheFile) {
  {
    InstallerHandleHolder database;
    ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
              ERROR_SUCCESS);
    EXPECT_EQ(ReplaceWhere(database.Get(), u"SELECT Registry,Component_ FROM Registry", u"other",
                           u"Changed"),
              1);
  }
  EXPECT_EQ(testing_support::ExportTable(Path(), "Registry"), OriginalRegistry);
  EXPECT_EQ(testing_support::EntryNames(Scratch.Path()), std::vector<std::string>{"cached.msi"});
}

TEST_F(InstallerDatabaseTest, ReplaceWithAChangedKeyMovesTheRow) {
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
            ERROR_SUCCESS);
  EXPECT_EQ(ReplaceWhere(database.Get(), u"SELECT Component_,Registry FROM Registry", u"Kept",
                         u"renamed"),
            1);
  EXPECT_EQ(MsiDatabaseCommit(database.Get()), ERROR_SUCCESS);
  EXPECT_EQ(testing_support::ReadRows(Path(), "SELECT Registry, Component_ FROM Registry"),
            (std::vector<std::vector<std::string>>{{"registry461", "OldComponent"},
                                                   {"renamed", "Kept"}}));
}

// Sets field `field` of the row of `query` whose first field is `key` to `value` and writes
// it back with `mode`; the result of MsiViewModify (ERROR_NO_MORE_ITEMS: no such row).
UINT ModifyRow(MSIHANDLE database, const char16_t* query, const std::u16string& key, UINT field,
               const std::u16string& value, MSIMODIFY mode) {
  InstallerHandleHolder view;
  EXPECT_EQ(MsiDatabaseOpenViewW(database, query, view.Receive()), ERROR_SUCCESS);
  EXPECT_EQ(MsiViewExecute(view.Get(), 0), ERROR_SUCCESS);
  InstallerHandleHolder record;
  while (MsiViewFetch(view.Get(), record.Receive()) == ERROR_SUCCESS) {
    WCHAR buffer[MAX_PATH];
    DWORD count = MAX_PATH;
    EXPECT_EQ(MsiRecordGetStringW(record.Get(), 1, buffer, &count), ERROR_SUCCESS);
    if (buffer != key) continue;
    EXPECT_EQ(MsiRecordSetStringW(record.Get(), field, value.c_str()), ERROR_SUCCESS);
    return MsiViewModify(view.Get(), mode, record.Get());
  }
  return ERROR_NO_MORE_ITEMS;
}

// MSIMODIFY_UPDATE writes the view's non-key columns into the fetched row and leaves its
// other columns; a changed key is refused, and so is a row deleted since it was fetched.
TEST_F(InstallerDatabaseTest, UpdateChangesTheFetchedRowInPlaceOnly) {
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
            ERROR_SUCCESS);
  EXPECT_EQ(ModifyRow(database.Get(), u"SELECT Action,Condition FROM InstallExecuteSequence",
                      u"ResolveSourceDir", 2, u"Installed", MSIMODIFY_UPDATE),
            ERROR_SUCCESS);
  EXPECT_EQ(ModifyRow(database.Get(), u"SELECT Component_,Registry FROM Registry", u"Kept", 2,
                      u"renamed", MSIMODIFY_UPDATE),
            ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiDatabaseCommit(database.Get()), ERROR_SUCCESS);
  database.Reset();
  EXPECT_EQ(testing_support::ExportTable(Path(), "InstallExecuteSequence"),
            WithLine(OriginalSequence, "ResolveSourceDir", "ResolveSourceDir\tInstalled\t900"));
  EXPECT_EQ(testing_support::ExportTable(Path(), "Registry"), OriginalRegistry);

  // A row deleted between the fetch and the update.
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
            ERROR_SUCCESS);
  InstallerHandleHolder view;
  ASSERT_EQ(MsiDatabaseOpenViewW(database.Get(), u"SELECT Registry,Component_ FROM Registry",
                                 view.Receive()),
            ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(view.Get(), 0), ERROR_SUCCESS);
  InstallerHandleHolder record;
  ASSERT_EQ(MsiViewFetch(view.Get(), record.Receive()), ERROR_SUCCESS);
  InstallerHandleHolder removal;
  ASSERT_EQ(MsiDatabaseOpenViewW(database.Get(), u"DELETE FROM Registry", removal.Receive()),
            ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(removal.Get(), 0), ERROR_SUCCESS);
  EXPECT_EQ(MsiViewModify(view.Get(), MSIMODIFY_UPDATE, record.Get()), ERROR_FUNCTION_FAILED);
}

// The switch that plays Wine's msi.dll: REPLACE through a view that names its columns fails
// with 1627 and changes nothing; through "SELECT *" it still replaces; UPDATE still works.
TEST_F(InstallerDatabaseTest, TheWineSwitchRefusesReplaceOnViewsThatNameTheirColumns) {
  testing_support::ScopedEnv wine("EMU_INSTALLER_REFUSE_REPLACE", "1");
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
            ERROR_SUCCESS);
  EXPECT_EQ(ModifyRow(database.Get(), u"SELECT Registry,Component_ FROM Registry", u"registry461",
                      2, u"Refused", MSIMODIFY_REPLACE),
            ERROR_FUNCTION_FAILED);
  EXPECT_EQ(ModifyRow(database.Get(), u"SELECT * FROM Registry", u"other", 6, u"Replaced",
                      MSIMODIFY_REPLACE),
            ERROR_SUCCESS);
  EXPECT_EQ(ModifyRow(database.Get(), u"SELECT `Registry`,`Component_` FROM `Registry`",
                      u"registry461", 2, u"Updated", MSIMODIFY_UPDATE),
            ERROR_SUCCESS);
  EXPECT_EQ(MsiDatabaseCommit(database.Get()), ERROR_SUCCESS);
  EXPECT_EQ(
      testing_support::ReadRows(Path(), "SELECT Registry, Component_ FROM Registry"),
      (std::vector<std::vector<std::string>>{{"registry461", "Updated"}, {"other", "Replaced"}}));
}

TEST_F(InstallerDatabaseTest, StoppedCommitLeavesTheOldDatabaseIntactAndOpenable) {
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
            ERROR_SUCCESS);
  EXPECT_EQ(ReplaceWhere(database.Get(), u"SELECT Registry,Component_ FROM Registry", u"other",
                         u"Changed"),
            1);
  static std::string writtenSeen;
  posix::commitHookForTesting = [](const std::string& written, const std::string&) {
    writtenSeen = written;
    return false;
  };
  UINT result = MsiDatabaseCommit(database.Get());
  posix::commitHookForTesting = nullptr;
  EXPECT_NE(result, ERROR_SUCCESS);
  // The new database was complete beside the old one, in the handle's commit directory,
  // when the commit stopped.
  EXPECT_EQ(std::filesystem::path(writtenSeen).parent_path().parent_path(), Scratch.Path());
  EXPECT_EQ(std::filesystem::path(writtenSeen)
                .parent_path()
                .filename()
                .string()
                .rfind(".cached.msi.commit-", 0),
            0u);
  EXPECT_EQ(testing_support::ReadRows(writtenSeen, "SELECT Component_ FROM Registry"),
            (std::vector<std::vector<std::string>>{{"OldComponent"}, {"Changed"}}));
  EXPECT_EQ(testing_support::ExportTable(Path(), "Registry"), OriginalRegistry);
  InstallerHandleHolder reopened;
  EXPECT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_READONLY, reopened.Receive()),
            ERROR_SUCCESS);
  reopened.Reset();
  database.Reset();
  EXPECT_EQ(testing_support::EntryNames(Scratch.Path()), std::vector<std::string>{"cached.msi"});
}

// A commit that cannot be completed leaves the database byte for byte as it was, and the
// handle refuses further work instead of reading a file that is not whole.
void ExpectFailedCommitChangedNothing(MSIHANDLE database, const std::string& before,
                                      const std::string& path) {
  EXPECT_EQ(testing_support::FileContent(path), before);
  InstallerHandleHolder view;
  EXPECT_EQ(MsiDatabaseOpenViewW(database, u"SELECT Registry FROM Registry", view.Receive()),
            ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiDatabaseCommit(database), ERROR_FUNCTION_FAILED);
  InstallerHandleHolder summary;
  EXPECT_EQ(MsiGetSummaryInformationW(database, nullptr, 0, summary.Receive()),
            ERROR_FUNCTION_FAILED);
  EXPECT_EQ(testing_support::FileContent(path), before);
}

// The disk fills up half way through the new database: libmsi's writes fail (here by a file
// size limit, which with SIGXFSZ ignored fails a write as a full disk does).
TEST_F(InstallerDatabaseTest, CommitOnADiskThatFillsUpHalfWayKeepsTheOldDatabase) {
  const std::string before = testing_support::FileContent(Path());
  ASSERT_GT(before.size(), 4096u);
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
            ERROR_SUCCESS);
  EXPECT_EQ(ReplaceWhere(database.Get(), u"SELECT Registry,Component_ FROM Registry", u"other",
                         u"Changed"),
            1);
  posix::InitializeProcess(0, nullptr);  // ignores SIGXFSZ, as every process of the host does
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = before.size() / 2;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  UINT result = MsiDatabaseCommit(database.Get());
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(result, ERROR_FUNCTION_FAILED);
  ExpectFailedCommitChangedNothing(database.Get(), before, Path());
  database.Reset();
  EXPECT_EQ(testing_support::EntryNames(Scratch.Path()), std::vector<std::string>{"cached.msi"});
}

// Every flush and the move of a commit may fail (an I/O error, a disk that gives out): each
// leaves the old database as it was.
TEST_F(InstallerDatabaseTest, EachFailedStepOfACommitKeepsTheOldDatabase) {
  const std::string before = testing_support::FileContent(Path());
  for (int failing = 1; failing <= 3; ++failing) {
    SCOPED_TRACE(failing);
    InstallerHandleHolder database;
    ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
              ERROR_SUCCESS);
    ReplaceWhere(database.Get(), u"SELECT Registry,Component_ FROM Registry", u"other", u"Changed");
    static int stepsLeft;
    stepsLeft = failing;
    posix::fileStepHookForTesting = [](posix::FileStep, const std::string&) {
      return --stepsLeft != 0;
    };
    UINT result = MsiDatabaseCommit(database.Get());
    posix::fileStepHookForTesting = nullptr;
    if (failing == 3) {
      // The third step flushes the directory after the move: the new database is in place,
      // but the commit could not be made to last and is reported failed.
      EXPECT_EQ(result, ERROR_FUNCTION_FAILED);
      EXPECT_EQ(testing_support::ReadRows(Path(), "SELECT Component_ FROM Registry"),
                (std::vector<std::vector<std::string>>{{"OldComponent"}, {"Changed"}}));
      continue;
    }
    EXPECT_EQ(result, ERROR_FUNCTION_FAILED);
    ExpectFailedCommitChangedNothing(database.Get(), before, Path());
    database.Reset();
    EXPECT_EQ(testing_support::EntryNames(Scratch.Path()), std::vector<std::string>{"cached.msi"});
  }
}

TEST_F(InstallerDatabaseTest, ProcessKilledBeforeTheMoveLeavesTheOldDatabase) {
  // The child dies between writing the new database and moving it into place.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    MSIHANDLE database = 0;
    if (MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, &database) != ERROR_SUCCESS) {
      _exit(1);
    }
    ReplaceWhere(database, u"SELECT Registry,Component_ FROM Registry", u"other", u"Changed");
    posix::commitHookForTesting = [](const std::string&, const std::string&) -> bool { _exit(42); };
    MsiDatabaseCommit(database);
    _exit(2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 42);
  EXPECT_EQ(testing_support::ExportTable(Path(), "Registry"), OriginalRegistry);
  EXPECT_EQ(testing_support::ExportTable(Path(), "InstallExecuteSequence"), OriginalSequence);
}

TEST_F(InstallerDatabaseTest, ReadOnlyDatabaseTakesNoEdits) {
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_READONLY, database.Receive()),
            ERROR_SUCCESS);
  InstallerHandleHolder view;
  ASSERT_EQ(MsiDatabaseOpenViewW(database.Get(), u"SELECT Registry,Component_ FROM Registry",
                                 view.Receive()),
            ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(view.Get(), 0), ERROR_SUCCESS);
  InstallerHandleHolder record;
  ASSERT_EQ(MsiViewFetch(view.Get(), record.Receive()), ERROR_SUCCESS);
  EXPECT_EQ(MsiRecordSetStringW(record.Get(), 2, u"Changed"), ERROR_SUCCESS);
  EXPECT_EQ(MsiViewModify(view.Get(), MSIMODIFY_REPLACE, record.Get()), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiDatabaseCommit(database.Get()), ERROR_SUCCESS);
  EXPECT_EQ(testing_support::ExportTable(Path(), "Registry"), OriginalRegistry);
}

TEST_F(InstallerDatabaseTest, BadQueriesAreRefusedWhenTheViewIsOpened) {
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_TRANSACT, database.Receive()),
            ERROR_SUCCESS);
  for (const char16_t* query : {u"SELECT Action,Condition FROM NoSuchTable",
                                u"SELECT Action,NoSuchColumn FROM InstallExecuteSequence",
                                u"SELEC Action FROM InstallExecuteSequence", u""}) {
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewW(database.Get(), query, &view), ERROR_BAD_QUERY_SYNTAX)
        << Narrow(query);
    EXPECT_EQ(view, 0u);
  }
}

TEST_F(InstallerDatabaseTest, ViewWalkStates) {
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_READONLY, database.Receive()),
            ERROR_SUCCESS);
  InstallerHandleHolder view;
  ASSERT_EQ(
      MsiDatabaseOpenViewW(database.Get(), u"SELECT Action,Sequence FROM InstallExecuteSequence",
                           view.Receive()),
      ERROR_SUCCESS);
  MSIHANDLE record = 0;
  EXPECT_EQ(MsiViewFetch(view.Get(), &record), ERROR_FUNCTION_FAILED);  // not executed
  ASSERT_EQ(MsiViewExecute(view.Get(), 0), ERROR_SUCCESS);
  std::vector<std::string> seen;
  while (MsiViewFetch(view.Get(), &record) == ERROR_SUCCESS) {
    InstallerHandleHolder holder(record);
    WCHAR text[16];
    DWORD count = 16;
    ASSERT_EQ(MsiRecordGetStringW(record, 2, text, &count), ERROR_SUCCESS);
    seen.push_back(Narrow(text));
    count = 16;
    ASSERT_EQ(MsiRecordGetStringW(record, 3, text, &count), ERROR_SUCCESS);  // past the end
    EXPECT_EQ(count, 0u);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"800", "900", "1000", "6600"}));
  EXPECT_EQ(MsiViewFetch(view.Get(), &record), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(record, 0u);
  // Closed, the view can run again.
  EXPECT_EQ(MsiViewClose(view.Get()), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(view.Get(), 0), ERROR_SUCCESS);
  InstallerHandleHolder first;
  EXPECT_EQ(MsiViewFetch(view.Get(), first.Receive()), ERROR_SUCCESS);
}

TEST_F(InstallerDatabaseTest, RecordStringBuffersFollowTheInstaller) {
  // A key of 260 characters does not fit a buffer of 260 characters.
  const std::string longKey(260, 'k');
  ASSERT_TRUE(testing_support::MakeDatabase(
      Path(), {InstallExecuteSequenceTable({{longKey, "", 1}, {"Short", "", 2}})}));
  InstallerHandleHolder database;
  ASSERT_EQ(MsiOpenDatabaseW(PathW().c_str(), MSIDBOPEN_READONLY, database.Receive()),
            ERROR_SUCCESS);
  InstallerHandleHolder view;
  ASSERT_EQ(MsiDatabaseOpenViewW(database.Get(), u"SELECT Action FROM InstallExecuteSequence",
                                 view.Receive()),
            ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(view.Get(), 0), ERROR_SUCCESS);
  InstallerHandleHolder record;
  ASSERT_EQ(MsiViewFetch(view.Get(), record.Receive()), ERROR_SUCCESS);
  WCHAR buffer[MAX_PATH];
  DWORD count = MAX_PATH;
  EXPECT_EQ(MsiRecordGetStringW(record.Get(), 1, buffer, &count), ERROR_MORE_DATA);
  EXPECT_EQ(count, 260u);
  EXPECT_EQ(Narrow(buffer), std::string(259, 'k'));  // cut, and terminated
  count = 0;
  EXPECT_EQ(MsiRecordGetStringW(record.Get(), 1, nullptr, &count), ERROR_SUCCESS);
  EXPECT_EQ(count, 260u);
  ASSERT_EQ(MsiViewFetch(view.Get(), record.Receive()), ERROR_SUCCESS);
  count = 6;  // "Short" and its terminator: fits exactly
  EXPECT_EQ(MsiRecordGetStringW(record.Get(), 1, buffer, &count), ERROR_SUCCESS);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(Narrow(buffer), "Short");
  count = 5;
  EXPECT_EQ(MsiRecordGetStringW(record.Get(), 1, buffer, &count), ERROR_MORE_DATA);
  EXPECT_EQ(Narrow(buffer), "Shor");
}

TEST(InstallerHandles, CloseAndUnknownHandles) {
  EXPECT_EQ(MsiCloseHandle(0), ERROR_SUCCESS);
  EXPECT_EQ(MsiCloseHandle(0x7FFFFFF0u), ERROR_INVALID_HANDLE);
  ScratchDir scratch;
  ASSERT_TRUE(testing_support::MakeDatabase(scratch.Join("a.msi"), {}));
  MSIHANDLE first = 0;
  MSIHANDLE second = 0;
  ASSERT_EQ(MsiGetSummaryInformationW(0, Wide(scratch.Join("a.msi")).c_str(), 0, &first),
            ERROR_SUCCESS);
  ASSERT_EQ(MsiOpenDatabaseW(Wide(scratch.Join("a.msi")).c_str(), MSIDBOPEN_READONLY, &second),
            ERROR_SUCCESS);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, 0u);
  EXPECT_NE(first, second);
  // A handle of one kind is no handle for an operation of another.
  MSIHANDLE view = 0;
  EXPECT_EQ(MsiDatabaseOpenViewW(first, u"SELECT * FROM Property", &view), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiCloseHandle(first), ERROR_SUCCESS);
  EXPECT_EQ(MsiCloseHandle(first), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiCloseHandle(second), ERROR_SUCCESS);
  EXPECT_EQ(MsiDatabaseCommit(second), ERROR_INVALID_HANDLE);
}

TEST(InstallerHandles, ViewOutlivesItsClosedDatabaseHandle) {
  ScratchDir scratch;
  ASSERT_TRUE(testing_support::MakeDatabase(scratch.Join("a.msi"),
                                            {InstallExecuteSequenceTable({{"Only", "", 1}})}));
  MSIHANDLE database = 0;
  ASSERT_EQ(MsiOpenDatabaseW(Wide(scratch.Join("a.msi")).c_str(), MSIDBOPEN_READONLY, &database),
            ERROR_SUCCESS);
  InstallerHandleHolder view;
  ASSERT_EQ(
      MsiDatabaseOpenViewW(database, u"SELECT Action FROM InstallExecuteSequence", view.Receive()),
      ERROR_SUCCESS);
  EXPECT_EQ(MsiCloseHandle(database), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(view.Get(), 0), ERROR_SUCCESS);
  InstallerHandleHolder record;
  EXPECT_EQ(MsiViewFetch(view.Get(), record.Receive()), ERROR_SUCCESS);
}

TEST(InstallerDatabaseOpen, MissingOrDamagedFilesDoNotOpen) {
  ScratchDir scratch;
  std::string junk = scratch.WriteFile("junk.msi", "this is no installer database");
  for (const std::string& path : {scratch.Join("missing.msi"), junk, scratch.Path()}) {
    for (LPCWSTR mode : {MSIDBOPEN_READONLY, MSIDBOPEN_TRANSACT}) {
      MSIHANDLE database = 0;
      EXPECT_NE(MsiOpenDatabaseW(Wide(path).c_str(), mode, &database), ERROR_SUCCESS) << path;
      EXPECT_EQ(database, 0u);
    }
    MSIHANDLE summary = 0;
    EXPECT_NE(MsiGetSummaryInformationW(0, Wide(path).c_str(), 0, &summary), ERROR_SUCCESS);
    EXPECT_EQ(summary, 0u);
  }
  // A failed transacted open leaves nothing behind.
  EXPECT_EQ(testing_support::EntryNames(scratch.Path()), std::vector<std::string>{"junk.msi"});
}

// Summary information.

class InstallerSummaryTest : public ::testing::Test {
 protected:
  // Property 7 of a patch package with `targets`, read through the operations with a
  // buffer of `capacity` characters: the result, the count and the buffer's text.
  struct Read {
    UINT Result;
    DWORD Count;
    std::string Text;
  };
  Read ReadTargets(const std::string& targets, DWORD capacity) {
    std::string path = Scratch.Join("patch.msp");
    EXPECT_TRUE(testing_support::MakePatchPackage(path, PatchFor(targets)));
    InstallerHandleHolder summary;
    EXPECT_EQ(MsiGetSummaryInformationW(0, Wide(path).c_str(), 0, summary.Receive()),
              ERROR_SUCCESS);
    std::u16string buffer(capacity + 1, u'#');
    Read read{};
    UINT type = 99;
    read.Count = capacity;
    read.Result = MsiSummaryInfoGetPropertyW(summary.Get(), PID_TEMPLATE, &type, nullptr, nullptr,
                                             buffer.data(), &read.Count);
    EXPECT_EQ(type, VT_LPSTR);
    read.Text = Narrow(buffer.c_str());
    return read;
  }
  ScratchDir Scratch;
};

TEST_F(InstallerSummaryTest, TextFitsOnlyWithItsTerminator) {
  const std::string targets =
      "{AAAAAAAA-0000-4000-8000-000000000001};{BBBBBBBB-0000-4000-8000-000000000002}";
  const auto length = static_cast<DWORD>(targets.size());
  Read roomy = ReadTargets(targets, 2048);
  EXPECT_EQ(roomy.Result, ERROR_SUCCESS);
  EXPECT_EQ(roomy.Count, length);
  EXPECT_EQ(roomy.Text, targets);
  Read exact = ReadTargets(targets, length + 1);
  EXPECT_EQ(exact.Result, ERROR_SUCCESS);
  EXPECT_EQ(exact.Text, targets);
  Read tight = ReadTargets(targets, length);
  EXPECT_EQ(tight.Result, ERROR_MORE_DATA);
  EXPECT_EQ(tight.Count, length);
  EXPECT_EQ(tight.Text, targets.substr(0, length - 1));
}

TEST_F(InstallerSummaryTest, LongTargetListNeedsASecondCall) {
  std::string targets;
  while (targets.size() < 2100) targets += "{AAAAAAAA-0000-4000-8000-000000000001};";
  Read first = ReadTargets(targets, 2048);
  EXPECT_EQ(first.Result, ERROR_MORE_DATA);
  EXPECT_EQ(first.Count, targets.size());
  Read second = ReadTargets(targets, first.Count + 1);
  EXPECT_EQ(second.Result, ERROR_SUCCESS);
  EXPECT_EQ(second.Text, targets);
}

TEST_F(InstallerSummaryTest, ValueGrowingBetweenCallsGivesMoreDataAgain) {
  static int calls;
  calls = 0;
  posix::summaryTextHookForTesting = [](UINT, std::u16string& value) {
    if (++calls == 2) value += u";{CCCCCCCC-0000-4000-8000-000000000003}";
  };
  const std::string targets(3000, 'x');
  std::string path = Scratch.Join("patch.msp");
  ASSERT_TRUE(testing_support::MakePatchPackage(path, PatchFor(targets)));
  InstallerHandleHolder summary;
  ASSERT_EQ(MsiGetSummaryInformationW(0, Wide(path).c_str(), 0, summary.Receive()), ERROR_SUCCESS);
  std::u16string buffer(2048, u'\0');
  DWORD count = 2048;
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary.Get(), PID_TEMPLATE, nullptr, nullptr, nullptr,
                                       buffer.data(), &count),
            ERROR_MORE_DATA);
  ASSERT_EQ(count, 3000u);
  buffer.assign(count + 1, u'\0');
  count += 1;
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary.Get(), PID_TEMPLATE, nullptr, nullptr, nullptr,
                                       buffer.data(), &count),
            ERROR_MORE_DATA);
  EXPECT_EQ(count, 3000u + 39u);
  posix::summaryTextHookForTesting = nullptr;
}

TEST_F(InstallerSummaryTest, TypesOfProperties) {
  std::string path = Scratch.Join("product.msi");
  ASSERT_TRUE(testing_support::MakeDatabase(path, {}));
  InstallerHandleHolder summary;
  ASSERT_EQ(MsiGetSummaryInformationW(0, Wide(path).c_str(), 0, summary.Receive()), ERROR_SUCCESS);
  UINT type = 99;
  INT number = 0;
  EXPECT_EQ(
      MsiSummaryInfoGetPropertyW(summary.Get(), 14, &type, &number, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(type, VT_I4);
  EXPECT_EQ(number, 200);
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary.Get(), 5, &type, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(type, VT_EMPTY);  // no keywords were set
  EXPECT_EQ(
      MsiSummaryInfoGetPropertyW(summary.Get(), 20, &type, nullptr, nullptr, nullptr, nullptr),
      ERROR_UNKNOWN_PROPERTY);
  WCHAR text[64];
  DWORD count = 64;
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary.Get(), PID_TEMPLATE, &type, nullptr, nullptr, text,
                                       &count),
            ERROR_SUCCESS);
  EXPECT_EQ(Narrow(text), "Intel;1033");
  EXPECT_EQ(
      MsiSummaryInfoGetPropertyW(0x7FFFFFF0u, PID_TEMPLATE, &type, nullptr, nullptr, text, &count),
      ERROR_INVALID_HANDLE);
}

}  // namespace
