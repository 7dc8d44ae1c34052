// The target list's walks, for any text as the list (UTF-8): the walk for product codes
// gives the entries of a small model of its rule (taken exactly as written, the walk ends
// at the first empty entry), and the default patch list name follows its rule.
//
// How the list is read out of a package is a matter of its length alone (one read up to
// 2047 characters, a second beyond), which the unit tests cover at those lengths. It is
// not fuzzed through the emulated installer: libmsi 0.101 keeps a file descriptor and some
// memory for every package it opens, so a run of that would end at the descriptor limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "payload/patch_list.h"
#include "platform/posix/host.h"
#include "products/discovery.h"

namespace {

// The walk, as a user reads the rule: characters gather into an entry until a ";"; an
// empty entry ends the list; what is gathered at the end is the last entry.
std::vector<std::u16string> ModelEntries(const std::u16string& list) {
  std::vector<std::u16string> entries;
  std::u16string current;
  for (char16_t c : list) {
    if (c != u';') {
      current += c;
    } else if (current.empty()) {
      return entries;
    } else {
      entries.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) entries.push_back(current);
  return entries;
}

// "patchlist", up to four characters, ".txt": the characters start after the first "-"
// that follows the first ":" (or the start, without a ":"), else after that ":", else at
// the start of the list.
std::u16string ModelName(const std::u16string& list) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == u':') {
      from = i + 1;
      break;
    }
  }
  for (std::size_t i = from; i < list.size(); ++i) {
    if (list[i] == u'-') {
      from = i + 1;
      break;
    }
  }
  std::u16string characters;
  for (std::size_t i = from; i < list.size() && characters.size() < 4; ++i) {
    characters += list[i];
  }
  return u"patchlist" + characters + u".txt";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string list =
      platform::posix::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  if (TargetListEntries(list) != ModelEntries(list)) std::abort();
  if (PatchListNameFromTargets(list) != ModelName(list)) std::abort();
  return 0;
}
