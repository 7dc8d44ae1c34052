// Version texts against a small model of the rules: "," counts as "."; each of the first
// three components is taken only when a "." follows it; the fourth is the value of the rest;
// each value read like a C integer (white space, sign, digits, clamped) cut to 16 bits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "products/version.h"

namespace {

std::int64_t ModelInteger(const std::u16string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  value = negative ? -value : value;
  if (value > 2147483647LL) value = 2147483647LL;
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  }
  std::u16string dotted = text;
  for (char16_t& c : dotted) {
    if (c == u',') c = u'.';
  }
  std::uint16_t expected[4] = {0, 0, 0, 0};
  std::size_t start = 0;
  int component = 0;
  for (; component < 3; ++component) {
    std::size_t dot = dotted.find(u'.', start);
    if (dot == std::u16string::npos) break;
    expected[component] =
        static_cast<std::uint16_t>(ModelInteger(dotted.substr(start, dot - start)));
    start = dot + 1;
  }
  if (component == 3) expected[3] = static_cast<std::uint16_t>(ModelInteger(dotted.substr(start)));
  VersionQuad parsed = ParseVersion(text);
  for (int i = 0; i < 4; ++i) {
    if (parsed.Components[i] != expected[i]) std::abort();
  }
  return 0;
}
