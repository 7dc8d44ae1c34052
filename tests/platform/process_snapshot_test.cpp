#include "platform/posix/process_snapshot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/named_process.h"
#include "support/scratch_dir.h"

using namespace platform;
using testing_support::NamedProcess;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;

namespace {

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
  NamedProcess kyro(scratch.Path(), "kyro.exe");
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

// The image name is read once exec has run; until then a new process shows its parent's.
const PROCESSENTRY32W* WaitForImage(std::vector<PROCESSENTRY32W>& entries, DWORD pid) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return nullptr;
    entries = Walk(snapshot.Get());
    const PROCESSENTRY32W* found = Find(entries, pid);
    if (found != nullptr && std::u16string(found->szExeFile) == u"kyro.exe") return found;
    ::usleep(10000);
  }
  return nullptr;
}

// A scope lists the processes whose executable lies below its directory (a link to it
// resolved), and the system entry: another kyro.exe on the machine is not seen.
TEST(ProcessSnapshot, AScopeListsOnlyTheExecutablesBelowItsDirectory) {
  ScratchDir inside;
  ScratchDir outside;
  std::filesystem::create_directory(inside.Join("sub"));
  NamedProcess mine(inside.Join("sub"), "kyro.exe");
  NamedProcess other(outside.Path(), "kyro.exe");
  std::filesystem::create_directory_symlink(inside.Path(), outside.Join("link"));
  std::vector<PROCESSENTRY32W> entries;
  ASSERT_NE(WaitForImage(entries, static_cast<DWORD>(other.Pid())), nullptr);

  for (const std::string& scope : {inside.Path(), inside.Path() + "/", outside.Join("link")}) {
    SCOPED_TRACE(scope);
    ScopedEnv variable("EMU_PROCESS_SCOPE", scope);
    ASSERT_NE(WaitForImage(entries, static_cast<DWORD>(mine.Pid())), nullptr);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].th32ProcessID, 0u);
    EXPECT_EQ(entries[1].th32ProcessID, static_cast<DWORD>(mine.Pid()));
  }
  // A scope that names no directory holds no process; an empty one is no scope.
  {
    ScopedEnv variable("EMU_PROCESS_SCOPE", inside.Join("missing"));
    ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    EXPECT_EQ(Walk(snapshot.Get()).size(), 1u);
  }
  ScopedEnv variable("EMU_PROCESS_SCOPE", "");
  ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  EXPECT_NE(Find(Walk(snapshot.Get()), static_cast<DWORD>(::getpid())), nullptr);
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
