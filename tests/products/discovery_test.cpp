// Discovery of the installed target products against the emulated installer service.
#include "products/discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/host.h"
#include "platform/posix/installer_registry.h"
#include "support/msi_tables.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using platform::posix::FromUtf8;
using platform::posix::ProductEntry;
using testing_support::ProgramResult;
using testing_support::RunProgram;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;

// Codes whose sorted order is not the order of the lists below, so the registry's own
// order cannot pass for list order.
const std::string kFirst = "{F1000000-0000-4000-8000-000000000001}";
const std::string kSecond = "{A2000000-0000-4000-8000-000000000002}";
const std::string kAbsent = "{C3000000-0000-4000-8000-000000000003}";

std::vector<std::u16string> ListedCodes() {
  std::vector<std::u16string> codes;
  for (std::size_t index = 0; index < ProductListCount(); ++index) {
    codes.push_back(ProductListAt(index).ProductCode);
  }
  return codes;
}

class Discovery : public testing::Test {
 protected:
  void SetUp() override {
    ProductListResetForTesting();
    shipped.TargetVersion = u"5.2.0.0";
    shipped.ApplicableVersions = u"5.0.60.2,5.1.8.0,";
  }
  void TearDown() override { ProductListResetForTesting(); }

  // Registers a product straight in the installer's registry, with the properties given.
  void Register(const std::string& code, platform::INSTALLSTATE state,
                const std::vector<std::pair<std::string, std::string>>& properties) {
    ProductEntry entry;
    entry.Code = code;
    entry.State = state;
    entry.Properties = properties;
    std::string problem;
    ASSERT_TRUE(platform::posix::WriteProduct(entry, &problem)) << problem;
  }
  void Register(const std::string& code, platform::INSTALLSTATE state) {
    Register(code, state,
             {{"VersionString", "5.1.8.0"},
              {"LocalPackage", "/cache/" + code + ".msi"},
              {"ProductName", "Kyro"},
              {"Language", "1033"}});
  }

  // Installs a product database the way an administrator does, with installer-emu.
  void Install(const testing_support::ProductFacts& facts, bool advertise) {
    std::string package = scratch.Join(facts.ProductCode + ".msi");
    ASSERT_TRUE(testing_support::MakeProductDatabase(package, facts));
    std::vector<std::string> arguments = {"install", package};
    if (advertise) arguments.push_back("--advertise");
    ProgramResult result = RunProgram(SPSETUP_INSTALLER_EMU, arguments);
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
  }

  ScratchDir scratch;
  ScopedEnv root{"EMU_INSTALLER_ROOT", scratch.Join("installer")};
  ProductRecord shipped;
};

TEST_F(Discovery, KeepsInstalledAndAdvertisedProductsInListOrder) {
  Install({kFirst, "5.1.8.0", "Kyro Deutsch", "1031"}, /*advertise=*/true);
  Install({kSecond, "5.0.60.2", "Kyro English", "1033"}, /*advertise=*/false);
  shipped.PatchCommandLine = u"from the template";

  DiscoverProducts(FromUtf8(kFirst + ";" + kAbsent + ";" + kSecond + ";"), shipped);

  ASSERT_EQ(ListedCodes(), (std::vector<std::u16string>{FromUtf8(kFirst), FromUtf8(kSecond)}));
  const ProductRecord& first = ProductListAt(0);
  EXPECT_EQ(first.InstalledVersion, u"5.1.8.0");
  EXPECT_EQ(first.ProductName, u"Kyro Deutsch");
  EXPECT_EQ(first.Language, u"1031");
  const ProductRecord& second = ProductListAt(1);
  EXPECT_EQ(second.InstalledVersion, u"5.0.60.2");
  EXPECT_EQ(second.ProductName, u"Kyro English");
  EXPECT_EQ(second.Language, u"1033");
  for (const std::string& code : {kFirst, kSecond}) {
    ProductEntry entry;
    ASSERT_EQ(platform::posix::ReadProduct(code, entry), platform::posix::ProductRead::Found);
    const std::string* cached = platform::posix::FindProperty(entry, "LocalPackage");
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(ProductListAt(code == kFirst ? 0 : 1).LocalPackage, FromUtf8(*cached));
  }
  for (const ProductRecord* record : {&first, &second}) {
    EXPECT_EQ(record->TargetVersion, u"5.2.0.0");
    EXPECT_EQ(record->ApplicableVersions, u"5.0.60.2,5.1.8.0,");
    EXPECT_EQ(record->PatchCommandLine, u"from the template");
  }
}

