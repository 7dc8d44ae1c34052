// Installation databases through libmsi: open (read-only or transacted), views over
// queries, records, writing a fetched row back, and the crash-safe commit.
#include "platform/posix/installer_database.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "platform/posix/host.h"
#include "platform/posix/installer_handles.h"
#include "platform/posix/installer_steps.h"

namespace platform {
namespace posix {

CommitHook commitHookForTesting = nullptr;

DatabaseObject::~DatabaseObject() {
  // libmsi removes its own output files when the database is released; what a stopped
  // commit left in the commit directory is ours to remove, and the directory with it.
  Database.reset();
  if (CommitDirectory.empty()) return;
  for (const std::string& name : DirectoryEntries(CommitDirectory)) {
    UnlinkStep(CommitDirectory + "/" + name);
  }
  rmdir(CommitDirectory.c_str());
}

namespace {

std::string BaseNameOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Makes the commit directory of a transacted database at `path` and locks it: first under
// an ".opening-" name that no cleanup takes, renamed to its ".commit-" name only once
// locked, so that a cleanup never sees it unlocked while it lives. False with errno set.
bool MakeCommitDirectory(const std::string& path, DatabaseObject& object) {
  const std::string prefix = DirectoryOf(path) + "/." + BaseNameOf(path);
  std::string opening = prefix + ".opening-XXXXXX";
  if (mkdtemp(opening.data()) == nullptr) return false;
  ScopedFileDescriptor lock(open(opening.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::string committing = prefix + kCommitDirectoryInfix + opening.substr(opening.size() - 6);
  if (!lock || flock(lock.Get(), LOCK_EX | LOCK_NB) != 0 ||
      renameat2(AT_FDCWD, opening.c_str(), AT_FDCWD, committing.c_str(), RENAME_NOREPLACE) != 0) {
    int error = errno;
    rmdir(opening.c_str());
    errno = error;
    return false;
  }
  object.CommitDirectory = committing;
  object.CommitLock = std::move(lock);
  return true;
}

// Checks that the file libmsi wrote at `written` is a whole database: a regular, non-empty
// file that opens as one and whose tables can be listed. libmsi reports no failed write or
// flush of its output; its writer leaves the output missing (or the name as it was) when
// one fails, and a file cut short does not open.
bool IsWholeDatabase(const std::string& written) {
  ScopedFileDescriptor file = OpenRegularFile(written);
  struct stat status {};
  if (!file || fstat(file.Get(), &status) != 0 || status.st_size == 0) return false;
  GErrorHolder error;
  GObjectPtr<LibmsiDatabase> database(libmsi_database_new(
      PinnedPath(file.Get()).c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error));
  if (!database) return false;
  GObjectPtr<LibmsiQuery> tables(
      libmsi_query_new(database.get(), "SELECT `Name` FROM `_Tables`", &error.Error));
  if (!tables || !libmsi_query_execute(tables.get(), nullptr, &error.Error)) return false;
  while (GObjectPtr<LibmsiRecord> row{libmsi_query_fetch(tables.get(), nullptr)}) {
  }
  libmsi_query_close(tables.get(), nullptr);
  return true;
}

// The commit of a transacted database, in the order that keeps the old file whole until
// the new one is: write, check, make durable, move. Any failure leaves `object.Path` as it
// was and returns ERROR_FUNCTION_FAILED, with the last error from the system call that
// failed where there is one.
UINT CommitTransacted(DatabaseObject& object) {
  // 1. libmsi writes the whole new database into the commit directory and reads on from
  //    it; its path property names that file.
  struct stat status {};
  const bool hadFile = stat(object.Path.c_str(), &status) == 0;
  GErrorHolder error;
  if (!libmsi_database_commit(object.Database.get(), &error.Error)) return ERROR_FUNCTION_FAILED;
  gchar* writtenPath = nullptr;
  g_object_get(object.Database.get(), "path", &writtenPath, nullptr);
  const std::string written = writtenPath != nullptr ? writtenPath : "";
  g_free(writtenPath);
  if (written.empty() || written == object.Path) return ERROR_FUNCTION_FAILED;
  // 2. It must be whole: a disk that filled up leaves it missing, empty or cut short.
  if (!IsWholeDatabase(written)) {
    SetLastError(ERROR_WRITE_FAULT);
    return ERROR_FUNCTION_FAILED;
  }
  // 3. The old file's permissions, and the bytes on the disk before the name is used.
  if ((hadFile && chmod(written.c_str(), status.st_mode & 07777) != 0) || !SyncStep(written, 0)) {
    SetLastErrorFromErrno(errno);
    return ERROR_FUNCTION_FAILED;
  }
  if (commitHookForTesting != nullptr && !commitHookForTesting(written, object.Path)) {
    return ERROR_FUNCTION_FAILED;
  }
  // 4. One rename puts it in place: whoever opens the path sees the old file or the new one;
  //    the directory's flush makes the new name last.
  if (!RenameStep(written, object.Path) || !SyncStep(DirectoryOf(object.Path), O_DIRECTORY)) {
    SetLastErrorFromErrno(errno);
    return ERROR_FUNCTION_FAILED;
  }
  return ERROR_SUCCESS;
}

// The query's tokens as far as finding its table needs: words, `quoted names`, 'strings'
// and single punctuation characters.
std::vector<std::string> QueryTokens(std::string_view query) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < query.size()) {
    char c = query[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '`' || c == '\'') {
      std::size_t end = query.find(c, i + 1);
      if (end == std::string_view::npos) end = query.size();
      tokens.emplace_back(c == '`' ? query.substr(i + 1, end - i - 1) : query.substr(i, end - i));
      i = end + 1;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.') {
      std::size_t start = i;
      while (i < query.size() && (std::isalnum(static_cast<unsigned char>(query[i])) ||
                                  query[i] == '_' || query[i] == '.')) {
        ++i;
      }
      tokens.emplace_back(query.substr(start, i - start));
    } else {
      tokens.emplace_back(1, c);
      ++i;
    }
  }
  return tokens;
}

bool SameWord(const std::string& token, const char* word) {
  std::size_t i = 0;
  for (; i < token.size() && word[i] != '\0'; ++i) {
    if (std::toupper(static_cast<unsigned char>(token[i])) != word[i]) return false;
  }
  return i == token.size() && word[i] == '\0';
}

// The one table a SELECT reads; empty for other statements and for a join.
std::string SelectedTable(std::string_view query) {
  std::vector<std::string> tokens = QueryTokens(query);
  if (tokens.empty() || !SameWord(tokens[0], "SELECT")) return {};
  for (std::size_t i = 1; i + 1 < tokens.size(); ++i) {
    if (!SameWord(tokens[i], "FROM")) continue;
    if (i + 2 < tokens.size() && tokens[i + 2] == ",") return {};
    return tokens[i + 1];
  }
  return {};
}

std::vector<std::string> RecordTexts(LibmsiRecord* record) {
  std::vector<std::string> texts;
  if (record == nullptr) return texts;
  guint count = libmsi_record_get_field_count(record);
  for (guint field = 1; field <= count; ++field) {
    gchar* text = libmsi_record_get_string(record, field);
    texts.emplace_back(text != nullptr ? text : "");
    g_free(text);
  }
  return texts;
}

// The one row a query selects, with its columns and their types; false when there is not
// exactly one.
bool ReadWholeRow(LibmsiDatabase* database, const std::string& sql,
                  const std::vector<Parameter>& parameters, ViewObject& shape,
                  std::vector<FieldValue>& row) {
  GErrorHolder error;
  GObjectPtr<LibmsiQuery> query(libmsi_query_new(database, sql.c_str(), &error.Error));
  if (!query) return false;
  GObjectPtr<LibmsiRecord> names(
      libmsi_query_get_column_info(query.get(), LIBMSI_COL_INFO_NAMES, nullptr));
  GObjectPtr<LibmsiRecord> types(
      libmsi_query_get_column_info(query.get(), LIBMSI_COL_INFO_TYPES, nullptr));
  shape.Columns = RecordTexts(names.get());
  shape.Types = RecordTexts(types.get());
  shape.Types.resize(shape.Columns.size());
  GObjectPtr<LibmsiRecord> bound(libmsi_record_new(static_cast<guint>(parameters.size())));
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    WriteField(bound.get(), static_cast<guint>(i + 1), parameters[i].Value, parameters[i].Type);
  }
  std::size_t count = 0;
  if (libmsi_query_execute(query.get(), bound.get(), &error.Error)) {
    while (GObjectPtr<LibmsiRecord> found{libmsi_query_fetch(query.get(), nullptr)}) {
      if (++count > 1) break;
      for (std::size_t i = 0; i < shape.Columns.size(); ++i) {
        row.push_back(ReadField(found.get(), static_cast<guint>(i + 1)));
      }
    }
    libmsi_query_close(query.get(), nullptr);
  }
  return count == 1;
}

// "`a` = ? AND `b` = ?" over the given columns, with their parameters appended.
std::string KeyCondition(const ViewObject& view, const std::vector<std::size_t>& keys,
                         const std::vector<FieldValue>& values, std::vector<Parameter>& bound) {
  std::string condition;
  for (std::size_t key : keys) {
    if (!condition.empty()) condition += " AND ";
    condition += Quoted(view.Columns[key]) + " = ?";
    bound.push_back({values[key], view.Types[key]});
  }
  return condition;
}

bool InsertRow(LibmsiDatabase* database, const ViewObject& view,
               const std::vector<FieldValue>& values) {
  std::string names;
  std::string marks;
  std::vector<Parameter> bound;
  for (std::size_t i = 0; i < view.Columns.size(); ++i) {
    names += (i > 0 ? ", " : "") + Quoted(view.Columns[i]);
    marks += i > 0 ? ", ?" : "?";
    bound.push_back({values[i], view.Types[i]});
  }
  return RunStatement(
      database, "INSERT INTO " + Quoted(view.Table) + " (" + names + ") VALUES (" + marks + ")",
      bound);
}

// The positions in the view of its table's primary key columns; false when the view does
// not read every one of them.
bool KeyColumns(const ViewObject& view, std::vector<std::size_t>& keys) {
  GErrorHolder error;
  GObjectPtr<LibmsiRecord> keyNames(libmsi_database_get_primary_keys(
      view.Database->Database.get(), view.Table.c_str(), &error.Error));
  std::vector<std::string> names = RecordTexts(keyNames.get());
  if (names.empty()) return false;
  for (const std::string& name : names) {
    std::size_t column = 0;
    while (column < view.Columns.size() && view.Columns[column] != name) ++column;
    if (column == view.Columns.size()) return false;
    keys.push_back(column);
  }
  return true;
}

// The record's values now, one per column of the view.
std::vector<FieldValue> RecordValues(const ViewObject& view, const RecordObject& record) {
  std::vector<FieldValue> values;
  for (std::size_t i = 0; i < view.Columns.size(); ++i) {
    values.push_back(ReadField(record.Record.get(), static_cast<guint>(i + 1)));
  }
  return values;
}

bool SameKey(const std::vector<std::size_t>& keys, const std::vector<FieldValue>& values,
             const std::vector<FieldValue>& fetched) {
  for (std::size_t key : keys) {
    if (values[key].IsNull != fetched[key].IsNull || values[key].Text != fetched[key].Text) {
      return false;
    }
  }
  return true;
}

// How many rows hold the key that `values` carry; false when the lookup fails.
bool CountKeyRows(LibmsiDatabase* database, const ViewObject& view,
                  const std::vector<std::size_t>& keys, const std::vector<FieldValue>& values,
                  std::size_t& found) {
  std::vector<Parameter> lookup;
  std::string condition = KeyCondition(view, keys, values, lookup);
  return RunStatement(database,
                      "SELECT " + Quoted(view.Columns[keys[0]]) + " FROM " + Quoted(view.Table) +
                          " WHERE " + condition,
                      lookup, &found);
}

// The row with the key of `values` takes the view's other columns from `values`.
bool UpdateNonKeyColumns(LibmsiDatabase* database, const ViewObject& view,
                         const std::vector<std::size_t>& keys,
                         const std::vector<FieldValue>& values) {
  std::string assignments;
  std::vector<Parameter> bound;
  for (std::size_t i = 0; i < view.Columns.size(); ++i) {
    bool isKey = false;
    for (std::size_t key : keys) isKey |= key == i;
    if (isKey) continue;
    assignments += (assignments.empty() ? "" : ", ") + Quoted(view.Columns[i]) + " = ?";
    bound.push_back({values[i], view.Types[i]});
  }
  return assignments.empty() ||
         RunStatement(database,
                      "UPDATE " + Quoted(view.Table) + " SET " + assignments + " WHERE " +
                          KeyCondition(view, keys, values, bound),
                      bound);
}

// MSIMODIFY_REPLACE: the row with the fetched key takes the record's values. When the
// record's key fields still hold the fetched key, the row is updated in place (inserted if
// it is gone); when they were changed, the fetched row is deleted and the record inserted.
UINT ReplaceRow(const ViewObject& view, RecordObject& record) {
  LibmsiDatabase* database = view.Database->Database.get();
  // 1. The table's primary key columns, each of which the view must read.
  std::vector<std::size_t> keys;
  if (!KeyColumns(view, keys)) return ERROR_FUNCTION_FAILED;
  // 2. The record's values now, and the key it was fetched with.
  std::vector<FieldValue> values = RecordValues(view, record);
  const std::vector<FieldValue>& fetched =
      record.Fetched.size() == values.size() ? record.Fetched : values;
  // 3. Write the row.
  const std::string table = Quoted(view.Table);
  bool ok = false;
  if (!SameKey(keys, values, fetched)) {
    // The whole fetched row, with the view's columns taken from the record, goes in under
    // the new key before the old row goes: a refused insert loses nothing.
    std::vector<Parameter> bound;
    std::string condition = KeyCondition(view, keys, fetched, bound);
    ViewObject whole;
    whole.Table = view.Table;
    std::vector<FieldValue> row;
    if (!ReadWholeRow(database, "SELECT * FROM " + table + " WHERE " + condition, bound, whole,
                      row)) {
      return ERROR_FUNCTION_FAILED;
    }
    for (std::size_t i = 0; i < whole.Columns.size(); ++i) {
      for (std::size_t j = 0; j < view.Columns.size(); ++j) {
        if (view.Columns[j] == whole.Columns[i]) row[i] = values[j];
      }
    }
    ok = InsertRow(database, whole, row) &&
         RunStatement(database, "DELETE FROM " + table + " WHERE " + condition, bound);
  } else {
    std::size_t found = 0;
    if (!CountKeyRows(database, view, keys, values, found)) return ERROR_FUNCTION_FAILED;
    ok = found == 0 ? InsertRow(database, view, values)
                    : UpdateNonKeyColumns(database, view, keys, values);
  }
  if (!ok) return ERROR_FUNCTION_FAILED;
  record.Fetched = values;
  return ERROR_SUCCESS;
}

// MSIMODIFY_UPDATE: the fetched row takes the record's values in the view's columns other
// than the key; its other columns stay. Only a fetched record whose key is unchanged, of a
// row that is still there.
UINT UpdateRow(const ViewObject& view, RecordObject& record) {
  LibmsiDatabase* database = view.Database->Database.get();
  std::vector<std::size_t> keys;
  if (!KeyColumns(view, keys)) return ERROR_FUNCTION_FAILED;
  std::vector<FieldValue> values = RecordValues(view, record);
  if (record.Fetched.size() != values.size() || !SameKey(keys, values, record.Fetched)) {
    return ERROR_FUNCTION_FAILED;
  }
  std::size_t found = 0;
  if (!CountKeyRows(database, view, keys, values, found) || found == 0 ||
      !UpdateNonKeyColumns(database, view, keys, values)) {
    return ERROR_FUNCTION_FAILED;
  }
  record.Fetched = values;
  return ERROR_SUCCESS;
}

// Whether the view's query names its columns ("SELECT a, b FROM ..."), rather than taking
// them all with "*".
bool NamesItsColumns(const ViewObject& view) {
  std::vector<std::string> tokens = QueryTokens(view.Query);
  return tokens.size() > 1 && tokens[1] != "*";
}

// The switch of tests that play Wine's msi.dll: EMU_INSTALLER_REFUSE_REPLACE=1 makes
// MSIMODIFY_REPLACE fail on a view that names its columns, with ERROR_FUNCTION_FAILED, as
// Wine's SELECT views do (only a view over "*" reaches the table itself, which replaces).
bool RefusesReplace(const ViewObject& view) {
  const char* value = std::getenv("EMU_INSTALLER_REFUSE_REPLACE");
  return value != nullptr && std::string_view(value) == "1" && NamesItsColumns(view);
}

}  // namespace
}  // namespace posix

