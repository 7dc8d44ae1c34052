// rcembed [-I DIR]... --asm OUT.s --table OUT.cpp [--depfile OUT.d] SCRIPT.rc
//
// Reads a resource script in the resource compiler's syntax and writes what the posix
// build links in place of a compiled resource section:
//   OUT.s    every payload file included with .incbin as it lies (an icon image as a slice
//            of its icon file), and the small data the compiler would generate (string
//            table blocks, the icon group directory) as .byte lines;
//   OUT.cpp  the table spsetup_embedded_resources[] (platform/posix/host.h): type, name,
//            language and bytes of each resource, in the layout Windows gives them;
//   OUT.d    the files read, for the build's dependency tracking.
// With --compare-res it writes nothing and instead checks that a compiled resource file
// of the resource compiler holds the same resources with the same bytes (exit status 0).
//
// The subset understood: // and /* */ comments; #include of a script or header ("..."
// beside the including file, then -I; <...> from -I, or skipped for the Windows headers
// whose names are built in); #define of object-like macros and #undef; #pragma
// code_page(65001) and #pragma once; LANGUAGE with the LANG_/SUBLANG_ names of the
// languages below or numbers; STRINGTABLE BEGIN/END or { } with `id, "text"` entries;
// `name ICON "file"`; `name type "file"` with a numeric or named type. Anything else
// stops with "file:line: message" on stderr and exit status 1, and no output is written.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Stops the tool: caught in main, which reports it and writes nothing.
struct ScriptError {
  std::string Message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& message) {
  throw ScriptError{where.empty() ? message : where + ": " + message};
}

// ---------------------------------------------------------------------------------------
// Tokens and preprocessing
// ---------------------------------------------------------------------------------------

enum class TokenKind { Identifier, Number, String, Punctuation };

struct Token {
  TokenKind Kind;
  std::string Text;      // identifier or punctuation as written; a number's digits
  std::u16string Value;  // a string's decoded text
  std::uint32_t Number = 0;
  std::string Where;  // file:line
};

constexpr const char* kWindowsHeaders[] = {"winresrc.h", "windows.h", "winres.h",
                                           "winnt.h",    "winuser.h", "winver.h"};

std::u16string DecodeUtf8(const std::string& bytes, const std::string& where) {
  std::u16string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    unsigned char lead = static_cast<unsigned char>(bytes[i]);
    int extra = lead < 0x80           ? 0
                : (lead >> 5) == 0x6  ? 1
                : (lead >> 4) == 0xE  ? 2
                : (lead >> 3) == 0x1E ? 3
                                      : -1;
    if (extra < 0 || i + extra >= bytes.size() + (extra == 0 ? 1 : 0)) {
      Fail(where, "text is not valid UTF-8");
    }
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) Fail(where, "text is not valid UTF-8");
      c = (c << 6) | (next & 0x3F);
    }
    constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      Fail(where, "text is not valid UTF-8");
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += extra + 1;
  }
  return out;
}

class Preprocessor {
 public:
  explicit Preprocessor(std::vector<fs::path> includeDirectories)
      : includeDirectories_(std::move(includeDirectories)) {}

  // Reads `path` and everything it includes into one token stream, macros expanded.
  std::vector<Token> Run(const fs::path& path) {
    std::vector<Token> tokens;
    ReadFile(path, tokens, 0);
    return tokens;
  }

  // Every file read, for the depfile.
  const std::set<fs::path>& FilesRead() const { return filesRead_; }

  // Finds a file named in `where`'s file: beside it, then in the include directories.
  std::optional<fs::path> Resolve(const std::string& name, const fs::path& besideDirectory,
                                  bool searchBeside) const {
    // Only a regular file is a script or header: a directory (`#include "."`) or a FIFO
    // is no candidate. Asking the file system's status never blocks.
    auto isFile = [](const fs::path& candidate) {
      std::error_code error;
      return fs::is_regular_file(candidate, error);
    };
    fs::path given(name);
    if (given.is_absolute()) {
      return isFile(given) ? std::optional<fs::path>(given) : std::nullopt;
    }
    if (searchBeside && isFile(besideDirectory / given)) {
      return fs::absolute(besideDirectory / given).lexically_normal();
    }
    for (const fs::path& directory : includeDirectories_) {
      if (isFile(directory / given)) return fs::absolute(directory / given).lexically_normal();
    }
    return std::nullopt;
  }

