// The transforms that tools/make-sample-patch writes, read back by the emulated installer's
// transform reader onto product databases made from table text (libmsi's own reader applies
// no table stream, see installer_patch.h), their summaries read back by libmsi, and the
// tables compared, as msitools exports them, with what the changes should give.
#include "transform_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "platform/posix/installer_patch.h"
#include "support/msi_tables.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using namespace testing_support;
namespace tw = transform_writer;

const std::string kStudio = "{6F0C2A51-5B2E-4D7A-9C3E-0A1B2C3D4E51}";
const std::string kViewer = "{A3D91E07-7C44-4B19-8E2F-3C5D6E7F8091}";
const std::string kServer = "{D2B7F6C3-19A8-4E5D-B0C1-7E8F9A0B1C2D}";
const std::string kSamplePatchCode = "{8E4B1D2C-3F5A-4C6B-9D7E-1F2A3B4C5D6E}";

const tw::TableSchema kProperty{"Property", {{"Property", "s72", true}, {"Value", "l0", false}}};
const tw::TableSchema kRegistry{"Registry",
                                {{"Registry", "s72", true},
                                 {"Root", "i2", false},
                                 {"Key", "l255", false},
                                 {"Name", "L255", false},
                                 {"Value", "L0", false},
                                 {"Component_", "s72", false}}};
const tw::TableSchema kMedia{"Media",
                             {{"DiskId", "i2", true},
                              {"LastSequence", "i4", false},
                              {"DiskPrompt", "L64", false},
                              {"Cabinet", "S255", false},
                              {"VolumeLabel", "S32", false},
                              {"Source", "S72", false}}};

// A table as msiinfo exports it, its header lines first and then its rows sorted, so that
// row order (which a transform does not fix) does not count.
std::vector<std::string> Rows(const std::string& exported) {
  std::vector<std::string> lines;
  std::istringstream in(exported);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (lines.size() > 3) std::sort(lines.begin() + 3, lines.end());
  return lines;
}

std::vector<std::string> Expected(std::vector<std::string> lines) {
  if (lines.size() > 3) std::sort(lines.begin() + 3, lines.end());
  return lines;
}

const std::vector<std::string> kRegistryHeader = {"Registry\tRoot\tKey\tName\tValue\tComponent_",
                                                  "s72\ti2\tl255\tL255\tL0\ts72",
                                                  "Registry\tRegistry"};
const std::vector<std::string> kMediaHeader = {
    "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource", "i2\ti4\tL64\tS255\tS32\tS72",
    "Media\tDiskId"};

std::vector<std::string> With(std::vector<std::string> header,
                              const std::vector<std::string>& rows) {
  header.insert(header.end(), rows.begin(), rows.end());
  return Expected(header);
}

class TransformWriterTest : public testing::Test {
 protected:
  // A released product: Property, two Registry rows, one medium.
  std::string Product(const std::string& name, const std::string& code,
                      const std::string& version) {
    std::string path = Scratch.Join(name);
    EXPECT_TRUE(
        MakeProductDatabase(path, {code, version, "Kyro Studio", "1031"},
                            {RegistryTable({{"registry461", 2, "SOFTWARE\\Norvane\\Kyro\\5.0",
                                             "InstallDir", "x", "KYROX.kyrm.Core"},
                                            {"registryVersion", 2, "SOFTWARE\\Norvane\\Kyro\\5.0",
                                             "Version", "[ProductVersion]", "KYROX.kyrm.Core"}}),
                             MediaTable({"1\t3\tDisk 1\t#product.cab\t\t"})}));
    return path;
  }

  ScratchDir Scratch;
};

