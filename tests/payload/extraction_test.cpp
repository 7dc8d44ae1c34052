#include "payload/extraction.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/process_state.h"
#include "payload/temp_name.h"
#include "platform/posix/host.h"
#include "support/scratch_dir.h"
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

TEST_F(Extraction, GivenPathIsNeverWrittenThroughALink) {
  std::string target = scratch.WriteFile("elsewhere", "not to be touched");
  ASSERT_EQ(symlink(target.c_str(), scratch.Join("out.msp").c_str()), 0);
  std::u16string path = scratch.JoinW("out.msp");
  ASSERT_TRUE(ExtractPackage(path));
  EXPECT_EQ(testing_support::FileContent(target), "not to be touched");
  EXPECT_EQ(testing_support::FileContent(scratch.Join("out.msp")), package);
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
