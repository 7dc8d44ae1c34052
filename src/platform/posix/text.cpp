// Text operations of the emulated host: wsprintfW and the lstr* family.

#include <cstdarg>
#include <string>

#include "platform/posix/host.h"

namespace platform {
namespace posix {
namespace {

// wsprintfW never stores more than 1024 characters, the terminator included.
constexpr std::size_t kFormatLimit = 1024;

// One conversion's digits, with its flags, width and precision applied.
void AppendNumber(std::u16string& out, unsigned long long magnitude, bool negative, unsigned base,
                  bool upper, bool leftAlign, bool zeroPad, bool alternate, int width,
                  int precision) {
  const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
  std::u16string body;
  do {
    body.insert(body.begin(), digits[magnitude % base]);
    magnitude /= base;
  } while (magnitude != 0);
  if (precision >= 0 && body.size() < static_cast<std::size_t>(precision)) {
    body.insert(0, static_cast<std::size_t>(precision) - body.size(), u'0');
  }
  std::u16string prefix = negative ? u"-" : u"";
  if (alternate && base == 16) prefix += upper ? u"0X" : u"0x";
  std::size_t used = prefix.size() + body.size();
  std::size_t pad = width > 0 && used < static_cast<std::size_t>(width) ? width - used : 0;
  if (leftAlign) {
    out += prefix + body + std::u16string(pad, u' ');
  } else if (zeroPad && precision < 0) {
    out += prefix + std::u16string(pad, u'0') + body;
  } else {
    out += std::u16string(pad, u' ') + prefix + body;
  }
}

void AppendText(std::u16string& out, std::u16string_view text, bool leftAlign, int width,
                int precision) {
  if (precision >= 0 && text.size() > static_cast<std::size_t>(precision)) {
    text = text.substr(0, static_cast<std::size_t>(precision));
  }
  std::size_t pad =
      width > 0 && text.size() < static_cast<std::size_t>(width) ? width - text.size() : 0;
  if (!leftAlign) out.append(pad, u' ');
  out += text;
  if (leftAlign) out.append(pad, u' ');
}

// The formatting of wsprintfW: %[-][0][#][width][.precision][h|l|I64]type, with the types
// d i u x X c s S and %%. %s takes a UTF-16 string and %S a narrow (here UTF-8) one, as
// in the wide function; "l" makes %s and %c wide and "h" narrow. An unknown type prints
// its letter.
std::u16string Format(const char16_t* format, va_list arguments) {
  std::u16string out;
  for (const char16_t* p = format; *p != u'\0' && out.size() < kFormatLimit; ++p) {
    if (*p != u'%') {
      out += *p;
      continue;
    }
    ++p;
    bool leftAlign = false;
    bool zeroPad = false;
    bool alternate = false;
    for (;; ++p) {
      if (*p == u'-') {
        leftAlign = true;
      } else if (*p == u'0') {
        zeroPad = true;
      } else if (*p == u'#') {
        alternate = true;
      } else {
        break;
      }
    }
    int width = 0;
    while (*p >= u'0' && *p <= u'9' && width < 10000) width = width * 10 + (*p++ - u'0');
    int precision = -1;
    if (*p == u'.') {
      ++p;
      precision = 0;
      while (*p >= u'0' && *p <= u'9' && precision < 10000)
        precision = precision * 10 + (*p++ - u'0');
    }
    bool wide64 = false;
    int textWidth = 0;  // +1 wide, -1 narrow, 0 the type's own
    if (*p == u'l') {
      textWidth = 1;
      ++p;
    } else if (*p == u'h') {
      textWidth = -1;
      ++p;
    } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
      wide64 = true;
      p += 3;
    }
    switch (*p) {
      case u'\0':
        --p;  // a lone '%' at the end prints nothing
        break;
      case u'd':
      case u'i': {
        long long value = wide64 ? va_arg(arguments, long long) : va_arg(arguments, int);
        unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
        AppendNumber(out, magnitude, value < 0, 10, false, leftAlign, zeroPad, false, width,
                     precision);
        break;
      }
      case u'u':
      case u'x':
      case u'X': {
        unsigned long long value =
            wide64 ? va_arg(arguments, unsigned long long) : va_arg(arguments, unsigned int);
        AppendNumber(out, value, false, *p == u'u' ? 10 : 16, *p == u'X', leftAlign, zeroPad,
                     alternate, width, precision);
        break;
      }
      case u'c':
      case u'C': {
        int value = va_arg(arguments, int);
        bool wide = textWidth != 0 ? textWidth > 0 : *p == u'c';
        char16_t c = wide ? static_cast<char16_t>(value) : static_cast<char16_t>(value & 0xFF);
        AppendText(out, std::u16string_view(&c, 1), leftAlign, width, -1);
        break;
      }
      case u's':
      case u'S': {
        bool wide = textWidth != 0 ? textWidth > 0 : *p == u's';
        if (wide) {
          const char16_t* text = va_arg(arguments, const char16_t*);
          AppendText(out, text == nullptr ? u"(null)" : text, leftAlign, width, precision);
        } else {
          const char* text = va_arg(arguments, const char*);
          AppendText(out, text == nullptr ? u"(null)" : FromUtf8(text), leftAlign, width,
                     precision);
        }
        break;
      }
      default:
        out += *p;  // "%%" and unknown types alike print the character
        break;
    }
  }
  if (out.size() > kFormatLimit - 1) out.resize(kFormatLimit - 1);
  return out;
}

// Simple case folding to lower case: ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic
// and the full-width Latin letters. Enough for names of files, processes and products.
char16_t FoldCase(char16_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';
    if (c == 0x178) return 0xFF;
    bool oddIsUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    bool evenIsUpper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    if (evenIsUpper && c % 2 == 0) return static_cast<char16_t>(c + 1);
    if (oddIsUpper && c % 2 == 1) return static_cast<char16_t>(c + 1);
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 0x20);
  return c;
}

}  // namespace
}  // namespace posix

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  if (buffer == nullptr || format == nullptr) return 0;
  va_list arguments;
  va_start(arguments, format);
  std::u16string text = posix::Format(format, arguments);
  va_end(arguments);
  text.copy(buffer, text.size());
  buffer[text.size()] = u'\0';
  return static_cast<int>(text.size());
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, char* buffer,
                        int bufferSize, const char* defaultChar, BOOL* usedDefaultChar) {
  if (codePage != CP_UTF8 || flags != 0 || defaultChar != nullptr || usedDefaultChar != nullptr ||
      text == nullptr || length < -1 || length == 0 || bufferSize < 0 ||
      (bufferSize > 0 && buffer == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // -1: the whole text and its terminator.
  std::size_t units = length == -1 ? static_cast<std::size_t>(lstrlenW(text)) + 1
                                   : static_cast<std::size_t>(length);
  std::string bytes = posix::ToUtf8(std::u16string_view(text, units));
  if (bufferSize == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<std::size_t>(bufferSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  bytes.copy(buffer, bytes.size());
  return static_cast<int>(bytes.size());
}

int lstrlenW(LPCWSTR text) {
  if (text == nullptr) return 0;
  int length = 0;
  while (text[length] != u'\0') ++length;
  return length;
}

int lstrcmpiW(LPCWSTR first, LPCWSTR second) {
  if (first == nullptr || second == nullptr) {
    return first == second ? 0 : first == nullptr ? -1 : 1;
  }
  for (;; ++first, ++second) {
    char16_t a = posix::FoldCase(*first);
    char16_t b = posix::FoldCase(*second);
    if (a != b) return a < b ? -1 : 1;
    if (a == u'\0') return 0;
  }
}

LPWSTR lstrcpyW(LPWSTR destination, LPCWSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  LPWSTR out = destination;
  while ((*out++ = *source++) != u'\0') {
  }
  return destination;
}

}  // namespace platform