 private:
  void ReadFile(const fs::path& path, std::vector<Token>& out, int depth) {
    if (depth > 32) Fail(path.string(), "#include nested too deeply");
    std::error_code status;
    if (!fs::is_regular_file(path, status)) Fail("", path.string() + " is not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail("", "cannot read " + path.string());
    filesRead_.insert(fs::absolute(path).lexically_normal());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    Scan(text, path, out, depth);
  }

  void Scan(const std::string& text, const fs::path& path, std::vector<Token>& out, int depth) {
    std::size_t i = 0;
    int line = 1;
    bool lineStart = true;
    auto where = [&]() { return path.string() + ":" + std::to_string(line); };
    while (i < text.size()) {
      char c = text[i];
      if (c == '\n') {
        ++line;
        lineStart = true;
        ++i;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++i;
        continue;
      }
      if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
        while (i < text.size() && text[i] != '\n') ++i;
        continue;
      }
      if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
        std::size_t end = text.find("*/", i + 2);
        if (end == std::string::npos) Fail(where(), "unterminated comment");
        line += static_cast<int>(std::count(text.begin() + i, text.begin() + end, '\n'));
        i = end + 2;
        continue;
      }
      if (c == '#' && lineStart) {
        std::size_t end = i;
        // A directive runs to the end of its line; a backslash before the line end joins
        // the next line.
        std::string directive;
        while (end < text.size() && text[end] != '\n') {
          if (text[end] == '\\' && end + 1 < text.size() &&
              (text[end + 1] == '\n' ||
               (text[end + 1] == '\r' && end + 2 < text.size() && text[end + 2] == '\n'))) {
            end += text[end + 1] == '\n' ? 2 : 3;
            ++line;
            directive += ' ';
            continue;
          }
          directive += text[end++];
        }
        Directive(directive.substr(1), path, where(), out, depth);
        i = end;
        continue;
      }
      lineStart = false;
      std::vector<Token> scanned;
      i = ScanToken(text, i, where(), scanned);
      for (Token& token : scanned) Emit(std::move(token), out, 0);
    }
  }

  // Scans one token at text[i]; returns the position after it.
  std::size_t ScanToken(const std::string& text, std::size_t i, const std::string& where,
                        std::vector<Token>& out) {
    char c = text[i];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t end = i;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) {
        ++end;
      }
      if (end - i == 1 && c == 'L' && end < text.size() && text[end] == '"') {
        return ScanString(text, end, where, out);  // L"..." is the same text
      }
      out.push_back({TokenKind::Identifier, text.substr(i, end - i), {}, 0, where});
      return end;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      std::size_t end = i;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) {
        ++end;
      }
      std::string digits = text.substr(i, end - i);
      std::string number = digits;
      while (!number.empty() && (number.back() == 'L' || number.back() == 'l' ||
                                 number.back() == 'U' || number.back() == 'u')) {
        number.pop_back();
      }
      std::size_t used = 0;
      unsigned long long value = 0;
      try {
        value = std::stoull(number, &used, 0);
      } catch (...) {
        used = 0;
      }
      if (number.empty() || used != number.size() || value > 0xFFFFFFFFull) {
        Fail(where, "bad number \"" + digits + "\"");
      }
      out.push_back({TokenKind::Number, digits, {}, static_cast<std::uint32_t>(value), where});
      return end;
    }
    if (c == '"') return ScanString(text, i, where, out);
    if (std::string(",{}()|").find(c) != std::string::npos) {
      out.push_back({TokenKind::Punctuation, std::string(1, c), {}, 0, where});
      return i + 1;
    }
    Fail(where, std::string("unexpected character '") + c + "'");
  }

  // A string literal with the resource compiler's escapes: "" for a quote, \n \r \t \a
  // \\ \" \0.. (octal) and \x.. (hexadecimal, up to four digits).
  std::size_t ScanString(const std::string& text, std::size_t i, const std::string& where,
                         std::vector<Token>& out) {
    std::string bytes;
    std::u16string value;
    auto flush = [&]() {
      if (bytes.empty()) return;
      if (!utf8_) {
        for (char b : bytes) {
          if (static_cast<unsigned char>(b) >= 0x80) {
            Fail(where, "text beyond ASCII needs #pragma code_page(65001) before it");
          }
        }
      }
      value += DecodeUtf8(bytes, where);
      bytes.clear();
    };
    std::size_t j = i + 1;
    while (true) {
      if (j >= text.size() || text[j] == '\n') Fail(where, "unterminated string");
      char c = text[j];
      if (c == '"') {
        if (j + 1 < text.size() && text[j + 1] == '"') {
          bytes += '"';
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      if (c != '\\') {
        bytes += c;
        ++j;
        continue;
      }
      if (j + 1 >= text.size()) Fail(where, "unterminated string");
      char e = text[j + 1];
      j += 2;
      switch (e) {
        case 'n':
          bytes += '\n';
          break;
        case 'r':
          bytes += '\r';
          break;
        case 't':
          bytes += '\t';
          break;
        case 'a':
          bytes += '\a';
          break;
        case '\\':
          bytes += '\\';
          break;
        case '"':
          bytes += '"';
          break;
        case 'x':
        case 'X': {
          unsigned code = 0;
          int digits = 0;
          while (digits < 4 && j < text.size() &&
                 std::isxdigit(static_cast<unsigned char>(text[j]))) {
            code = code * 16 + std::stoi(std::string(1, text[j]), nullptr, 16);
            ++j;
            ++digits;
          }
          if (digits == 0) Fail(where, "\\x without hexadecimal digits");
          flush();
          value += static_cast<char16_t>(code);
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            unsigned code = e - '0';
            int digits = 1;
            while (digits < 3 && j < text.size() && text[j] >= '0' && text[j] <= '7') {
              code = code * 8 + (text[j] - '0');
              ++j;
              ++digits;
            }
            flush();
            value += static_cast<char16_t>(code);
            break;
          }
          Fail(where, std::string("unknown escape \\") + e + " in a string");
      }
    }
    flush();
    out.push_back({TokenKind::String, text.substr(i, j - i), value, 0, where});
    return j;
  }

  void Emit(Token token, std::vector<Token>& out, int depth) {
    if (token.Kind == TokenKind::Identifier) {
      auto macro = macros_.find(token.Text);
      if (macro != macros_.end()) {
        if (depth > 32) Fail(token.Where, "macro " + token.Text + " expands into itself");
        for (Token expanded : macro->second) {
          expanded.Where = token.Where;
          Emit(std::move(expanded), out, depth + 1);
        }
        return;
      }
    }
    out.push_back(std::move(token));
  }

  void Directive(const std::string& line, const fs::path& path, const std::string& where,
                 std::vector<Token>& out, int depth) {
    std::istringstream words(line);
    std::string name;
    words >> name;
    std::string rest;
    std::getline(words, rest);
    std::size_t first = rest.find_first_not_of(" \t");
    rest = first == std::string::npos ? std::string() : rest.substr(first);
    // A comment after a directive ends it.
    if (std::size_t comment = rest.find("//"); comment != std::string::npos) {
      rest = rest.substr(0, comment);
    }
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) rest.pop_back();

    if (name == "include") {
      if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
        std::string file = rest.substr(1, rest.size() - 2);
        auto found = Resolve(file, path.parent_path(), true);
        if (!found) Fail(where, "cannot find included file \"" + file + "\" (a regular file)");
        ReadFile(*found, out, depth + 1);
        return;
      }
      if (rest.size() >= 2 && rest.front() == '<' && rest.back() == '>') {
        std::string file = rest.substr(1, rest.size() - 2);
        if (auto found = Resolve(file, path.parent_path(), false)) {
          ReadFile(*found, out, depth + 1);
          return;
        }
        for (const char* header : kWindowsHeaders) {
          if (file == header) return;  // its names (LANG_ ...) are built in
        }
        Fail(where, "cannot find included file <" + file + ">");
      }
      Fail(where, "#include needs \"file\" or <file>");
    }
    if (name == "define") {
      std::size_t end = 0;
      while (end < rest.size() &&
             (std::isalnum(static_cast<unsigned char>(rest[end])) || rest[end] == '_')) {
        ++end;
      }
      if (end == 0) Fail(where, "#define needs a name");
      if (end < rest.size() && rest[end] == '(') {
        Fail(where, "macros with parameters are not supported");
      }
      std::vector<Token> body;
      std::size_t i = end;
      while (i < rest.size()) {
        if (std::isspace(static_cast<unsigned char>(rest[i]))) {
          ++i;
          continue;
        }
        if (rest.compare(i, 2, "/*") == 0) {
          std::size_t close = rest.find("*/", i + 2);
          if (close == std::string::npos) Fail(where, "unterminated comment");
          i = close + 2;
          continue;
        }
        i = ScanToken(rest, i, where, body);
      }
      macros_[rest.substr(0, end)] = std::move(body);
      return;
    }
    if (name == "undef") {
      macros_.erase(rest);
      return;
    }
    if (name == "pragma") {
      std::string compact;
      for (char c : rest) {
        if (!std::isspace(static_cast<unsigned char>(c))) compact += c;
      }
      if (compact == "once") return;  // every file here is read where it is included
      if (compact.rfind("code_page(", 0) == 0) {
        if (compact == "code_page(65001)") {
          utf8_ = true;
          return;
        }
        Fail(where, "only #pragma code_page(65001) (UTF-8) is supported");
      }
      Fail(where, "unknown #pragma " + rest);
    }
    Fail(where, "unsupported directive #" + name);
  }

  std::vector<fs::path> includeDirectories_;
  std::map<std::string, std::vector<Token>> macros_;
  std::set<fs::path> filesRead_;
  bool utf8_ = false;
};

