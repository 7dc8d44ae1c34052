#include "payload/extraction.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/process_state.h"
#include "payload/temp_name.h"
#include "platform/posix/host.h"
#include "support/scratch_dir.h"
#include "support/file_refusal.h"
#include "support/write_failure.h"

namespace {

using testing_support::ScopedEnv;
using testing_support::ScratchDir;

// A name as the file system takes it: the system forms Windows names, whose backslashes the
// emulated host reads as separators.
std::string Utf8(const std::u16string& text) { return platform::posix::NativePath(text.c_str()); }

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

class Extraction : public testing::Test {
 protected:
  void SetUp() override { ModuleInstance = platform::posix::MainModule(); }
  void TearDown() override { ModuleInstance = nullptr; }

  // Names in the scratch directory other than those given.
  std::vector<std::string> OtherEntries(const std::vector<std::string>& expected) {
    std::vector<std::string> others;
    for (const std::string& name : testing_support::EntryNames(scratch.Path())) {
      if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
        others.push_back(name);
      }
    }
    return others;
  }

  ScratchDir scratch;
  const std::string package = testing_support::FileContent(SPSETUP_SAMPLE_PACKAGE);
};

TEST_F(Extraction, GivenPathReceivesThePackageByteForByteReplacingAnOldFile) {
  ASSERT_FALSE(package.empty());
  scratch.WriteFile("out.msp", "an older file");
  std::u16string path = scratch.JoinW("out.msp");
  ASSERT_TRUE(ExtractPackage(path));
  EXPECT_EQ(path, scratch.JoinW("out.msp"));
  EXPECT_EQ(testing_support::FileContent(scratch.Join("out.msp")), package);
  EXPECT_TRUE(OtherEntries({"out.msp"}).empty());
}

// A link is followed: the file it names, in its own directory, is replaced and the link
// stays a link to it.
TEST_F(Extraction, ALinkAtTheGivenPathStaysALinkToTheReplacedFile) {
  ASSERT_EQ(mkdir(scratch.Join("elsewhere").c_str(), 0755), 0);
  std::string target = scratch.WriteFile("elsewhere/target.msp", "an older file");
  ASSERT_EQ(symlink("elsewhere/target.msp", scratch.Join("out.msp").c_str()), 0);
  std::u16string path = scratch.JoinW("out.msp");
  ASSERT_TRUE(ExtractPackage(path));
  char link[256] = {};
  ASSERT_GT(readlink(scratch.Join("out.msp").c_str(), link, sizeof link - 1), 0);
  EXPECT_STREQ(link, "elsewhere/target.msp");
  EXPECT_EQ(testing_support::FileContent(target), package);
  EXPECT_TRUE(OtherEntries({"out.msp", "elsewhere"}).empty());
  EXPECT_EQ(testing_support::EntryNames(scratch.Join("elsewhere")),
            std::vector<std::string>{"target.msp"});
}

