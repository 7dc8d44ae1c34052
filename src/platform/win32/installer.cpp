// The Windows Installer service. msi.dll is not a load-time import: it is loaded on first
// use from the system directory alone, so a planted msi.dll beside the executable is
// never used. Without the library every operation fails with
// ERROR_INSTALL_SERVICE_FAILURE (1601), and a product reads as unknown.
#include "platform/win32/win32.h"

#include <msi.h>
#include <msiquery.h>

namespace platform {
namespace {

using win32::Wide;

// The installer functions the system calls, with their types taken from msi.h.
struct InstallerFunctions {
  decltype(&::MsiGetSummaryInformationW) GetSummaryInformation;
  decltype(&::MsiSummaryInfoGetPropertyW) SummaryInfoGetProperty;
  decltype(&::MsiCloseHandle) CloseHandle;
  decltype(&::MsiQueryProductStateW) QueryProductState;
  decltype(&::MsiGetProductInfoW) GetProductInfo;
  decltype(&::MsiOpenDatabaseW) OpenDatabase;
  decltype(&::MsiDatabaseOpenViewW) DatabaseOpenView;
  decltype(&::MsiViewExecute) ViewExecute;
  decltype(&::MsiViewFetch) ViewFetch;
  decltype(&::MsiViewClose) ViewClose;
  decltype(&::MsiRecordGetStringW) RecordGetString;
  decltype(&::MsiRecordSetStringW) RecordSetString;
  decltype(&::MsiViewModify) ViewModify;
  decltype(&::MsiDatabaseCommit) DatabaseCommit;
  decltype(&::MsiConfigureProductExW) ConfigureProductEx;
  decltype(&::MsiEnableLogW) EnableLog;
};

template <typename Function>
bool Bind(::HMODULE library, const char* name, Function& function) {
  // Through a plain function pointer: a direct cast from FARPROC draws a warning.
  function =
      reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
  return function != nullptr;
}

// Loads msi.dll and binds every function, once per process. nullptr when the library or
// one of its functions is missing; the library then stays unused.
const InstallerFunctions* LoadInstaller() {
  static const InstallerFunctions* const loaded = []() -> const InstallerFunctions* {
    static InstallerFunctions functions{};
    ::DWORD saved = ::GetLastError();
    ::HMODULE library = win32::LoadSystemLibrary(L"msi.dll");
    bool complete = library != nullptr &&
                    Bind(library, "MsiGetSummaryInformationW", functions.GetSummaryInformation) &&
                    Bind(library, "MsiSummaryInfoGetPropertyW", functions.SummaryInfoGetProperty) &&
                    Bind(library, "MsiCloseHandle", functions.CloseHandle) &&
                    Bind(library, "MsiQueryProductStateW", functions.QueryProductState) &&
                    Bind(library, "MsiGetProductInfoW", functions.GetProductInfo) &&
                    Bind(library, "MsiOpenDatabaseW", functions.OpenDatabase) &&
                    Bind(library, "MsiDatabaseOpenViewW", functions.DatabaseOpenView) &&
                    Bind(library, "MsiViewExecute", functions.ViewExecute) &&
                    Bind(library, "MsiViewFetch", functions.ViewFetch) &&
                    Bind(library, "MsiViewClose", functions.ViewClose) &&
                    Bind(library, "MsiRecordGetStringW", functions.RecordGetString) &&
                    Bind(library, "MsiRecordSetStringW", functions.RecordSetString) &&
                    Bind(library, "MsiViewModify", functions.ViewModify) &&
                    Bind(library, "MsiDatabaseCommit", functions.DatabaseCommit) &&
                    Bind(library, "MsiConfigureProductExW", functions.ConfigureProductEx) &&
                    Bind(library, "MsiEnableLogW", functions.EnableLog);
    ::SetLastError(saved);
    return complete ? &functions : nullptr;
  }();
  return loaded;
}

}  // namespace

// Handles pass as numbers: msi.h's MSIHANDLE is an unsigned long, ours 32 bits of the same
// value, so out-parameters are received in a native slot and copied.
UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR path, UINT updateCount,
                               MSIHANDLE* summary) {
  const InstallerFunctions* msi = LoadInstaller();
  if (msi == nullptr) return ERROR_INSTALL_SERVICE_FAILURE;
  ::MSIHANDLE opened = 0;
  UINT result = msi->GetSummaryInformation(database, Wide(path), updateCount, &opened);
  if (summary != nullptr) *summary = static_cast<MSIHANDLE>(opened);
  return result;
}

UINT MsiSummaryInfoGetPropertyW(MSIHANDLE summary, UINT property, UINT* dataType, INT* intValue,
                                FILETIME* time, LPWSTR buffer, DWORD* count) {
  const InstallerFunctions* msi = LoadInstaller();
  if (msi == nullptr) return ERROR_INSTALL_SERVICE_FAILURE;
  ::FILETIME nativeTime{};
  ::DWORD nativeCount = count == nullptr ? 0 : *count;
  UINT result = msi->SummaryInfoGetProperty(summary, property, dataType, intValue,
                                            time == nullptr ? nullptr : &nativeTime, Wide(buffer),
                                            count == nullptr ? nullptr : &nativeCount);
  if (time != nullptr) *time = FILETIME{nativeTime.dwLowDateTime, nativeTime.dwHighDateTime};
  if (count != nullptr) *count = nativeCount;
  return result;
}

