// MsiConfigureProductExW on the emulated installer service: reconfigures a registered
// product with the patches its command line names.
#include "platform/posix/installer_configure.h"

#include <mutex>
#include <optional>

#include "platform/posix/host.h"
#include "platform/posix/installer_handles.h"
#include "platform/posix/installer_registry.h"

namespace platform {
namespace posix {
namespace {

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
// brought in "VersionString".
UINT RecordPatches(const std::string& code, const std::vector<PatchFacts>& patches) {
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

}  // namespace posix

UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE installState,
                            LPCWSTR commandLine) {
  (void)installLevel;  // features are not modelled: every level installs the same
  if (product == nullptr) return ERROR_INVALID_PARAMETER;
  const std::string code = posix::CanonicalProductCode(posix::ToUtf8(product));
  // The emulated service reconfigures products in place only; it does not remove them.
  if (!posix::IsProductCode(code) || installState != INSTALLSTATE_DEFAULT) {
    return ERROR_INVALID_PARAMETER;
  }
  // 1. The product must be registered.
  posix::ProductEntry entry;
  switch (posix::ReadProduct(code, entry)) {
    case posix::ProductRead::Missing:
      return ERROR_UNKNOWN_PRODUCT;
    case posix::ProductRead::Damaged:
      return ERROR_BAD_CONFIGURATION;
    case posix::ProductRead::Found:
      break;
  }
  // 2. One configuration at a time, across processes, for the whole configuration.
  posix::ScopedFileDescriptor running = posix::LockFile(posix::ConfigureLockPath(), false);
  if (!running) return ERROR_INSTALL_ALREADY_RUNNING;
  // 3. The first configuration of a process clears what interrupted work left in the
  //    service's state. A forced result is used up now; a failure leaves the product as it is.
  static std::once_flag cleaned;
  std::call_once(cleaned, [] {
    posix::ScopedFileDescriptor lock = posix::LockFile(posix::RegistryLockPath(), true);
    if (lock) posix::RemoveLeftovers();
  });
  std::optional<UINT> forced;
  if (UINT taken = posix::TakeForcedResult(code, forced); taken != ERROR_SUCCESS) return taken;
  if (forced && !posix::IsSuccessResult(*forced)) return *forced;
  // 4. The command line and the patches it names.
  std::vector<posix::PropertyAssignment> properties;
  if (!posix::ParsePropertyCommandLine(commandLine != nullptr ? commandLine : u"", properties)) {
    return ERROR_INVALID_COMMAND_LINE;
  }
  std::vector<std::string> patchPaths;
  for (const posix::PropertyAssignment& property : properties) {
    if (posix::UpperAscii(property.Name) != u"PATCH") continue;
    for (const std::string& path : posix::SplitList(posix::ToUtf8(property.Value))) {
      if (!path.empty()) patchPaths.push_back(path);
    }
  }
  std::lock_guard<std::recursive_mutex> guard(posix::InstallerLock());
  posix::QuietLibmsi();
  std::vector<posix::PatchFacts> patches;
  for (const std::string& path : patchPaths) {
    posix::PatchFacts facts;
    std::u16string widePath = posix::FromUtf8(path);
    if (UINT result = posix::ReadPatch(posix::NativePath(widePath.c_str()), code, facts);
        result != ERROR_SUCCESS) {
      return result;
    }
    patches.push_back(std::move(facts));
  }
  // 5. The product's cached installation database must be a regular file (a FIFO or device
  //    is refused, never waited on) that opens as a database.
  const std::string* localPackage = posix::FindProperty(entry, "LocalPackage");
  if (localPackage == nullptr) return ERROR_INSTALL_PACKAGE_INVALID;
  posix::ScopedFileDescriptor file = posix::OpenRegularFile(*localPackage);
  if (!file) return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  posix::GErrorHolder error;
  posix::GObjectPtr<LibmsiDatabase> cached(libmsi_database_new(
      posix::PinnedPath(file.Get()).c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error));
  if (!cached) return ERROR_INSTALL_PACKAGE_INVALID;
  // 6. Apply.
  if (!patches.empty()) {
    if (UINT recorded = posix::RecordPatches(code, patches); recorded != ERROR_SUCCESS) {
      return recorded;
    }
  }
  return forced ? *forced : ERROR_SUCCESS;
}

}  // namespace platform
