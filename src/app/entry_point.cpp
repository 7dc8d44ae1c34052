#include "app/entry_point.h"

#include "app/command_line.h"
#include "app/process_state.h"
#include "app/product_list_mode.h"
#include "install/install_driver.h"
#include "payload/extraction.h"
#include "payload/patch_list.h"

int RunEntryPoint(platform::HINSTANCE instance, platform::HINSTANCE /*previousInstance*/,
                  platform::LPWSTR /*commandLine*/, int /*showState*/) {
  // 1. Every resource lookup goes to this module.
  ModuleInstance = instance;
  // 2. Switches into RunOptions.
  ParseCommandLine();
  // 3. The mode table, top to bottom; no row looks at the result of another.
  if (RunOptions.InstallRequested) {
    RunInstall();
  } else {
    if (RunOptions.ExtractRequested) ExtractPackage(RunOptions.ExtractPath);
    if (RunOptions.PatchListRequested) WritePatchList(RunOptions.PatchListPath);
    if (RunOptions.ProductListRequested) ShowProductList();
  }
  // 4. The exit code is 0 whatever happened.
  return 0;
}
