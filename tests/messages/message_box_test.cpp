// Message boxes as the user sees them, read back from the dialog log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/process_state.h"
#include "messages/message_box.h"
#include "messages/message_ids.h"
#include "platform/platform.h"
#include "platform/posix/host.h"
#include "support/dialog_log.h"
#include "support/scratch_dir.h"

namespace {

using testing_support::DialogRecord;
using testing_support::ReadDialogLog;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;

constexpr unsigned long kStyleError = 0x50010;
constexpr unsigned long kStyleInformation = 0x50040;
constexpr unsigned long kStylePlain = 0x50000;

const std::u16string kInstallFailedPrefix =
    u"A problem prevented the service pack from being installed. Contact your system "
    u"administrator. \n\n Error Code: ";

// Each test shows its boxes into a log of its own, in English, with the process-wide values
// as a fresh run has them; everything is put back afterwards.
class MessageBoxes : public testing::Test {
 protected:
  MessageBoxes() {
    ModuleInstance = platform::posix::MainModule();
    RunOptions.Quiet = false;
    ProductNameForMessages.clear();
    platform::SetThreadLocale(1033);
  }
  ~MessageBoxes() override {
    ModuleInstance = savedModule_;
    RunOptions.Quiet = savedQuiet_;
    ProductNameForMessages = savedName_;
    platform::SetThreadLocale(savedLocale_);
  }

  std::vector<DialogRecord> Boxes() const { return ReadDialogLog(log_); }

  // Shows `id` and returns the one box it logged.
  DialogRecord Show(platform::UINT id) {
    std::size_t before = Boxes().size();
    ShowMessage(id);
    std::vector<DialogRecord> boxes = Boxes();
    EXPECT_EQ(boxes.size(), before + 1) << "message " << id;
    return boxes.empty() ? DialogRecord{} : boxes.back();
  }

  ScratchDir scratch_;
  const std::string log_ = scratch_.Join("dialogs.log");
  ScopedEnv logEnv_{"EMU_DIALOG_LOG", log_};
  // Every box answers at once, terminal or not.
  ScopedEnv scriptEnv_{"EMU_DIALOG_SCRIPT", "ok"};