// ---------------------------------------------------------------------------------------
// Resources
// ---------------------------------------------------------------------------------------

// A type or name: a string (upper-cased, as the compiler stores it) or an integer id.
struct ResourceKey {
  std::u16string Text;
  std::uint16_t Id = 0;
  bool operator<(const ResourceKey& other) const {
    return std::tie(Text, Id) < std::tie(other.Text, other.Id);
  }
  bool operator==(const ResourceKey& other) const { return Text == other.Text && Id == other.Id; }
};

struct Resource {
  ResourceKey Type;
  ResourceKey Name;
  std::uint16_t Language = 0;
  // Either a slice of a file (included as it lies) or bytes generated here.
  fs::path File;
  std::uintmax_t Offset = 0;
  std::uintmax_t Size = 0;
  bool Slice = false;
  std::vector<std::uint8_t> Data;
  bool Generated = false;
  std::string Where;
};

constexpr std::uint16_t kIcon = 3, kString = 6, kRcData = 10, kGroupIcon = 14, kHtml = 23;

struct LanguageName {
  const char* Name;
  std::uint16_t Value;
};

constexpr LanguageName kPrimaryLanguages[] = {
    {"LANG_NEUTRAL", 0x00},    {"LANG_CHINESE", 0x04},   {"LANG_CZECH", 0x05},
    {"LANG_GERMAN", 0x07},     {"LANG_ENGLISH", 0x09},   {"LANG_SPANISH", 0x0A},
    {"LANG_FRENCH", 0x0C},     {"LANG_HUNGARIAN", 0x0E}, {"LANG_ITALIAN", 0x10},
    {"LANG_JAPANESE", 0x11},   {"LANG_KOREAN", 0x12},    {"LANG_POLISH", 0x15},
    {"LANG_PORTUGUESE", 0x16}, {"LANG_RUSSIAN", 0x19},
};

