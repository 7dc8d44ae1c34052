#include "support/scratch_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace testing_support {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "test support: %s\n", what.c_str());
  std::abort();
}

std::u16string Widen(const std::string& text) {
  // Test paths are ASCII or UTF-8; a plain decoder keeps this file free of the backend.
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    char32_t c = lead;
    int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    if (extra > 0) c = lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
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

std::u16string ScratchDir::PathW() const { return Widen(path_); }

std::u16string ScratchDir::JoinW(const std::string& name) const { return Widen(Join(name)); }

std::string ScratchDir::WriteFile(const std::string& name, const std::string& content) const {
  std::string full = Join(name);
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) Fail("cannot write " + full);
  return full;
}

std::optional<std::string> ScratchDir::ReadFile(const std::string& name) const {
  std::ifstream in(Join(name), std::ios::binary);
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
