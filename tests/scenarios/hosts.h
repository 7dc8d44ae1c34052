// The two hosts a scenario is played on. Each sets up a scratch machine, runs the
// program as the scenario says and reads back what it did.
#pragma once

#include <optional>
#include <string>

#include "scenarios/scenario.h"

namespace scenarios {

// The Linux build over the emulated host: products installed with installer-emu, the
// dialog script and log of the emulated message boxes. Failures are added to the test.
Outcome PlayOnLinux(const Scenario& scenario);

// spsetup.exe under Wine, as the Windows stage of the test command sets it up:
// SPSETUP_WINE (the loader), SPSETUP_WINE_EXE (the executable), SPSETUP_WINE_PROBE (the
// probe that answers its boxes), SPSETUP_WINE_PLANTED_MSI (a library planted as msi.dll),
// WINEPREFIX and DISPLAY. std::nullopt when they are not set: the scenario is then played
// on Linux alone.
struct WineSetup {
  std::string Loader;
  std::string Executable;
  std::string Probe;
  std::string PlantedLibrary;
};
std::optional<WineSetup> WineFromEnvironment();

// Products are installed with Wine's msiexec and removed again at the end, so the prefix
// is left as it was found.
Outcome PlayOnWine(const Scenario& scenario, const WineSetup& wine);

}  // namespace scenarios