TEST_F(TransformWriterTest, EveryKindOfChangeReadsBack) {
  std::string product = Product("product.msi", kStudio, "5.1.8.0");
  tw::Transform transform;
  transform.Tables = {
      {kProperty, false, {{tw::RowChange::Kind::Update, {"ProductVersion", "5.2.0.0"}}}},
      {kRegistry,
       false,
       {{tw::RowChange::Kind::Insert,
         {"registryServicePack", "2", "SOFTWARE\\Norvane\\Kyro\\5.0", "", "5.2.0.0", "Core"}},
        // Only the value of registry461 changes; its other fields stay.
        {tw::RowChange::Kind::Update,
         {"registry461", std::nullopt, std::nullopt, std::nullopt, "y", std::nullopt}},
        {tw::RowChange::Kind::Delete,
         {"registryVersion", std::nullopt, std::nullopt, std::nullopt, std::nullopt,
          std::nullopt}}}},
      {kMedia,
       false,
       {{tw::RowChange::Kind::Insert, {"100", "10000", "Service Pack", "", "", ""}},
        {tw::RowChange::Kind::Insert, {"-7", "-2147483647", "", "", "LABEL", "src"}}}},
      {{"PatchPackage", {{"PatchId", "s38", true}, {"Media_", "i2", false}}},
       true,
       {{tw::RowChange::Kind::Insert, {kSamplePatchCode, "100"}}}},
  };
  transform.Summary.RevisionNumber = kStudio + "5.1.8.0;" + kStudio + "5.2.0.0;" + kStudio;
  std::string error;
  std::string file = Scratch.Join("changes.mst");
  ASSERT_TRUE(tw::WriteTransformFile(file, transform, error)) << error;
  std::string patched = Scratch.Join("patched.msi");
  ASSERT_TRUE(ApplyTransformFile(product, file, patched));

  EXPECT_EQ(ReadRows(patched, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductVersion'"),
            (std::vector<std::vector<std::string>>{{"5.2.0.0"}}));
  EXPECT_EQ(ReadRows(patched, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'"),
            (std::vector<std::vector<std::string>>{{kStudio}}));
  EXPECT_EQ(Rows(ExportTable(patched, "Registry")),
            With(kRegistryHeader,
                 {"registry461\t2\tSOFTWARE\\Norvane\\Kyro\\5.0\tInstallDir\ty\tKYROX.kyrm.Core",
                  "registryServicePack\t2\tSOFTWARE\\Norvane\\Kyro\\5.0\t\t5.2.0.0\tCore"}));
  EXPECT_EQ(Rows(ExportTable(patched, "Media")),
            With(kMediaHeader, {"1\t3\tDisk 1\t#product.cab\t\t", "100\t10000\tService Pack\t\t\t",
                                "-7\t-2147483647\t\t\tLABEL\tsrc"}));
  EXPECT_EQ(Rows(ExportTable(patched, "PatchPackage")),
            Expected({"PatchId\tMedia_", "s38\ti2", "PatchPackage\tPatchId",
                      kSamplePatchCode + "\t100"}));
}

TEST_F(TransformWriterTest, BadChangesAreRefusedWithTheirCause) {
  struct Case {
    tw::TableChanges Table;
    std::string Cause;
  };
  const std::vector<Case> cases = {
      {{{"T", {{"A", "x72", true}}}, false, {}}, "unsupported type"},
      {{{"T", {{"A", "s72", false}, {"B", "s72", true}}}, false, {}}, "key columns first"},
      {{kProperty, false, {{tw::RowChange::Kind::Insert, {"Name", "caf\xC3\xA9"}}}}, "not ASCII"},
      {{kProperty, false, {{tw::RowChange::Kind::Insert, {"Name", std::nullopt}}}},
       "needs every field"},
      {{kProperty, false, {{tw::RowChange::Kind::Update, {"Name", std::nullopt}}}}, "must change"},
      {{kProperty, false, {{tw::RowChange::Kind::Insert, {"Name"}}}}, "needs 2 fields"},
      {{kMedia, false, {{tw::RowChange::Kind::Insert, {"40000", "1", "", "", "", ""}}}},
       "16-bit integer"},
      {{kMedia, false, {{tw::RowChange::Kind::Insert, {"1", "", "", "", "", ""}}}},
       "needs a value"},
  };
  for (const Case& c : cases) {
    tw::Transform transform;
    transform.Tables = {c.Table};
    std::string error;
    EXPECT_FALSE(tw::WriteTransformFile(Scratch.Join("bad.mst"), transform, error)) << c.Cause;
    EXPECT_NE(error.find(c.Cause), std::string::npos) << error;
  }
}

// The sample package's transforms, each pair applied to the released product it is for:
// the data transform brings version 5.2.0.0 and the service pack's registry row, the
// patch's own adds its medium and the PatchPackage row.
TEST_F(TransformWriterTest, SamplePackageTransformsFitTheirReleasedProducts) {
  EXPECT_EQ(ReadSummaryProperty(SPSETUP_SAMPLE_PACKAGE, 8),
            ":Kyro1;:#Kyro1;:Kyro2;:#Kyro2;:Kyro3;:#Kyro3;:Kyro4;:#Kyro4;:Kyro5;:#Kyro5");
  struct Image {
    std::string Transform;
    std::string Code;
    std::string Version;
  };
  const std::vector<Image> images = {{"Kyro1", kStudio, "5.1.8.0"},
                                     {"Kyro2", kStudio, "5.0.60.2"},
                                     {"Kyro3", kViewer, "5.1.8.0"},
                                     {"Kyro4", kViewer, "5.0.60.2"},
                                     {"Kyro5", kServer, "5.0.60.2"}};
  for (const Image& image : images) {
    SCOPED_TRACE(image.Transform);
    std::string product = Product(image.Transform + ".msi", image.Code, image.Version);
    std::string data = Scratch.Join(image.Transform + ".mst");
    std::string own = Scratch.Join(image.Transform + "-own.mst");
    ASSERT_TRUE(platform::posix::ExtractTransform(SPSETUP_SAMPLE_PACKAGE, image.Transform, data));
    ASSERT_TRUE(
        platform::posix::ExtractTransform(SPSETUP_SAMPLE_PACKAGE, "#" + image.Transform, own));
    std::string step = Scratch.Join(image.Transform + "-data.msi");
    std::string patched = Scratch.Join(image.Transform + "-patched.msi");
    ASSERT_TRUE(ApplyTransformFile(product, data, step));
    ASSERT_TRUE(ApplyTransformFile(step, own, patched));
    // The transform's summary names the product and version it starts from.
    EXPECT_EQ(ReadSummaryProperty(data, 9), image.Code + image.Version + ";" + image.Code +
                                                "5.2.0.0;{3B2C1A0F-7E6D-4C5B-8A9F-0E1D2C3B4A59}");
    EXPECT_EQ(ReadSummaryProperty(data, 16), std::to_string(0x01220017));

    EXPECT_EQ(
        ReadRows(patched, "SELECT `Value` FROM `Property` WHERE `Property` = 'ProductVersion'"),
        (std::vector<std::vector<std::string>>{{"5.2.0.0"}}));
    EXPECT_EQ(Rows(ExportTable(patched, "Registry")),
              With(kRegistryHeader,
                   {"registry461\t2\tSOFTWARE\\Norvane\\Kyro\\5.0\tInstallDir\tx\tKYROX.kyrm.Core",
                    "registryVersion\t2\tSOFTWARE\\Norvane\\Kyro\\5.0\tVersion\t[ProductVersion]\t"
                    "KYROX.kyrm.Core",
                    "registryServicePack\t2\tSOFTWARE\\Norvane\\Kyro\\5.0\tServicePack\t5.2.0.0\t"
                    "KYROX.kyrm.Core"}));
    EXPECT_EQ(Rows(ExportTable(patched, "Media")),
              With(kMediaHeader,
                   {"1\t3\tDisk 1\t#product.cab\t\t", "100\t10000\tKyro 5.2 Service Pack\t\t\t"}));
    EXPECT_EQ(Rows(ExportTable(patched, "PatchPackage")),
              Expected({"PatchId\tMedia_", "s38\ti2", "PatchPackage\tPatchId",
                        kSamplePatchCode + "\t100"}));
  }
}

// A description make-sample-patch cannot turn into a package: one line naming the cause,
// exit status 1, and no package written.
TEST_F(TransformWriterTest, SamplePatchToolRefusesADescriptionThatDoesNotFit) {
  const std::optional<std::string> sample = testing_support::ReadWholeFile(
      std::string(SPSETUP_SOURCE_DIR) + "/resources/sample_patch.txt");
  ASSERT_TRUE(sample.has_value());
  struct Case {
    std::string From;  // a part of the sample description
    std::string To;    // what it becomes
    std::string Cause;
  };
  const std::vector<Case> cases = {
      {"Image = {D2B7F6C3-19A8-4E5D-B0C1-7E8F9A0B1C2D} 5.0.60.2",
       "Image = {11111111-2222-4333-8444-555555555555} 5.0.60.2", "is not a target"},
      {"Image = {D2B7F6C3-19A8-4E5D-B0C1-7E8F9A0B1C2D} 5.0.60.2",
       "Image = {D2B7F6C3-19A8-4E5D-B0C1-7E8F9A0B1C2D} 5.0", "an image is"},
      {"Table.Media = ", "Table.Medium = ", "table Media has no Table line"},
      {"Update.Property = ProductVersion | 5.2.0.0", "Update.Property = ProductVersion",
       "has 2 columns"},
      {"PatchInsert.PatchPackage = {8E4B1D2C-3F5A-4C6B-9D7E-1F2A3B4C5D6E} | 100",
       "PatchInsert.PatchPackage = {8E4B1D2C-3F5A-4C6B-9D7E-1F2A3B4C5D6E} | 70000",
       "16-bit integer"},
      {"UpgradeCode = ", "UpgradeCode = x", "UpgradeCode is not"},
  };
  for (const Case& c : cases) {
    std::string text = *sample;
    std::size_t at = text.find(c.From);
    ASSERT_NE(at, std::string::npos) << c.From;
    text.replace(at, c.From.size(), c.To);
    std::string description = Scratch.WriteFile("sample.txt", text);
    std::string output = Scratch.Join("out.msp");
    ProgramResult result = RunProgram(SPSETUP_MAKE_SAMPLE_PATCH, {description, output});
    EXPECT_EQ(result.ExitCode, 1) << c.Cause;
    EXPECT_NE(result.Output.find(c.Cause), std::string::npos) << result.Output;
    EXPECT_EQ(std::count(result.Output.begin(), result.Output.end(), '\n'), 1) << result.Output;
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_FALSE(std::filesystem::exists(output + ".partial"));
  }
}

}  // namespace
