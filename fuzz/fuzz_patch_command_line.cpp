// The patch command line as the installer reads it back: for any package path that the
// line accepts, the installer's property parser finds PATCH with exactly that path, and
// the rest of the line's properties; any text parses or is refused without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "install/patch_application.h"
#include "platform/posix/host.h"
#include "platform/posix/installer_configure.h"
#include "products/product_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (c != 0) text += c;
  }
  std::vector<platform::posix::PropertyAssignment> properties;
  platform::posix::ParsePropertyCommandLine(text, properties);

  ProductRecord record;
  if (!BuildPatchCommandLine(record, text)) return 0;
  if (!platform::posix::ParsePropertyCommandLine(record.PatchCommandLine, properties)) {
    std::abort();
  }
  if (properties.size() != 4 || properties[0].Name != u"PATCH" || properties[0].Value != text ||
      properties[1].Name != u"PATCH_NO_UNINSTALL" || properties[2].Name != u"REBOOTPROMPT" ||
      properties[3].Name != u"FILESINUSETEXT") {
    std::abort();
  }
  return 0;
}