UINT MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database) {
  if (path == nullptr || database == nullptr) return ERROR_INVALID_PARAMETER;
  // Read-only and transacted opens only: creating databases and writing them elsewhere
  // (MSIDBOPEN_CREATE, a persist path) is not what the emulated service is for.
  const auto mode = reinterpret_cast<ULONG_PTR>(persist);
  if (mode != reinterpret_cast<ULONG_PTR>(MSIDBOPEN_READONLY) &&
      mode != reinterpret_cast<ULONG_PTR>(MSIDBOPEN_TRANSACT)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  posix::QuietLibmsi();
  auto object = std::make_shared<posix::DatabaseObject>();
  if (!posix::ResolveWindowsPath(path, object->Path)) return ERROR_OPEN_FAILED;
  object->ReadOnly = mode == reinterpret_cast<ULONG_PTR>(MSIDBOPEN_READONLY);
  // The database must be a regular file, found out without blocking; libmsi then reads that
  // very file.
  posix::ScopedFileDescriptor file = posix::OpenRegularFile(object->Path);
  if (!file) return ERROR_OPEN_FAILED;
  const std::string pinned = posix::PinnedPath(file.Get());
  posix::GErrorHolder error;
  if (object->ReadOnly) {
    object->Database.reset(
        libmsi_database_new(pinned.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error));
  } else {
    // Commits are written into a directory of the database's own beside it (same file
    // system, so the move onto the database is one rename).
    if (!posix::MakeCommitDirectory(object->Path, *object)) return ERROR_OPEN_FAILED;
    const std::string persistPath = object->CommitDirectory + "/" + posix::BaseNameOf(object->Path);
    object->Database.reset(libmsi_database_new(pinned.c_str(), LIBMSI_DB_FLAGS_TRANSACT,
                                               persistPath.c_str(), &error.Error));
  }
  if (!object->Database) return ERROR_OPEN_FAILED;
  *database = posix::AddHandle(std::move(object));
  return ERROR_SUCCESS;
}

UINT MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view) {
  if (query == nullptr || view == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  auto opened = posix::FindHandle<posix::DatabaseObject>(database);
  if (!opened) return ERROR_INVALID_HANDLE;
  if (opened->Failed) return ERROR_FUNCTION_FAILED;
  auto object = std::make_shared<posix::ViewObject>();
  object->Database = opened;
  object->Query = posix::ToUtf8(query);
  // libmsi checks the statement, its tables and columns now, as the installer does: a
  // missing table or column is a bad query (1615) already when the view is opened.
  posix::GErrorHolder error;
  posix::GObjectPtr<LibmsiQuery> checked(
      libmsi_query_new(opened->Database.get(), object->Query.c_str(), &error.Error));
  if (!checked) return ERROR_BAD_QUERY_SYNTAX;
  // Only a SELECT has columns; libmsi cannot describe those of other statements.
  std::vector<std::string> tokens = posix::QueryTokens(object->Query);
  if (!tokens.empty() && posix::SameWord(tokens[0], "SELECT")) {
    posix::GObjectPtr<LibmsiRecord> names(
        libmsi_query_get_column_info(checked.get(), LIBMSI_COL_INFO_NAMES, nullptr));
    posix::GObjectPtr<LibmsiRecord> types(
        libmsi_query_get_column_info(checked.get(), LIBMSI_COL_INFO_TYPES, nullptr));
    object->Columns = posix::RecordTexts(names.get());
    object->Types = posix::RecordTexts(types.get());
    object->Types.resize(object->Columns.size());
  }
  object->Table = posix::SelectedTable(object->Query);
  *view = posix::AddHandle(std::move(object));
  return ERROR_SUCCESS;
}

UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters) {
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  auto object = posix::FindHandle<posix::ViewObject>(view);
  if (!object) return ERROR_INVALID_HANDLE;
  std::shared_ptr<posix::RecordObject> bound;
  if (parameters != 0) {
    bound = posix::FindHandle<posix::RecordObject>(parameters);
    if (!bound) return ERROR_INVALID_HANDLE;
  }
  // A fresh libmsi query each time: a commit since the last execution reopened the
  // database under any query made before it.
  object->Rows.clear();
  object->Next = 0;
  object->Executed = false;
  if (object->Database->Failed) return ERROR_FUNCTION_FAILED;
  posix::GErrorHolder error;
  LibmsiDatabase* database = object->Database->Database.get();
  posix::GObjectPtr<LibmsiQuery> query(
      libmsi_query_new(database, object->Query.c_str(), &error.Error));
  if (!query) return ERROR_BAD_QUERY_SYNTAX;
  if (!libmsi_query_execute(query.get(), bound ? bound->Record.get() : nullptr, &error.Error)) {
    return ERROR_FUNCTION_FAILED;
  }
  if (!object->Columns.empty()) {
    while (posix::GObjectPtr<LibmsiRecord> row{libmsi_query_fetch(query.get(), nullptr)}) {
      object->Rows.push_back(std::move(row));
    }
  }
  libmsi_query_close(query.get(), nullptr);
  object->Executed = true;
  return ERROR_SUCCESS;
}

UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record) {
  if (record == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  auto object = posix::FindHandle<posix::ViewObject>(view);
  if (!object) return ERROR_INVALID_HANDLE;
  *record = 0;
  if (!object->Executed) return ERROR_FUNCTION_FAILED;
  if (object->Next >= object->Rows.size()) return ERROR_NO_MORE_ITEMS;
  auto fetched = std::make_shared<posix::RecordObject>();
  fetched->Record = std::move(object->Rows[object->Next++]);
  fetched->View = object;
  for (std::size_t i = 0; i < object->Columns.size(); ++i) {
    fetched->Fetched.push_back(posix::ReadField(fetched->Record.get(), static_cast<guint>(i + 1)));
  }
  *record = posix::AddHandle(std::move(fetched));
  return ERROR_SUCCESS;
}

UINT MsiViewClose(MSIHANDLE view) {
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  auto object = posix::FindHandle<posix::ViewObject>(view);
  if (!object) return ERROR_INVALID_HANDLE;
  if (!object->Executed) return ERROR_FUNCTION_FAILED;
  object->Rows.clear();
  object->Next = 0;
  object->Executed = false;
  return ERROR_SUCCESS;
}

UINT MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR buffer, DWORD* count) {
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  auto object = posix::FindHandle<posix::RecordObject>(record);
  if (!object) return ERROR_INVALID_HANDLE;
  // A field past the record's end, like a null one, reads as empty text.
  posix::FieldValue value = posix::ReadField(object->Record.get(), field);
  return posix::CopyOutText(posix::FromUtf8(value.Text), buffer, count);
}

