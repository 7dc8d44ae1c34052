#include "payload/extraction.h"

#include <optional>

#include "payload/resource_catalogue.h"
#include "payload/temp_name.h"
#include "platform/platform.h"

using namespace platform;

namespace {

constexpr DWORD kTempPathCapacity = 1024;

// Steps 4 and 5: the package's bytes, or nothing when it is missing or unusable.
std::optional<ResourceBytes> LocatePackage() {
  ResourceBytes package;
  if (LoadEmbeddedResource(u"IDR_MSP", u"MSP", package) != ResourceLookup::Found) {
    return std::nullopt;
  }
  return package;
}

// Creates `path` exclusively: never an existing name, never through a link.
ScopedKernelHandle CreateExclusively(const std::u16string& path) {
  return ScopedKernelHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Writes the whole package in one request and closes the file. True when every byte
// went out.
bool WriteWhole(ScopedKernelHandle file, const ResourceBytes& package) {
  DWORD written = 0;
  BOOL ok = WriteFile(file.Get(), package.Data, package.Size, &written, nullptr);
  return ok != 0 && written == package.Size;
}

// An empty path: a fresh temporary file, tried number after number while a name turns out
// to be taken by the time it is created.
bool ExtractToTemporaryFile(std::u16string& path) {
  // 2. The temporary directory.
  char16_t directory[kTempPathCapacity];
  DWORD length = GetTempPathW(kTempPathCapacity, directory);
  if (length == 0 || length > kTempPathCapacity) return false;
  std::u16string directoryText(directory, length);

  std::optional<ResourceBytes> package;
  for (;;) {
    // 3. A name, stored back for the caller.
    std::optional<std::u16string> name = MakeTempName(&directoryText, u"MSP");
    if (!name) return false;
    path = *name;
    // 4.-5. The resource, before any file exists.
    if (!package) {
      package = LocatePackage();
      if (!package) return false;
    }
    // 6. Create the file exclusively; a name that appeared meanwhile takes the next one.
    ScopedKernelHandle file = CreateExclusively(path);
    if (!file) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    // 7. One write; a file that did not receive every byte is no package and goes.
    if (WriteWhole(std::move(file), *package)) return true;
    DWORD error = GetLastError();
    DeleteFileW(path.c_str());
    SetLastError(error);
    return false;
  }
}

// A given path: write beside it, then move into place in one step.
bool ExtractToGivenPath(const std::u16string& path) {
  // 4.-5. The resource, before any file exists.
  std::optional<ResourceBytes> package = LocatePackage();
  if (!package) return false;

  // 6. A fresh file beside the target, in the same directory so that the move is one step.
  ScopedKernelHandle file;
  std::u16string partial;
  for (int attempt = 1; !file; ++attempt) {
    if (attempt > 1000) return false;
    char16_t suffix[1024];
    wsprintfW(suffix, u".partial%d", attempt);
    partial = path + suffix;
    file = CreateExclusively(partial);
    if (!file && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }

  // 7. One write, then into place only when it is whole.
  bool whole = WriteWhole(std::move(file), *package);
  if (whole && MoveFileExW(partial.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DWORD error = GetLastError();
  DeleteFileW(partial.c_str());
  SetLastError(error);
  return false;
}

}  // namespace

bool ExtractPackage(std::u16string& path) {
  if (path.empty()) return ExtractToTemporaryFile(path);
  return ExtractToGivenPath(path);
}