// How the walk cuts the list: entries exactly as written, and the first empty one ends it.
TEST_F(Discovery, WalksEntriesUntilTheFirstEmptyOne) {
  Register(kFirst, platform::INSTALLSTATE_DEFAULT);
  Register(kSecond, platform::INSTALLSTATE_DEFAULT);
  const std::u16string first = FromUtf8(kFirst), second = FromUtf8(kSecond),
                       absent = FromUtf8(kAbsent);
  struct Case {
    std::u16string Targets;
    std::vector<std::u16string> Found;
  };
  const Case cases[] = {
      {first + u";" + second, {first, second}},
      {first + u";" + second + u";", {first, second}},
      {second + u";" + first, {second, first}},
      {second, {second}},
      {first + u";" + absent, {first}},
      {first + u";" + first + u";", {first, first}},
      {first + u";;" + second, {first}},
      {first + u";" + absent + u";;" + second, {first}},
      {u";" + first + u";" + second, {}},
      {u";", {}},
      {u"", {}},
      {u" " + first + u";" + second + u" ;" + second, {second}},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(std::string(row.Targets.begin(), row.Targets.end()));
    ProductListResetForTesting();
    DiscoverProducts(row.Targets, shipped);
    EXPECT_EQ(ListedCodes(), row.Found);
  }
}

TEST_F(Discovery, ACodeListedTwiceGivesTwoEqualRecords) {
  Register(kFirst, platform::INSTALLSTATE_DEFAULT);
  DiscoverProducts(FromUtf8(kFirst + ";" + kFirst), shipped);
  ASSERT_EQ(ProductListCount(), 2u);
  const ProductRecord& one = ProductListAt(0);
  const ProductRecord& two = ProductListAt(1);
  EXPECT_NE(&one, &two);
  for (auto field : {&ProductRecord::ProductCode, &ProductRecord::TargetVersion,
                     &ProductRecord::ProductName, &ProductRecord::Language,
                     &ProductRecord::PatchCommandLine, &ProductRecord::ApplicableVersions,
                     &ProductRecord::InstalledVersion, &ProductRecord::LocalPackage}) {
    EXPECT_EQ(one.*field, two.*field);
  }
  EXPECT_EQ(one.InstalledVersion, u"5.1.8.0");
}

TEST_F(Discovery, OnlyInstalledAndAdvertisedCount) {
  Register(kFirst, platform::INSTALLSTATE_DEFAULT);
  Register(kSecond, platform::INSTALLSTATE_ADVERTISED);
  Register(kAbsent, platform::INSTALLSTATE_ABSENT);
  EXPECT_TRUE(IsProductInstalled(FromUtf8(kFirst)));
  EXPECT_TRUE(IsProductInstalled(FromUtf8(kSecond)));
  EXPECT_FALSE(IsProductInstalled(FromUtf8(kAbsent)));
  EXPECT_FALSE(IsProductInstalled(u"{D4000000-0000-4000-8000-000000000004}"));  // unknown
  EXPECT_FALSE(IsProductInstalled(u"not a code"));                              // invalid
  EXPECT_FALSE(IsProductInstalled(u""));
}

// A property the installer does not give leaves its field empty, and a value too long
// for the buffer is cut inside it.
TEST_F(Discovery, FailedPropertyReadsLeaveEmptyOrCutFields) {
  std::string longName(1500, 'K');
  Register(kFirst, platform::INSTALLSTATE_DEFAULT,
           {{"VersionString", "5.1.8.0"}, {"ProductName", longName}});
  DiscoverProducts(FromUtf8(kFirst), shipped);
  ASSERT_EQ(ProductListCount(), 1u);
  const ProductRecord& record = ProductListAt(0);
  EXPECT_EQ(record.InstalledVersion, u"5.1.8.0");
  EXPECT_EQ(record.LocalPackage, u"");
  EXPECT_EQ(record.Language, u"");
  EXPECT_EQ(record.ProductName, FromUtf8(longName.substr(0, 1023)));
  EXPECT_EQ(ReadProductProperty(FromUtf8(kAbsent), u"ProductName"), u"");
}

}  // namespace
