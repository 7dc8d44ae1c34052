#include "payload/temp_name.h"

#include <climits>
#include <mutex>

#include "platform/platform.h"

using namespace platform;

namespace {

bool Exists(const std::u16string& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The counter lives for the process and goes on from the last number used.
std::mutex counterLock;
long long counter = 1;

std::u16string ChooseDirectory(const std::u16string* directory) {
  char16_t value[1024];
  DWORD length = GetEnvironmentVariableW(u"TMP", value, 1024);
  if (length > 0 && length < 1024 && Exists(value)) return value;
  if (directory != nullptr && Exists(*directory)) return *directory;
  if (Exists(u"\\")) return u"\\";
  return u".";
}

}  // namespace

std::optional<std::u16string> MakeTempName(const std::u16string* directory,
                                           const std::u16string& prefix) {
  // 1. The directory, first match wins.
  std::u16string stem = ChooseDirectory(directory);
  // 2. The stem: directory, separator, prefix.
  if (stem.empty() || (stem.back() != u'\\' && stem.back() != u'/')) stem += u'\\';
  stem += prefix;

  // 3.-5. Numbers from the process-wide counter until a name is free.
  std::lock_guard<std::mutex> guard(counterLock);
  for (long long tried = 0; tried < INT_MAX; ++tried) {
    if (counter >= INT_MAX) counter = 0;
    ++counter;
    char16_t number[1024];
    wsprintfW(number, u"%d", static_cast<int>(counter));
    std::u16string candidate = stem + number;
    if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    // A test refused for lack of access is refused for every number in the directory: no
    // name, at once, with the refusal kept as the last error for the caller's message.
    if (GetLastError() == ERROR_ACCESS_DENIED) return std::nullopt;
    return candidate;
  }
  return std::nullopt;
}