constexpr LanguageName kSubLanguages[] = {
    {"SUBLANG_NEUTRAL", 0x00},
    {"SUBLANG_DEFAULT", 0x01},
    {"SUBLANG_SYS_DEFAULT", 0x02},
    {"SUBLANG_CHINESE_TRADITIONAL", 0x01},
    {"SUBLANG_CHINESE_SIMPLIFIED", 0x02},
    {"SUBLANG_CZECH_CZECH_REPUBLIC", 0x01},
    {"SUBLANG_GERMAN", 0x01},
    {"SUBLANG_GERMAN_AUSTRIAN", 0x03},
    {"SUBLANG_ENGLISH_US", 0x01},
    {"SUBLANG_ENGLISH_UK", 0x02},
    {"SUBLANG_SPANISH", 0x01},
    {"SUBLANG_SPANISH_MODERN", 0x03},
    {"SUBLANG_FRENCH", 0x01},
    {"SUBLANG_HUNGARIAN_HUNGARY", 0x01},
    {"SUBLANG_ITALIAN", 0x01},
    {"SUBLANG_JAPANESE_JAPAN", 0x01},
    {"SUBLANG_KOREAN", 0x01},
    {"SUBLANG_POLISH_POLAND", 0x01},
    {"SUBLANG_PORTUGUESE", 0x02},
    {"SUBLANG_PORTUGUESE_BRAZILIAN", 0x01},
    {"SUBLANG_RUSSIAN_RUSSIA", 0x01},
};

// Keywords of resource kinds this tool does not embed.
constexpr const char* kUnsupportedKinds[] = {
    "ACCELERATORS", "BITMAP",      "CURSOR", "DIALOG",       "DIALOGEX", "DLGINCLUDE",
    "FONT",         "MENU",        "MENUEX", "MESSAGETABLE", "PLUGPLAY", "TEXTINCLUDE",
    "TOOLBAR",      "VERSIONINFO", "VXD",    "ANICURSOR",    "ANIICON",  "DLGINIT"};

// Memory options the compiler accepts and ignores.
constexpr const char* kMemoryOptions[] = {"DISCARDABLE", "PURE",   "IMPURE",
                                          "MOVEABLE",    "FIXED",  "PRELOAD",
                                          "LOADONCALL",  "SHARED", "NONSHARED"};

