// The kernel services: last error, command line, locales, environment, files and the
// process list, bound one to one to kernel32.
#include "platform/win32/win32.h"

#include <tlhelp32.h>

namespace platform {

using win32::Utf16;
using win32::Wide;

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD code) { ::SetLastError(code); }

LPWSTR GetCommandLineW() { return Utf16(::GetCommandLineW()); }

HGLOBAL GlobalFree(HGLOBAL memory) {
  // CommandLineToArgvW hands out local memory; LocalFree is its documented release.
  return ::LocalFree(memory);
}

LCID GetUserDefaultLCID() { return ::GetUserDefaultLCID(); }
LCID GetThreadLocale() { return ::GetThreadLocale(); }

BOOL SetThreadLocale(LCID locale) {
  // The default-locale constants are resolved here, so GetThreadLocale afterwards reports
  // a real language for the string lookups.
  return ::SetThreadLocale(::ConvertDefaultLocale(locale));
}

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  return ::GetEnvironmentVariableW(Wide(name), Wide(buffer), size);
}

DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
  return ::GetTempPathW(bufferLength, Wide(buffer));
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
  return ::CreateFileW(Wide(path), access, shareMode,
                       static_cast<::LPSECURITY_ATTRIBUTES>(security), disposition,
                       flagsAndAttributes, templateFile);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
  ::LONG high = distanceHigh == nullptr ? 0 : *distanceHigh;
  ::DWORD position =
      ::SetFilePointer(file, distance, distanceHigh == nullptr ? nullptr : &high, moveMethod);
  if (distanceHigh != nullptr) *distanceHigh = high;
  return position;
}

// The count is always received in a slot of our own: Windows requires one for a
// synchronous call, while the posix host lets the caller pass none.
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, DWORD* written, void* overlapped) {
  ::DWORD done = 0;
  ::BOOL result = ::WriteFile(file, data, count, &done, static_cast<::LPOVERLAPPED>(overlapped));
  if (written != nullptr) *written = done;
  return result;
}

BOOL ReadFile(HANDLE file, LPVOID data, DWORD count, DWORD* read, void* overlapped) {
  ::DWORD done = 0;
  ::BOOL result = ::ReadFile(file, data, count, &done, static_cast<::LPOVERLAPPED>(overlapped));
  if (read != nullptr) *read = done;
  return result;
}

BOOL SetEndOfFile(HANDLE file) { return ::SetEndOfFile(file); }
BOOL FlushFileBuffers(HANDLE file) { return ::FlushFileBuffers(file); }
BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }
BOOL DeleteFileW(LPCWSTR path) { return ::DeleteFileW(Wide(path)); }

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR destination, DWORD flags) {
  return ::MoveFileExW(Wide(existing), Wide(destination), flags);
}

DWORD GetFileAttributesW(LPCWSTR path) { return ::GetFileAttributesW(Wide(path)); }

DWORD GetFullPathNameW(LPCWSTR path, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart) {
  wchar_t* name = nullptr;
  ::DWORD length = ::GetFullPathNameW(Wide(path), bufferLength, Wide(buffer),
                                      filePart == nullptr ? nullptr : &name);
  if (filePart != nullptr) *filePart = Utf16(name);
  return length;
}

DWORD GetFileType(HANDLE file) { return ::GetFileType(file); }

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == sizeof(::BY_HANDLE_FILE_INFORMATION));
  return ::GetFileInformationByHandle(file,
                                      reinterpret_cast<::BY_HANDLE_FILE_INFORMATION*>(information));
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD bufferLength, DWORD flags) {
  return ::GetFinalPathNameByHandleW(file, Wide(buffer), bufferLength, flags);
}

BOOL ReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                  LPVOID exclude, LPVOID reserved) {
  return ::ReplaceFileW(Wide(replaced), Wide(replacement), Wide(backup), flags, exclude, reserved);
}

void GetLocalTime(SYSTEMTIME* time) {
  static_assert(sizeof(SYSTEMTIME) == sizeof(::SYSTEMTIME));
  ::GetLocalTime(reinterpret_cast<::SYSTEMTIME*>(time));
}

DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  return ::CreateToolhelp32Snapshot(flags, processId);
}

namespace {

// Walks one step of the snapshot into a Windows entry and copies it field by field: the
// two records have the same fields but not the same types (ULONG_PTR, LONG, WCHAR).
template <typename Step>
BOOL NextProcess(Step step, HANDLE snapshot, PROCESSENTRY32W* entry) {
  if (entry == nullptr || entry->dwSize < sizeof(PROCESSENTRY32W)) {
    ::SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
  }
  ::PROCESSENTRY32W native{};
  native.dwSize = sizeof(native);
  if (!step(snapshot, &native)) return FALSE;
  entry->cntUsage = native.cntUsage;
  entry->th32ProcessID = native.th32ProcessID;
  entry->th32DefaultHeapID = native.th32DefaultHeapID;
  entry->th32ModuleID = native.th32ModuleID;
  entry->cntThreads = native.cntThreads;
  entry->th32ParentProcessID = native.th32ParentProcessID;
  entry->pcPriClassBase = native.pcPriClassBase;
  entry->dwFlags = native.dwFlags;
  static_assert(sizeof(entry->szExeFile) == sizeof(native.szExeFile));
  for (std::size_t i = 0; i < std::size(native.szExeFile); ++i) {
    entry->szExeFile[i] = static_cast<char16_t>(native.szExeFile[i]);
  }
  // A name that fills the field is cut, never left without its terminator.
  entry->szExeFile[std::size(entry->szExeFile) - 1] = u'\0';
  return TRUE;
}

}  // namespace

BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  return NextProcess(::Process32FirstW, snapshot, entry);
}

BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  return NextProcess(::Process32NextW, snapshot, entry);
}

}  // namespace platform
