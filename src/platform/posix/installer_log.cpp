#include "platform/posix/installer_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/posix/host.h"
#include "platform/posix/installer_handles.h"

namespace platform {
namespace posix {
namespace {

struct LogSettings {
  std::string Path;  // empty: no log
  DWORD Mode = 0;
  DWORD Attributes = 0;
};

std::mutex& LogSettingsLock() {
  static std::mutex lock;
  return lock;
}

LogSettings& Settings() {
  static LogSettings settings;
  return settings;
}

// The log file for appending: created when missing, never waited on (a FIFO or device at
// the name is refused), as a link names it.
ScopedFileDescriptor OpenLog(const std::string& path) {
  ScopedFileDescriptor file(::open(
      path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644));
  struct stat info {};
  if (!file || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return file;
}

bool WriteLine(int descriptor, const std::string& line) {
  std::size_t done = 0;
  while (done < line.size()) {
    ssize_t step = ::write(descriptor, line.data() + done, line.size() - done);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) return false;
    done += static_cast<std::size_t>(step);
  }
  return true;
}

std::string Now() {
  SYSTEMTIME time{};
  GetLocalTime(&time);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth,
                time.wDay, time.wHour, time.wMinute, time.wSecond);
  return text;
}

}  // namespace

void WriteToInstallerLog(const std::string& code, const std::string& record) {
  LogSettings settings;
  {
    std::lock_guard<std::mutex> guard(LogSettingsLock());
    settings = Settings();
  }
  if (settings.Path.empty()) return;
  ScopedFileDescriptor file = OpenLog(settings.Path);
  if (!file) return;
  // One write per line: another process appending to the same file interleaves whole lines.
  if (!WriteLine(file.Get(), "=== Logging started: " + Now() + " product " + code + " ===\n")) {
    return;
  }
  for (std::size_t start = 0; start < record.size();) {
    std::size_t end = record.find('\n', start);
    end = end == std::string::npos ? record.size() : end + 1;
    if (!WriteLine(file.Get(), "MSI (emulated): " + record.substr(start, end - start))) return;
    start = end;
  }
  WriteLine(file.Get(), "=== Logging stopped: " + Now() + " ===\n");
}

}  // namespace posix

UINT MsiEnableLogW(DWORD logMode, LPCWSTR logFile, DWORD logAttributes) {
  // 1. No file turns the log off, whatever the mode.
  if (logFile == nullptr || *logFile == u'\0') {
    std::lock_guard<std::mutex> guard(posix::LogSettingsLock());
    posix::Settings() = {};
    return ERROR_SUCCESS;
  }
  if (logMode == 0) return ERROR_INVALID_PARAMETER;
  // 2. The file as the host names it. Without INSTALLLOGATTRIBUTES_APPEND the old log goes
  //    at once; the file is then made, so that it is there even before the first
  //    installation. Neither failure is the caller's: the installer logs what it can.
  std::string path;
  if (!posix::ResolveWindowsPath(logFile, path) || path.empty()) return ERROR_SUCCESS;
  if ((logAttributes & INSTALLLOGATTRIBUTES_APPEND) == 0) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) ::unlink(path.c_str());
  }
  posix::OpenLog(path);
  std::lock_guard<std::mutex> guard(posix::LogSettingsLock());
  posix::Settings() = {path, logMode, logAttributes};
  return ERROR_SUCCESS;
}

}  // namespace platform
