#include "host/cached_package.h"

#include <span>
#include <string_view>

#include "log/run_log.h"
#include "platform/platform.h"

using namespace platform;

namespace {

// One row to rewrite: its key (field 1 of the view) and the text that field 2 receives.
struct FieldReplacement {
  std::u16string_view Key;
  LPCWSTR NewValue;
};

// The new conditions. The first two hold their actions to a first install or a plain repair,
// so that a run applying or removing a patch skips them; the third runs its action in every
// maintenance run of the installed product but a patch removal.
constexpr WCHAR kConditionFirstInstallOrRepair[] =
    u"NOT Installed OR (REINSTALLMODE AND NOT PATCH AND NOT MSIPATCHREMOVE AND REMOVE "
    u"<>\"ALL\" AND KYRO_SECONDARY_INSTALL <>\"1\")";
constexpr WCHAR kConditionFirstInstallOrRepairWithoutSharedSupport[] =
    u"(NOT Installed OR (REINSTALLMODE AND NOT PATCH AND NOT MSIPATCHREMOVE AND REMOVE "
    u"<>\"ALL\" AND KYRO_SECONDARY_INSTALL <>\"1\")) AND SHAREDSUPPORT<>\"1\"";
constexpr WCHAR kConditionInstalledNotRemovingPatch[] = u"Installed AND NOT MSIPATCHREMOVE";

// The custom actions whose condition is rewritten, in the order each row is compared.
constexpr FieldReplacement kActionConditions[] = {
    {u"ResolveSourceDir", kConditionFirstInstallOrRepair},
    {u"SetMergeManufacturerMDBCD", kConditionFirstInstallOrRepairWithoutSharedSupport},
    {u"MergeManufacturerMDBCD", kConditionFirstInstallOrRepairWithoutSharedSupport},
    {u"SetMergeManufacturerMDBCDEX", kConditionFirstInstallOrRepairWithoutSharedSupport},
    {u"MergeManufacturerMDBCDEX", kConditionFirstInstallOrRepairWithoutSharedSupport},
    {u"SetUncabManufacturerCD", kConditionFirstInstallOrRepairWithoutSharedSupport},
    {u"UncabManufacturerCD", kConditionFirstInstallOrRepairWithoutSharedSupport},
    {u"HarvestInstallSelection", kConditionInstalledNotRemovingPatch},
};

// The component both registry rows move to.
constexpr WCHAR kSharedComponent[] = u"KYROX.kyrm.9A0AD67F_1899_4E39_B406_AAD935BD48BE";

// The registry rows whose component is rewritten, in the order each row is compared.
constexpr FieldReplacement kRegistryComponents[] = {
    {u"registry461", kSharedComponent},
    {u"KYROMiniDump_SendAppArgs", kSharedComponent},
};

constexpr WCHAR kActionConditionQuery[] = u"SELECT Action,Condition FROM InstallExecuteSequence";
constexpr WCHAR kRegistryComponentQuery[] = u"SELECT Registry,Component_ FROM Registry";

// More rewrites than a pass can ever need: the eight actions stay below it, while the two
// registry keys reach theirs and end the pass early.
constexpr unsigned kActionConditionLimit = 10;
constexpr unsigned kRegistryComponentLimit = 2;

// Room for a key of 259 characters and its terminator.
constexpr DWORD kKeyCapacity = MAX_PATH;

// One pass over `query`, a view of two columns: key and the field to rewrite. Each row whose
// key equals one of `replacements` exactly gets that entry's new value written back, until
// `limit` rewrites were made. Commits the database when the view opened, whatever came of
// the walk. `table` names the pass in the run's log.
void RewriteMatchingRows(MSIHANDLE database, LPCWSTR query, std::u16string_view table,
                         std::span<const FieldReplacement> replacements, unsigned limit) {
  // 1. Without the table there is nothing to rewrite and nothing to commit.
  InstallerHandleHolder view;
  if (UINT opened = MsiDatabaseOpenViewW(database, query, view.Receive());
      opened != ERROR_SUCCESS) {
    LogLine(
        {u"fix-up: ", table, u" not opened (result ", LogNumber(opened), u"), nothing rewritten"});
    return;
  }

  // 2. and 3. A view that does not execute, or yields no row, leaves nothing to rewrite.
  unsigned replaced = 0;
  InstallerHandleHolder record;
  bool haveRow = MsiViewExecute(view.Get(), 0) == ERROR_SUCCESS &&
                 MsiViewFetch(view.Get(), record.Receive()) == ERROR_SUCCESS;
  while (haveRow) {
    // 4. The count is set afresh for every row, since each read leaves a length in it. A key
    // that does not fit whole is no listed key, and its cut prefix is never compared.
    if (replaced >= limit) break;
    WCHAR key[kKeyCapacity];
    DWORD keyLength = kKeyCapacity;
    if (MsiRecordGetStringW(record.Get(), 1, key, &keyLength) == ERROR_SUCCESS) {
      const std::u16string_view rowKey(key);
      for (const FieldReplacement& replacement : replacements) {
        if (rowKey != replacement.Key) continue;
        // A row that already holds the new value is written all the same, and each match
        // counts whatever the calls return. An installer that refuses to replace through a
        // view of two columns (Wine's) still updates the field in place, which keeps the
        // row's other columns; ASSIGN would clear them.
        MsiRecordSetStringW(record.Get(), 2, replacement.NewValue);
        if (UINT refused = MsiViewModify(view.Get(), MSIMODIFY_REPLACE, record.Get());
            refused != ERROR_SUCCESS) {
          UINT updated = MsiViewModify(view.Get(), MSIMODIFY_UPDATE, record.Get());
          LogLine({u"fix-up: ", table, u" row ", LogQuoted(rowKey),
                   u": the installer refused to replace it (result ", LogNumber(refused),
                   u"); updated in place (result ", LogNumber(updated), u")"});
        }
        ++replaced;
      }
    }
    record.Reset();

    // 5. The end of the rows and a failed fetch both end the walk.
    haveRow = MsiViewFetch(view.Get(), record.Receive()) == ERROR_SUCCESS;
  }

  // 6. What this pass wrote reaches the file before the next pass begins; the holder closes
  // the view.
  UINT committed = MsiDatabaseCommit(database);
  LogLine({u"fix-up: ", table, u": ", LogNumber(replaced), u" rows rewritten, committed (result ",
           LogNumber(committed), u")"});
}

}  // namespace

void FixCachedPackage(const ProductRecord& product) {
  // 1. Transacted, so that only committed edits reach the file; a package that does not
  // open is left as it is.
  InstallerHandleHolder database;
  if (UINT opened =
          MsiOpenDatabaseW(product.LocalPackage.c_str(), MSIDBOPEN_TRANSACT, database.Receive());
      opened != ERROR_SUCCESS) {
    LogLine({u"fix-up: the cached database ", LogQuoted(product.LocalPackage),
             u" did not open (result ", LogNumber(opened), u"); left as it was"});
    return;
  }

  // 2. Pass 1: the custom-action conditions.
  RewriteMatchingRows(database.Get(), kActionConditionQuery, u"InstallExecuteSequence",
                      kActionConditions, kActionConditionLimit);

  // 3. Pass 2: the registry components. A missing Registry table leaves pass 1's edits
  // committed.
  RewriteMatchingRows(database.Get(), kRegistryComponentQuery, u"Registry", kRegistryComponents,
                      kRegistryComponentLimit);

  // 4. The holder closes the database, so the installer service finds it closed when it
  // applies the patch.
}
