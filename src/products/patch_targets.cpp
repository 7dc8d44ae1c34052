#include "products/patch_targets.h"

#include <vector>

using namespace platform;

namespace {

constexpr DWORD kTargetListCapacity = 2048;

// One read of property 7 into `buffer`; `count` goes in as its capacity and comes back as
// the installer leaves it (the length needed on ERROR_MORE_DATA).
UINT ReadTemplateProperty(MSIHANDLE summary, std::vector<char16_t>& buffer, DWORD& count) {
  UINT dataType = VT_EMPTY;
  INT intValue = 0;
  FILETIME time{};
  count = static_cast<DWORD>(buffer.size());
  return MsiSummaryInfoGetPropertyW(summary, PID_TEMPLATE, &dataType, &intValue, &time,
                                    buffer.data(), &count);
}

}  // namespace

MSIHANDLE OpenPackageSummary(const std::u16string& packagePath) {
  // 1. The absolute path. A path that does not fit would leave the buffer without a
  // usable name, so it opens nothing rather than whatever the buffer happens to hold.
  char16_t absolute[MAX_PATH] = {};
  DWORD length = GetFullPathNameW(packagePath.c_str(), MAX_PATH, absolute, nullptr);
  if (length == 0 || length >= MAX_PATH) return 0;
  // 2.-3. Read-only summary of the file, or 0.
  MSIHANDLE summary = 0;
  if (MsiGetSummaryInformationW(0, absolute, 0, &summary) != ERROR_SUCCESS) return 0;
  return summary;
}

bool ReadPatchTargets(const std::u16string& packagePath, std::u16string& targets) {
  // 1.-2. The summary, closed on every way out.
  InstallerHandleHolder summary(OpenPackageSummary(packagePath));
  if (!summary) return false;

  // 3. A first read into 2048 characters.
  std::vector<char16_t> buffer(kTargetListCapacity, u'\0');
  DWORD count = 0;
  UINT status = ReadTemplateProperty(summary.Get(), buffer, count);

  // 4. Too long: one more read at the exact size the installer asked for.
  if (status == ERROR_MORE_DATA) {
    buffer.assign(static_cast<std::size_t>(count) + 1, u'\0');
    status = ReadTemplateProperty(summary.Get(), buffer, count);
  }

  // 5. Only a successful last read reaches the caller, and only up to the terminator.
  if (status != ERROR_SUCCESS) return false;
  std::size_t length = 0;
  while (length < buffer.size() && buffer[length] != u'\0') ++length;
  targets.assign(buffer.data(), length);
  return true;
}
