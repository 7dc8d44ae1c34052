// The emulated installer's registry and cache on disk, and the product queries
// (MsiQueryProductStateW, MsiGetProductInfoW) answered from it.
#include "platform/posix/installer_registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "platform/posix/host.h"
#include "platform/posix/installer_database.h"
#include "platform/posix/installer_handles.h"
#include "platform/posix/installer_steps.h"

namespace platform {
namespace posix {
namespace {

constexpr char kProductHeader[] = "spsetup-emu product 1";
constexpr char kProductSuffix[] = ".product";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string ProductFilePath(std::string_view code) {
  return ProductsDirectory() + "/" + CanonicalProductCode(code) + kProductSuffix;
}

bool MakeDirectories(const std::string& path) {
  std::string partial;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    partial = path.substr(0, slash);
    if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    start = slash + 1;
  }
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? line.npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

bool ParseNumber(std::string_view text, long long low, long long high, long long& value) {
  if (text.empty() || text.size() > 11) return false;
  std::string copy(text);
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(copy.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && value >= low && value <= high;
}

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// The whole content of the regular file at `path`, which is found out without blocking.
// False with errno set (EINVAL for a FIFO, device or directory).
bool ReadRegularFile(const std::string& path, std::string& content) {
  ScopedFileDescriptor file = OpenRegularFile(path);
  if (!file) return false;
  content.clear();
  char buffer[65536];
  while (true) {
    ssize_t got = read(file.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Reads an entry in one pass: each line is looked at once and each property found by its
// name in a table, so the time grows with the size of the entry, not with its square.
bool ParseProduct(std::string_view content, ProductEntry& entry, std::string& problem) {
  std::size_t start = 0;
  auto nextLine = [&](std::string_view& line) {
    if (start >= content.size()) return false;
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    line = content.substr(start, end - start);
    start = end + 1;
    return true;
  };
  std::string_view line;
  if (!nextLine(line) || line != kProductHeader) {
    problem = "not a product entry (bad first line)";
    return false;
  }
  bool sawState = false;
  std::unordered_map<std::string, std::size_t> propertyAt;
  while (nextLine(line)) {
    std::vector<std::string_view> fields = SplitTabs(line);
    long long number = 0;
    if (fields[0] == "state" && fields.size() == 2 && ParseNumber(fields[1], -2, 10, number) &&
        (number == INSTALLSTATE_DEFAULT || number == INSTALLSTATE_ADVERTISED)) {
      entry.State = static_cast<INSTALLSTATE>(number);
      sawState = true;
    } else if (fields[0] == "fail" && fields.size() == 2 &&
               ParseNumber(fields[1], 0, 0xFFFFFFFFLL, number)) {
      entry.ForcedResult = static_cast<UINT>(number);
    } else if (fields[0] == "property" && fields.size() == 3) {
      std::string name;
      std::string value;
      if (!Unescape(fields[1], name) || !IsPropertyName(name) || !Unescape(fields[2], value)) {
        problem = "bad property line: " + std::string(line);
        return false;
      }
      auto [at, added] = propertyAt.try_emplace(name, entry.Properties.size());
      if (added) {
        entry.Properties.emplace_back(std::move(name), std::move(value));
      } else {
        entry.Properties[at->second].second = std::move(value);
      }
    } else {
      problem = "bad line: " + std::string(line);
      return false;
    }
  }
  if (!sawState) {
    problem = "no state line";
    return false;
  }
  return true;
}

std::string FormatProduct(const ProductEntry& entry) {
  std::string text = std::string(kProductHeader) + "\n";
  text += "state\t" + std::to_string(entry.State) + "\n";
  if (entry.ForcedResult) text += "fail\t" + std::to_string(*entry.ForcedResult) + "\n";
  for (const auto& [name, value] : entry.Properties) {
    text += "property\t" + Escape(name) + "\t" + Escape(value) + "\n";
  }
  return text;
}

std::string InstallerRoot() {
  // 1. The root as the environment names it.
  std::string root = Environment("EMU_INSTALLER_ROOT");
  if (root.empty()) {
    std::string state = Environment("XDG_STATE_HOME");
    if (state.empty()) state = Environment("HOME") + "/.local/state";
    root = state + "/spsetup-emu/installer";
  }
  // 2. Absolute: a registered LocalPackage must name the cached package from any
  //    directory a later process runs in.
  if (root[0] != '/') {
    std::unique_ptr<char, decltype(&std::free)> current(getcwd(nullptr, 0), &std::free);
    if (current != nullptr) root = std::string(current.get()) + "/" + root;
  }
  return root;
}

std::string ProductsDirectory() { return InstallerRoot() + "/products"; }
std::string CacheDirectory() { return InstallerRoot() + "/cache"; }
std::string RegistryLockPath() { return InstallerRoot() + "/registry.lock"; }
std::string ConfigureLockPath() { return InstallerRoot() + "/configure.lock"; }

bool IsProductCode(std::string_view text) {
  static constexpr int kGroups[] = {8, 4, 4, 4, 12};
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  std::size_t at = 1;
  for (int group = 0; group < 5; ++group) {
    for (int i = 0; i < kGroups[group]; ++i, ++at) {
      if (!std::isxdigit(static_cast<unsigned char>(text[at]))) return false;
    }
    if (group < 4 && text[at++] != '-') return false;
  }
  return at == 37;
}

std::string CanonicalProductCode(std::string_view code) {
  std::string canonical(code);
  for (char& c : canonical) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return canonical;
}

ProductRead ReadProduct(std::string_view code, ProductEntry& entry, std::string* problem) {
  if (!IsProductCode(code)) return ProductRead::Missing;
  std::string content;
  if (!ReadRegularFile(ProductFilePath(code), content)) {
    if (errno == ENOENT || errno == ENOTDIR) return ProductRead::Missing;
    if (problem != nullptr) *problem = SystemError("cannot read the entry");
    return ProductRead::Damaged;
  }
  ProductEntry parsed;
  parsed.Code = CanonicalProductCode(code);
  std::string reason;
  if (!ParseProduct(content, parsed, reason)) {
    if (problem != nullptr) *problem = reason;
    return ProductRead::Damaged;
  }
  entry = std::move(parsed);
  return ProductRead::Found;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* problem) {
  std::string directory = DirectoryOf(path);
  if (!MakeDirectories(directory)) {
    if (problem != nullptr) *problem = SystemError("cannot create " + directory);
    return false;
  }
  std::string temporary = path + ".new-XXXXXX";
  int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) {
    if (problem != nullptr) *problem = SystemError("cannot create a file in " + directory);
    return false;
  }
  bool ok = fchmod(descriptor, 0644) == 0;
  for (std::size_t done = 0; ok && done < content.size();) {
    ssize_t wrote = write(descriptor, content.data() + done, content.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    ok = wrote > 0;
    if (ok) done += static_cast<std::size_t>(wrote);
  }
  ok = ok && SyncDescriptorStep(descriptor, temporary);
  ok = close(descriptor) == 0 && ok;
  ok = ok && RenameStep(temporary, path);
  if (!ok) {
    if (problem != nullptr) *problem = SystemError("cannot write " + path);
    unlink(temporary.c_str());
    return false;
  }
  SyncStep(directory, O_DIRECTORY);
  return true;
}

bool WriteProduct(const ProductEntry& entry, std::string* problem) {
  return WriteFileAtomically(ProductFilePath(entry.Code), FormatProduct(entry), problem);
}

bool RemoveProduct(std::string_view code) {
  if (!IsProductCode(code)) return false;
  if (!UnlinkStep(ProductFilePath(code))) return false;
  SyncStep(ProductsDirectory(), O_DIRECTORY);
  return true;
}

std::vector<std::string> ListProductCodes() {
  std::vector<std::string> codes;
  std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(ProductsDirectory().c_str()), &closedir);
  if (directory == nullptr) return codes;
  const std::size_t suffix = std::strlen(kProductSuffix);
  while (dirent* item = readdir(directory.get())) {
    std::string name = item->d_name;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kProductSuffix) != 0) {
      continue;
    }
    std::string code = name.substr(0, name.size() - suffix);
    if (IsProductCode(code)) codes.push_back(code);
  }
  std::sort(codes.begin(), codes.end());
  return codes;
}

const std::string* FindProperty(const ProductEntry& entry, std::string_view name) {
  for (const auto& [key, value] : entry.Properties) {
    if (key == name) return &value;
  }
  return nullptr;
}

void SetProperty(ProductEntry& entry, std::string_view name, std::string_view value) {
  for (auto& [key, stored] : entry.Properties) {
    if (key == name) {
      stored = value;
      return;
    }
  }
  entry.Properties.emplace_back(name, value);
}

bool IsPropertyName(std::string_view name) {
  return !name.empty() && name.find_first_of("\t\r\n=") == std::string_view::npos;
}

ScopedFileDescriptor LockFile(const std::string& path, bool wait) {
  if (!MakeDirectories(DirectoryOf(path))) return ScopedFileDescriptor();
  ScopedFileDescriptor lock(
      open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644));
  struct stat status {};
  if (lock && (fstat(lock.Get(), &status) != 0 || !S_ISREG(status.st_mode))) lock.Reset();
  if (!lock) return lock;
  int result;
  do {
    result = flock(lock.Get(), LOCK_EX | (wait ? 0 : LOCK_NB));
  } while (result != 0 && errno == EINTR);
  if (result != 0) lock.Reset();
  return lock;
}

namespace {

bool Contains(std::string_view name, std::string_view part) {
  return name.find(part) != std::string_view::npos;
}

// A commit directory nobody holds: its contents and itself go. One held by a live database
// handle stays.
void RemoveUnheldCommitDirectory(const std::string& path) {
  ScopedFileDescriptor lock(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (!lock || flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) return;
  for (const std::string& name : DirectoryEntries(path)) UnlinkStep(path + "/" + name);
  rmdir(path.c_str());
}

}  // namespace

void RemoveLeftovers() {
  const std::string cache = CacheDirectory();
  bool removed = false;
  for (const std::string& name : DirectoryEntries(cache)) {
    const std::string path = cache + "/" + name;
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) continue;
    if (name[0] == '.' && Contains(name, kCommitDirectoryInfix) && S_ISDIR(status.st_mode)) {
      RemoveUnheldCommitDirectory(path);
      continue;
    }
    if (!S_ISREG(status.st_mode)) continue;
    // An unfinished copy into the cache, a commit file or output of an earlier layout, or
    // the cached package of a product that is not registered (an install or uninstall that
    // stopped between its two steps).
    bool leftover = Contains(name, ".new-") || name.rfind(".gsf-save-", 0) == 0 ||
                    (name[0] == '.' && Contains(name, kCommitDirectoryInfix));
    const std::size_t dot = name.size() >= 4 ? name.size() - 4 : 0;
    if (!leftover && name.compare(dot, std::string::npos, ".msi") == 0) {
      const std::string code = name.substr(0, dot);
      ProductEntry entry;
      leftover = IsProductCode(code) && CanonicalProductCode(code) == code &&
                 ReadProduct(code, entry) == ProductRead::Missing;
    }
    if (leftover) removed |= UnlinkStep(path);
  }
  for (const std::string& name : DirectoryEntries(ProductsDirectory())) {
    if (Contains(name, ".new-")) removed |= UnlinkStep(ProductsDirectory() + "/" + name);
  }
  if (removed) {
    SyncStep(cache, O_DIRECTORY);
    SyncStep(ProductsDirectory(), O_DIRECTORY);
  }
}

std::string CachePackage(const std::string& source, std::string_view code, std::string* problem) {
  std::string content;
  if (!ReadRegularFile(source, content)) {
    if (problem != nullptr) {
      *problem = errno == EINVAL ? source + " is not a regular file"
                                 : SystemError("cannot read " + source);
    }
    return {};
  }
  std::string target = CacheDirectory() + "/" + CanonicalProductCode(code) + ".msi";
  if (!WriteFileAtomically(target, content, problem)) return {};
  return target;
}

}  // namespace posix

INSTALLSTATE MsiQueryProductStateW(LPCWSTR product) {
  if (product == nullptr) return INSTALLSTATE_INVALIDARG;
  std::string code = posix::ToUtf8(product);
  if (!posix::IsProductCode(code)) return INSTALLSTATE_INVALIDARG;
  posix::ProductEntry entry;
  if (posix::ReadProduct(code, entry) != posix::ProductRead::Found) return INSTALLSTATE_UNKNOWN;
  return entry.State;
}

UINT MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR buffer, DWORD* count) {
  if (product == nullptr || property == nullptr) return ERROR_INVALID_PARAMETER;
  if (buffer != nullptr && count == nullptr) return ERROR_INVALID_PARAMETER;
  std::string code = posix::ToUtf8(product);
  if (!posix::IsProductCode(code)) return ERROR_INVALID_PARAMETER;
  posix::ProductEntry entry;
  if (posix::ReadProduct(code, entry) != posix::ProductRead::Found) return ERROR_UNKNOWN_PRODUCT;
  std::string name = posix::ToUtf8(property);
  std::string value;
  if (name == "State") {
    value = std::to_string(entry.State);  // INSTALLPROPERTY_PRODUCTSTATE
  } else if (const std::string* stored = posix::FindProperty(entry, name)) {
    value = *stored;
  } else {
    return ERROR_UNKNOWN_PROPERTY;
  }
  return posix::CopyOutText(posix::FromUtf8(value), buffer, count);
}

}  // namespace platform
