// A library named msi.dll planted where a careless loader would find it (beside the
// executable, in the current directory): loaded, it leaves "planted-msi-loaded.txt" beside
// itself, so a scenario can tell that the program took it instead of the system's.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  std::wstring marker(path, length);
  marker.erase(marker.find_last_of(L"\\/") + 1);
  marker += L"planted-msi-loaded.txt";
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
