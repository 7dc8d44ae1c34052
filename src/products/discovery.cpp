#include "products/discovery.h"

#include <memory>
#include <vector>

#include "platform/platform.h"

using namespace platform;

namespace {

constexpr DWORD kPropertyCapacity = 1024;

}  // namespace

bool IsProductInstalled(const std::u16string& productCode) {
  INSTALLSTATE state = MsiQueryProductStateW(productCode.c_str());
  return state == INSTALLSTATE_ADVERTISED || state == INSTALLSTATE_DEFAULT;
}

std::u16string ReadProductProperty(const std::u16string& productCode,
                                   const std::u16string& propertyName) {
  // The buffer starts empty, so a read that writes nothing leaves an empty value.
  std::vector<char16_t> buffer(kPropertyCapacity, u'\0');
  DWORD count = kPropertyCapacity;
  MsiGetProductInfoW(productCode.c_str(), propertyName.c_str(), buffer.data(), &count);
  // The status is not examined; the text is whatever stands before the terminator, and
  // the last character is kept a terminator so the read stays within the buffer.
  buffer.back() = u'\0';
  return std::u16string(buffer.data());
}

std::vector<std::u16string> TargetListEntries(const std::u16string& targets) {
  std::vector<std::u16string> entries;
  // 1. Every entry, the last included, ends at a ";" or at the end of the list.
  // 2.-3. Entry by entry while the next one is not empty.
  for (std::size_t start = 0; start < targets.size();) {
    std::size_t separator = targets.find(u';', start);
    if (separator == std::u16string::npos) separator = targets.size();
    if (separator == start) break;
    entries.push_back(targets.substr(start, separator - start));
    start = separator + 1;
  }
  return entries;
}

void DiscoverProducts(const std::u16string& targets, const ProductRecord& templateRecord) {
  for (const std::u16string& code : TargetListEntries(targets)) {
    if (!IsProductInstalled(code)) continue;
    auto record = std::make_unique<ProductRecord>(templateRecord);
    record->ProductCode = code;
    record->InstalledVersion = ReadProductProperty(code, u"VersionString");
    record->LocalPackage = ReadProductProperty(code, u"LocalPackage");
    record->ProductName = ReadProductProperty(code, u"ProductName");
    record->Language = ReadProductProperty(code, u"Language");
    ProductListAppend(std::move(record));
  }
}
