#include "platform/posix/installer_handles.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace platform::posix {
namespace {

struct HandleTable {
  std::map<MSIHANDLE, InstallerObject> Objects;
  MSIHANDLE Last = 0;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

void DropLibmsiMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

}  // namespace

std::recursive_mutex& InstallerLock() {
  static std::recursive_mutex lock;
  return lock;
}

MSIHANDLE AddHandle(InstallerObject object) {
  std::lock_guard<std::recursive_mutex> guard(InstallerLock());
  HandleTable& table = Table();
  // The next free nonzero value; after a wrap, values still in use are skipped.
  MSIHANDLE handle = table.Last;
  do {
    ++handle;
  } while (handle == 0 || table.Objects.count(handle) != 0);
  table.Last = handle;
  table.Objects.emplace(handle, std::move(object));
  return handle;
}

template <typename T>
std::shared_ptr<T> FindHandle(MSIHANDLE handle) {
  std::lock_guard<std::recursive_mutex> guard(InstallerLock());
  auto found = Table().Objects.find(handle);
  if (found == Table().Objects.end()) return nullptr;
  if (auto* object = std::get_if<std::shared_ptr<T>>(&found->second)) return *object;
  return nullptr;
}

template std::shared_ptr<SummaryObject> FindHandle<SummaryObject>(MSIHANDLE);
template std::shared_ptr<DatabaseObject> FindHandle<DatabaseObject>(MSIHANDLE);
template std::shared_ptr<ViewObject> FindHandle<ViewObject>(MSIHANDLE);
template std::shared_ptr<RecordObject> FindHandle<RecordObject>(MSIHANDLE);

bool RemoveHandle(MSIHANDLE handle) {
  // The object may end here and release libmsi objects: that too happens under the lock.
  std::lock_guard<std::recursive_mutex> guard(InstallerLock());
  return Table().Objects.erase(handle) != 0;
}

void QuietLibmsi() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (std::getenv("EMU_INSTALLER_TRACE") != nullptr) return;
    g_log_set_handler(
        nullptr,
        static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL |
                                    G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
        DropLibmsiMessage, nullptr);
  });
}

GObjectPtr<LibmsiDatabase> OpenInstallerFileReadOnly(const std::string& path) {
  QuietLibmsi();
  ScopedFileDescriptor file = OpenRegularFile(path);
  if (!file) return nullptr;
  const std::string pinned = PinnedPath(file.Get());
  for (guint flags :
       {guint{LIBMSI_DB_FLAGS_READONLY}, guint{LIBMSI_DB_FLAGS_READONLY | LIBMSI_DB_FLAGS_PATCH}}) {
    GErrorHolder error;
    GObjectPtr<LibmsiDatabase> database(
        libmsi_database_new(pinned.c_str(), flags, nullptr, &error.Error));
    if (database) return database;
  }
  return nullptr;
}

UINT CopyOutText(std::u16string_view value, LPWSTR buffer, DWORD* count,
                 bool moreDataWithoutBuffer) {
  if (count == nullptr) return buffer != nullptr ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  const DWORD length = static_cast<DWORD>(value.size());
  const DWORD capacity = *count;
  *count = length;
  if (buffer == nullptr) {
    return moreDataWithoutBuffer && length >= capacity ? ERROR_MORE_DATA : ERROR_SUCCESS;
  }
  if (length < capacity) {
    std::copy(value.begin(), value.end(), buffer);
    buffer[length] = u'\0';
    return ERROR_SUCCESS;
  }
  if (capacity > 0) {
    std::copy(value.begin(), value.begin() + (capacity - 1), buffer);
    buffer[capacity - 1] = u'\0';
  }
  return ERROR_MORE_DATA;
}

FieldValue ReadField(LibmsiRecord* record, guint field) {
  FieldValue value;
  if (field > libmsi_record_get_field_count(record) || libmsi_record_is_null(record, field)) {
    return value;
  }
  value.IsNull = false;
  gchar* text = libmsi_record_get_string(record, field);
  value.Text = text != nullptr ? text : "";
  g_free(text);
  int number = libmsi_record_get_int(record, field);
  if (number != static_cast<int>(LIBMSI_NULL_INT) && std::to_string(number) == value.Text) {
    value.IsInteger = true;
    value.Integer = number;
  }
  return value;
}

void WriteField(LibmsiRecord* record, guint field, const FieldValue& value,
                const std::string& type) {
  const bool integerColumn = !type.empty() && (type[0] == 'i' || type[0] == 'I');
  if (value.IsNull) {
    libmsi_record_set_string(record, field, nullptr);
  } else if (integerColumn) {
    int number = value.IsInteger ? value.Integer : std::atoi(value.Text.c_str());
    libmsi_record_set_int(record, field, number);
  } else {
    libmsi_record_set_string(record, field, value.Text.c_str());
  }
}

bool RunStatement(LibmsiDatabase* database, const std::string& sql,
                  const std::vector<Parameter>& parameters, std::size_t* rowCount) {
  GErrorHolder error;
  GObjectPtr<LibmsiQuery> query(libmsi_query_new(database, sql.c_str(), &error.Error));
  if (!query) return false;
  GObjectPtr<LibmsiRecord> bound(libmsi_record_new(static_cast<guint>(parameters.size())));
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    WriteField(bound.get(), static_cast<guint>(i + 1), parameters[i].Value, parameters[i].Type);
  }
  bool ok =
      libmsi_query_execute(query.get(), parameters.empty() ? nullptr : bound.get(), &error.Error);
  if (ok && rowCount != nullptr) {
    *rowCount = 0;
    while (GObjectPtr<LibmsiRecord> row{libmsi_query_fetch(query.get(), nullptr)}) ++*rowCount;
  }
  libmsi_query_close(query.get(), nullptr);
  return ok;
}

std::string Quoted(const std::string& name) { return "`" + name + "`"; }

}  // namespace platform::posix

// libmsi (0.101) leaks small blocks of its own in its SQL parser, table import and commit;
// a leak check of a sanitizer build would fail every process that uses it. Only allocations
// made inside libmsi are excused.
extern "C" const char* __lsan_default_suppressions() { return "leak:libmsi.so\n"; }
// The excused leaks are not reported at exit either: a process's standard error stays its own.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
