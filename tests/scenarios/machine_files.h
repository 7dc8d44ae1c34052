// The directories of a scenario's scratch machine, shared by both hosts, and reading back
// what the program left in them.
#pragma once

#include <string>

#include "scenarios/scenario.h"

namespace scenarios {

struct MachineDirectories {
  std::string Work;      // the program's working directory: what it writes there is compared
  std::string Temp;      // what TMP names
  std::string Fixtures;  // product packages, the host application, logs: never compared
};

// Makes work/, the scenario's temporary directory and fixtures/ under `scratch`.
MachineDirectories MakeMachineDirectories(const std::string& scratch, const Scenario& scenario);

// The dialog log (fixtures/dialogs.log), every file under work/ (by relative path, with
// "/" between names) and the names in the temporary directory. Names in `planted` are
// left out of the files.
Outcome ReadMachineFiles(const MachineDirectories& directories,
                         const std::vector<std::string>& planted = {});

}  // namespace scenarios
