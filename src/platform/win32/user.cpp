// User-interface services: message boxes, formatting and the string helpers of user32 and
// kernel32.
#include <cstdarg>

#include "platform/win32/win32.h"

namespace platform {

using win32::Wide;

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  return ::MessageBoxW(reinterpret_cast<::HWND>(owner), Wide(text), Wide(caption), type);
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  // The values pass unchanged: %s takes a wide string, which a char16_t pointer is.
  va_list values;
  va_start(values, format);
  int count = ::wvsprintfW(Wide(buffer), Wide(format), values);
  va_end(values);
  return count;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, char* buffer,
                        int bufferSize, const char* defaultChar, BOOL* usedDefaultChar) {
  return ::WideCharToMultiByte(codePage, flags, Wide(text), length, buffer, bufferSize, defaultChar,
                               usedDefaultChar);
}

int lstrlenW(LPCWSTR text) { return ::lstrlenW(Wide(text)); }
int lstrcmpiW(LPCWSTR first, LPCWSTR second) { return ::lstrcmpiW(Wide(first), Wide(second)); }
LPWSTR lstrcpyW(LPWSTR destination, LPCWSTR source) {
  return win32::Utf16(::lstrcpyW(Wide(destination), Wide(source)));
}

}  // namespace platform
