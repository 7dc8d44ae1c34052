// The environment of the emulated host: variables, the temporary directory and the clock.

#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/posix/host.h"

extern char** environ;

namespace platform {
namespace posix {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A variable's value. Windows names ignore letter case: the exact name wins, then the
// first name equal to it but for the case of ASCII letters.
std::optional<std::string> LookUpVariable(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
  if (const char* value = std::getenv(name.c_str()); value != nullptr) return std::string(value);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals == nullptr || static_cast<std::size_t>(equals - *entry) != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      same = AsciiLower((*entry)[i]) == AsciiLower(name[i]);
    }
    if (same) return std::string(equals + 1);
  }
  return std::nullopt;
}

// Windows' convention for a text handed out in a caller's buffer: the length without
// terminator when it fits, else the size needed with it (the buffer left alone).
DWORD CopyOut(const std::u16string& text, LPWSTR buffer, DWORD size) {
  if (buffer == nullptr || text.size() + 1 > size) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return static_cast<DWORD>(text.size());
}

}  // namespace
}  // namespace posix

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  std::optional<std::string> value =
      name == nullptr ? std::nullopt : posix::LookUpVariable(posix::ToUtf8(name));
  if (!value) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::u16string text = posix::FromUtf8(*value);
  if (text.empty()) {
    // An empty value reads as 0 like a missing one; the code tells them apart.
    if (buffer != nullptr && size > 0) buffer[0] = u'\0';
    SetLastError(ERROR_SUCCESS);
    return 0;
  }
  return posix::CopyOut(text, buffer, size);
}

DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
  // 1. The first of TMP, TEMP, TMPDIR that is set and not empty, else /tmp. As on Windows,
  // the directory is named, not checked: it need not exist.
  std::string directory = "/tmp";
  for (const char* variable : {"TMP", "TEMP", "TMPDIR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      directory = value;
      break;
    }
  }
  // 2. Absolute, with a trailing separator.
  char16_t full[4096];
  std::u16string wide = posix::FromUtf8(directory);
  DWORD length = GetFullPathNameW(wide.c_str(), 4096, full, nullptr);
  if (length == 0 || length >= 4096) {
    if (length >= 4096) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  std::u16string path(full, length);
  if (path.back() != u'/') path += u'/';
  return posix::CopyOut(path, buffer, bufferLength);
}

void GetLocalTime(SYSTEMTIME* time) {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  ::localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  // A leap second is shown as the last second of its minute, as Windows has no 60.
  time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

}  // namespace platform
