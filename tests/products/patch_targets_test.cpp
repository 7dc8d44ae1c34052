// Reading the target list out of real patch packages made at test time.
#include "products/patch_targets.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/posix/host.h"
#include "platform/posix/installer_summary.h"
#include "support/msi_tables.h"
#include "support/scratch_dir.h"

namespace {

using platform::posix::FromUtf8;
using testing_support::MakePatchPackage;
using testing_support::PatchFacts;
using testing_support::ScratchDir;

// Counts the installer's reads of the target list, and can make the list grow on the
// second read, which a real package cannot do between two calls.
int targetReads = 0;
bool growOnSecondRead = false;

void CountTargetReads(platform::UINT property, std::u16string& value) {
  if (property != platform::PID_TEMPLATE) return;
  ++targetReads;
  if (growOnSecondRead && targetReads >= 2) value += u";";
}

// A target list of exactly `length` characters: product codes separated by ";".
std::string TargetsOfLength(std::size_t length) {
  std::string targets;
  for (int index = 0; targets.size() < length; ++index) {
    char code[64];
    std::snprintf(code, sizeof code, "{6F0C2A51-5B2E-4D7A-9C3E-%012d};", index);
    targets += code;
  }
  targets.resize(length);
  return targets;
}

class PatchTargets : public testing::Test {
 protected:
  void SetUp() override {
    targetReads = 0;
    growOnSecondRead = false;
    platform::posix::summaryTextHookForTesting = CountTargetReads;
  }
  void TearDown() override { platform::posix::summaryTextHookForTesting = nullptr; }

  // A patch package with `targets` as its list; its path as the system passes it.
  std::u16string Package(const std::string& name, const std::string& targets) {
    PatchFacts facts;
    facts.Targets = targets;
    EXPECT_TRUE(MakePatchPackage(scratch.Join(name), facts));
    return scratch.JoinW(name);
  }

  ScratchDir scratch;
};

TEST_F(PatchTargets, ListsThatFitTakeOneReadAndLongerOnesASecond) {
  struct Case {
    std::size_t Length;
    int Reads;
  };
  for (Case row : {Case{1, 1}, Case{38, 1}, Case{2047, 1}, Case{2048, 2}, Case{9000, 2}}) {
    SCOPED_TRACE(row.Length);
    std::string expected = TargetsOfLength(row.Length);
    std::u16string package = Package("patch.msp", expected);
    targetReads = 0;
    std::u16string targets = u"left over";
    EXPECT_TRUE(ReadPatchTargets(package, targets));
    EXPECT_EQ(targets, FromUtf8(expected));
    EXPECT_EQ(targetReads, row.Reads);
  }
}

// A package without targets is read as an empty list, whatever the text held before.
TEST_F(PatchTargets, AnEmptyListReadsAsEmptyText) {
  std::u16string package = Package("patch.msp", "");
  std::u16string targets = u"left over";
  EXPECT_TRUE(ReadPatchTargets(package, targets));
  EXPECT_EQ(targets, u"");
}

// The second buffer is exactly the list's length plus one: a list one character longer by
// then no longer fits, and there is no third read.
TEST_F(PatchTargets, ASecondMoreDataFailsAndLeavesTheTextAlone) {
  std::u16string package = Package("patch.msp", TargetsOfLength(3000));
  growOnSecondRead = true;
  std::u16string targets = u"kept";
  EXPECT_FALSE(ReadPatchTargets(package, targets));
  EXPECT_EQ(targets, u"kept");
  EXPECT_EQ(targetReads, 2);
}

TEST_F(PatchTargets, WhatIsNoInstallerPackageLeavesTheTextAlone) {
  scratch.WriteFile("notes.txt", "{6F0C2A51-5B2E-4D7A-9C3E-0A1B2C3D4E51}\r\n");
  for (const std::u16string& path : {scratch.JoinW("notes.txt"), scratch.JoinW("missing.msp"),
                                     scratch.PathW(), std::u16string()}) {
    std::u16string targets = u"kept";
    EXPECT_FALSE(ReadPatchTargets(path, targets));
    EXPECT_EQ(targets, u"kept");
    EXPECT_EQ(OpenPackageSummary(path), 0u);
  }
  EXPECT_EQ(targetReads, 0);
}

// An absolute path needs to fit 260 characters; a package deeper than that is not opened,
// rather than opened under a cut name.
TEST_F(PatchTargets, AnAbsolutePathBeyond260CharactersOpensNothing) {
  std::string directory = scratch.Path();
  while (directory.size() < 300) {
    directory += "/" + std::string(40, 'd');
    ASSERT_TRUE(std::filesystem::create_directory(directory));
  }
  std::string path = directory + "/patch.msp";
  PatchFacts facts;
  facts.Targets = "{A3D91E07-7C44-4B19-8E2F-3C5D6E7F8091}";
  ASSERT_TRUE(MakePatchPackage(path, facts));
  std::u16string targets = u"kept";
  EXPECT_FALSE(ReadPatchTargets(FromUtf8(path), targets));
  EXPECT_EQ(targets, u"kept");
}

TEST_F(PatchTargets, ARelativePathIsTakenFromTheCurrentDirectory) {
  std::u16string unused = Package("relative.msp", "{A3D91E07-7C44-4B19-8E2F-3C5D6E7F8091};");
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(scratch.Path().c_str()), 0);
  std::u16string targets;
  bool read = ReadPatchTargets(u"relative.msp", targets);
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_TRUE(read);
  EXPECT_EQ(targets, u"{A3D91E07-7C44-4B19-8E2F-3C5D6E7F8091};");
}

}  // namespace
