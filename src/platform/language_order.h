// The order in which both backends try a module's languages for one resource, so that the
// Linux build and the Windows executable pick the same string table for the same thread
// and user languages.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace platform {

// The table a Chinese language reads when the module has none of its own: Simplified
// (2052) for the PRC, Singapore (0x1004) and neutral Simplified (0x0004); Traditional
// (1028) for Taiwan, Hong Kong (0x0C04), Macau (0x1404) and neutral Traditional (0x7C04).
// 0 for a language that is not Chinese.
inline LANGID ChineseScriptTable(LANGID language) {
  constexpr LANGID kChinese = 0x04;
  if ((language & 0x3FF) != kChinese) return 0;
  switch (language >> 10) {
    case 0x00:  // neutral: Simplified
    case 0x02:  // PRC
    case 0x04:  // Singapore
      return 2052;
    default:  // Taiwan 0x01, Hong Kong 0x03, Macau 0x05, neutral Traditional 0x1F
      return 1028;
  }
}

// `available` (the module's languages for one resource, in module order) ordered as a
// lookup tries them, each once: for the thread's language and then the user default's,
// the language itself, its script's table when it is Chinese, another of its primary
// language; then English (United States); then the rest in module order.
inline std::vector<LANGID> LanguagesInPreferenceOrder(const std::vector<LANGID>& available,
                                                      LANGID thread, LANGID user) {
  std::vector<LANGID> ordered;
  ordered.reserve(available.size());
  auto take = [&](auto matches) {
    for (LANGID language : available) {
      if (!matches(language)) continue;
      for (LANGID already : ordered) {
        if (already == language) return;
      }
      ordered.push_back(language);
      return;
    }
  };
  for (LANGID wanted : {thread, user}) {
    const LANGID script = ChineseScriptTable(wanted);
    take([&](LANGID language) { return language == wanted; });
    take([&](LANGID language) { return script != 0 && language == script; });
    take([&](LANGID language) { return (language & 0x3FF) == (wanted & 0x3FF); });
  }
  take([](LANGID language) { return language == 1033; });
  for (LANGID language : available) take([&](LANGID other) { return other == language; });
  return ordered;
}

}  // namespace platform
