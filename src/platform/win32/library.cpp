#include "platform/win32/win32.h"

#include <cwchar>

namespace platform::win32 {
namespace {

using SetDefaultDllDirectoriesFunction = ::BOOL(WINAPI*)(::DWORD);

}  // namespace

void EnableSafeLibraryLoading() {
  // 1. Windows 8 and later, and Windows 7 with its loader update, restrict the default
  //    search of every later load (the dependencies of msi.dll included) to System32. The
  //    function is looked up, not imported, so the executable still starts without it.
  ::HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto setDefaultDirectories =
      kernel == nullptr
          ? nullptr
          : reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefaultDirectories != nullptr && setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return;
  }
  // 2. Without it, at least take the current directory out of the search.
  ::SetDllDirectoryW(L"");
}

::HMODULE LoadSystemLibrary(const wchar_t* name) {
  // 1. Where the loader knows the flag, it searches System32 alone.
  if (::HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return module;
  }
  if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;

  // 2. An older loader refuses the flag: name the file by its full path in System32.
  wchar_t path[MAX_PATH];
  ::UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  std::size_t nameLength = std::wcslen(name);
  if (length == 0 || length + 1 + nameLength >= MAX_PATH) {
    if (length != 0) ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  path[length] = L'\\';
  std::wmemcpy(path + length + 1, name, nameLength + 1);
  return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace platform::win32
