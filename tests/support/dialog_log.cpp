#include "support/dialog_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace testing_support {
namespace {

// The log is decoded here independently of the host's own conversions, so that a fault in
// those shows up as a difference rather than cancelling out.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    char32_t c = lead;
    int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    if (extra > 0) c = lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

// A small reader over one line: exactly the shapes the log writes, nothing more.
struct Reader {
  const std::string& Line;
  std::size_t At = 0;

  bool Take(const std::string& literal) {
    if (Line.compare(At, literal.size(), literal) != 0) return false;
    At += literal.size();
    return true;
  }

  bool Hex4(char32_t& value) {
    if (At + 4 > Line.size()) return false;
    value = 0;
    for (int k = 0; k < 4; ++k) {
      char c = Line[At++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<char32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<char32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<char32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }

  // A JSON string, decoded to UTF-8 (\uD800-\uDBFF pairs joined).
  bool String(std::string& out) {
    if (!Take("\"")) return false;
    while (At < Line.size()) {
      char c = Line[At++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (At >= Line.size()) return false;
      char escape = Line[At++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out += escape;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          char32_t unit = 0;
          if (!Hex4(unit)) return false;
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            char32_t low = 0;
            if (!Take("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, unit);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool Number(long long& out) {
    std::size_t start = At;
    if (At < Line.size() && Line[At] == '-') ++At;
    while (At < Line.size() && Line[At] >= '0' && Line[At] <= '9') ++At;
    if (At == start || (At == start + 1 && Line[start] == '-')) return false;
    out = std::strtoll(Line.substr(start, At - start).c_str(), nullptr, 10);
    return true;
  }
};

}  // namespace

std::optional<DialogRecord> ParseDialogLine(const std::string& line) {
  Reader reader{line};
  DialogRecord record;
  long long style = 0;
  long long answer = 0;
  if (!reader.Take("{\"caption\":") || !reader.String(record.CaptionUtf8) ||
      !reader.Take(",\"text\":") || !reader.String(record.TextUtf8) ||
      !reader.Take(",\"style\":") || !reader.Number(style) || !reader.Take(",\"answer\":") ||
      !reader.Number(answer) || !reader.Take("}") || reader.At != line.size()) {
    return std::nullopt;
  }
  record.Caption = Utf16(record.CaptionUtf8);
  record.Text = Utf16(record.TextUtf8);
  record.Style = static_cast<unsigned long>(style);
  record.Answer = static_cast<int>(answer);
  return record;
}

std::vector<DialogRecord> ReadDialogLog(const std::string& path) {
  std::vector<DialogRecord> records;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (std::optional<DialogRecord> record = ParseDialogLine(line)) {
      records.push_back(std::move(*record));
    } else {
      ADD_FAILURE() << "dialog log line is not a record: " << line;
    }
  }
  return records;
}

}  // namespace testing_support
