#include "compiled_resources.h"

namespace rcembed {

CompiledResources ParseCompiledResources(const std::vector<std::uint8_t>& bytes,
                                         const std::string& file) {
  auto dword = [&](std::size_t at) {
    if (at + 4 > bytes.size()) Fail("", file + " is cut short");
    return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                      static_cast<std::uint32_t>(bytes[at + 3]) << 24);
  };
  auto word = [&](std::size_t at) {
    if (at + 2 > bytes.size()) Fail("", file + " is cut short");
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
  CompiledResources theirs;
  // Every entry's header holds its two sizes, a type and a name (2 bytes each at the least)
  // and 16 bytes of fixed fields from a 4-byte boundary: a smaller header is no entry (and
  // one of 0 would never advance).
  constexpr std::uint32_t kSmallestHeader = 28;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::string where = file + ": entry at byte " + std::to_string(at);
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
  return theirs;
}

CompiledResources ReadCompiledResources(const std::filesystem::path& path) {
  const std::string content = ReadWholeFile(path);
  return ParseCompiledResources(std::vector<std::uint8_t>(content.begin(), content.end()),
                                path.string());
}

}  // namespace rcembed
