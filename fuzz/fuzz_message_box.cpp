// Message-box drawing: any caption, text, style and terminal width gives lines of one
// width that fit the box's limits, and a log line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/host.h"
#include "platform/posix/message_box.h"
#include "platform/posix/terminal_width.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const platform::UINT style = data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24;
  const int columns = data[4];
  const std::size_t split = data[5];
  std::u16string caption, text;
  for (std::size_t i = 6; i + 1 < size; i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    ((i - 6) / 2 < split ? caption : text) += c;
  }
  std::vector<std::string> lines =
      platform::posix::DrawMessageBox(caption, text, style, columns, split % 4, false);
  if (lines.empty()) std::abort();
  const int width = platform::posix::TextColumns(platform::posix::FromUtf8(lines[0]));
  for (const std::string& line : lines) {
    if (platform::posix::TextColumns(platform::posix::FromUtf8(line)) != width) std::abort();
  }
  platform::posix::DialogLogLine(caption, text, style, 1);
  return 0;
}