// The replacement keeps the replaced file's permissions; a privileged run keeps its owner
// and group too, even another user's.
TEST_F(Extraction, AReplacedFileKeepsItsModeAndOwner) {
  const bool privileged = geteuid() == 0;
  for (mode_t mode : {0600, 0640, 0751, 0604}) {
    SCOPED_TRACE(mode);
    std::string out = scratch.WriteFile("out.msp", "an older file");
    ASSERT_EQ(chmod(out.c_str(), mode), 0);
    if (privileged) {
      ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(out.c_str(), &before), 0);
    std::u16string path = scratch.JoinW("out.msp");
    ASSERT_TRUE(ExtractPackage(path));
    struct stat after {};
    ASSERT_EQ(stat(out.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_NE(after.st_ino, before.st_ino);  // replaced whole, not written in place
    EXPECT_EQ(testing_support::FileContent(out), package);
    EXPECT_TRUE(OtherEntries({"out.msp"}).empty());
  }
}

// Partial files left by killed runs, even one of a run that had this process's number,
// never block the next one, and are not this run's to remove.
TEST_F(Extraction, LeftoverPartialFilesDoNotStopAGivenPath) {
  std::vector<std::string> leftovers;
  for (int n = 1; n <= 1000; ++n) leftovers.push_back("out.msp.partial" + std::to_string(n));
  leftovers.push_back("out.msp.partial" + std::to_string(getpid()) + "-1");
  for (const std::string& name : leftovers) scratch.WriteFile(name, "left by a killed run");
  std::u16string path = scratch.JoinW("out.msp");
  ASSERT_TRUE(ExtractPackage(path));
  EXPECT_EQ(testing_support::FileContent(scratch.Join("out.msp")), package);
  leftovers.push_back("out.msp");
  EXPECT_TRUE(OtherEntries(leftovers).empty());
  EXPECT_EQ(testing_support::EntryNames(scratch.Path()).size(), leftovers.size());
}

// A device or a pipe is written into and stays what it is.
TEST_F(Extraction, ADeviceOrAPipeIsWrittenIntoAndStays) {
  std::u16string device = u"/dev/null";
  EXPECT_TRUE(ExtractPackage(device));
  struct stat info {};
  ASSERT_EQ(stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));

  // A FIFO whose reader is there before the run and reads until the writer closes.
  std::string fifo = scratch.Join("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string received;
  std::thread drain([&] {
    pollfd waiting{reader, POLLIN, 0};
    for (;;) {
      // Until a writer comes, the FIFO is neither readable nor hung up.
      if (poll(&waiting, 1, -1) < 0 && errno != EINTR) break;
      char chunk[65536];
      ssize_t got = read(reader, chunk, sizeof chunk);
      if (got > 0) received.append(chunk, static_cast<std::size_t>(got));
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
  });
  std::u16string path = scratch.JoinW("pipe");
  bool written = ExtractPackage(path);
  drain.join();
  close(reader);
  EXPECT_TRUE(written);
  EXPECT_EQ(received, package);
  ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_TRUE(OtherEntries({"pipe"}).empty());

  // Nobody reading: refused at once rather than waiting for ever, and nothing replaces it.
  EXPECT_FALSE(ExtractPackage(path));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_PIPE_NOT_CONNECTED);
  ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_TRUE(OtherEntries({"pipe"}).empty());
}

// A directory in which nothing may be created (whatever the rights of the test's user): an
// existing file is written in place; a new name cannot be made at all.
TEST_F(Extraction, WhereNothingMayBeCreatedAnExistingFileIsWrittenInPlace) {
  std::string out = scratch.WriteFile("out.msp", "an older file that is longer than nothing");
  struct stat before {};
  ASSERT_EQ(stat(out.c_str(), &before), 0);
  testing_support::ScopedCreationRefused refused(scratch.Path());
  std::u16string path = scratch.JoinW("out.msp");
  ASSERT_TRUE(ExtractPackage(path));
  struct stat after {};
  ASSERT_EQ(stat(out.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(testing_support::FileContent(out), package);

  std::u16string fresh = scratch.JoinW("new.msp");
  EXPECT_FALSE(ExtractPackage(fresh));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(OtherEntries({"out.msp"}).empty());
}

TEST_F(Extraction, GivenPathInAMissingDirectoryWritesNothing) {
  std::u16string path = scratch.JoinW("missing/out.msp");
  EXPECT_FALSE(ExtractPackage(path));
  EXPECT_EQ(path, scratch.JoinW("missing/out.msp"));
  EXPECT_TRUE(OtherEntries({}).empty());
}

TEST_F(Extraction, MissingPackageResourceCreatesAndTouchesNothing) {
  static const unsigned char note[] = "note";
  static const platform::posix::EmbeddedResource onlyANote[] = {
      {u"TXT", 0, nullptr, 206, 1046, note, note + 4}};
  ModuleInstance = platform::posix::MakeModule(onlyANote, 1);
  scratch.WriteFile("out.msp", "kept");
  std::u16string given = scratch.JoinW("out.msp");
  EXPECT_FALSE(ExtractPackage(given));
  EXPECT_EQ(testing_support::FileContent(scratch.Join("out.msp")), "kept");

  ScopedEnv tmp("TMP", scratch.Path());
  std::u16string temporary;
  EXPECT_FALSE(ExtractPackage(temporary));
  EXPECT_TRUE(OtherEntries({"out.msp"}).empty());
}

TEST_F(Extraction, EmptyPathGetsAFreshTemporaryFileAndItsName) {
  ScopedEnv tmp("TMP", scratch.Path());
  std::u16string first;
  ASSERT_TRUE(ExtractPackage(first));
  std::string firstName = Utf8(first);
  ASSERT_EQ(firstName.rfind(scratch.Path() + "/MSP", 0), 0u) << firstName;
  EXPECT_EQ(testing_support::FileContent(firstName), package);

  // The number after the first goes on from it; a name already taken is skipped, and a
  // link planted there is not followed.
  int number = std::stoi(firstName.substr(scratch.Path().size() + 4));
  std::string planted = scratch.Join("MSP" + std::to_string(number + 1));
  ASSERT_EQ(symlink(scratch.Join("target").c_str(), planted.c_str()), 0);
  std::u16string second;
  ASSERT_TRUE(ExtractPackage(second));
  EXPECT_EQ(Utf8(second), scratch.Join("MSP" + std::to_string(number + 2)));
  EXPECT_FALSE(Exists(scratch.Join("target")));
  EXPECT_EQ(testing_support::FileContent(Utf8(second)), package);
}

// A disk that fills up half way through the package: the old file at a given path stays as
// it was, and neither a given path nor a temporary name keeps a partial package.
TEST_F(Extraction, AWriteThatFailsHalfWayLeavesNoPartialPackage) {
  ASSERT_GT(package.size(), 2000u);
  scratch.WriteFile("out.msp", "an older file");
  std::u16string given = scratch.JoinW("out.msp");
  {
    testing_support::ScopedWriteFailure full(1000);
    EXPECT_FALSE(ExtractPackage(given));
    EXPECT_EQ(full.BytesWritten(), 1000u);
  }
  EXPECT_EQ(testing_support::FileContent(scratch.Join("out.msp")), "an older file");
  EXPECT_TRUE(OtherEntries({"out.msp"}).empty());

  ScopedEnv tmp("TMP", scratch.Path());
  std::u16string temporary;
  {
    testing_support::ScopedWriteFailure full(1000);
    EXPECT_FALSE(ExtractPackage(temporary));
    EXPECT_EQ(full.BytesWritten(), 1000u);
  }
  // The name chosen still comes back to the caller, but no file holds it.
  EXPECT_EQ(Utf8(temporary).rfind(scratch.Path() + "/MSP", 0), 0u) << Utf8(temporary);
  EXPECT_FALSE(Exists(Utf8(temporary)));
  EXPECT_TRUE(OtherEntries({"out.msp"}).empty());
}

// A relative TMP gives a name that holds wherever it is used later.
TEST_F(Extraction, ATemporaryNameFromARelativeTmpIsAbsolute) {
  ASSERT_EQ(mkdir(scratch.Join("relative").c_str(), 0755), 0);
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(scratch.Path().c_str()), 0);
  std::u16string temporary;
  bool written;
  {
    ScopedEnv tmp("TMP", "relative");
    written = ExtractPackage(temporary);
  }
  ASSERT_EQ(chdir(previous), 0);
  ASSERT_TRUE(written);
  std::string name = Utf8(temporary);
  EXPECT_EQ(name.rfind(scratch.Join("relative/MSP"), 0), 0u) << name;
  EXPECT_EQ(testing_support::FileContent(name), package);
}

// A temporary directory that may be listed but not searched: every name's test is refused,
// and no later number could fare better.
TEST(TempName, ARefusedExistenceTestGivesNoNameAtOnce) {
  ScratchDir scratch;
  ScopedEnv tmp("TMP", scratch.Path());
  testing_support::ScopedSearchRefused refused(scratch.Path());
  EXPECT_FALSE(MakeTempName(nullptr, u"MSP").has_value());
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
  EXPECT_EQ(refused.Refusals(), 1u);
}

TEST(TempName, FallsBackFromAMissingTmpToTheGivenDirectory) {
  ScratchDir scratch;
  ScopedEnv tmp("TMP", scratch.Join("does-not-exist"));
  std::u16string directory = scratch.PathW();
  std::optional<std::u16string> name = MakeTempName(&directory, u"MSP");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(platform::posix::ToUtf8(*name).rfind(scratch.Path() + "\\MSP", 0), 0u) << Utf8(*name);
}

TEST(TempName, FallsToTheRootWhenNoDirectoryExists) {
  ScratchDir scratch;
  ScopedEnv tmp("TMP", scratch.Join("does-not-exist"));
  std::u16string missing = scratch.JoinW("also-missing");
  std::optional<std::u16string> name = MakeTempName(&missing, u"MSP");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(platform::posix::ToUtf8(*name).rfind("\\MSP", 0), 0u) << Utf8(*name);
}

}  // namespace
