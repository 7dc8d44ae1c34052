// Scratch space for tests: a private directory removed with everything in it when the
// test ends, and environment overrides restored when they go out of scope.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh, empty directory of its own under /tmp (or $TMPDIR when it names a directory
// at construction); removed recursively on destruction. Aborts the test run when none can
// be made.
class ScratchDir {
 public:
  ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();

  // The directory's absolute path, without a trailing '/'.
  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string Join(const std::string& name) const;
  // The same path as UTF-16 text, for the platform's operations.
  std::u16string PathW() const;
  std::u16string JoinW(const std::string& name) const;

  // Writes `content` to Join(name), replacing it; returns the full path. Aborts on failure.
  std::string WriteFile(const std::string& name, const std::string& content) const;
  // The whole content of Join(name); std::nullopt when it cannot be read.
  std::optional<std::string> ReadFile(const std::string& name) const;

 private:
  std::string path_;
};

// The whole content of the file at `path`; std::nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);
// The same, "" when it cannot be read: for comparing a file with the bytes it should hold.
std::string FileContent(const std::string& path);

// The names of the entries of `directory`, sorted. A directory that cannot be read fails
// the calling test and gives no names.
std::vector<std::string> EntryNames(const std::string& directory);

// Sets (or, given std::nullopt, unsets) one environment variable for the holder's
// lifetime; the destructor restores the value it had, or unsets it when it had none.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace testing_support
