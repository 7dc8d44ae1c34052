// The emulated installer's objects behind MSIHANDLE values: summary information, databases,
// views and records, kept in one process-wide handle table, and the libmsi objects they
// hold. Shared by the files of the emulated installer service only.
#pragma once

#include <libmsi.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/host.h"

namespace platform::posix {

// Releases a libmsi (GObject) object; for std::unique_ptr.
struct GObjectUnref {
  void operator()(void* object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Owns a GError and frees it on every path.
struct GErrorHolder {
  GError* Error = nullptr;
  GErrorHolder() = default;
  GErrorHolder(const GErrorHolder&) = delete;
  GErrorHolder& operator=(const GErrorHolder&) = delete;
  ~GErrorHolder() { Clear(); }
  void Clear() {
    if (Error != nullptr) g_error_free(Error);
    Error = nullptr;
  }
  // The libmsi result carried by the error, or -1 when there is none.
  int Code() const { return Error != nullptr ? Error->code : -1; }
};

// A database as MsiOpenDatabaseW opened it.
struct DatabaseObject {
  GObjectPtr<LibmsiDatabase> Database;
  std::string Path;  // the database file the handle stands for
  bool ReadOnly = true;
  // Transacted: a directory of its own beside Path (".NAME.commit-XXXXXX") that libmsi
  // writes each commit into before MsiDatabaseCommit moves it onto Path. Locked while the
  // object lives, so that a later start of the service tells it from the leftover of a
  // killed process; removed with what it holds when the object ends.
  std::string CommitDirectory;
  ScopedFileDescriptor CommitLock;
  // A commit failed: libmsi may now read from a file that is not whole, so the handle
  // takes no more work (ERROR_FUNCTION_FAILED).
  bool Failed = false;
  DatabaseObject() = default;
  DatabaseObject(const DatabaseObject&) = delete;
  DatabaseObject& operator=(const DatabaseObject&) = delete;
  ~DatabaseObject();
};

// Summary information, read-only. Keeps its database alive.
struct SummaryObject {
  GObjectPtr<LibmsiDatabase> Database;
  GObjectPtr<LibmsiSummaryInfo> Info;
};

// One value of a record field as it came from the table: null, integer or text.
struct FieldValue {
  bool IsNull = true;
  bool IsInteger = false;
  int Integer = 0;
  std::string Text;
  bool operator==(const FieldValue&) const = default;
};

// A view over one query. Rows are read whole when the view is executed, so that writing
// fetched rows back never runs under an open libmsi query and a commit that reopens the
// database leaves the walk intact.
struct ViewObject {
  std::shared_ptr<DatabaseObject> Database;
  std::string Query;
  std::string Table;  // the one table a SELECT reads; empty otherwise
  std::vector<std::string> Columns;
  std::vector<std::string> Types;  // libmsi column types: "s72", "S255", "I2" ...
  bool Executed = false;
  std::vector<GObjectPtr<LibmsiRecord>> Rows;
  std::size_t Next = 0;
};

// A record; a fetched one remembers its view and the field values it was fetched with, so
// MSIMODIFY_REPLACE can find its row again even when the key fields were changed.
struct RecordObject {
  GObjectPtr<LibmsiRecord> Record;
  std::weak_ptr<ViewObject> View;
  std::vector<FieldValue> Fetched;
};

using InstallerObject =
    std::variant<std::shared_ptr<SummaryObject>, std::shared_ptr<DatabaseObject>,
                 std::shared_ptr<ViewObject>, std::shared_ptr<RecordObject>>;

// Every installer operation holds this lock for its whole length: libmsi is not safe to
// call from two threads, and the handle table is shared by all threads of the process.
std::recursive_mutex& InstallerLock();

// Enters `object` into the handle table; returns its new nonzero handle.
MSIHANDLE AddHandle(InstallerObject object);
// The object of `handle` when it is of kind T; nullptr for 0, unknown or other kinds.
template <typename T>
std::shared_ptr<T> FindHandle(MSIHANDLE handle);
// Removes `handle` from the table; false when it was not there. The object ends when the
// last handle or view holding it is gone.
bool RemoveHandle(MSIHANDLE handle);

// Silences libmsi's warnings on standard error (a missing table, a file that is no
// database): the operations report those through their results.
void QuietLibmsi();

// Opens an installer file read-only, as a database or else as a patch. nullptr when it is
// neither, missing, or not a regular file (checked without blocking).
GObjectPtr<LibmsiDatabase> OpenInstallerFileReadOnly(const std::string& path);

// Copies `value` into a caller's buffer the way the installer does: capacity *count in
// characters; when it fits, the text and terminator, result 0; when it does not, the first
// *count - 1 characters and a terminator (nothing for capacity 0) and ERROR_MORE_DATA.
// *count becomes the length of `value` without terminator. A null buffer only measures:
// result 0, or ERROR_MORE_DATA when `moreDataWithoutBuffer` and the value does not fit.
// A buffer without a count is ERROR_INVALID_PARAMETER.
UINT CopyOutText(std::u16string_view value, LPWSTR buffer, DWORD* count,
                 bool moreDataWithoutBuffer = false);

// Reads one field of a libmsi record as it is stored.
FieldValue ReadField(LibmsiRecord* record, guint field);
// Writes `value` into a field as a column of `type` (libmsi type text) takes it.
void WriteField(LibmsiRecord* record, guint field, const FieldValue& value,
                const std::string& type);

// One value bound to a "?" of a statement, with the type of the column it stands for.
struct Parameter {
  FieldValue Value;
  std::string Type;
};

// Runs one statement of `database` with its parameters. True when it executed; with
// `rowCount`, the number of rows it yields is stored there.
bool RunStatement(LibmsiDatabase* database, const std::string& sql,
                  const std::vector<Parameter>& parameters, std::size_t* rowCount = nullptr);

// A table or column name quoted for a statement: `name`.
std::string Quoted(const std::string& name);

}  // namespace platform::posix
