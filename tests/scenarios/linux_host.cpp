// A scenario on the Linux build: a scratch emulated machine set up with installer-emu.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "scenarios/hosts.h"
#include "scenarios/machine_files.h"
#include "support/named_process.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace scenarios {

using testing_support::ProgramResult;
using testing_support::RunProgram;

namespace {

std::string Line(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

Outcome PlayOnLinux(const Scenario& scenario) {
  testing_support::ScratchDir scratch;
  MachineDirectories directories = MakeMachineDirectories(scratch.Path(), scenario);
  std::vector<std::pair<std::string, std::string>> environment = {
      {"EMU_INSTALLER_ROOT", scratch.Join("installer")},
      {"TMP", directories.Temp},
      {"EMU_USER_LCID", scenario.UserLanguage},
      {"EMU_DIALOG_LOG", directories.Fixtures + "/dialogs.log"},
      {"EMU_DIALOG_SCRIPT", scenario.Script},
      {testing_support::kProcessScopeVariable, scratch.Path()}};
  auto emu = [&](const std::vector<std::string>& arguments) {
    return RunProgram(SPSETUP_INSTALLER_EMU, arguments, environment);
  };

  // 1. The machine: products, and the host application when the scenario runs one.
  for (const Product& product : scenario.Products) {
    std::string package = directories.Fixtures + "/" + product.Code + ".msi";
    EXPECT_TRUE(MakeScenarioProduct(package, product));
    ProgramResult installed = emu({"install", package});
    EXPECT_EQ(installed.ExitCode, 0) << installed.Output;
    if (product.Language == "Deutsch") {
      EXPECT_EQ(emu({"set", product.Code, "Language", "Deutsch"}).ExitCode, 0);
    }
  }
  std::unique_ptr<testing_support::NamedProcess> host;
  if (scenario.HostRunning) {
    host = std::make_unique<testing_support::NamedProcess>(directories.Fixtures, "kyro.exe");
  }

  // 2. The run.
  ProgramResult run = RunProgram(SPSETUP_EXE, scenario.Arguments, environment, directories.Work);
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  host.reset();

  // 3. What it left.
  Outcome outcome = ReadMachineFiles(directories);
  for (const Product& product : scenario.Products) {
    outcome.Versions[product.Code] = Line(emu({"info", product.Code, "VersionString"}).Output);
    // A product without an applied patch has no Patches property.
    ProgramResult patches = emu({"info", product.Code, "Patches"});
    outcome.Patches[product.Code] = patches.ExitCode == 0 ? Line(patches.Output) : "";
    outcome.Rows[product.Code] =
        CachedRows(Line(emu({"info", product.Code, "LocalPackage"}).Output));
  }
  return outcome;
}

}  // namespace scenarios
