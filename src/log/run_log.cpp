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

void AppendUtf8(std::string& out, char32_t c) {
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

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD, a control character an escape.
void AppendText(std::string& out, std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c == u'\n') {
      out += "\\n";
    } else if (c == u'\r') {
      out += "\\r";
    } else if (c < 0x20 && c != u'\t') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
      out += escape;
    } else {
      AppendUtf8(out, c);
    }
  }
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
  std::string line = TimeStamp();
  for (std::u16string_view part : parts) AppendText(line, part);
  line += "\r\n";
  DWORD written = 0;
  if (WriteFile(LogFile.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ==
          0 ||
      written != line.size()) {
    LogFile.Reset();
  }
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
