// The shell's command-line splitting.
#include "platform/win32/win32.h"

#include <shellapi.h>

namespace platform {

LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* numArgs) {
  // The vector is one block of wchar_t pointers, which are char16_t pointers on Windows.
  return reinterpret_cast<LPWSTR*>(::CommandLineToArgvW(win32::Wide(commandLine), numArgs));
}

}  // namespace platform