std::u16string Upper(const std::string& text) {
  std::u16string out;
  for (char c : text) out += static_cast<char16_t>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::u16string Upper(const std::u16string& text) {
  std::u16string out;
  for (char16_t c : text) out += (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  return out;
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, const Preprocessor& preprocessor)
      : tokens_(std::move(tokens)), preprocessor_(preprocessor) {}

  std::vector<Resource> Run() {
    while (position_ < tokens_.size()) Statement();
    AddStringBlocks();
    return std::move(resources_);
  }

 private:
  const Token* Peek(std::size_t ahead = 0) const {
    return position_ + ahead < tokens_.size() ? &tokens_[position_ + ahead] : nullptr;
  }

  std::string Where() const {
    if (const Token* token = Peek()) return token->Where;
    return tokens_.empty() ? std::string() : tokens_.back().Where;
  }

  const Token& Next(const char* expected) {
    const Token* token = Peek();
    if (token == nullptr) Fail(Where(), std::string("expected ") + expected + " at end of script");
    ++position_;
    return *token;
  }

  bool IsWord(const Token* token, const char* word) const {
    return token != nullptr && token->Kind == TokenKind::Identifier && token->Text == word;
  }

  bool IsPunctuation(const Token* token, const char* mark) const {
    return token != nullptr && token->Kind == TokenKind::Punctuation && token->Text == mark;
  }

  void SkipComma() {
    if (IsPunctuation(Peek(), ",")) ++position_;
  }

  std::uint16_t LanguagePart(const LanguageName* names, std::size_t count, const char* what) {
    const Token& token = Next(what);
    if (token.Kind == TokenKind::Number) {
      if (token.Number > 0x3FF) Fail(token.Where, std::string(what) + " out of range");
      return static_cast<std::uint16_t>(token.Number);
    }
    if (token.Kind == TokenKind::Identifier) {
      for (std::size_t i = 0; i < count; ++i) {
        if (token.Text == names[i].Name) return names[i].Value;
      }
    }
    Fail(token.Where, std::string("unknown ") + what + " \"" + token.Text + "\"");
  }

  // LANGUAGE primary, sub: the language id is sub << 10 | primary.
  std::uint16_t LanguageClause() {
    std::uint16_t primary =
        LanguagePart(kPrimaryLanguages, std::size(kPrimaryLanguages), "primary language");
    if (!IsPunctuation(Peek(), ",")) Fail(Where(), "LANGUAGE needs a primary and a sub-language");
    ++position_;
    std::uint16_t sub = LanguagePart(kSubLanguages, std::size(kSubLanguages), "sub-language");
    if (sub > 0x3F) Fail(Where(), "sub-language out of range");
    return static_cast<std::uint16_t>(sub << 10 | primary);
  }

  void SkipMemoryOptions() {
    while (const Token* token = Peek()) {
      bool option = false;
      for (const char* name : kMemoryOptions) option = option || IsWord(token, name);
      if (!option) return;
      ++position_;
    }
  }

  void Statement() {
    const Token& first = *Peek();
    if (IsWord(&first, "LANGUAGE")) {
      ++position_;
      language_ = LanguageClause();
      return;
    }
    if (IsWord(&first, "STRINGTABLE")) {
      ++position_;
      StringTable();
      return;
    }
    if (first.Kind == TokenKind::Punctuation) {
      Fail(first.Where, "unexpected \"" + first.Text + "\"");
    }
    ResourceStatement();
  }

  void StringTable() {
    std::uint16_t language = language_;
    SkipMemoryOptions();
    if (IsWord(Peek(), "LANGUAGE")) {
      ++position_;
      language = LanguageClause();
    }
    const Token& open = Next("BEGIN");
    if (!IsWord(&open, "BEGIN") && !IsPunctuation(&open, "{")) {
      Fail(open.Where, "expected BEGIN after STRINGTABLE, found \"" + open.Text + "\"");
    }
    while (true) {
      const Token& token = Next("END");
      if (IsWord(&token, "END") || IsPunctuation(&token, "}")) return;
      if (token.Kind != TokenKind::Number) {
        Fail(token.Where, "expected a string id, found \"" + token.Text + "\"");
      }
      if (token.Number > 0xFFFF) Fail(token.Where, "string id out of range");
      SkipComma();
      const Token& text = Next("a string");
      if (text.Kind != TokenKind::String) {
        Fail(text.Where, "expected the text of string " + token.Text);
      }
      std::u16string value = text.Value;
      while (Peek() != nullptr && Peek()->Kind == TokenKind::String) value += Next("").Value;
      if (value.size() > 0xFFFF) Fail(text.Where, "string too long");
      auto& table = strings_[language];
      if (!table.emplace(static_cast<std::uint16_t>(token.Number), value).second) {
        Fail(token.Where,
             "string " + token.Text + " defined twice for language " + std::to_string(language));
      }
    }
  }

  ResourceKey Key(const Token& token, const char* what) {
    switch (token.Kind) {
      case TokenKind::Number:
        if (token.Number > 0xFFFF) Fail(token.Where, std::string(what) + " out of range");
        return {{}, static_cast<std::uint16_t>(token.Number)};
      case TokenKind::Identifier:
        return {Upper(token.Text), 0};
      case TokenKind::String:
        if (token.Value.empty()) Fail(token.Where, std::string("empty ") + what);
        return {Upper(token.Value), 0};
      default:
        Fail(token.Where,
             std::string("expected a resource ") + what + ", found \"" + token.Text + "\"");
    }
  }

  void ResourceStatement() {
    const Token& nameToken = Next("a resource name");
    ResourceKey name = Key(nameToken, "name");
    const Token& typeToken = Next("a resource type");
    if (typeToken.Kind == TokenKind::Identifier) {
      for (const char* kind : kUnsupportedKinds) {
        if (typeToken.Text == kind) {
          Fail(typeToken.Where, "resources of kind " + typeToken.Text + " are not supported");
        }
      }
    }
    SkipMemoryOptions();
    const Token& fileToken = Next("a file name");
    if (IsWord(&fileToken, "BEGIN") || IsPunctuation(&fileToken, "{")) {
      Fail(fileToken.Where, "inline resource data is not supported; name a file");
    }
    if (fileToken.Kind != TokenKind::String) {
      Fail(fileToken.Where, "unknown statement \"" + nameToken.Text + " " + typeToken.Text +
                                "\": expected a quoted file name");
    }
    fs::path scriptDirectory =
        fs::path(fileToken.Where.substr(0, fileToken.Where.rfind(':'))).parent_path();
    std::string fileName;
    for (char16_t c : fileToken.Value) {
      if (c >= 0x80) Fail(fileToken.Where, "file names must be ASCII");
      fileName += static_cast<char>(c);
    }
    auto file = preprocessor_.Resolve(fileName, scriptDirectory, true);
    if (!file) Fail(fileToken.Where, "cannot find resource file \"" + fileName + "\"");
    filesUsed_.insert(*file);

    if (IsWord(&typeToken, "ICON")) {
      Icon(name, *file, fileToken.Where);
      return;
    }
    ResourceKey type;
    if (IsWord(&typeToken, "RCDATA")) {
      type.Id = kRcData;
    } else if (IsWord(&typeToken, "HTML")) {
      type.Id = kHtml;
    } else {
      type = Key(typeToken, "type");
    }
    Resource resource;
    resource.Type = type;
    resource.Name = name;
    resource.Language = language_;
    resource.File = *file;
    resource.Size = fs::file_size(*file);
    resource.Where = nameToken.Where;
    Add(std::move(resource));
  }

  // Splits an icon file the way the resource compiler does: each image becomes an RT_ICON
  // with the next free id, and the RT_GROUP_ICON holds the directory with those ids.
  void Icon(const ResourceKey& name, const fs::path& file, const std::string& where) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    auto word = [&](std::size_t at) { return bytes[at] | bytes[at + 1] << 8; };
    auto dword = [&](std::size_t at) {
      return static_cast<std::uint32_t>(word(at)) | static_cast<std::uint32_t>(word(at + 2)) << 16;
    };
    if (bytes.size() < 6 || word(0) != 0 || word(2) != 1) {
      Fail(where, file.string() + " is not an icon file");
    }
    std::size_t count = word(4);
    if (count == 0 || bytes.size() < 6 + 16 * count) {
      Fail(where, file.string() + " is not an icon file");
    }
    std::vector<std::uint8_t> group = {
        0, 0, 1, 0, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8)};
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t entry = 6 + 16 * i;
      std::uint32_t size = dword(entry + 8), offset = dword(entry + 12);
      if (size < 40 || offset > bytes.size() || size > bytes.size() - offset) {
        Fail(where, file.string() + ": image " + std::to_string(i + 1) + " lies outside the file");
      }
      std::uint16_t planes = word(entry + 4), bits = word(entry + 6);
      // Some icon files leave planes and depth to the image's own header.
      if (planes == 0) planes = word(offset + 12);
      if (bits == 0) bits = word(offset + 14);
      std::uint16_t id = nextIconId_++;
      Resource image;
      image.Type = {{}, kIcon};
      image.Name = {{}, id};
      image.Language = language_;
      image.File = file;
      image.Offset = offset;
      image.Size = size;
      image.Slice = true;
      image.Where = where;
      Add(std::move(image));
      group.insert(group.end(), bytes.begin() + entry, bytes.begin() + entry + 4);
      group.insert(group.end(),
                   {static_cast<std::uint8_t>(planes), static_cast<std::uint8_t>(planes >> 8),
                    static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8)});
      group.insert(group.end(), bytes.begin() + entry + 8, bytes.begin() + entry + 12);
      group.insert(group.end(),
                   {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8)});
    }
    Resource directory;
    directory.Type = {{}, kGroupIcon};
    directory.Name = name;
    directory.Language = language_;
    directory.Data = std::move(group);
    directory.Generated = true;
    directory.Where = where;
    Add(std::move(directory));
  }

  // Strings are stored 16 to a block, block id = id / 16 + 1: each entry a count of
  // UTF-16 units followed by the units, an absent string a count of 0.
  void AddStringBlocks() {
    for (const auto& [language, table] : strings_) {
      std::map<std::uint16_t, std::vector<std::uint8_t>> blocks;
      std::set<std::uint16_t> blockIds;
      for (const auto& entry : table)
        blockIds.insert(static_cast<std::uint16_t>(entry.first / 16 + 1));
      for (std::uint16_t block : blockIds) {
        std::vector<std::uint8_t> data;
        for (unsigned slot = 0; slot < 16; ++slot) {
          auto found = table.find(static_cast<std::uint16_t>((block - 1) * 16 + slot));
          std::u16string text = found == table.end() ? std::u16string() : found->second;
          data.push_back(text.size() & 0xFF);
          data.push_back(text.size() >> 8);
          for (char16_t c : text) {
            data.push_back(c & 0xFF);
            data.push_back(c >> 8);
          }
        }
        Resource resource;
        resource.Type = {{}, kString};
        resource.Name = {{}, block};
        resource.Language = language;
        resource.Data = std::move(data);
        resource.Generated = true;
        Add(std::move(resource));
      }
    }
  }

  void Add(Resource resource) {
    for (const Resource& other : resources_) {
      if (other.Type == resource.Type && other.Name == resource.Name &&
          other.Language == resource.Language) {
        Fail(resource.Where,
             "resource defined twice for language " + std::to_string(resource.Language));
      }
    }
    resources_.push_back(std::move(resource));
  }

 public:
  const std::set<fs::path>& FilesUsed() const { return filesUsed_; }

 private:
  std::vector<Token> tokens_;
  const Preprocessor& preprocessor_;
  std::size_t position_ = 0;
  std::uint16_t language_ = 0x0409;  // the compiler's default: English (United States)
  std::uint16_t nextIconId_ = 1;
  std::map<std::uint16_t, std::map<std::uint16_t, std::u16string>> strings_;
  std::vector<Resource> resources_;
  std::set<fs::path> filesUsed_;
};

