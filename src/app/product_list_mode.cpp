#include "app/product_list_mode.h"

#include <string>

#include "log/run_log.h"
#include "payload/extraction.h"
#include "platform/platform.h"
#include "products/patch_targets.h"

using namespace platform;

namespace {

// The box's caption: fixed, not from the string tables.
constexpr char16_t kCaption[] = u"List of Products";

}  // namespace

void ShowProductList() {
  // 1. The package to a fresh temporary file; it stays there afterwards.
  std::u16string packagePath;
  if (ExtractPackage(packagePath)) {
    LogLine({u"product list: the package was written to ", LogQuoted(packagePath)});
  } else {
    LogLine({u"product list: writing the package to a temporary file failed with error ",
             LogNumber(GetLastError())});
  }
  // 2. Its target list; a failure leaves the text empty.
  std::u16string targets;
  if (!ReadPatchTargets(packagePath, targets)) {
    LogLine({u"product list: the target list could not be read (error ", LogNumber(GetLastError()),
             u")"});
  }
  // 3. Shown even in a quiet run, hence not through ShowMessage.
  int answer =
      MessageBoxW(nullptr, targets.c_str(), kCaption, MB_OK | MB_SETFOREGROUND | MB_TOPMOST);
  LogBox(0, kCaption, targets, answer);
}
