// MsiConfigureProductExW on the emulated installer service: reconfigures a registered
// product with the patches its command line names.
#include "platform/posix/installer_configure.h"

#include <mutex>
#include <optional>

#include "platform/posix/host.h"
#include "platform/posix/installer_handles.h"
#include "platform/posix/installer_journal.h"
#include "platform/posix/installer_log.h"
#include "platform/posix/installer_patch.h"
#include "platform/posix/installer_registry.h"

namespace platform {
namespace posix {
namespace {

constexpr int kInstallLevelDefault = 0;
constexpr int kInstallLevelMaximum = 0xFFFF;
constexpr INSTALLSTATE kInstallStateLocal = 3;
constexpr INSTALLSTATE kInstallStateSource = 4;
constexpr UINT kErrorCallNotImplemented = 120;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool IsSuccessResult(UINT result) {
  return result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_INITIATED ||
         result == ERROR_SUCCESS_REBOOT_REQUIRED;
}

std::u16string UpperAscii(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return text;
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    items.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

// What one patch package brings.
struct PatchFacts {
  std::string PatchCode;
  std::string ProductVersion;  // empty: the patch records none
};

// Checks that `path` is a patch package for the product `code` and reads what it brings:
// 0, or 1635 (no patch package), 1642 (not for this product), 1636 (no patch code).
UINT ReadPatch(const std::string& path, const std::string& code, PatchFacts& facts) {
  ScopedFileDescriptor file = OpenRegularFile(path);
  if (!file) return ERROR_PATCH_PACKAGE_OPEN_FAILED;
  GErrorHolder error;
  GObjectPtr<LibmsiDatabase> patch(
      libmsi_database_new(PinnedPath(file.Get()).c_str(),
                          LIBMSI_DB_FLAGS_READONLY | LIBMSI_DB_FLAGS_PATCH, nullptr, &error.Error));
  if (!patch) return ERROR_PATCH_PACKAGE_OPEN_FAILED;
  GObjectPtr<LibmsiSummaryInfo> summary(libmsi_summary_info_new(patch.get(), 0, &error.Error));
  if (!summary) return ERROR_PATCH_PACKAGE_OPEN_FAILED;
  // 1. The target list, property 7, must name the product.
  const gchar* targets =
      libmsi_summary_info_get_string(summary.get(), LIBMSI_PROPERTY_TEMPLATE, nullptr);
  bool targeted = false;
  for (const std::string& target : SplitList(targets != nullptr ? targets : "")) {
    targeted |= IsProductCode(target) && CanonicalProductCode(target) == code;
  }
  if (!targeted) return ERROR_PATCH_TARGET_NOT_FOUND;
  // 2. The patch code leads property 9.
  const gchar* revision =
      libmsi_summary_info_get_string(summary.get(), LIBMSI_PROPERTY_UUID, nullptr);
  std::string codes = revision != nullptr ? revision : "";
  if (codes.size() < 38 || !IsProductCode(std::string_view(codes).substr(0, 38))) {
    return ERROR_PATCH_PACKAGE_INVALID;
  }
  facts.PatchCode = CanonicalProductCode(std::string_view(codes).substr(0, 38));
  // 3. The version it brings, when its metadata records one.
  GObjectPtr<LibmsiQuery> metadata(libmsi_query_new(
      patch.get(), "SELECT `Property`, `Value` FROM `MsiPatchMetadata`", &error.Error));
  error.Clear();
  if (metadata && libmsi_query_execute(metadata.get(), nullptr, &error.Error)) {
    while (GObjectPtr<LibmsiRecord> row{libmsi_query_fetch(metadata.get(), nullptr)}) {
      FieldValue name = ReadField(row.get(), 1);
      if (name.Text == "ProductVersion") facts.ProductVersion = ReadField(row.get(), 2).Text;
    }
    libmsi_query_close(metadata.get(), nullptr);
  }
  return ERROR_SUCCESS;
}

// Takes the product's forced result, if any, out of its entry (so it is returned once).
// 0 when there was none; ERROR_INSTALL_FAILURE when it cannot be taken out.
UINT TakeForcedResult(const std::string& code, std::optional<UINT>& forced) {
  ScopedFileDescriptor lock = LockFile(RegistryLockPath(), true);
  ProductEntry entry;
  if (!lock || ReadProduct(code, entry) != ProductRead::Found) return ERROR_INSTALL_FAILURE;
  forced = entry.ForcedResult;
  if (!forced) return ERROR_SUCCESS;
  entry.ForcedResult.reset();
  return WriteProduct(entry) ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// Records the applied patches on the product: their codes in "Patches", the last version
// brought in "VersionString", and the PATCH value as this configuration received it in
// "LastPatchSource" (so a person or test sees which names the installer was handed).
UINT RecordPatches(const std::string& code, const std::vector<PatchFacts>& patches,
                   const std::string& source) {
  ScopedFileDescriptor lock = LockFile(RegistryLockPath(), true);
  ProductEntry entry;
  if (!lock || ReadProduct(code, entry) != ProductRead::Found) return ERROR_INSTALL_FAILURE;
  const std::string* recorded = FindProperty(entry, "Patches");
  std::string list = recorded != nullptr ? *recorded : "";
  for (const PatchFacts& patch : patches) {
    bool known = false;
    for (const std::string& item : SplitList(list)) known |= item == patch.PatchCode;
    if (!known) list += (list.empty() ? "" : ";") + patch.PatchCode;
    if (!patch.ProductVersion.empty()) SetProperty(entry, "VersionString", patch.ProductVersion);
  }
  SetProperty(entry, "Patches", list);
  SetProperty(entry, "LastPatchSource", source);
  return WriteProduct(entry) ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

bool ParsePropertyCommandLine(std::u16string_view commandLine,
                              std::vector<PropertyAssignment>& properties) {
  properties.clear();
  std::size_t i = 0;
  const std::size_t size = commandLine.size();
  while (true) {
    while (i < size && IsBlank(commandLine[i])) ++i;
    if (i == size) return true;
    PropertyAssignment assignment;
    std::size_t start = i;
    while (i < size && commandLine[i] != u'=' && commandLine[i] != u'"' &&
           !IsBlank(commandLine[i])) {
      ++i;
    }
    if (i == start || i == size || commandLine[i] != u'=') return false;
    assignment.Name = commandLine.substr(start, i - start);
    ++i;
    bool quoted = false;
    for (; i < size; ++i) {
      char16_t c = commandLine[i];
      if (c == u'"') {
        if (quoted && i + 1 < size && commandLine[i + 1] == u'"') {
          assignment.Value += u'"';
          ++i;
        } else {
          quoted = !quoted;
        }
      } else if (!quoted && IsBlank(c)) {
        break;
      } else {
        assignment.Value += c;
      }
    }
    if (quoted) return false;
    properties.push_back(std::move(assignment));
  }
}

UINT CheckRequest(int installLevel, INSTALLSTATE installState) {
  switch (installState) {
    case INSTALLSTATE_DEFAULT:
      // The level counts only for the default state: 0 (the authored default), or from 1
      // (required features only) to 65535 (every feature).
      return installLevel >= kInstallLevelDefault && installLevel <= kInstallLevelMaximum
                 ? ERROR_SUCCESS
                 : ERROR_INVALID_PARAMETER;
    case INSTALLSTATE_ADVERTISED:
    case INSTALLSTATE_ABSENT:
    case kInstallStateLocal:
    case kInstallStateSource:
      // States Windows takes, which the emulated service does not model: it reconfigures
      // a product in place only (Wine answers the same for advertised and source).
      return kErrorCallNotImplemented;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

UINT Reconfigure(const std::string& code, const ProductEntry& entry, LPCWSTR commandLine) {
  // 1. One configuration at a time, across processes, for the whole configuration.
  ScopedFileDescriptor running = LockFile(ConfigureLockPath(), false);
  if (!running) return ERROR_INSTALL_ALREADY_RUNNING;
  // 2. The first configuration of a process clears what interrupted work left in the
  //    service's state. A forced result is used up now; a failure leaves the product as it is.
  static std::once_flag cleaned;
  std::call_once(cleaned, [] {
    ScopedFileDescriptor lock = LockFile(RegistryLockPath(), true);
    if (lock) RemoveLeftovers();
  });
  std::optional<UINT> forced;
  if (UINT taken = TakeForcedResult(code, forced); taken != ERROR_SUCCESS) return taken;
  if (forced && !IsSuccessResult(*forced)) return *forced;
  // 3. The command line and the patches it names.
  std::vector<PropertyAssignment> properties;
  if (!ParsePropertyCommandLine(commandLine != nullptr ? commandLine : u"", properties)) {
    return ERROR_INVALID_COMMAND_LINE;
  }
  std::vector<std::string> patchPaths;
  std::string patchSource;
  for (const PropertyAssignment& property : properties) {
    if (UpperAscii(property.Name) != u"PATCH") continue;
    patchSource = ToUtf8(property.Value);
    for (const std::string& path : SplitList(ToUtf8(property.Value))) {
      if (!path.empty()) patchPaths.push_back(path);
    }
  }
  std::lock_guard<std::recursive_mutex> guard(InstallerLock());
  QuietLibmsi();
  std::vector<PatchFacts> patches;
  std::vector<std::string> nativePaths;
  for (const std::string& path : patchPaths) {
    PatchFacts facts;
    std::u16string widePath = FromUtf8(path);
    std::string native;
    if (!ResolveWindowsPath(widePath.c_str(), native)) return ERROR_PATCH_PACKAGE_OPEN_FAILED;
    if (UINT result = ReadPatch(native, code, facts); result != ERROR_SUCCESS) {
      return result;
    }
    patches.push_back(std::move(facts));
    nativePaths.push_back(native);
  }
  // 4. The product's cached installation database must be a regular file (a FIFO or device
  //    is refused, never waited on) that opens as a database.
  const std::string* localPackage = FindProperty(entry, "LocalPackage");
  if (localPackage == nullptr) return ERROR_INSTALL_PACKAGE_INVALID;
  ScopedFileDescriptor file = OpenRegularFile(*localPackage);
  if (!file) return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  GErrorHolder error;
  GObjectPtr<LibmsiDatabase> cached(libmsi_database_new(
      PinnedPath(file.Get()).c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error));
  if (!cached) return ERROR_INSTALL_PACKAGE_INVALID;
  // 5. Apply: the patches' transforms go into the cached database, and the product takes the
  //    version the patched database holds.
  if (!patches.empty()) {
    std::string patchedVersion;
    const std::string* known = FindProperty(entry, "Patches");
    if (UINT applied = ApplyPatchTransforms(*localPackage, nativePaths,
                                            known != nullptr ? *known : "", patchedVersion);
        applied != ERROR_SUCCESS) {
      return applied;
    }
    for (PatchFacts& patch : patches) patch.ProductVersion = patchedVersion;
    if (UINT recorded = RecordPatches(code, patches, patchSource); recorded != ERROR_SUCCESS) {
      return recorded;
    }
  }
  return forced ? *forced : ERROR_SUCCESS;
}

}  // namespace posix

UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE installState,
                            LPCWSTR commandLine) {
  if (product == nullptr) return ERROR_INVALID_PARAMETER;
  const std::string code = posix::CanonicalProductCode(posix::ToUtf8(product));
  if (!posix::IsProductCode(code)) return ERROR_INVALID_PARAMETER;
  // 1. The arguments as Windows takes them; a refusal is still journaled for a known product.
  const UINT refused = posix::CheckRequest(installLevel, installState);
  posix::ProductEntry entry;
  const posix::ProductRead read = posix::ReadProduct(code, entry);
  if (read != posix::ProductRead::Found) {
    if (refused != ERROR_SUCCESS) return refused;
    return read == posix::ProductRead::Missing ? ERROR_UNKNOWN_PRODUCT : ERROR_BAD_CONFIGURATION;
  }
  // 2. What the call was asked, and the cached database as it finds it.
  posix::ConfigureCall call;
  call.Level = installLevel;
  call.State = installState;
  call.CommandLine = posix::ToUtf8(commandLine != nullptr ? commandLine : u"");
  if (const std::string* localPackage = posix::FindProperty(entry, "LocalPackage")) {
    posix::ReadJournalRows(*localPackage, call);
  }
  // 3. The reconfiguration, and its record. The journal is a record for tests and people,
  //    not part of the service: a journal that cannot be written changes no result.
  call.Result = refused != ERROR_SUCCESS ? refused : posix::Reconfigure(code, entry, commandLine);
  posix::AppendToJournal(code, call);
  posix::WriteToInstallerLog(code, posix::FormatJournalRecord(call));
  return call.Result;
}

}  // namespace platform