// ---------------------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------------------

std::string AssemblerString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string CppText(const ResourceKey& key) {
  if (key.Text.empty()) return "nullptr, " + std::to_string(key.Id);
  std::string out = "u\"";
  for (char16_t c : key.Text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out + "\", 0";
}

// A payload file this large starts on a page boundary of the executable file (the linker
// keeps an address and its file offset equal modulo the page): the emulated host writes a
// payload out by a copy inside the kernel from the executable file, which moves a few pages
// at a time: from a page-aligned offset each piece fills whole pages of the new file, from
// any other offset each piece ends in a page half written that the next piece completes,
// and extracting a large package takes about a third longer.
constexpr std::uintmax_t kPageAlignedFrom = 64 << 10;
constexpr int kPageSize = 4096;

std::string Assembly(const std::vector<Resource>& resources) {
  std::ostringstream out;
  out << "# Generated by rcembed: the executable's resources. Do not edit.\n"
      << "\t.section .rodata.spsetup_resources,\"a\"\n";
  for (std::size_t i = 0; i < resources.size(); ++i) {
    const Resource& resource = resources[i];
    std::string symbol = "spsetup_resource_" + std::to_string(i);
    int alignment = !resource.Generated && resource.Size >= kPageAlignedFrom ? kPageSize : 16;
    out << "\t.balign " << alignment << "\n\t.globl " << symbol << "\n" << symbol << ":\n";
    if (resource.Generated) {
      for (std::size_t at = 0; at < resource.Data.size(); at += 16) {
        out << "\t.byte ";
        for (std::size_t k = at; k < std::min(at + 16, resource.Data.size()); ++k) {
          out << (k == at ? "" : ",") << static_cast<unsigned>(resource.Data[k]);
        }
        out << "\n";
      }
    } else if (resource.Slice) {
      out << "\t.incbin " << AssemblerString(resource.File.string()) << ", " << resource.Offset
          << ", " << resource.Size << "\n";
    } else {
      out << "\t.incbin " << AssemblerString(resource.File.string()) << "\n";
    }
    out << "\t.globl " << symbol << "_end\n" << symbol << "_end:\n";
  }
  out << "\t.section .note.GNU-stack,\"\",@progbits\n";
  return out.str();
}

std::string Table(const std::vector<Resource>& resources, const std::string& script) {
  std::ostringstream out;
  out << "// Generated by rcembed from " << script << ": the executable's resources.\n"
      << "// Do not edit.\n#include \"platform/posix/host.h\"\n\nextern \"C\" {\n";
  for (std::size_t i = 0; i < resources.size(); ++i) {
    out << "extern const unsigned char spsetup_resource_" << i << "[], spsetup_resource_" << i
        << "_end[];\n";
  }
  out << "}\n\nextern \"C\" const platform::posix::EmbeddedResource "
         "spsetup_embedded_resources[] = {\n";
  for (std::size_t i = 0; i < resources.size(); ++i) {
    const Resource& resource = resources[i];
    out << "    {" << CppText(resource.Type) << ", " << CppText(resource.Name) << ", "
        << resource.Language << ", spsetup_resource_" << i << ", spsetup_resource_" << i
        << "_end},\n";
  }
  out << "};\n\nextern \"C\" const std::size_t spsetup_embedded_resource_count = "
      << resources.size() << ";\n";
  return out.str();
}

// The bytes a resource holds, as the executable will carry them.
std::vector<std::uint8_t> Payload(const Resource& resource) {
  if (resource.Generated) return resource.Data;
  std::ifstream in(resource.File, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(resource.Offset));
  std::vector<std::uint8_t> bytes(resource.Size);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) Fail("", "cannot read " + resource.File.string());
  return bytes;
}

