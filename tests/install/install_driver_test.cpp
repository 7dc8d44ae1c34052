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
#include "support/file_refusal.h"
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

// The executable's module with string `id` replaced by `text`, or, with `dropBlock`, without
// the string-table block that holds it (in any language).
platform::HINSTANCE ModuleWithString(unsigned id, const std::u16string& text,
                                     bool dropBlock = false) {
  static std::vector<std::vector<unsigned char>> blocks;
  static std::vector<std::vector<platform::posix::EmbeddedResource>> tables;
  blocks.push_back(StringBlock(static_cast<int>(id % 16), text));
  platform::HINSTANCE main = platform::posix::MainModule();
  std::vector<platform::posix::EmbeddedResource> table;
  for (const auto& resource : std::vector(main->Resources, main->Resources + main->Count)) {
    bool holdsId = resource.TypeName == nullptr && resource.TypeId == 6 &&
                   resource.Name == nullptr && resource.NameId == id / 16 + 1;
    if (holdsId && dropBlock) continue;
    table.push_back(resource);
    if (holdsId) {
      table.back().Begin = blocks.back().data();
      table.back().End = blocks.back().data() + blocks.back().size();
    }
  }
  tables.push_back(std::move(table));
  return platform::posix::MakeModule(tables.back().data(), tables.back().size());
}

platform::HINSTANCE ModuleWithApplicableVersions(const std::u16string& applicable) {
  return ModuleWithString(900, applicable);
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

// Without the target version (700) or the applicable versions (900), emptied or with its
// whole block gone, the run ends with message 300 before any product is looked at.
TEST_F(InstallDriver, AMissingVersionStringStopsBeforeAnyProduct) {
  Install(kStudio, "Kyro Studio", "1031");
  const struct {
    unsigned Id;
    bool DropBlock;
  } cases[] = {{700, false}, {700, true}, {900, false}, {900, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Id << (c.DropBlock ? " without its block" : " empty"));
    ProductListResetForTesting();
    std::filesystem::remove(scratch.Join("dialogs.log"));
    ModuleInstance = ModuleWithString(c.Id, u"", c.DropBlock);

    EXPECT_FALSE(RunInstall());

    std::vector<DialogRecord> boxes = ReadDialogLog(scratch.Join("dialogs.log"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, u"Installation Error");
    EXPECT_EQ(boxes[0].Text.find(u"A problem prevented"), 0u);
    EXPECT_EQ(ProductListCount(), 0u);
    // The installer was not asked: the product is as installed, its journal empty.
    EXPECT_EQ(RunProgram(SPSETUP_INSTALLER_EMU, {"journal", kStudio}).Output, "");
  }
}

// A temporary directory that may be listed but not searched ends the run at once with
// message 300 and the refusal's code, before any product is looked at.
TEST_F(InstallDriver, ATemporaryDirectoryThatCannotBeSearchedEndsTheRunAtOnce) {
  Install(kStudio, "Kyro Studio", "1033");
  ModuleInstance = platform::posix::MainModule();
  ScopedSearchRefused refused(temp.Path());

  EXPECT_FALSE(RunInstall());

  EXPECT_EQ(refused.Refusals(), 1u);
  std::vector<DialogRecord> boxes = ReadDialogLog(scratch.Join("dialogs.log"));
  ASSERT_EQ(boxes.size(), 1u);
  std::u16string text;
  LoadMessageText(ModuleInstance, 300, text, 256);
  text.replace(text.find(u"%d"), 2, u"5");
  EXPECT_EQ(boxes[0].Text, text);
  EXPECT_EQ(ProductListCount(), 0u);
  EXPECT_TRUE(EntryNames(temp.Path()).empty());
}

}  // namespace
