// rcembed's reader of resource scripts: the script and what it includes, read into the
// resources it defines. The tool and the fuzzing harnesses share it.
//
// The subset understood: // and /* */ comments; #include of a script or header ("..."
// beside the including file, then the include directories; <...> from the include
// directories, or skipped for the Windows headers whose names are built in); #define of
// object-like macros and #undef; #pragma code_page(65001) and #pragma once; LANGUAGE with
// the LANG_/SUBLANG_ names of the languages listed in resource_script.cpp or numbers; STRINGTABLE
// BEGIN/END or { } with `id, "text"` entries; `name ICON "file"`; `name type "file"` with a numeric
// or named type. Anything else is a ScriptError that names the file and the line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace rcembed {

// What stops the tool: "file:line: message" (or "file: message" where no line applies).
// The tool reports it on stderr and writes nothing; it is the only exception the readers
// throw for bad input.
struct ScriptError {
  std::string Message;
};

// Throws ScriptError with `message`, prefixed by `where` and ": " unless `where` is empty.
[[noreturn]] void Fail(const std::string& where, const std::string& message);

// The whole content of the file at `path`. A file that cannot be opened or read to its end
// (a directory, /proc/self/mem) is a ScriptError "cannot read PATH: reason".
std::string ReadWholeFile(const std::filesystem::path& path);

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
  std::filesystem::path File;
  std::uintmax_t Offset = 0;
  std::uintmax_t Size = 0;
  bool Slice = false;
  std::vector<std::uint8_t> Data;
  bool Generated = false;
  std::string Where;
};

struct ResourceScript {
  // In the order the script defines them, string table blocks last; no two share a type,
  // name and language.
  std::vector<Resource> Resources;
  // Every file read or named as a payload, for the build's dependency tracking.
  std::set<std::filesystem::path> Files;
};

// Reads the script at `script`, searching `includeDirectories` in order for included files
// and payloads not found beside the file that names them. Only regular files are read.
// Throws ScriptError for anything outside the subset above, a file that cannot be found or
// read, a resource or string defined twice, a use of a macro that takes more than 10,000
// tokens (the macros it names counted), and a script that expands (includes read, macros
// replaced) to more than 250,000 tokens or 4 MiB of text; nothing else is thrown for bad
// input.
ResourceScript ReadResourceScript(const std::filesystem::path& script,
                                  const std::vector<std::filesystem::path>& includeDirectories);

}  // namespace rcembed
