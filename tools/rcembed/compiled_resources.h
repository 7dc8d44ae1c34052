// rcembed's reader of compiled resource files (.res), as the resource compiler writes them:
// a run of entries, each a header (data size, header size, type, name, fixed fields) and
// its data, from a 4-byte boundary. The tool and the fuzzing harnesses share it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "resource_script.h"

namespace rcembed {

// Each entry's data by type, name and language (a later entry with the same three replaces
// an earlier one); the file's lead entry (type 0, no data) is left out.
using CompiledResources =
    std::map<std::tuple<ResourceKey, ResourceKey, std::uint16_t>, std::vector<std::uint8_t>>;

// Reads the entries of `bytes`, the content of the compiled resource file `file`. A header
// smaller than its fixed fields, names that run past it, or an entry cut short is a
// ScriptError naming `file` (and the entry's byte offset); every entry read moves on by at
// least a header, so any bytes are read in one pass.
CompiledResources ParseCompiledResources(const std::vector<std::uint8_t>& bytes,
                                         const std::string& file);

// ParseCompiledResources over the content of the file at `path`; a file that cannot be read
// is a ScriptError too.
CompiledResources ReadCompiledResources(const std::filesystem::path& path);

}  // namespace rcembed
