#include "support/scratch_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/host.h"

namespace testing_support {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "test support: %s\n", what.c_str());
  std::abort();
}

}  // namespace

ScratchDir::ScratchDir() {
  std::string base = "/tmp";
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && *tmpdir != '\0') {
    struct stat info {};
    if (::stat(tmpdir, &info) == 0 && S_ISDIR(info.st_mode)) base = tmpdir;
  }
  std::string pattern = base + "/spsetup-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) Fail("cannot make a scratch directory in " + base);
  path_ = std::filesystem::canonical(buffer.data()).string();
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // A test may have taken the rights away; give them back so everything can go.
  std::filesystem::path root(path_);
  for (auto it = std::filesystem::recursive_directory_iterator(
           root, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::permissions(root, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(root, ignored);
}

std::string ScratchDir::Join(const std::string& name) const { return path_ + "/" + name; }

std::u16string ScratchDir::PathW() const { return platform::posix::FromUtf8(path_); }

std::u16string ScratchDir::JoinW(const std::string& name) const {
  return platform::posix::FromUtf8(Join(name));
}

std::string ScratchDir::WriteFile(const std::string& name, const std::string& content) const {
  std::string full = Join(name);
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) Fail("cannot write " + full);
  return full;
}

std::optional<std::string> ScratchDir::ReadFile(const std::string& name) const {
  return ReadWholeFile(Join(name));
}

std::string FileContent(const std::string& path) { return ReadWholeFile(path).value_or(""); }

std::vector<std::string> EntryNames(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    names.push_back(entry.path().filename().string());
  }
  // An unreadable directory must not pass for an empty one.
  if (error) ADD_FAILURE() << "cannot list " << directory << ": " << error.message();
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str()); old != nullptr) previous_ = old;
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    ::setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

}  // namespace testing_support
