#include "scenarios/machine_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/dialog_log.h"
#include "support/scratch_dir.h"

namespace scenarios {

MachineDirectories MakeMachineDirectories(const std::string& scratch, const Scenario& scenario) {
  MachineDirectories directories{scratch + "/work", scratch + "/" + scenario.TempName,
                                 scratch + "/fixtures"};
  for (const std::string& directory : {directories.Work, directories.Temp, directories.Fixtures}) {
    std::filesystem::create_directories(directory);
  }
  return directories;
}

Outcome ReadMachineFiles(const MachineDirectories& directories,
                         const std::vector<std::string>& planted) {
  Outcome outcome;
  outcome.Boxes = testing_support::ReadDialogLog(directories.Fixtures + "/dialogs.log");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directories.Work)) {
    if (!entry.is_regular_file()) continue;
    std::string name = std::filesystem::relative(entry.path(), directories.Work).string();
    if (std::find(planted.begin(), planted.end(), name) != planted.end()) continue;
    outcome.Files[name] = testing_support::FileContent(entry.path().string());
  }
  outcome.TempEntries = testing_support::EntryNames(directories.Temp);
  return outcome;
}

}  // namespace scenarios
