// The install driver in this process, over a module whose applicable-version list names
// the target version first: a case the shipped string tables cannot show.
#include "install/install_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "app/process_state.h"
#include "messages/message_catalogue.h"
#include "platform/posix/host.h"
#include "products/product_record.h"
#include "support/dialog_log.h"
#include "support/msi_tables.h"
#include "support/named_process.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using namespace testing_support;

const std::string kStudio = "{6F0C2A51-5B2E-4D7A-9C3E-0A1B2C3D4E51}";
const std::string kViewer = "{A3D91E07-7C44-4B19-8E2F-3C5D6E7F8091}";

// A string-table block (16 counted strings) whose entry `index` is `text`.
std::vector<unsigned char> StringBlock(int index, const std::u16string& text) {
  std::vector<unsigned char> block;
  for (int entry = 0; entry < 16; ++entry) {
    std::u16string value = entry == index ? text : u"";
    block.push_back(static_cast<unsigned char>(value.size() & 0xFF));
    block.push_back(static_cast<unsigned char>(value.size() >> 8));
    for (char16_t c : value) {
      block.push_back(static_cast<unsigned char>(c & 0xFF));
      block.push_back(static_cast<unsigned char>(c >> 8));
    }
  }
  return block;
}

// The executable's module with string 900 replaced by `applicable`.
platform::HINSTANCE ModuleWithApplicableVersions(const std::u16string& applicable) {
  static std::vector<unsigned char> block;
  static std::vector<platform::posix::EmbeddedResource> table;
  block = StringBlock(900 % 16, applicable);
  platform::HINSTANCE main = platform::posix::MainModule();
  table.assign(main->Resources, main->Resources + main->Count);
  for (auto& resource : table) {
    if (resource.TypeName == nullptr && resource.TypeId == 6 && resource.Name == nullptr &&
        resource.NameId == 900 / 16 + 1) {
      resource.Begin = block.data();
      resource.End = block.data() + block.size();
    }
  }
  return platform::posix::MakeModule(table.data(), table.size());
}

class InstallDriver : public testing::Test {
 protected:
  void SetUp() override {
    ProductListResetForTesting();
    RunOptions = RunOptionsRecord();
    platform::SetThreadLocale(platform::LOCALE_USER_DEFAULT);
  }
  void TearDown() override {
    ProductListResetForTesting();
    ModuleInstance = nullptr;
    platform::SetThreadLocale(platform::LOCALE_USER_DEFAULT);
  }

  void Install(const std::string& code, const std::string& name, const std::string& language) {
    std::string package = scratch.Join(name + ".msi");
    ASSERT_TRUE(MakeProductDatabase(package, {code, "5.1.8.0", name, language}));
    ASSERT_EQ(RunProgram(SPSETUP_INSTALLER_EMU, {"install", package},
                         {{"EMU_INSTALLER_ROOT", scratch.Join("installer")}})
                  .ExitCode,
              0);
  }

  ScratchDir scratch;
  ScratchDir temp;
  ScopedEnv root{"EMU_INSTALLER_ROOT", scratch.Join("installer")};
  ScopedEnv tmp{"TMP", temp.Path()};
  ScopedEnv log{"EMU_DIALOG_LOG", scratch.Join("dialogs.log")};
  ScopedEnv answers{"EMU_DIALOG_SCRIPT", "cancel"};
  // The guard sees only programs below the scratch directory: none.
  ScopedEnv processes{kProcessScopeVariable, scratch.Path()};
};

TEST_F(InstallDriver, TargetListedFirstEndsTheRunInThatProductsLanguage) {
  Install(kStudio, "Kyro Studio", "1031");
  Install(kViewer, "Kyro Viewer", "1033");
  ModuleInstance = ModuleWithApplicableVersions(u"5.2.0.0,5.1.8.0,");

  EXPECT_FALSE(RunInstall());

  std::vector<DialogRecord> boxes = ReadDialogLog(scratch.Join("dialogs.log"));
  ASSERT_EQ(boxes.size(), 1u);
  platform::SetThreadLocale(1031);
  std::u16string caption, text;
  LoadMessageText(ModuleInstance, 313, caption, 256);
  LoadMessageText(ModuleInstance, 306, text, 256);
  text.replace(text.find(u"%s"), 2, u"Kyro Studio");
  EXPECT_EQ(boxes[0].Caption, caption);
  EXPECT_EQ(boxes[0].Text, text);
  EXPECT_EQ(boxes[0].Style, 0x50010u);
  // The run ended at the first product: the second was neither judged nor patched, and the
  // temporary package stays.
  EXPECT_TRUE(ProductListAt(1).PatchCommandLine.empty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(InstallDriver, AMissingApplicableVersionListStopsBeforeAnyProduct) {
  Install(kStudio, "Kyro Studio", "1031");
  ModuleInstance = ModuleWithApplicableVersions(u"");

  EXPECT_FALSE(RunInstall());

  std::vector<DialogRecord> boxes = ReadDialogLog(scratch.Join("dialogs.log"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Caption, u"Installation Error");
  EXPECT_EQ(boxes[0].Text.find(u"A problem prevented"), 0u);
  EXPECT_EQ(ProductListCount(), 0u);
}

}  // namespace
