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

// Removes a file this run made and no longer wants, keeping the failure's code for the
// caller.
void RemoveKeepingError(const std::u16string& path) {
  DWORD error = GetLastError();
  DeleteFileW(path.c_str());
  SetLastError(error);
}

// Makes `path` absolute against the current directory, so that the name means the same file
// to whoever is handed it later (the installer service resolves a relative name in its own
// directory). False when it cannot.
bool MakeAbsolute(std::u16string& path) {
  std::u16string full(MAX_PATH, u'\0');
  DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full.data(), nullptr);
  if (length >= MAX_PATH) {
    full.assign(length, u'\0');
    length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) length = 0;
  }
  if (length == 0) return false;
  full.resize(length);
  path = std::move(full);
  return true;
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
    // 3. A name, made absolute before anything uses it, stored back for the caller.
    std::optional<std::u16string> name = MakeTempName(&directoryText, u"MSP");
    if (!name) return false;
    path = *name;
    if (!MakeAbsolute(path)) return false;
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
    RemoveKeepingError(path);
    return false;
  }
}

// A new file beside `target`, in its directory so that moving it into place is one step,
// under a name of this process: a partial file left by a run that was killed never blocks
// a later one. Its name is stored in `partial`.
ScopedKernelHandle CreatePartialBeside(const std::u16string& target, std::u16string& partial) {
  const int process = static_cast<int>(GetCurrentProcessId());
  for (int attempt = 1; attempt <= 100; ++attempt) {
    char16_t suffix[1024];
    wsprintfW(suffix, u".partial%d-%d", process, attempt);
    partial = target + suffix;
    ScopedKernelHandle file = CreateExclusively(partial);
    if (file || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)) {
      return file;
    }
  }
  return ScopedKernelHandle();
}

// Writes the package into `target` itself, as a plain write would: cut, then written. What a
// failure leaves is as far as the write got.
bool WriteInPlace(const std::u16string& target, const ResourceBytes& package) {
  ScopedKernelHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && WriteWhole(std::move(file), package);
}

// The name of the file `file` has open, links resolved; empty when it has none.
std::u16string FinalName(HANDLE file) {
  std::u16string name(MAX_PATH, u'\0');
  DWORD length = GetFinalPathNameByHandleW(file, name.data(), MAX_PATH, 0);
  if (length >= MAX_PATH) {
    name.assign(length, u'\0');
    length = GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()), 0);
    if (length >= name.size()) length = 0;
  }
  name.resize(length);
  return name;
}

// A given path: whatever is there keeps being what it is.
bool ExtractToGivenPath(const std::u16string& path) {
  // 4.-5. The resource, before any file is touched.
  std::optional<ResourceBytes> package = LocatePackage();
  if (!package) return false;

  // 6. What the path names, links followed. Opening it for writing changes nothing yet, and
  // a path the user may not write is left alone.
  ScopedKernelHandle existing(CreateFileW(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!existing && GetLastError() != ERROR_FILE_NOT_FOUND) return false;

  // 7a. A device or pipe is written straight into: replacing it would only put a file where
  // the reader or the device was.
  if (existing && GetFileType(existing.Get()) != FILE_TYPE_DISK) {
    return WriteWhole(std::move(existing), *package);
  }

  // 7b. A file (the one a link names, in its own directory, so the link stays) is replaced
  // whole by a new file written beside it; a new name is simply created that way.
  std::u16string target = path;
  if (existing) {
    std::u16string resolved = FinalName(existing.Get());
    if (!resolved.empty()) target = std::move(resolved);
  }
  std::u16string partial;
  ScopedKernelHandle file = CreatePartialBeside(target, partial);
  if (!file) {
    // Nothing may be created beside it, but the file itself may be written: in place.
    if (existing && GetLastError() == ERROR_ACCESS_DENIED) {
      existing.Reset();
      return WriteInPlace(target, *package);
    }
    return false;
  }
  DWORD written = 0;
  if (WriteFile(file.Get(), package->Data, package->Size, &written, nullptr) == 0 ||
      written != package->Size || FlushFileBuffers(file.Get()) == 0) {
    file.Reset();
    RemoveKeepingError(partial);
    return false;
  }
  file.Reset();

  // 7c. Into place in one step. An existing file hands its attributes and security to the
  // new one; where it may not be replaced for lack of access, it is written in place.
  if (!existing) {
    if (MoveFileExW(partial.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    RemoveKeepingError(partial);
    return false;
  }
  existing.Reset();
  if (ReplaceFileW(target.c_str(), partial.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    return true;
  }
  bool denied = GetLastError() == ERROR_ACCESS_DENIED;
  RemoveKeepingError(partial);
  return denied && WriteInPlace(target, *package);
}

}  // namespace

bool ExtractPackage(std::u16string& path) {
  if (path.empty()) return ExtractToTemporaryFile(path);
  return ExtractToGivenPath(path);
}
