#include "scenarios/scenario.h"

#include "support/msi_tables.h"

namespace scenarios {

using testing_support::TableText;

bool MakeScenarioProduct(const std::string& path, const Product& product) {
  // A Language that is no number is registered from an empty ProductLanguage, then
  // changed by the host.
  std::string language = product.Language.find_first_not_of("0123456789") == std::string::npos
                             ? product.Language
                             : "1033";
  testing_support::SummaryText summary;
  summary.Template = "Intel;" + language;
  TableText properties = testing_support::PropertyTable({{"ProductCode", product.Code},
                                                         {"ProductVersion", product.Version},
                                                         {"ProductName", product.Name},
                                                         {"ProductLanguage", language},
                                                         {"Manufacturer", "Norvane"}});
  return testing_support::MakeDatabase(
      path,
      {properties,
       testing_support::InstallExecuteSequenceTable(
           {{"CostInitialize", "", 800},
            {"FileCost", "", 900},
            {"CostFinalize", "", 1000},
            {"ResolveSourceDir", "NOT Installed", 1010},
            {"SetMergeManufacturerMDBCD", "NOT Installed", 1020},
            {"MergeManufacturerMDBCD", "NOT Installed", 1030},
            {"SetMergeManufacturerMDBCDEX", "NOT Installed", 1040},
            {"MergeManufacturerMDBCDEX", "NOT Installed", 1050},
            {"SetUncabManufacturerCD", "NOT Installed", 1060},
            {"UncabManufacturerCD", "NOT Installed", 1070},
            {"HarvestInstallSelection", "Installed", 1080},
            {"InstallValidate", "", 1400},
            {"InstallInitialize", "", 1500},
            {"ProcessComponents", "", 1600},
            {"WriteRegistryValues", "", 5000},
            {"RegisterProduct", "", 6100},
            {"PublishFeatures", "", 6300},
            {"PublishProduct", "", 6400},
            {"InstallFinalize", "", 6600}}),
       testing_support::RegistryTable(
           {{"registry461", 2, "SOFTWARE\\Norvane\\Kyro", "Dir", "x", "Core"},
            {"KYROMiniDump_SendAppArgs", 2, "SOFTWARE\\Norvane\\Kyro", "A", "1", "Core"},
            {"registryOther", 2, "SOFTWARE\\Norvane\\Kyro", "B", "2", "Core"}}),
       {"Component",
        "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath\n"
        "s72\tS38\ts72\ti2\tS255\tS72\nComponent\tComponent\n"
        "Core\t{5A1E0C3B-7D2F-4E6A-9B8C-1D2E3F4A5B6C}\tTARGETDIR\t4\t\tregistry461\n"},
       {"Directory",
        "Directory\tDirectory_Parent\tDefaultDir\ns72\tS72\tl255\nDirectory\tDirectory\n"
        "TARGETDIR\t\tSourceDir\n"},
       {"Feature",
        "Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes\n"
        "s38\tS38\tL64\tL255\tI2\ti2\tS72\ti2\nFeature\tFeature\n"
        "Main\t\tMain\t\t1\t1\tTARGETDIR\t0\n"},
       {"Media",
        "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource\n"
        "i2\ti4\tL64\tS255\tS32\tS72\nMedia\tDiskId\n1\t0\t\t\t\t\n"},
       {"FeatureComponents",
        "Feature_\tComponent_\ns38\ts72\nFeatureComponents\tFeature_\tComponent_\nMain\tCore\n"}},
      summary);
}

std::vector<std::string> CachedRows(const std::string& path) {
  std::vector<std::string> rows;
  for (const auto& row : testing_support::ReadRows(
           path, "SELECT Action,Condition,Sequence FROM InstallExecuteSequence")) {
    rows.push_back(row[0] + "=" + row[1] + " @" + row[2]);
  }
  for (const auto& row :
       testing_support::ReadRows(path, "SELECT Registry,Component_ FROM Registry")) {
    rows.push_back(row[0] + "=" + row[1]);
  }
  return rows;
}

}  // namespace scenarios
