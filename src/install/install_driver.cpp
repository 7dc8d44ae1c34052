#include "install/install_driver.h"

#include <string>
#include <vector>

#include "app/process_state.h"
#include "host/cached_package.h"
#include "host/host_guard.h"
#include "install/patch_application.h"
#include "log/run_log.h"
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

// What became of each product, for the log's summary; "not reached" until the loop gets to
// it.
std::vector<std::u16string> ProductOutcomes;

std::u16string_view VerdictName(Applicability verdict) {
  switch (verdict) {
    case Applicability::UpToDate:
      return u"up to date";
    case Applicability::Applicable:
      return u"applicable";
    case Applicability::TargetListed:
      return u"the target version is listed before the installed one";
    case Applicability::NotApplicable:
      return u"not applicable";
  }
  return u"";
}

// The summary at the end of the log: one line per product, then how the run ended.
void LogSummary(std::u16string_view endedEarlyAt) {
  for (std::size_t index = 0; index < ProductOutcomes.size(); ++index) {
    const ProductRecord& record = ProductListAt(index);
    LogLine({u"summary: ", record.ProductCode, u" ", LogQuoted(record.ProductName), u": ",
             ProductOutcomes[index]});
  }
  if (endedEarlyAt.empty()) {
    LogLine({u"summary: the run ended normally"});
  } else {
    LogLine({u"summary: the run ended early at ", endedEarlyAt});
  }
}

// Ends the run before its end: message `id`, then the summary naming the step.
bool EndEarly(UINT id, std::u16string_view step) {
  ShowMessage(id);
  LogSummary(step);
  return false;
}

// Step 8.3: acts on one product's verdict, and records what became of it.
AfterProduct HandleProduct(ProductRecord& record, const std::u16string& packagePath,
                           std::size_t& upToDateCount, std::u16string& outcome) {
  Applicability verdict = ClassifyInstalledVersion(record);
  LogLine({u"product ", record.ProductCode, u": version ", record.InstalledVersion, u", ",
           VerdictName(verdict)});
  switch (verdict) {
    case Applicability::UpToDate:
      outcome = u"up to date";
      ++upToDateCount;
      return AfterProduct::Next;
    case Applicability::NotApplicable:
      outcome = u"not applicable";
      ShowMessage(kMessageVersionNotApplicable);
      return AfterProduct::Next;
    case Applicability::TargetListed:
      outcome = u"up to date";
      ShowMessage(kMessageUpToDate);
      return AfterProduct::EndRun;
    case Applicability::Applicable:
      // The line is composed before the cached database is edited, and a line the
      // installer could misread is refused before anything is touched.
      if (!BuildPatchCommandLine(record, packagePath)) {
        outcome = u"failed with code " + LogNumber(GetLastError());
        LogLine({u"patch ", record.ProductCode, u": no command line (error ",
                 LogNumber(GetLastError()), u")"});
        ShowMessage(kMessageInstallFailed);
        return AfterProduct::Next;
      }
      FixCachedPackage(record);
      EnableInstallerLog();
      if (UINT result = ReconfigureProduct(record); IsPatchApplied(result)) {
        outcome = u"patched";
        if (result != ERROR_SUCCESS) outcome += u" (code " + LogNumber(result) + u")";
      } else {
        outcome = u"failed with code " + LogNumber(result);
      }
      return AfterProduct::Next;
  }
  return AfterProduct::Next;
}

}  // namespace

bool RunInstall() {
  ProductOutcomes.clear();
  // 1. The package into a fresh temporary file.
  std::u16string packagePath;
  if (!ExtractPackage(packagePath)) {
    LogLine(
        {u"writing the package to a temporary file failed with error ", LogNumber(GetLastError())});
    return EndEarly(kMessageInstallFailed, u"writing the temporary package");
  }
  LogLine({u"temporary package: ", LogQuoted(packagePath)});

  // 2.-3. The template record: the target version and the versions the patch applies to.
  ProductRecord templateRecord;
  if (LoadMessageText(ModuleInstance, kTextTargetVersion, templateRecord.TargetVersion,
                      kMessageTextCapacity) == 0 ||
      LoadMessageText(ModuleInstance, kTextApplicableVersions, templateRecord.ApplicableVersions,
                      kMessageTextCapacity) == 0) {
    return EndEarly(kMessageInstallFailed, u"loading the versions");
  }
  LogLine({u"target version ", templateRecord.TargetVersion, u"; applies to ",
           templateRecord.ApplicableVersions});

  // 4. The products the package targets.
  std::u16string targets;
  if (!ReadPatchTargets(packagePath, targets)) {
    LogLine({u"the target list could not be read (error ", LogNumber(GetLastError()), u")"});
    return EndEarly(kMessageInstallFailed, u"reading the target list");
  }
  LogLine({u"target list: ", targets});

  // 5.-6. Those of them that are installed.
  DiscoverProducts(targets, templateRecord);
  for (std::size_t index = 0; index < ProductListCount(); ++index) {
    const ProductRecord& record = ProductListAt(index);
    LogLine({u"installed target: ", record.ProductCode, u" ", LogQuoted(record.ProductName),
             u", version ", record.InstalledVersion, u", language ", record.Language,
             u", cached package ", LogQuoted(record.LocalPackage)});
  }
  ProductOutcomes.assign(ProductListCount(), u"not reached");
  if (ProductListCount() == 0) {
    LogLine({u"no target product is installed"});
    return EndEarly(kMessageNoTargetProduct, u"finding the installed products");
  }

  // 7. The host application must be closed before anything is patched.
  if (!ConfirmHostClosed()) {
    LogLine({u"the host application is still running: the user cancelled"});
    return EndEarly(kMessageInstallFailed, u"waiting for the host application");
  }
  LogLine({u"the host application is not running"});

  // 8. Each product in list order, in its own language.
  std::size_t upToDateCount = 0;
  for (std::size_t index = 0; index < ProductListCount(); ++index) {
    ProductRecord& record = ProductListAt(index);
    ProductNameForMessages = record.ProductName;
    SetThreadLocale(static_cast<LCID>(TextToInteger(record.Language)));
    if (HandleProduct(record, packagePath, upToDateCount, ProductOutcomes[index]) ==
        AfterProduct::EndRun) {
      LogSummary(u"product " + record.ProductCode);
      return false;
    }
  }

  // 9. Nothing needed a patch: one message, in the user's own language.
  if (upToDateCount == ProductListCount()) {
    SetThreadLocale(LOCALE_USER_DEFAULT);
    ShowMessage(kMessageUpToDate);
  }

  // 10. The temporary package is no longer needed.
  if (DeleteFileW(packagePath.c_str())) {
    LogLine({u"temporary package removed"});
  } else {
    LogLine(
        {u"the temporary package could not be removed (error ", LogNumber(GetLastError()), u")"});
  }
  LogSummary(u"");
  return true;
}