UINT MsiCloseHandle(MSIHANDLE handle) {
  const InstallerFunctions* msi = LoadInstaller();
  return msi == nullptr ? ERROR_INVALID_HANDLE : msi->CloseHandle(handle);
}

INSTALLSTATE MsiQueryProductStateW(LPCWSTR product) {
  const InstallerFunctions* msi = LoadInstaller();
  if (msi == nullptr) return INSTALLSTATE_UNKNOWN;
  return msi->QueryProductState(Wide(product));
}

UINT MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR buffer, DWORD* count) {
  const InstallerFunctions* msi = LoadInstaller();
  if (msi == nullptr) return ERROR_INSTALL_SERVICE_FAILURE;
  ::DWORD nativeCount = count == nullptr ? 0 : *count;
  UINT result = msi->GetProductInfo(Wide(product), Wide(property), Wide(buffer),
                                    count == nullptr ? nullptr : &nativeCount);
  if (count != nullptr) *count = nativeCount;
  return result;
}

UINT MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database) {
  const InstallerFunctions* msi = LoadInstaller();
  if (msi == nullptr) return ERROR_INSTALL_SERVICE_FAILURE;
  ::MSIHANDLE opened = 0;
  // The persist modes are small integers in place of a pointer and pass unchanged.
  UINT result = msi->OpenDatabase(Wide(path), Wide(persist), &opened);
  if (database != nullptr) *database = static_cast<MSIHANDLE>(opened);
  return result;
}

UINT MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view) {
  const InstallerFunctions* msi = LoadInstaller();
  if (msi == nullptr) return ERROR_INSTALL_SERVICE_FAILURE;
  ::MSIHANDLE opened = 0;
  UINT result = msi->DatabaseOpenView(database, Wide(query), &opened);
  if (view != nullptr) *view = static_cast<MSIHANDLE>(opened);
  return result;
}

UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters) {
  const InstallerFunctions* msi = LoadInstaller();
  return msi == nullptr ? ERROR_INSTALL_SERVICE_FAILURE : msi->ViewExecute(view, parameters);
}

UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record) {
  const InstallerFunctions* msi = LoadInstaller();
  if (msi == nullptr) return ERROR_INSTALL_SERVICE_FAILURE;
  ::MSIHANDLE fetched = 0;
  UINT result = msi->ViewFetch(view, &fetched);
  if (record != nullptr) *record = static_cast<MSIHANDLE>(fetched);
  return result;
}

UINT MsiViewClose(MSIHANDLE view) {
  const InstallerFunctions* msi = LoadInstaller();
  return msi == nullptr ? ERROR_INSTALL_SERVICE_FAILURE : msi->ViewClose(view);
}

UINT MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR buffer, DWORD* count) {
  const InstallerFunctions* msi = LoadInstaller();
  if (msi == nullptr) return ERROR_INSTALL_SERVICE_FAILURE;
  ::DWORD nativeCount = count == nullptr ? 0 : *count;
  UINT result =
      msi->RecordGetString(record, field, Wide(buffer), count == nullptr ? nullptr : &nativeCount);
  if (count != nullptr) *count = nativeCount;
  return result;
}

UINT MsiRecordSetStringW(MSIHANDLE record, UINT field, LPCWSTR value) {
  const InstallerFunctions* msi = LoadInstaller();
  return msi == nullptr ? ERROR_INSTALL_SERVICE_FAILURE
                        : msi->RecordSetString(record, field, Wide(value));
}

UINT MsiViewModify(MSIHANDLE view, MSIMODIFY mode, MSIHANDLE record) {
  const InstallerFunctions* msi = LoadInstaller();
  return msi == nullptr ? ERROR_INSTALL_SERVICE_FAILURE
                        : msi->ViewModify(view, static_cast<::MSIMODIFY>(mode), record);
}

UINT MsiDatabaseCommit(MSIHANDLE database) {
  const InstallerFunctions* msi = LoadInstaller();
  return msi == nullptr ? ERROR_INSTALL_SERVICE_FAILURE : msi->DatabaseCommit(database);
}

UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE installState,
                            LPCWSTR commandLine) {
  const InstallerFunctions* msi = LoadInstaller();
  if (msi == nullptr) return ERROR_INSTALL_SERVICE_FAILURE;
  return msi->ConfigureProductEx(Wide(product), installLevel,
                                 static_cast<::INSTALLSTATE>(installState), Wide(commandLine));
}

static_assert(INSTALLLOGMODE_VERBOSE == ::INSTALLLOGMODE_VERBOSE &&
              INSTALLLOGMODE_PROPERTYDUMP == ::INSTALLLOGMODE_PROPERTYDUMP &&
              INSTALLLOGMODE_COMMONDATA == ::INSTALLLOGMODE_COMMONDATA &&
              INSTALLLOGATTRIBUTES_FLUSHEACHLINE == ::INSTALLLOGATTRIBUTES_FLUSHEACHLINE);

UINT MsiEnableLogW(DWORD logMode, LPCWSTR logFile, DWORD logAttributes) {
  const InstallerFunctions* msi = LoadInstaller();
  return msi == nullptr ? ERROR_INSTALL_SERVICE_FAILURE
                        : msi->EnableLog(logMode, Wide(logFile), logAttributes);
}

}  // namespace platform
