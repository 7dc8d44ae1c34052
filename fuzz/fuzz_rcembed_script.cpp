// rcembed's reader of resource scripts: any script is read into resources or refused with a
// ScriptError, the error the tool reports as "file:line: message"; anything else thrown, a
// crash, a leak or a read that does not end is a fault. Resources read are each defined once
// and lie within their files.
//
// The input up to its first zero byte is the script (script.rc), the rest a file beside it
// (payload.bin) that the script may include or name as a payload or an icon. Beside them lie
// an icon (app.ico) and a text (notes.txt); the include directory holds ids.h.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <tuple>

#include "resource_script.h"

namespace fs = std::filesystem;

namespace {

// The scratch directory of the files the scripts read, removed when the process ends.
struct ScratchDirectory {
  fs::path Path;
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!Path.empty()) fs::remove_all(Path, ignored);
  }
};

ScratchDirectory scratch;

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::abort();
}

// An icon file of one 16x16 image: the directory (6 bytes), its entry (16) and the image's
// header (40), planes and depth given in the entry.
std::string SmallIcon() {
  // Directory: reserved, type 1 (icon), one image. Entry: 16x16, no palette, 1 plane,
  // 32 bits, 40 bytes from offset 22.
  const unsigned char directory[] = {0, 0, 1, 0, 1, 0};
  const unsigned char entry[] = {16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 22, 0, 0, 0};
  std::string image(40, '\0');
  image[0] = 40;   // header size
  image[4] = 16;   // width
  image[8] = 32;   // height of image and mask
  image[12] = 1;   // planes
  image[14] = 32;  // depth
  return std::string(reinterpret_cast<const char*>(directory), sizeof directory) +
         std::string(reinterpret_cast<const char*>(entry), sizeof entry) + image;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::error_code error;
  std::string directory = (fs::temp_directory_path(error) / "fuzz-rcembed-XXXXXX").string();
  if (mkdtemp(directory.data()) == nullptr) std::abort();
  scratch.Path = directory;
  fs::create_directory(scratch.Path / "include");
  WriteFile(
      scratch.Path / "include" / "ids.h",
      "#pragma once\n#define IDS_TITLE 1\n#define IDR_NOTES 206\n#define NOTES \"notes.txt\"\n");
  WriteFile(scratch.Path / "app.ico", SmallIcon());
  WriteFile(scratch.Path / "notes.txt", "Deployment notes\r\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // 1. The script and the file beside it.
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t zero = input.find('\0');
  WriteFile(scratch.Path / "script.rc", input.substr(0, zero));
  WriteFile(scratch.Path / "payload.bin",
            zero == std::string_view::npos ? std::string_view() : input.substr(zero + 1));

  // 2. Read; a ScriptError is the tool's clear refusal. Anything else propagates and ends
  // the run as a fault.
  rcembed::ResourceScript script;
  try {
    script = rcembed::ReadResourceScript(scratch.Path / "script.rc", {scratch.Path / "include"});
  } catch (const rcembed::ScriptError& error) {
    if (error.Message.empty()) std::abort();
    return 0;
  }

  // 3. Each resource once; a payload lies within its file.
  std::set<std::tuple<rcembed::ResourceKey, rcembed::ResourceKey, std::uint16_t>> seen;
  for (const rcembed::Resource& resource : script.Resources) {
    if (!seen.insert({resource.Type, resource.Name, resource.Language}).second) std::abort();
    if (resource.Generated) continue;
    std::error_code error;
    const std::uintmax_t fileSize = fs::file_size(resource.File, error);
    if (error || resource.Offset > fileSize || resource.Size > fileSize - resource.Offset) {
      std::abort();
    }
  }
  return 0;
}