UINT MsiRecordSetStringW(MSIHANDLE record, UINT field, LPCWSTR value) {
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  auto object = posix::FindHandle<posix::RecordObject>(record);
  if (!object) return ERROR_INVALID_HANDLE;
  if (field > libmsi_record_get_field_count(object->Record.get())) return ERROR_INVALID_PARAMETER;
  // Empty text is the installer's null value.
  std::string text = value != nullptr ? posix::ToUtf8(value) : std::string();
  libmsi_record_set_string(object->Record.get(), field, text.empty() ? nullptr : text.c_str());
  return ERROR_SUCCESS;
}

UINT MsiViewModify(MSIHANDLE view, MSIMODIFY mode, MSIHANDLE record) {
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  auto object = posix::FindHandle<posix::ViewObject>(view);
  auto row = posix::FindHandle<posix::RecordObject>(record);
  if (!object || !row) return ERROR_INVALID_HANDLE;
  // The emulated service writes rows back by replacement or update only, the modes the
  // system uses; and only through a view of one table, on a database opened for writing.
  if ((mode != MSIMODIFY_REPLACE && mode != MSIMODIFY_UPDATE) || object->Table.empty() ||
      !object->Executed || object->Database->ReadOnly || object->Database->Failed) {
    return ERROR_FUNCTION_FAILED;
  }
  if (mode == MSIMODIFY_UPDATE) return posix::UpdateRow(*object, *row);
  if (posix::RefusesReplace(*object)) return ERROR_FUNCTION_FAILED;
  return posix::ReplaceRow(*object, *row);
}

UINT MsiDatabaseCommit(MSIHANDLE database) {
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  auto object = posix::FindHandle<posix::DatabaseObject>(database);
  if (!object) return ERROR_INVALID_HANDLE;
  if (object->Failed) return ERROR_FUNCTION_FAILED;
  if (object->ReadOnly) return ERROR_SUCCESS;  // nothing to write, as for the installer
  UINT result = posix::CommitTransacted(*object);
  if (result != ERROR_SUCCESS) object->Failed = true;
  return result;
}

}  // namespace platform
