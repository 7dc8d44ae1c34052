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

void DiscoverProducts(const std::u16string& targets, const ProductRecord& templateRecord) {
  // 1. Every entry, the last included, is followed by a ";".
  std::u16string rest = targets + u";";
  // 2.-3. Entry by entry while the next one is not empty.
  for (std::size_t separator = rest.find(u';'); separator != std::u16string::npos && separator > 0;
       separator = rest.find(u';')) {
    auto record = std::make_unique<ProductRecord>(templateRecord);
    record->ProductCode = rest.substr(0, separator);
    if (IsProductInstalled(record->ProductCode)) {
      record->InstalledVersion = ReadProductProperty(record->ProductCode, u"VersionString");
      record->LocalPackage = ReadProductProperty(record->ProductCode, u"LocalPackage");
      record->ProductName = ReadProductProperty(record->ProductCode, u"ProductName");
      record->Language = ReadProductProperty(record->ProductCode, u"Language");
      ProductListAppend(std::move(record));
    }
    rest.erase(0, separator + 1);
  }
}
