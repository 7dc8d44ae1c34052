#include "products/version.h"

#include <algorithm>
#include <cstdint>

namespace {

// The white space a C runtime skips before a number.
bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Only the low 16 bits of a piece's value make a component.
std::uint16_t ComponentValue(const std::u16string& piece) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(TextToInteger(piece)));
}

}  // namespace

std::int32_t TextToInteger(std::u16string_view text) {
  std::size_t at = 0;
  while (at < text.size() && IsSpace(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
    negative = text[at] == u'-';
    ++at;
  }
  // The magnitude saturates just past the range, so any number of digits is safe.
  constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
  std::int64_t magnitude = 0;
  for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
    magnitude = std::min(kLimit, magnitude * 10 + (text[at] - u'0'));
  }
  std::int64_t value = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

VersionQuad ParseVersion(std::u16string text) {
  // 1. All components start at 0.
  VersionQuad quad;
  // 2. A "," counts as a ".".
  std::replace(text.begin(), text.end(), u',', u'.');
  // 3. The first three components, each only when a "." follows it.
  for (int component = 0; component < 3; ++component) {
    std::size_t dot = text.find(u'.');
    if (dot == std::u16string::npos) return quad;
    quad.Components[component] = ComponentValue(text.substr(0, dot));
    text.erase(0, dot + 1);
  }
  // 4. The fourth takes everything that is left.
  quad.Components[3] = ComponentValue(text);
  return quad;
}

bool VersionsEqual(const VersionQuad& first, const VersionQuad& second) {
  return std::equal(std::begin(first.Components), std::end(first.Components),
                    std::begin(second.Components));
}

Applicability ClassifyInstalledVersion(const ProductRecord& record) {
  // 1. Both versions of the product.
  VersionQuad installed = ParseVersion(record.InstalledVersion);
  VersionQuad target = ParseVersion(record.TargetVersion);
  // 2. Already there.
  if (VersionsEqual(installed, target)) return Applicability::UpToDate;
  // 3.-4. The entries that a "," follows, first to last; the first naming either decides.
  std::u16string list = record.ApplicableVersions;
  for (std::size_t comma = list.find(u','); comma != std::u16string::npos;
       comma = list.find(u',')) {
    VersionQuad entry = ParseVersion(list.substr(0, comma));
    if (VersionsEqual(entry, installed)) return Applicability::Applicable;
    if (VersionsEqual(entry, target)) return Applicability::TargetListed;
    list.erase(0, comma + 1);
  }
  return Applicability::NotApplicable;
}
