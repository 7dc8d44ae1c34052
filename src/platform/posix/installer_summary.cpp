// Summary information of installer files through libmsi, and MsiCloseHandle.
#include "platform/posix/installer_summary.h"

#include "platform/posix/host.h"
#include "platform/posix/installer_handles.h"

namespace platform {
namespace posix {

SummaryTextHook summaryTextHookForTesting = nullptr;

namespace {

// Summary properties 0 to 19 exist; higher ids are unknown to the installer.
constexpr UINT kSummaryPropertyCount = 20;
constexpr UINT kPidCodepage = 1;

}  // namespace
}  // namespace posix

UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR path, UINT updateCount,
                               MSIHANDLE* summary) {
  (void)updateCount;  // the emulated service offers no summary writes: always read-only
  if (summary == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  posix::QuietLibmsi();
  auto object = std::make_shared<posix::SummaryObject>();
  if (database != 0) {
    auto opened = posix::FindHandle<posix::DatabaseObject>(database);
    if (!opened) return ERROR_INVALID_HANDLE;
    if (opened->Failed) return ERROR_FUNCTION_FAILED;
    object->Database.reset(LIBMSI_DATABASE(g_object_ref(opened->Database.get())));
  } else {
    if (path == nullptr || *path == u'\0') return ERROR_INVALID_PARAMETER;
    std::string native;
    if (!posix::ResolveWindowsPath(path, native)) return ERROR_OPEN_FAILED;
    object->Database = posix::OpenInstallerFileReadOnly(native);
    if (!object->Database) return ERROR_OPEN_FAILED;
  }
  posix::GErrorHolder error;
  object->Info.reset(libmsi_summary_info_new(object->Database.get(), 0, &error.Error));
  if (!object->Info) return ERROR_FUNCTION_FAILED;
  *summary = posix::AddHandle(std::move(object));
  return ERROR_SUCCESS;
}

UINT MsiSummaryInfoGetPropertyW(MSIHANDLE summary, UINT property, UINT* dataType, INT* intValue,
                                FILETIME* time, LPWSTR buffer, DWORD* count) {
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  if (property >= posix::kSummaryPropertyCount) {
    if (dataType != nullptr) *dataType = VT_EMPTY;
    return ERROR_UNKNOWN_PROPERTY;
  }
  auto object = posix::FindHandle<posix::SummaryObject>(summary);
  if (!object) return ERROR_INVALID_HANDLE;
  auto id = static_cast<LibmsiProperty>(property);
  posix::GErrorHolder error;
  switch (libmsi_summary_info_get_property_type(object->Info.get(), id, &error.Error)) {
    case LIBMSI_PROPERTY_TYPE_INT:
      if (dataType != nullptr) *dataType = property == posix::kPidCodepage ? VT_I2 : VT_I4;
      if (intValue != nullptr) {
        *intValue = libmsi_summary_info_get_int(object->Info.get(), id, nullptr);
      }
      return ERROR_SUCCESS;
    case LIBMSI_PROPERTY_TYPE_FILETIME:
      if (dataType != nullptr) *dataType = VT_FILETIME;
      if (time != nullptr) {
        guint64 value = libmsi_summary_info_get_filetime(object->Info.get(), id, nullptr);
        time->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
        time->dwHighDateTime = static_cast<DWORD>(value >> 32);
      }
      return ERROR_SUCCESS;
    case LIBMSI_PROPERTY_TYPE_STRING: {
      if (dataType != nullptr) *dataType = VT_LPSTR;
      const gchar* text = libmsi_summary_info_get_string(object->Info.get(), id, nullptr);
      std::u16string value = posix::FromUtf8(text != nullptr ? text : "");
      if (posix::summaryTextHookForTesting != nullptr) {
        posix::summaryTextHookForTesting(property, value);
      }
      // As the installer does: no count, nothing copied; a count without a buffer still
      // learns ERROR_MORE_DATA.
      if (count == nullptr) return ERROR_SUCCESS;
      return posix::CopyOutText(value, buffer, count, /*moreDataWithoutBuffer=*/true);
    }
    default:
      if (dataType != nullptr) *dataType = VT_EMPTY;
      return ERROR_SUCCESS;
  }
}

UINT MsiCloseHandle(MSIHANDLE handle) {
  if (handle == 0) return ERROR_SUCCESS;
  return posix::RemoveHandle(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace platform
