#include "platform/posix/process_snapshot.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/scratch_dir.h"

extern char** environ;

using namespace platform;
using testing_support::ScratchDir;

namespace {

// A process named kyro.exe: a copy of sleep under that name, ended with the holder.
class KyroProcess {
 public:
  explicit KyroProcess(const ScratchDir& scratch) {
    std::string path = scratch.Join("kyro.exe");
    std::filesystem::copy_file("/bin/sleep", path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    char* argv[] = {path.data(), const_cast<char*>("30"), nullptr};
    if (::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
  }
  KyroProcess(const KyroProcess&) = delete;
  KyroProcess& operator=(const KyroProcess&) = delete;
  ~KyroProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

std::vector<PROCESSENTRY32W> Walk(HANDLE snapshot) {
  std::vector<PROCESSENTRY32W> entries;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    entries.push_back(entry);
  }
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  return entries;
}

const PROCESSENTRY32W* Find(const std::vector<PROCESSENTRY32W>& entries, DWORD pid) {
  for (const PROCESSENTRY32W& entry : entries) {
    if (entry.th32ProcessID == pid) return &entry;
  }
  return nullptr;
}

TEST(ProcessSnapshot, ListsARunningKyroByItsImageName) {
  ScratchDir scratch;
  ScopedKernelHandle before(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  ASSERT_TRUE(before);
  KyroProcess kyro(scratch);
  ASSERT_GT(kyro.Pid(), 0);
  // The image is the executable's name even before exec has renamed the command.
  ScopedKernelHandle snapshot;
  const PROCESSENTRY32W* found = nullptr;
  std::vector<PROCESSENTRY32W> entries;
  for (int attempt = 0; attempt < 200; ++attempt) {
    snapshot.Reset(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    ASSERT_TRUE(snapshot);
    entries = Walk(snapshot.Get());
    found = Find(entries, static_cast<DWORD>(kyro.Pid()));
    if (found != nullptr && std::u16string(found->szExeFile) == u"kyro.exe") break;
    ::usleep(10000);
  }
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::u16string(found->szExeFile), u"kyro.exe");
  EXPECT_EQ(found->th32ParentProcessID, static_cast<DWORD>(::getpid()));
  EXPECT_EQ(found->cntThreads, 1u);
  EXPECT_EQ(found->dwSize, sizeof(PROCESSENTRY32W));
  // The system entry comes first, and this process is listed too.
  EXPECT_EQ(entries.front().th32ProcessID, 0u);
  EXPECT_EQ(std::u16string(entries.front().szExeFile), u"[System Process]");
  EXPECT_NE(Find(entries, static_cast<DWORD>(::getpid())), nullptr);
  // A snapshot holds the list of its moment.
  EXPECT_EQ(Find(Walk(before.Get()), static_cast<DWORD>(kyro.Pid())), nullptr);
}

TEST(ProcessSnapshot, EntriesNeedTheirSize) {
  ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  ASSERT_TRUE(snapshot);
  PROCESSENTRY32W entry{};
  EXPECT_FALSE(Process32FirstW(snapshot.Get(), &entry));
  EXPECT_EQ(GetLastError(), ERROR_BAD_LENGTH);
  entry.dwSize = sizeof entry;
  EXPECT_TRUE(Process32FirstW(snapshot.Get(), &entry));
  EXPECT_FALSE(Process32FirstW(nullptr, &entry));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(ProcessSnapshot, TheHookMakesTheSnapshotFail) {
  posix::ProcessListReader saved = posix::ReadProcessList;
  posix::ReadProcessList = [](std::vector<PROCESSENTRY32W>&) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  };
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  posix::ReadProcessList = saved;
  EXPECT_EQ(snapshot, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ScopedKernelHandle again(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  EXPECT_TRUE(again);
}

}  // namespace
