#include "platform/posix/installer_journal.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/posix/installer_handles.h"
#include "platform/posix/installer_registry.h"

namespace platform::posix {
namespace {

// The text of each row of `query`'s first `columns` fields (null as ""), with the integer
// of field `orderField` when it is not 0. Nothing when the query does not run (no table).
struct Row {
  int Order = 0;
  std::vector<std::string> Fields;
};
std::vector<Row> ReadRows(LibmsiDatabase* database, const char* query, guint columns,
                          guint orderField) {
  std::vector<Row> rows;
  GErrorHolder error;
  GObjectPtr<LibmsiQuery> view(libmsi_query_new(database, query, &error.Error));
  if (!view || !libmsi_query_execute(view.get(), nullptr, &error.Error)) return rows;
  while (GObjectPtr<LibmsiRecord> record{libmsi_query_fetch(view.get(), nullptr)}) {
    Row row;
    for (guint field = 1; field <= columns; ++field) {
      row.Fields.push_back(ReadField(record.get(), field).Text);
    }
    if (orderField != 0) row.Order = ReadField(record.get(), orderField).Integer;
    rows.push_back(std::move(row));
  }
  libmsi_query_close(view.get(), nullptr);
  return rows;
}

}  // namespace

std::string JournalPath(const std::string& code) {
  return InstallerRoot() + "/journal/" + CanonicalProductCode(code) + ".journal";
}

void ReadJournalRows(const std::string& path, ConfigureCall& call) {
  std::lock_guard<std::recursive_mutex> guard(InstallerLock());
  QuietLibmsi();
  // A cached package that is no regular file (a FIFO, a device) is never waited on.
  ScopedFileDescriptor file = OpenRegularFile(path);
  if (!file) return;
  GErrorHolder error;
  GObjectPtr<LibmsiDatabase> database(libmsi_database_new(
      PinnedPath(file.Get()).c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error));
  if (!database) return;
  call.DatabaseRead = true;
  std::vector<Row> sequence =
      ReadRows(database.get(),
               "SELECT `Action`, `Condition`, `Sequence` FROM `InstallExecuteSequence`", 2, 3);
  std::stable_sort(sequence.begin(), sequence.end(), [](const Row& a, const Row& b) {
    return a.Order != b.Order ? a.Order < b.Order : a.Fields[0] < b.Fields[0];
  });
  for (Row& row : sequence) call.Sequence.emplace_back(row.Fields[0], row.Fields[1]);
  std::vector<Row> registry =
      ReadRows(database.get(), "SELECT `Registry`, `Component_` FROM `Registry`", 2, 0);
  std::sort(registry.begin(), registry.end(),
            [](const Row& a, const Row& b) { return a.Fields[0] < b.Fields[0]; });
  for (Row& row : registry) call.Registry.emplace_back(row.Fields[0], row.Fields[1]);
}

bool AppendToJournal(const std::string& code, const ConfigureCall& call) {
  ScopedFileDescriptor lock = LockFile(RegistryLockPath(), true);
  if (!lock) return false;
  // 1. The journal so far, and the number of its calls.
  const std::string path = JournalPath(code);
  std::string journal;
  {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    journal = content.str();
  }
  // Values are escaped, so a record starts wherever a line starts with "call\t".
  std::size_t calls = journal.compare(0, 5, "call\t") == 0 ? 1 : 0;
  for (std::size_t at = journal.find("\ncall\t"); at != std::string::npos;
       at = journal.find("\ncall\t", at + 1)) {
    ++calls;
  }
  // 2. The new record.
  std::string record = "call\t" + std::to_string(calls + 1) + "\n" + FormatJournalRecord(call);
  // 3. Written whole.
  return WriteFileAtomically(path, journal + record, nullptr);
}

std::string FormatJournalRecord(const ConfigureCall& call) {
  std::string record = "level\t" + std::to_string(call.Level) + "\n";
  record += "state\t" + std::to_string(call.State) + "\n";
  record += "commandline\t" + Escape(call.CommandLine) + "\n";
  if (!call.DatabaseRead) record += "database\tunreadable\n";
  for (const auto& [action, condition] : call.Sequence) {
    record += "sequence\t" + Escape(action) + "\t" + Escape(condition) + "\n";
  }
  for (const auto& [key, component] : call.Registry) {
    record += "registry\t" + Escape(key) + "\t" + Escape(component) + "\n";
  }
  record += "result\t" + std::to_string(call.Result) + "\n";
  return record;
}

}  // namespace platform::posix
