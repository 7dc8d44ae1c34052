// The product-list mode through the built executable, as an administrator runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/dialog_log.h"
#include "support/msi_tables.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using testing_support::DialogRecord;
using testing_support::ProgramResult;
using testing_support::ReadDialogLog;
using testing_support::RunProgram;
using testing_support::ScratchDir;

class ProductListMode : public testing::Test {
 protected:
  void SetUp() override {
    // The embedded package's own list, read by libmsi rather than by the system.
    targets = testing_support::ReadSummaryProperty(SPSETUP_SAMPLE_PACKAGE, 7);
    ASSERT_FALSE(targets.empty());
    // A machine with the first target installed at a version the patch applies to, so
    // that an install, had one run, would show.
    product = targets.substr(0, targets.find(';'));
    testing_support::ProductFacts facts;
    facts.ProductCode = product;
    facts.ProductVersion = "5.1.8.0";
    ASSERT_TRUE(testing_support::MakeProductDatabase(scratch.Join("product.msi"), facts));
    ASSERT_EQ(Emu({"install", scratch.Join("product.msi")}).ExitCode, 0);
  }

  std::vector<std::pair<std::string, std::string>> Environment() {
    return {{"TMP", temp.Path()},
            {"EMU_INSTALLER_ROOT", scratch.Join("installer")},
            {"EMU_DIALOG_LOG", scratch.Join("dialogs.log")}};
  }
  ProgramResult Emu(const std::vector<std::string>& arguments) {
    return RunProgram(SPSETUP_INSTALLER_EMU, arguments, Environment());
  }

  ScratchDir scratch;
  ScratchDir temp;
  std::string targets;
  std::string product;
};

TEST_F(ProductListMode, ShowsTheTargetListInOneBoxEvenWhenQuiet) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"/i"}, std::vector<std::string>{"/q", "/i"}}) {
    SCOPED_TRACE(arguments.front());
    std::filesystem::remove(scratch.Join("dialogs.log"));
    std::filesystem::remove_all(temp.Path());
    std::filesystem::create_directory(temp.Path());

    ProgramResult result = RunProgram(SPSETUP_EXE, arguments, Environment(), scratch.Path());
    EXPECT_EQ(result.ExitCode, 0) << result.Output;

    std::vector<DialogRecord> boxes = ReadDialogLog(scratch.Join("dialogs.log"));
    ASSERT_EQ(boxes.size(), 1u) << result.Output;
    EXPECT_EQ(boxes[0].CaptionUtf8, "List of Products");
    EXPECT_EQ(boxes[0].TextUtf8, targets);
    EXPECT_EQ(boxes[0].Style, 0x50000u);
    EXPECT_EQ(boxes[0].Answer, 1);

    // The extracted package stays where it was written, whole.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(temp.Path())) {
      left.push_back(entry.path().filename().string());
    }
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind("MSP", 0), 0u) << left[0];
    EXPECT_EQ(testing_support::FileContent(temp.Join(left[0])),
              testing_support::FileContent(SPSETUP_SAMPLE_PACKAGE));

    // Nothing was installed: the product keeps its version.
    ProgramResult version = Emu({"info", product, "VersionString"});
    EXPECT_EQ(version.ExitCode, 0) << version.Output;
    EXPECT_EQ(version.Output, "5.1.8.0\n");
  }
}

// Without a package to read the box still comes, with no text. TMP naming a file makes
// every temporary name unusable, so nothing is written anywhere.
TEST_F(ProductListMode, AFailedExtractionShowsAnEmptyBox) {
  std::string notADirectory = scratch.WriteFile("tmp-is-a-file", "x");
  ProgramResult result = RunProgram(
      SPSETUP_EXE, {"/i"},
      {{"TMP", notADirectory}, {"EMU_DIALOG_LOG", scratch.Join("dialogs.log")}}, scratch.Path());
  EXPECT_EQ(result.ExitCode, 0) << result.Output;
  std::vector<DialogRecord> boxes = ReadDialogLog(scratch.Join("dialogs.log"));
  ASSERT_EQ(boxes.size(), 1u) << result.Output;
  EXPECT_EQ(boxes[0].CaptionUtf8, "List of Products");
  EXPECT_EQ(boxes[0].TextUtf8, "");
}

}  // namespace
