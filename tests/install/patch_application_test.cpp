#include "install/patch_application.h"

#include <gtest/gtest.h>

#include "app/process_state.h"
#include "messages/message_catalogue.h"
#include "platform/posix/host.h"
#include "support/dialog_log.h"
#include "support/scratch_dir.h"

namespace {

using testing_support::ReadDialogLog;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;

constexpr char16_t kEnglishCloseText[] =
    u"The following applications should be closed before continuing the install:";

class PatchCommandLine : public testing::Test {
 protected:
  void SetUp() override {
    ModuleInstance = platform::posix::MainModule();
    platform::SetThreadLocale(1033);
  }
  void TearDown() override { platform::SetThreadLocale(platform::LOCALE_USER_DEFAULT); }
  ProductRecord record;
};

TEST_F(PatchCommandLine, HoldsFourPropertiesWithTheTextOfTheProductsLanguage) {
  ASSERT_TRUE(BuildPatchCommandLine(record, u"C:\\Temp Files\\MSP2"));
  EXPECT_EQ(record.PatchCommandLine,
            std::u16string(u"PATCH=\"C:\\Temp Files\\MSP2\" PATCH_NO_UNINSTALL=0 REBOOTPROMPT=S "
                           u"FILESINUSETEXT=\"") +
                kEnglishCloseText + u"\"");

  platform::SetThreadLocale(1031);
  std::u16string german;
  ASSERT_GT(LoadMessageText(ModuleInstance, 316, german, 256), 0);
  ASSERT_NE(german, kEnglishCloseText);
  ASSERT_TRUE(BuildPatchCommandLine(record, u"/tmp/MSP2"));
  EXPECT_EQ(record.PatchCommandLine,
            u"PATCH=\"/tmp/MSP2\" PATCH_NO_UNINSTALL=0 REBOOTPROMPT=S "
            u"FILESINUSETEXT=\"" +
                german + u"\"");
}

TEST_F(PatchCommandLine, DoublesAQuoteInsideAValue) {
  ASSERT_TRUE(BuildPatchCommandLine(record, u"/tmp/a\"b PATCH_NO_UNINSTALL=1 \"c"));
  EXPECT_EQ(record.PatchCommandLine.substr(0, 44),
            u"PATCH=\"/tmp/a\"\"b PATCH_NO_UNINSTALL=1 \"\"c\" P");
}

TEST_F(PatchCommandLine, RefusesAPathThatNamesTwoPackages) {
  platform::SetLastError(0);
  EXPECT_FALSE(BuildPatchCommandLine(record, u"/tmp/a;b/MSP2"));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_NAME);
  EXPECT_TRUE(record.PatchCommandLine.empty());
}

TEST_F(PatchCommandLine, IsNeverCutAt1023Characters) {
  // 62 characters of the format, the English text, and the path make the line.
  std::size_t room = 1023 - 62 - std::char_traits<char16_t>::length(kEnglishCloseText);
  std::u16string longest = u"/" + std::u16string(room - 1, u'p');
  ASSERT_TRUE(BuildPatchCommandLine(record, longest));
  EXPECT_EQ(record.PatchCommandLine.size(), 1023u);
  EXPECT_EQ(record.PatchCommandLine.back(), u'"');

  ProductRecord tooLong;
  EXPECT_FALSE(BuildPatchCommandLine(tooLong, longest + u"p"));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILENAME_EXCED_RANGE);
  EXPECT_TRUE(tooLong.PatchCommandLine.empty());
  // A quote counts twice once it is written.
  EXPECT_FALSE(BuildPatchCommandLine(tooLong, longest.substr(1) + u"\""));
}

TEST_F(PatchCommandLine, AMissingText316LeavesTheValueEmpty) {
  static const unsigned char nothing[] = "";
  static const platform::posix::EmbeddedResource noStrings[] = {
      {u"TXT", 0, nullptr, 206, 1046, nothing, nothing}};
  ModuleInstance = platform::posix::MakeModule(noStrings, 1);
  ASSERT_TRUE(BuildPatchCommandLine(record, u"/tmp/MSP2"));
  EXPECT_EQ(record.PatchCommandLine,
            u"PATCH=\"/tmp/MSP2\" PATCH_NO_UNINSTALL=0 REBOOTPROMPT=S FILESINUSETEXT=\"\"");
}

TEST(PatchOutcome, OnlySuccessAndTheTwoRestartResultsCountAsApplied) {
  struct Case {
    platform::UINT Result;
    bool Applied;
  };
  for (const Case& c : {Case{0, true}, Case{1641, true}, Case{3010, true}, Case{1, false},
                        Case{1602, false}, Case{1603, false}, Case{1605, false}, Case{1618, false},
                        Case{1642, false}, Case{3011, false}}) {
    EXPECT_EQ(IsPatchApplied(c.Result), c.Applied) << c.Result;
  }
}

TEST(PatchOutcome, ARefusedReconfigurationShowsTheInstallersResult) {
  ScratchDir scratch;
  ScopedEnv root("EMU_INSTALLER_ROOT", scratch.Join("installer"));
  ScopedEnv log("EMU_DIALOG_LOG", scratch.Join("dialogs.log"));
  ModuleInstance = platform::posix::MainModule();
  RunOptions.Quiet = false;
  platform::SetThreadLocale(1033);
  ProductRecord unknown;
  unknown.ProductCode = u"{00000000-0000-0000-0000-000000000001}";
  unknown.PatchCommandLine = u"PATCH=\"/tmp/none\"";
  ReconfigureProduct(unknown);
  auto boxes = ReadDialogLog(scratch.Join("dialogs.log"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Caption, u"Installation Error");
  EXPECT_NE(boxes[0].Text.find(u"Error Code: 1605"), std::u16string::npos);
  EXPECT_EQ(boxes[0].Style, 0x50010u);
}

}  // namespace
