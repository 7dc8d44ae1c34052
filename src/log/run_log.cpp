#include "log/run_log.h"

#include <cstdio>

using namespace platform;

namespace {

// The open log and its absolute path; INVALID_HANDLE_VALUE and empty when none.
ScopedKernelHandle LogFile;
std::u16string LogFullPath;
bool InstallerLogRequested = false;

// Everything the installer's verbose log ("*v") holds.
constexpr DWORD kInstallerLogMode =
    INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_USER |
    INSTALLLOGMODE_INFO | INSTALLLOGMODE_RESOLVESOURCE | INSTALLLOGMODE_OUTOFDISKSPACE |
    INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_COMMONDATA |
    INSTALLLOGMODE_PROPERTYDUMP | INSTALLLOGMODE_VERBOSE;

// Keeps the thread's last-error code across a scope: message 300 prints it, and a log line
// written between a failure and its message must not change it.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : code_(GetLastError()) {}
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;
  ~LastErrorKeeper() { SetLastError(code_); }

 private:
  DWORD code_;
};

// Line breaks and other control characters as escapes, so that a line stays one line.
std::u16string Escaped(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c == u'\n') {
      out += u"\\n";
    } else if (c == u'\r') {
      out += u"\\r";
    } else if (c < 0x20 && c != u'\t') {
      static constexpr char16_t kHex[] = u"0123456789ABCDEF";
      out += u"\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

// The line's text in UTF-8, as the installer's own log and every editor read it.
void AppendUtf8(std::string& out, std::u16string_view text) {
  if (text.empty()) return;
  int length = static_cast<int>(text.size());
  int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return;
  std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(needed));
  int written = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data() + start, needed,
                                    nullptr, nullptr);
  out.resize(start + static_cast<std::size_t>(written > 0 ? written : 0));
}

std::string TimeStamp() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear,
                now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                static_cast<unsigned long>(GetCurrentProcessId()));
  return text;
}

}  // namespace

bool OpenRunLog(const std::u16string& path) {
  LastErrorKeeper keeper;
  CloseRunLog();
  if (path.empty()) return false;
  // 1. Absolute: the installer service, which writes the log beside ours, does not run in
  //    our working directory.
  std::u16string absolute = path;
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed > 0) {
    std::u16string full(needed, u'\0');
    DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length > 0 && length < needed) absolute = full.substr(0, length);
  }
  // 2. Append access alone, so every line lands at the end whoever else appends; a link is
  //    opened itself (Windows) or not at all (posix host), never followed.
  ScopedKernelHandle file(CreateFileW(
      absolute.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  // 3. A file on a disk, and not the link itself: a pipe or device could hold the run up.
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(file.Get()) != FILE_TYPE_DISK ||
      GetFileInformationByHandle(file.Get(), &information) == 0 ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
          0) {
    return false;
  }
  LogFile = std::move(file);
  LogFullPath = absolute;
  return true;
}

void CloseRunLog() {
  LogFile.Reset();
  LogFullPath.clear();
  InstallerLogRequested = false;
}

const std::u16string& RunLogPath() { return LogFullPath; }

void LogLine(std::initializer_list<std::u16string_view> parts) {
  if (!LogFile) return;
  LastErrorKeeper keeper;
  std::u16string text;
  for (std::u16string_view part : parts) text += part;
  std::string line = TimeStamp();
  AppendUtf8(line, Escaped(text));
  line += "\r\n";
  DWORD written = 0;
  if (WriteFile(LogFile.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ==
          0 ||
      written != line.size()) {
    LogFile.Reset();
  }
}

void LogBox(UINT id, std::u16string_view caption, std::u16string_view text, int answer) {
  LogLine({id != 0 ? u"message " + LogNumber(id) : u"box", u" ", LogQuoted(caption), u": ",
           LogQuoted(text), u" answered ", LogNumber(answer)});
}

std::u16string LogNumber(long long value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string LogQuoted(std::u16string_view text) {
  std::u16string quoted = u"\"";
  quoted += text;
  quoted += u'"';
  return quoted;
}

void EnableInstallerLog() {
  if (!LogFile || InstallerLogRequested) return;
  LastErrorKeeper keeper;
  InstallerLogRequested = true;
  // 1. Beside ours. The installer service opens it by name, so a link planted there, or a
  //    directory, keeps it from being asked at all.
  std::u16string path = LogFullPath + u".installer.log";
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    LogLine({u"installer log not enabled: ", path, u" is a link or a directory"});
    return;
  }
  // 2. Appended to, and flushed per line, so that a run that ends abruptly still shows it.
  UINT result = MsiEnableLogW(kInstallerLogMode, path.c_str(),
                              INSTALLLOGATTRIBUTES_APPEND | INSTALLLOGATTRIBUTES_FLUSHEACHLINE);
  LogLine({u"installer log: ", path, u" (result ", LogNumber(result), u")"});
}
