#include "platform/posix/host.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

thread_local DWORD lastError = 0;
thread_local LCID threadLocale = 0;  // 0: not yet set on this thread, the user default

}  // namespace

const std::vector<std::string>& ProcessArguments() { return StoredArguments(); }

void InitializeProcess(int argc, char** argv) {
  StoredArguments().assign(argv, argv + argc);
  UserLocale() = UserLocaleFromEnvironment();
  threadLocale = 0;
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
  // Windows refuses an invalid locale and keeps the thread's; the system does not look at
  // the result, and a language outside the tables falls back at lookup time.
  if (locale == LOCALE_USER_DEFAULT) {
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
