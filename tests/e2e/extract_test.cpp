// The extract mode through the built executable, as an administrator runs it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using testing_support::ProgramResult;
using testing_support::RunProgram;
using testing_support::ScratchDir;

class ExtractMode : public testing::Test {
 protected:
  ProgramResult Run(const std::vector<std::string>& arguments) {
    return RunProgram(SPSETUP_EXE, arguments,
                      {{"TMP", temp.Path()},
                       {"EMU_INSTALLER_ROOT", scratch.Join("installer")},
                       {"EMU_DIALOG_LOG", scratch.Join("dialogs.log")}},
                      scratch.Path());
  }
  ScratchDir scratch;
  ScratchDir temp;
  const std::string package = testing_support::FileContent(SPSETUP_SAMPLE_PACKAGE);
};

TEST_F(ExtractMode, WritesThePackageByteForByteInEitherCase) {
  for (const char* flag : {"/e", "/E"}) {
    SCOPED_TRACE(flag);
    std::string out = scratch.Join(std::string("out") + (flag[1] == 'E' ? "-upper" : "") + ".msp");
    ProgramResult result = Run({flag, out});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_EQ(testing_support::FileContent(out), package);
  }
  EXPECT_FALSE(std::filesystem::exists(scratch.Join("dialogs.log")));
  EXPECT_TRUE(testing_support::EntryNames(temp.Path()).empty());
}

TEST_F(ExtractMode, ThePackageListsItsThreeTargetsWithMsitools) {
  ASSERT_EQ(Run({"/e", "out.msp"}).ExitCode, 0);
  ProgramResult info = RunProgram("/usr/bin/msiinfo", {"suminfo", scratch.Join("out.msp")});
  ASSERT_EQ(info.ExitCode, 0) << info.Output;
  std::string targets = info.Output.substr(info.Output.find("Template:"));
  targets = targets.substr(0, targets.find('\n'));
  EXPECT_EQ(std::count(targets.begin(), targets.end(), '{'), 3) << targets;
}

TEST_F(ExtractMode, WithoutPathWritesTheFirstFreeTemporaryName) {
  ASSERT_EQ(Run({"/e"}).ExitCode, 0);
  EXPECT_EQ(testing_support::EntryNames(temp.Path()), std::vector<std::string>{"MSP2"});
  EXPECT_EQ(testing_support::FileContent(temp.Join("MSP2")), package);

  ASSERT_EQ(Run({"/e"}).ExitCode, 0);
  EXPECT_EQ(testing_support::EntryNames(temp.Path()), (std::vector<std::string>{"MSP2", "MSP3"}));
}

TEST_F(ExtractMode, AnUnwritablePlaceGetsNothingAndStillExitsZero) {
  scratch.WriteFile("plain-file", "x");
  for (const std::string& out :
       {scratch.Join("missing/out.msp"), scratch.Join("plain-file/out.msp"),
        std::string("/proc/spsetup-out.msp")}) {
    SCOPED_TRACE(out);
    ProgramResult result = Run({"/e", out});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    struct stat info;
    EXPECT_NE(stat(out.c_str(), &info), 0);
  }
  EXPECT_EQ(testing_support::EntryNames(scratch.Path()), std::vector<std::string>{"plain-file"});
}

// Standard output as the path, a pipe here: the package goes down it byte for byte, and a
// shell pipeline counts the package's size.
TEST_F(ExtractMode, StandardOutputReceivesThePackage) {
  ProgramResult direct = Run({"/e", "/dev/stdout"});
  EXPECT_EQ(direct.ExitCode, 0);
  EXPECT_EQ(direct.Output, package);

  ProgramResult counted = RunProgram(
      "/bin/sh", {"-c", "\"$0\" /e /dev/stdout | wc -c", SPSETUP_EXE},
      {{"TMP", temp.Path()}, {"EMU_INSTALLER_ROOT", scratch.Join("installer")}}, scratch.Path());
  ASSERT_EQ(counted.ExitCode, 0) << counted.Output;
  EXPECT_EQ(std::stoul(counted.Output), package.size());
  EXPECT_TRUE(testing_support::EntryNames(scratch.Path()).empty());
}

TEST_F(ExtractMode, EveryInvocationExitsZero) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"/e", ""}, {"/x"}, {"/e", "a", "/e"}, {"-e"}}) {
    EXPECT_EQ(Run(arguments).ExitCode, 0);
  }
}

}  // namespace
