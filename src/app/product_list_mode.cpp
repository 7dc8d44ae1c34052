#include "app/product_list_mode.h"

#include <string>

#include "payload/extraction.h"
#include "platform/platform.h"
#include "products/patch_targets.h"

using namespace platform;

void ShowProductList() {
  // 1. The package to a fresh temporary file; it stays there afterwards.
  std::u16string packagePath;
  ExtractPackage(packagePath);
  // 2. Its target list; a failure leaves the text empty.
  std::u16string targets;
  ReadPatchTargets(packagePath, targets);
  // 3. Shown even in a quiet run, hence not through ShowMessage.
  MessageBoxW(nullptr, targets.c_str(), u"List of Products", MB_OK | MB_SETFOREGROUND | MB_TOPMOST);
}
