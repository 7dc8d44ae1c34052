#include "app/entry_point.h"

#include "app/command_line.h"
#include "app/process_state.h"
#include "app/product_list_mode.h"
#include "install/install_driver.h"
#include "log/run_log.h"
#include "payload/extraction.h"
#include "payload/patch_list.h"

using namespace platform;

namespace {

std::u16string_view YesNo(bool value) { return value ? u"yes" : u"no"; }

// The first lines of the log: who runs, with what, and what the scan made of it.
void LogRunStart() {
  LogLine({u"spsetup " SPSETUP_VERSION u" started"});
  LogLine({u"command line: ", GetCommandLineW()});
  LogLine({u"options: install ", YesNo(RunOptions.InstallRequested), u", quiet ",
           YesNo(RunOptions.Quiet), u", extract ",
           RunOptions.ExtractRequested ? LogQuoted(RunOptions.ExtractPath) : u"no",
           u", patch list ",
           RunOptions.PatchListRequested ? LogQuoted(RunOptions.PatchListPath) : u"no",
           u", product list ", YesNo(RunOptions.ProductListRequested), u", log ",
           LogQuoted(RunLogPath())});
}

// The extract mode, and what it wrote where.
void ExtractForAdministrator() {
  if (ExtractPackage(RunOptions.ExtractPath)) {
    LogLine({u"extract: the package was written to ", LogQuoted(RunOptions.ExtractPath)});
  } else {
    LogLine({u"extract: writing the package to ", LogQuoted(RunOptions.ExtractPath),
             u" failed with error ", LogNumber(GetLastError())});
  }
}

}  // namespace

int RunEntryPoint(platform::HINSTANCE instance, platform::HINSTANCE /*previousInstance*/,
                  platform::LPWSTR /*commandLine*/, int /*showState*/) {
  // 1. Every resource lookup goes to this module.
  ModuleInstance = instance;
  // 2. Switches into RunOptions.
  ParseCommandLine();
  // 3. The administrator's log, when asked for; one that cannot be opened changes nothing.
  if (!RunOptions.LogPath.empty() && OpenRunLog(RunOptions.LogPath)) LogRunStart();
  // 4. The mode table, top to bottom; no row looks at the result of another.
  if (RunOptions.InstallRequested) {
    RunInstall();
  } else {
    if (RunOptions.ExtractRequested) ExtractForAdministrator();
    if (RunOptions.PatchListRequested) WritePatchList(RunOptions.PatchListPath);
    if (RunOptions.ProductListRequested) ShowProductList();
  }
  LogLine({u"spsetup finished"});
  CloseRunLog();
  // 5. The exit code is 0 whatever happened.
  return 0;
}
