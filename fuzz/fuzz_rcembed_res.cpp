// rcembed's reader of compiled resource files (.res): any bytes are read in one pass into
// entries or refused with a ScriptError naming the file; anything else thrown, a crash or
// a read that does not end is a fault. An entry read holds at most the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "compiled_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  rcembed::CompiledResources entries;
  try {
    entries = rcembed::ParseCompiledResources(bytes, "compiled.res");
  } catch (const rcembed::ScriptError& error) {
    if (error.Message.rfind("compiled.res", 0) != 0) std::abort();
    return 0;
  }
  std::size_t total = 0;
  for (const auto& [key, entry] : entries) total += entry.size();
  if (total > size) std::abort();
  return 0;
}
