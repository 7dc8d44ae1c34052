// Which modes one command line runs, and in which order, through the built executable.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "messages/message_catalogue.h"
#include "platform/posix/host.h"
#include "support/dialog_log.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using testing_support::DialogRecord;
using testing_support::ProgramResult;
using testing_support::ReadDialogLog;
using testing_support::RunProgram;
using testing_support::ScratchDir;

class ModeTable : public testing::Test {
 protected:
  std::vector<DialogRecord> Run(const std::vector<std::string>& arguments) {
    std::filesystem::remove(scratch.Join("dialogs.log"));
    ProgramResult result = RunProgram(SPSETUP_EXE, arguments,
                                      {{"TMP", temp.Path()},
                                       {"EMU_INSTALLER_ROOT", scratch.Join("installer")},
                                       {"EMU_USER_LCID", "1033"},
                                       {"EMU_DIALOG_LOG", scratch.Join("dialogs.log")}},
                                      scratch.Path());
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    return ReadDialogLog(scratch.Join("dialogs.log"));
  }

  ScratchDir scratch;
  ScratchDir temp;
  const std::string package = testing_support::FileContent(SPSETUP_SAMPLE_PACKAGE);
  const std::string block =
      "*****\r\n" +
      testing_support::FileContent(std::string(SPSETUP_SOURCE_DIR) + "/resources/notes206.txt") +
      "\r\n";
};

// Extract and patch list name the same file: the package replaces it first, the notes are
// appended after it; the product list comes last, with the install not run at all.
TEST_F(ModeTable, ExtractThenPatchListThenProductList) {
  ASSERT_FALSE(package.empty());
  std::vector<DialogRecord> boxes = Run({"/e", "both.out", "/p", "both.out", "/i"});
  EXPECT_EQ(testing_support::FileContent(scratch.Join("both.out")), package + block);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].CaptionUtf8, "List of Products");
  EXPECT_FALSE(boxes[0].TextUtf8.empty());
}

TEST_F(ModeTable, TheScanStopsAtTheProductListSwitch) {
  std::vector<DialogRecord> boxes = Run({"/i", "/e", "out.msp"});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].CaptionUtf8, "List of Products");
  EXPECT_FALSE(std::filesystem::exists(scratch.Join("out.msp")));
}

// An argument that only looks like a switch selects no mode: the install runs, and on a
// machine without the products it reports that none is installed.
TEST_F(ModeTable, ANearSwitchLeavesTheInstallToRun) {
  std::u16string noProduct;
  platform::LCID saved = platform::GetThreadLocale();
  platform::SetThreadLocale(1033);
  ASSERT_GT(LoadMessageText(platform::posix::MainModule(), 307, noProduct, 256), 0);
  platform::SetThreadLocale(saved);
  for (const char* near : {"-e", "/extract", "e", "/e:"}) {
    SCOPED_TRACE(near);
    std::vector<DialogRecord> boxes = Run({near, "out.msp"});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, noProduct);
    EXPECT_FALSE(std::filesystem::exists(scratch.Join("out.msp")));
  }
}

}  // namespace
