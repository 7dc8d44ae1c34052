// Directories that refuse the test's own process, whatever its rights (tests run as root
// too, and root passes every permission bit): while a holder lives, the emulated host's
// file operations meet EACCES for names in `directory`, as a user without the right would.
#pragma once

#include <cstddef>
#include <string>

#include "platform/posix/files.h"

namespace testing_support {

// No file may be created in the directory (CreateFileW with a creating disposition).
// Existing files there still open.
class ScopedCreationRefused {
 public:
  explicit ScopedCreationRefused(const std::string& directory);
  ScopedCreationRefused(const ScopedCreationRefused&) = delete;
  ScopedCreationRefused& operator=(const ScopedCreationRefused&) = delete;
  ~ScopedCreationRefused();

 private:
  platform::posix::OpenCall previous_;
};

// The directory may be listed but not searched: the attributes of any name in it
// (GetFileAttributesW) cannot be read. The directory's own attributes still can.
class ScopedSearchRefused {
 public:
  explicit ScopedSearchRefused(const std::string& directory);
  ScopedSearchRefused(const ScopedSearchRefused&) = delete;
  ScopedSearchRefused& operator=(const ScopedSearchRefused&) = delete;
  ~ScopedSearchRefused();

  // How many tests of a name in the directory were refused.
  std::size_t Refusals() const;

 private:
  platform::posix::StatusCall previous_;
};

}  // namespace testing_support