 private:
  platform::HINSTANCE savedModule_ = ModuleInstance;
  bool savedQuiet_ = RunOptions.Quiet;
  std::u16string savedName_ = ProductNameForMessages;
  platform::LCID savedLocale_ = platform::GetThreadLocale();
};

TEST_F(MessageBoxes, InstallFailedPrintsTheCodeCurrentOnEntry) {
  platform::SetLastError(platform::ERROR_ACCESS_DENIED);
  DialogRecord box = Show(kMessageInstallFailed);
  EXPECT_EQ(box.Text, kInstallFailedPrefix + u"5");
  EXPECT_EQ(box.Caption, u"Installation Error");
  EXPECT_EQ(box.Style, kStyleError);
  // The caller finds its code as it left it.
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
}

TEST_F(MessageBoxes, InstallFailedPrintsTheCodeAsASignedNumber) {
  const std::pair<platform::DWORD, std::u16string> cases[] = {
      {0, u"0"},
      {1603, u"1603"},
      {0x7FFFFFFF, u"2147483647"},
      {0x80000000, u"-2147483648"},
      {0x80070005, u"-2147024891"},
      {0xFFFFFFFF, u"-1"},
  };
  for (const auto& [code, printed] : cases) {
    platform::SetLastError(code);
    EXPECT_EQ(Show(kMessageInstallFailed).Text, kInstallFailedPrefix + printed) << code;
  }
}

TEST_F(MessageBoxes, InstallFailedIsInTheThreadLanguageWithTheCode) {
  platform::SetThreadLocale(1041);
  platform::SetLastError(1603);
  DialogRecord box = Show(kMessageInstallFailed);
  EXPECT_EQ(box.Text,
            u"問題が発生したため、Service Pack をインストールできませんでした。"
            u"システム管理者に問い合わせてください。 \n\n エラー コード: 1603");
  EXPECT_EQ(box.Caption, u"インストール エラー");
}

TEST_F(MessageBoxes, UpToDateComesInTheProductLanguageWithItsName) {
  ProductNameForMessages = u"Kyro Studio";
  platform::SetThreadLocale(1031);
  DialogRecord box = Show(kMessageUpToDate);
  EXPECT_EQ(box.Text,
            u"Ihre Version von Kyro Studio ist auf dem neuesten Stand, und dieses Service Pack "
            u"ist nicht erforderlich");
  EXPECT_EQ(box.Caption, u"Installation nicht erforderlich");
  EXPECT_EQ(box.Style, kStyleError);

  platform::SetThreadLocale(1033);
  box = Show(kMessageUpToDate);
  EXPECT_EQ(box.Text,
            u"Your version of Kyro Studio is up-to-date and this service pack is not necessary");
  EXPECT_EQ(box.Caption, u"Installation Unnecessary");
}

TEST_F(MessageBoxes, UpToDateWithoutAProductNameKeepsBothBlanks) {
  EXPECT_EQ(Show(kMessageUpToDate).Text,
            u"Your version of  is up-to-date and this service pack is not necessary");
}

// The message table: caption, style and text of every row, in English.
TEST_F(MessageBoxes, EveryRowHasItsCaptionStyleAndText) {
  ProductNameForMessages = u"Kyro";
  platform::SetLastError(7);
  struct Row {
    platform::UINT Id;
    std::u16string Caption;
    unsigned long Style;
    std::u16string Text;
  };
  const Row rows[] = {
      {300, u"Installation Error", kStyleError, kInstallFailedPrefix + u"7"},
      {301, u"Installation Successful", kStyleInformation,
       u"The service pack has been successfully installed."},
      {306, u"Installation Unnecessary", kStyleError,
       u"Your version of Kyro is up-to-date and this service pack is not necessary"},
      {307, u"Installation Error", kStyleError,
       u"The service pack could not be installed because the expected Norvane product could "
       u"not be located on your computer.\nMake sure that you are using the correct service "
       u"pack for the product."},
      {308, u"Installation Error", kStyleError,
       u"This service pack could not be installed because it is not designed for the version "
       u"of Kyro that is installed on your computer."},
      {309, u"Installation Error", kStyleError,
       u"The command line that you supplied is incorrect. Please check it for errors."},
      {310, u"Installation Error", kStyleError,
       u"You must supply a patch list with the command line to install this service pack "
       u"installation."},
      {314, u"Installation Error", kStyleError, u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Id);
    DialogRecord box = Show(row.Id);
    EXPECT_EQ(box.Caption, row.Caption);
    EXPECT_EQ(box.Style, row.Style);
    EXPECT_EQ(box.Text, row.Text);
  }
}

TEST_F(MessageBoxes, AnIdWithoutARowGetsTheFallbackCaptionAndNoIcon) {
  // 311 has a text but no row: the text as loaded, no catalogue caption.
  DialogRecord box = Show(kCaptionInstallError);
  EXPECT_EQ(box.Text, u"Installation Error");
  EXPECT_EQ(box.Caption, u"Error");
  EXPECT_EQ(box.Style, kStylePlain);

  // An id the catalogue does not know at all, in another language: the same caption.
  platform::SetThreadLocale(1049);
  box = Show(4321);
  EXPECT_EQ(box.Text, u"");
  EXPECT_EQ(box.Caption, u"Error");
  EXPECT_EQ(box.Style, kStylePlain);
}

TEST_F(MessageBoxes, ALongProductNameIsShownWhole) {
  std::u16string name;
  for (int i = 0; i < 600; ++i) name += static_cast<char16_t>(u'A' + i % 26);
  name += u"Ω end";  // beyond the 512 spare characters
  ProductNameForMessages = name;
  EXPECT_EQ(Show(kMessageVersionNotApplicable).Text,
            u"This service pack could not be installed because it is not designed for the "
            u"version of " +
                name + u" that is installed on your computer.");

  // A name that holds a conversion of its own is inserted unchanged.
  ProductNameForMessages = u"100%d %s Tool";
  EXPECT_EQ(Show(kMessageUpToDate).Text,
            u"Your version of 100%d %s Tool is up-to-date and this service pack is not "
            u"necessary");
}

TEST_F(MessageBoxes, TheQuietSwitchShowsNothing) {
  RunOptions.Quiet = true;
  ProductNameForMessages = u"Kyro";
  for (platform::UINT id : {300u, 301u, 306u, 307u, 308u, 309u, 310u, 314u, 311u, 4321u}) {
    platform::SetLastError(5);
    ShowMessage(id);
    EXPECT_EQ(platform::GetLastError(), 5u) << id;
  }
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
