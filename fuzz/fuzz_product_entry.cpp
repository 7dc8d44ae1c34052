// The emulated installer's product entries: any text parses or is refused without fault,
// and an entry that parses is written back to text that parses to the same entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/installer_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace emu = platform::posix;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  emu::ProductEntry entry;
  std::string problem;
  if (!emu::ParseProduct(text, entry, problem)) return 0;
  emu::ProductEntry again;
  if (!emu::ParseProduct(emu::FormatProduct(entry), again, problem) || again.State != entry.State ||
      again.ForcedResult != entry.ForcedResult || again.Properties != entry.Properties) {
    std::abort();
  }
  return 0;
}