std::string Describe(const ResourceKey& type, const ResourceKey& name, std::uint16_t language) {
  auto text = [](const ResourceKey& key) {
    if (key.Text.empty()) return std::to_string(key.Id);
    std::string out;
    for (char16_t c : key.Text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return "\"" + out + "\"";
  };
  return "type " + text(type) + ", name " + text(name) + ", language " + std::to_string(language);
}

// Compares the resources with a compiled resource file (.res) of the resource compiler:
// the same entries with the same bytes. Prints each difference; true when there is none.
bool SameAsCompiled(const std::vector<Resource>& resources, const fs::path& compiled) {
  std::ifstream in(compiled, std::ios::binary);
  if (!in) Fail("", "cannot read " + compiled.string());
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  auto dword = [&](std::size_t at) {
    if (at + 4 > bytes.size()) Fail("", compiled.string() + " is cut short");
    return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                      static_cast<std::uint32_t>(bytes[at + 3]) << 24);
  };
  auto word = [&](std::size_t at) {
    if (at + 2 > bytes.size()) Fail("", compiled.string() + " is cut short");
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
  };
  auto key = [&](std::size_t& at) {
    ResourceKey result;
    if (word(at) == 0xFFFF) {
      result.Id = word(at + 2);
      at += 4;
      return result;
    }
    for (std::uint16_t c; (c = word(at)) != 0; at += 2) result.Text += static_cast<char16_t>(c);
    at += 2;
    return result;
  };
  std::map<std::tuple<ResourceKey, ResourceKey, std::uint16_t>, std::vector<std::uint8_t>> theirs;
  // Every entry's header holds its two sizes, a type and a name (2 bytes each at the least)
  // and 16 bytes of fixed fields from a 4-byte boundary: a smaller header is no entry (and
  // one of 0 would never advance).
  constexpr std::uint32_t kSmallestHeader = 28;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::string where = compiled.string() + ": entry at byte " + std::to_string(at);
    const std::uint32_t dataSize = dword(at), headerSize = dword(at + 4);
    if (headerSize < kSmallestHeader) {
      Fail(where, "header size " + std::to_string(headerSize) + " is less than " +
                      std::to_string(kSmallestHeader));
    }
    std::size_t field = at + 8;
    ResourceKey type = key(field);
    ResourceKey name = key(field);
    field = (field + 3) & ~std::size_t{3};
    if (field + 16 > at + headerSize) Fail(where, "names run past the header");
    const std::uint16_t language = word(field + 6);
    if (std::uint64_t{at} + headerSize + dataSize > bytes.size()) Fail(where, "cut short");
    if (!(dataSize == 0 && type.Text.empty() && type.Id == 0)) {  // the file's lead entry
      theirs[{type, name, language}].assign(bytes.begin() + at + headerSize,
                                            bytes.begin() + at + headerSize + dataSize);
    }
    at = (at + headerSize + dataSize + 3) & ~std::size_t{3};
  }
  bool same = true;
  for (const Resource& resource : resources) {
    auto found = theirs.find({resource.Type, resource.Name, resource.Language});
    std::string what = Describe(resource.Type, resource.Name, resource.Language);
    if (found == theirs.end()) {
      std::fprintf(stderr, "rcembed: %s is not in %s\n", what.c_str(), compiled.string().c_str());
      same = false;
      continue;
    }
    if (found->second != Payload(resource)) {
      std::fprintf(stderr, "rcembed: %s differs from %s\n", what.c_str(),
                   compiled.string().c_str());
      same = false;
    }
    theirs.erase(found);
  }
  for (const auto& [entry, data] : theirs) {
    std::string what = Describe(std::get<0>(entry), std::get<1>(entry), std::get<2>(entry));
    std::fprintf(stderr, "rcembed: %s is only in %s\n", what.c_str(), compiled.string().c_str());
    same = false;
  }
  return same;
}

