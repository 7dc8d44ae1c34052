#include "platform/posix/host.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace platform {
namespace posix {
namespace {

std::vector<std::string>& StoredArguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

// The fourteen languages of the catalogue, by the language part of a POSIX locale name.
struct LocaleName {
  const char* Prefix;
  LCID Locale;
};
constexpr LocaleName kLocaleNames[] = {
    {"zh_TW", 1028}, {"zh_HK", 1028}, {"zh", 2052}, {"cs", 1029}, {"de", 1031},
    {"en", 1033},    {"es", 1034},    {"fr", 1036}, {"hu", 1038}, {"it", 1040},
    {"ja", 1041},    {"ko", 1042},    {"pl", 1045}, {"pt", 1046}, {"ru", 1049},
};

LCID UserLocaleFromEnvironment() {
  if (const char* value = std::getenv("EMU_USER_LCID"); value != nullptr && *value != '\0') {
    char* end = nullptr;
    unsigned long number = std::strtoul(value, &end, 10);
    if (*end == '\0' && number > 0 && number <= 0xFFFF) return static_cast<LCID>(number);
  }
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    for (const LocaleName& name : kLocaleNames) {
      if (std::strncmp(value, name.Prefix, std::strlen(name.Prefix)) == 0) return name.Locale;
    }
    break;  // the first variable that is set decides, as for the C library
  }
  return 1033;
}

LCID& UserLocale() {
  static LCID locale = UserLocaleFromEnvironment();
  return locale;
}

// The system default locale: the user's own on this one-user host.
constexpr LCID kLocaleSystemDefault = 0x0800;

thread_local DWORD lastError = 0;
thread_local LCID threadLocale = 0;  // 0: not yet set on this thread, the user default

}  // namespace

const std::vector<std::string>& ProcessArguments() { return StoredArguments(); }

void InitializeProcess(int argc, char** argv) {
  StoredArguments().assign(argv, argv + argc);
  UserLocale() = UserLocaleFromEnvironment();
  threadLocale = 0;
  // A write into a pipe whose reader has gone fails (ERROR_NO_DATA), as on Windows, rather
  // than ending the process.
  ::signal(SIGPIPE, SIG_IGN);
  // A file-size limit makes a write fail (ERROR_DISK_FULL) rather than end the process.
  ::signal(SIGXFSZ, SIG_IGN);
}

HINSTANCE MainModule() {
  static HINSTANCE__ module{spsetup_embedded_resources, spsetup_embedded_resource_count};
  return &module;
}

HINSTANCE MakeModule(const EmbeddedResource* resources, std::size_t count) {
  static std::mutex lock;
  static std::vector<std::unique_ptr<HINSTANCE__>> modules;
  std::lock_guard<std::mutex> guard(lock);
  modules.push_back(std::make_unique<HINSTANCE__>(HINSTANCE__{resources, count}));
  return modules.back().get();
}

char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
  char32_t c = text[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
  }
  return c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c;
}

void AppendCodePoint(std::u16string& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = NextCodePoint(text, i);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80           ? 0
                : (lead >> 5) == 0x6  ? 1
                : (lead >> 4) == 0xE  ? 2
                : (lead >> 3) == 0x1E ? 3
                                      : -1;
    char32_t c = extra == 0   ? lead
                 : extra == 1 ? (lead & 0x1F)
                 : extra == 2 ? (lead & 0x0F)
                              : (lead & 0x07);
    bool valid = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
    for (int k = 1; valid && k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
      } else {
        c = (c << 6) | (next & 0x3F);
      }
    }
    constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (!valid || c < kMinimum[extra < 0 ? 0 : extra] || c > 0x10FFFF ||
        (c >= 0xD800 && c <= 0xDFFF)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(extra) + 1;
    AppendCodePoint(out, c);
  }
  return out;
}

