#include "install/install_driver.h"

#include <string>

#include "app/process_state.h"
#include "host/cached_package.h"
#include "host/host_guard.h"
#include "install/patch_application.h"
#include "messages/message_box.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "payload/extraction.h"
#include "products/discovery.h"
#include "products/patch_targets.h"
#include "products/product_record.h"
#include "products/version.h"

using namespace platform;

namespace {

// What the loop does after one product.
enum class AfterProduct { Next, EndRun };

// Step 8.3: acts on one product's verdict.
AfterProduct HandleProduct(ProductRecord& record, const std::u16string& packagePath,
                           std::size_t& upToDateCount) {
  switch (ClassifyInstalledVersion(record)) {
    case Applicability::UpToDate:
      ++upToDateCount;
      return AfterProduct::Next;
    case Applicability::NotApplicable:
      ShowMessage(kMessageVersionNotApplicable);
      return AfterProduct::Next;
    case Applicability::TargetListed:
      ShowMessage(kMessageUpToDate);
      return AfterProduct::EndRun;
    case Applicability::Applicable:
      // The line is composed before the cached database is edited, and a line the
      // installer could misread is refused before anything is touched.
      if (!BuildPatchCommandLine(record, packagePath)) {
        ShowMessage(kMessageInstallFailed);
        return AfterProduct::Next;
      }
      FixCachedPackage(record);
      ReconfigureProduct(record);
      return AfterProduct::Next;
  }
  return AfterProduct::Next;
}

}  // namespace

bool RunInstall() {
  // 1. The package into a fresh temporary file.
  std::u16string packagePath;
  if (!ExtractPackage(packagePath)) {
    ShowMessage(kMessageInstallFailed);
    return false;
  }

  // 2.-3. The template record: the target version and the versions the patch applies to.
  ProductRecord templateRecord;
  if (LoadMessageText(ModuleInstance, kTextTargetVersion, templateRecord.TargetVersion,
                      kMessageTextCapacity) == 0 ||
      LoadMessageText(ModuleInstance, kTextApplicableVersions, templateRecord.ApplicableVersions,
                      kMessageTextCapacity) == 0) {
    ShowMessage(kMessageInstallFailed);
    return false;
  }

  // 4. The products the package targets.
  std::u16string targets;
  if (!ReadPatchTargets(packagePath, targets)) {
    ShowMessage(kMessageInstallFailed);
    return false;
  }

  // 5.-6. Those of them that are installed.
  DiscoverProducts(targets, templateRecord);
  if (ProductListCount() == 0) {
    ShowMessage(kMessageNoTargetProduct);
    return false;
  }

  // 7. The host application must be closed before anything is patched.
  if (!ConfirmHostClosed()) {
    ShowMessage(kMessageInstallFailed);
    return false;
  }

  // 8. Each product in list order, in its own language.
  std::size_t upToDateCount = 0;
  for (std::size_t index = 0; index < ProductListCount(); ++index) {
    ProductRecord& record = ProductListAt(index);
    ProductNameForMessages = record.ProductName;
    SetThreadLocale(static_cast<LCID>(TextToInteger(record.Language)));
    if (HandleProduct(record, packagePath, upToDateCount) == AfterProduct::EndRun) return false;
  }

  // 9. Nothing needed a patch: one message, in the user's own language.
  if (upToDateCount == ProductListCount()) {
    SetThreadLocale(LOCALE_USER_DEFAULT);
    ShowMessage(kMessageUpToDate);
  }

  // 10. The temporary package is no longer needed.
  DeleteFileW(packagePath.c_str());
  return true;
}
