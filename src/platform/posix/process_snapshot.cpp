// Process snapshots of the emulated host.

#include "platform/posix/process_snapshot.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "platform/posix/files.h"
#include "platform/posix/host.h"

namespace platform {
namespace posix {
namespace {

// The path of the process's executable, without the " (deleted)" mark the kernel adds for
// a removed file; empty when it cannot be read (another user's process, a kernel thread).
std::string ExecutablePath(const std::string& directory) {
  std::vector<char> target(4096);
  ssize_t length = ::readlink((directory + "/exe").c_str(), target.data(), target.size());
  if (length <= 0) return std::string();
  std::string path(target.data(), static_cast<std::size_t>(length));
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() &&
      path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    path.resize(path.size() - kDeleted.size());
  }
  return path;
}

std::string FileNameOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The directory EMU_PROCESS_SCOPE names, resolved, with a trailing '/': a snapshot then
// lists only the processes whose executable lies below it, so that a test sees its own
// programs and nothing else the machine runs. nullopt when the variable is unset or empty
// (every process counts); a scope that names no directory holds no process.
std::optional<std::string> ProcessScope() {
  const char* value = std::getenv("EMU_PROCESS_SCOPE");
  if (value == nullptr || *value == '\0') return std::nullopt;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(value, nullptr), &std::free);
  if (resolved == nullptr) return std::string();
  std::string scope = resolved.get();
  if (scope.back() != '/') scope += '/';
  return scope;
}

std::string CommandName(const std::string& directory) {
  std::ifstream in(directory + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// Parent and thread count from /proc/PID/stat; the command field may hold blanks and
// parentheses, so the fields are counted from its last ')'. False for a process that has
// ended and waits only to be reaped: Windows lists no process that has ended.
bool ReadStatus(const std::string& directory, PROCESSENTRY32W& entry) {
  std::ifstream in(directory + "/stat");
  std::string line;
  std::getline(in, line);
  std::size_t close = line.rfind(')');
  if (close == std::string::npos) return true;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int index = 3; fields >> field; ++index) {  // field 3 is the state
    if (index == 3 && (field == "Z" || field == "X")) return false;
    if (index == 4)
      entry.th32ParentProcessID = static_cast<DWORD>(std::strtoul(field.c_str(), nullptr, 10));
    if (index == 20) {
      entry.cntThreads = static_cast<DWORD>(std::strtoul(field.c_str(), nullptr, 10));
      break;
    }
  }
  return true;
}

}  // namespace

ProcessListReader ReadProcessList = ReadProcFs;

void SetImageName(PROCESSENTRY32W& entry, std::u16string_view name) {
  std::size_t length = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
  name.copy(entry.szExeFile, length);
  entry.szExeFile[length] = u'\0';
}

bool ReadProcFs(std::vector<PROCESSENTRY32W>& entries) {
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), &::closedir);
  if (proc == nullptr) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  const std::optional<std::string> scope = ProcessScope();
  PROCESSENTRY32W system{};
  system.dwSize = sizeof(PROCESSENTRY32W);
  SetImageName(system, u"[System Process]");
  entries.push_back(system);

  while (const dirent* item = ::readdir(proc.get())) {
    char* end = nullptr;
    unsigned long pid = std::strtoul(item->d_name, &end, 10);
    if (*item->d_name == '\0' || *end != '\0' || pid == 0 || pid > 0xFFFFFFFF) continue;
    std::string directory = std::string("/proc/") + item->d_name;
    std::string executable = ExecutablePath(directory);
    if (scope && (scope->empty() || executable.compare(0, scope->size(), *scope) != 0)) continue;
    std::string name = FileNameOf(executable);
    if (name.empty()) name = CommandName(directory);
    if (name.empty()) continue;  // ended while being read
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(PROCESSENTRY32W);
    entry.th32ProcessID = static_cast<DWORD>(pid);
    entry.pcPriClassBase = 8;  // normal priority class
    if (!ReadStatus(directory, entry)) continue;
    SetImageName(entry, FromUtf8(name));
    entries.push_back(entry);
  }
  return true;
}

void EndProcessesNamed(std::u16string_view image) {
  auto lower = [](std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return out;
  };
  std::vector<PROCESSENTRY32W> entries;
  if (!ReadProcessList(entries)) return;
  std::vector<DWORD> ended;
  for (const PROCESSENTRY32W& entry : entries) {
    if (entry.th32ProcessID != 0 && lower(entry.szExeFile) == lower(image) &&
        ::kill(static_cast<pid_t>(entry.th32ProcessID), SIGKILL) == 0) {
      ended.push_back(entry.th32ProcessID);
    }
  }
  // Gone once no list holds it any longer; ten seconds at most.
  for (int attempt = 0; attempt < 1000 && !ended.empty(); ++attempt) {
    entries.clear();
    if (!ReadProcessList(entries)) return;
    std::erase_if(ended, [&](DWORD pid) {
      return std::none_of(entries.begin(), entries.end(),
                          [&](const PROCESSENTRY32W& entry) { return entry.th32ProcessID == pid; });
    });
    if (!ended.empty()) ::usleep(10000);
  }
}

namespace {

// Hands out the snapshot's next entry into `entry`, keeping the caller's dwSize.
BOOL NextEntry(HANDLE snapshot, PROCESSENTRY32W* entry, bool first) {
  KernelObject* object = LookUpKernelObject(snapshot, KernelObjectKind::ProcessSnapshot);
  if (object == nullptr) return 0;
  if (entry == nullptr || entry->dwSize < sizeof(PROCESSENTRY32W)) {
    SetLastError(ERROR_BAD_LENGTH);
    return 0;
  }
  if (first) object->NextProcess = 0;
  if (object->NextProcess >= object->Processes.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return 0;
  }
  DWORD size = entry->dwSize;
  *entry = object->Processes[object->NextProcess++];
  entry->dwSize = size;
  return 1;
}

}  // namespace
}  // namespace posix

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD /*processId*/) {
  auto object = std::make_unique<posix::KernelObject>();
  object->Kind = posix::KernelObjectKind::ProcessSnapshot;
  // Only processes are listed; a snapshot asked for other things alone holds none.
  if ((flags & TH32CS_SNAPPROCESS) != 0 && !posix::ReadProcessList(object->Processes)) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return posix::RegisterKernelObject(object.release());
}

BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  return posix::NextEntry(snapshot, entry, true);
}

BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) {
  return posix::NextEntry(snapshot, entry, false);
}

}  // namespace platform