std::string DepfilePath(const fs::path& path) {
  std::string out;
  for (char c : path.string()) {
    if (c == ' ' || c == '#' || c == '\\') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return out;
}

// Writes beside `path` and renames into place, so a reader never sees half a file.
void WriteFile(const fs::path& path, const std::string& text) {
  fs::path partial = path;
  partial += ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) Fail("", "cannot write " + partial.string());
  }
  std::error_code error;
  fs::rename(partial, path, error);
  if (error) {
    fs::remove(partial, error);
    Fail("", "cannot write " + path.string());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> includeDirectories;
  std::string assemblyPath, tablePath, depfilePath, comparePath, scriptPath;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "rcembed: %s needs a value\n", argument.c_str());
        std::exit(1);
      }
      return argv[++i];
    };
    if (argument == "-I") {
      includeDirectories.push_back(value());
    } else if (argument.rfind("-I", 0) == 0) {
      includeDirectories.push_back(argument.substr(2));
    } else if (argument == "--asm") {
      assemblyPath = value();
    } else if (argument == "--table") {
      tablePath = value();
    } else if (argument == "--compare-res") {
      comparePath = value();
    } else if (argument == "--depfile") {
      depfilePath = value();
    } else if (scriptPath.empty() && argument[0] != '-') {
      scriptPath = argument;
    } else {
      scriptPath.clear();
      break;
    }
  }
  if (scriptPath.empty() || (comparePath.empty() && (assemblyPath.empty() || tablePath.empty()))) {
    std::fprintf(stderr,
                 "usage: rcembed [-I DIR]... --asm OUT.s --table OUT.cpp [--depfile OUT.d] "
                 "SCRIPT.rc\n"
                 "       rcembed [-I DIR]... --compare-res COMPILED.res SCRIPT.rc\n");
    return 1;
  }
  try {
    Preprocessor preprocessor(includeDirectories);
    Parser parser(preprocessor.Run(scriptPath), preprocessor);
    std::vector<Resource> resources = parser.Run();
    if (resources.empty()) Fail(scriptPath, "the script defines no resources");
    if (!comparePath.empty()) return SameAsCompiled(resources, comparePath) ? 0 : 1;
    WriteFile(assemblyPath, Assembly(resources));
    WriteFile(tablePath, Table(resources, fs::path(scriptPath).filename().string()));
    if (!depfilePath.empty()) {
      std::string depfile = DepfilePath(assemblyPath) + ":";
      std::set<fs::path> files = preprocessor.FilesRead();
      files.insert(parser.FilesUsed().begin(), parser.FilesUsed().end());
      for (const fs::path& file : files) depfile += " \\\n  " + DepfilePath(file);
      WriteFile(depfilePath, depfile + "\n");
    }
  } catch (const ScriptError& error) {
    std::fprintf(stderr, "rcembed: %s\n", error.Message.c_str());
    return 1;
  } catch (const fs::filesystem_error& error) {
    std::fprintf(stderr, "rcembed: %s\n", error.what());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "rcembed: %s: %s\n", scriptPath.c_str(), error.what());
    return 1;
  }
  return 0;
}