std::string NativePath(LPCWSTR path) {
  std::string out = ToUtf8(path == nullptr ? std::u16string_view() : std::u16string_view(path));
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

namespace {

// The upper case of a code point as NTFS compares names: simple case mapping for Latin
// (Basic, Latin-1, Extended-A), Greek and Cyrillic, the scripts of the fourteen languages'
// file names that have case; other characters compare as they are.
char32_t NameUpperCase(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    const bool pairsEvenOdd = c < 0x138 || (c >= 0x14A && c < 0x178);
    const bool pairsOddEven = (c >= 0x139 && c < 0x149) || (c >= 0x179 && c < 0x17F);
    if (c == 0x131) return U'I';
    if (pairsEvenOdd && (c & 1) == 1) return c - 1;
    if (pairsOddEven && (c & 1) == 0) return c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if (c >= 0x3AC && c <= 0x3AF) return c == 0x3AC ? 0x386 : c - 0x25;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

std::u32string NameKey(std::string_view name) {
  std::u16string wide = FromUtf8(name);
  std::u32string key;
  for (std::size_t i = 0; i < wide.size();) key += NameUpperCase(NextCodePoint(wide, i));
  return key;
}

bool RefusedInName(char c) {
  return (c >= 0x01 && c <= 0x1F) || std::strchr("<>:\"|?*", c) != nullptr;
}

// The name in `directory` equal to `name` but for case; the exact name when it exists, the
// first such name in sorted order otherwise, `name` itself when there is none.
std::string ExistingName(const std::string& directory, const std::string& name) {
  struct stat info {};
  const std::string joined = (directory == "/" ? "" : directory) + "/" + name;
  if (::lstat(joined.c_str(), &info) == 0) return name;
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(directory.c_str()), &::closedir);
  if (listing == nullptr) return name;
  const std::u32string key = NameKey(name);
  std::string found;
  while (const dirent* item = ::readdir(listing.get())) {
    std::string candidate = item->d_name;
    if (NameKey(candidate) == key && (found.empty() || candidate < found)) found = candidate;
  }
  return found.empty() ? name : found;
}

}  // namespace

bool ResolveWindowsPath(LPCWSTR path, std::string& native) {
  // 1. UTF-8 with '/' separators; every component checked for refused characters.
  const std::string given = NativePath(path);
  for (char c : given) {
    if (RefusedInName(c)) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
  }
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= given.size()) {
    std::size_t end = given.find('/', start);
    if (end == std::string::npos) end = given.size();
    parts.push_back(given.substr(start, end - start));
    start = end + 1;
  }
  // 2. The last component without trailing dots and spaces ("." and ".." stay what they
  //    are; a name of dots and spaces only names its directory).
  std::string& last = parts.back();
  if (!last.empty() && last != "." && last != "..") {
    std::size_t kept = last.find_last_not_of(". ");
    last.resize(kept == std::string::npos ? 0 : kept + 1);
  }
  // 3. Each component that exists under another case takes the existing name. Once one
  //    does not exist, nothing below it does.
  std::string resolved = given.empty() || given[0] != '/' ? "" : "/";
  std::string directory = resolved.empty() ? "." : "/";
  bool exists = true;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::string part = parts[i];
    if (part.empty()) continue;
    if (exists && part != "." && part != "..") part = ExistingName(directory, part);
    if (!resolved.empty() && resolved.back() != '/') resolved += '/';
    resolved += part;
    struct stat info {};
    exists = exists && ::stat(resolved.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    directory = resolved;
  }
  // A trailing separator stays, so that a directory name keeps its form.
  if (!given.empty() && given.back() == '/' && !resolved.empty() && resolved.back() != '/') {
    resolved += '/';
  }
  native = resolved;
  return true;
}

std::string DirectoryOf(const std::string& path) {
  if (path.empty()) return ".";
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  std::size_t slash = path.rfind('/', end);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void FileDescriptorTraits::Close(int handle) {
  int error = errno;
  ::close(handle);
  errno = error;
}

bool SyncPath(const std::string& path, int flags) {
  ScopedFileDescriptor file(
      ::open(path.c_str(), flags | O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  return file && ::fsync(file.Get()) == 0;
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(path.c_str()), &::closedir);
  if (directory == nullptr) return names;
  while (const dirent* item = ::readdir(directory.get())) {
    std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  return names;
}

ScopedFileDescriptor OpenRegularFile(const std::string& path) {
  ScopedFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat info {};
  if (file && (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))) {
    file.Reset();
    errno = EINVAL;
  }
  return file;
}

std::string PinnedPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

void SetLastErrorFromErrno(int error) {
  DWORD code;
  switch (error) {
    case 0:
      code = ERROR_SUCCESS;
      break;
    case ENOENT:
      code = ERROR_FILE_NOT_FOUND;
      break;
    case ENOTDIR:
      code = ERROR_PATH_NOT_FOUND;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      code = ERROR_ACCESS_DENIED;
      break;
    case EEXIST:
      code = ERROR_FILE_EXISTS;
      break;
    case ELOOP:
      code = ERROR_FILE_EXISTS;
      break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      code = ERROR_DISK_FULL;
      break;
    case ENOMEM:
      code = ERROR_NOT_ENOUGH_MEMORY;
      break;
    case EBADF:
      code = ERROR_INVALID_HANDLE;
      break;
    case ENAMETOOLONG:
      code = ERROR_INVALID_NAME;
      break;
    case EINVAL:
      code = ERROR_INVALID_PARAMETER;
      break;
    case EIO:
      code = ERROR_WRITE_FAULT;
      break;
    case ENXIO:
      code = ERROR_PIPE_NOT_CONNECTED;
      break;
    case EPIPE:
      code = ERROR_NO_DATA;
      break;
    default:
      code = ERROR_INVALID_PARAMETER;
      break;
  }
  SetLastError(code);
}

}  // namespace posix

DWORD GetLastError() { return posix::lastError; }
void SetLastError(DWORD code) { posix::lastError = code; }

LCID GetUserDefaultLCID() { return posix::UserLocale(); }

LCID GetThreadLocale() {
  return posix::threadLocale == 0 ? posix::UserLocale() : posix::threadLocale;
}

BOOL SetThreadLocale(LCID locale) {
  // As on Windows (and Wine), 0 and the default-locale constants stand for the user's
  // default: programs call SetThreadLocale(0) and then GetThreadLocale to learn it. A
  // language outside the tables falls back at lookup time.
  if (locale == 0 || locale == LOCALE_USER_DEFAULT || locale == posix::kLocaleSystemDefault) {
    posix::threadLocale = posix::UserLocale();
    return 1;
  }
  if ((locale & 0xFFFF) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  posix::threadLocale = locale;
  return 1;
}

}  // namespace platform
