#include "support/file_refusal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace testing_support {
namespace {

std::string creationRefusedIn;
std::string searchRefusedIn;
std::size_t refusals = 0;

// The directory a name lies in, links resolved, so that any spelling of it compares equal.
std::string ResolvedDirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash);
  if (directory.empty()) directory = "/";
  char resolved[PATH_MAX];
  return ::realpath(directory.c_str(), resolved) != nullptr ? resolved : directory;
}

std::string Resolved(const std::string& directory) {
  char resolved[PATH_MAX];
  return ::realpath(directory.c_str(), resolved) != nullptr ? resolved : directory;
}

int OpenRefusingCreation(const char* path, int flags, mode_t mode) {
  if ((flags & O_CREAT) != 0 && ResolvedDirectoryOf(path) == creationRefusedIn) {
    errno = EACCES;
    return -1;
  }
  return ::open(path, flags, mode);
}

int StatusRefusingSearch(const char* path, struct stat* info) {
  if (ResolvedDirectoryOf(path) == searchRefusedIn) {
    ++refusals;
    errno = EACCES;
    return -1;
  }
  return ::lstat(path, info);
}

}  // namespace

ScopedCreationRefused::ScopedCreationRefused(const std::string& directory)
    : previous_(platform::posix::FileOpenCall) {
  creationRefusedIn = Resolved(directory);
  platform::posix::FileOpenCall = OpenRefusingCreation;
}

ScopedCreationRefused::~ScopedCreationRefused() { platform::posix::FileOpenCall = previous_; }

ScopedSearchRefused::ScopedSearchRefused(const std::string& directory)
    : previous_(platform::posix::FileStatusCall) {
  searchRefusedIn = Resolved(directory);
  refusals = 0;
  platform::posix::FileStatusCall = StatusRefusingSearch;
}

ScopedSearchRefused::~ScopedSearchRefused() { platform::posix::FileStatusCall = previous_; }

std::size_t ScopedSearchRefused::Refusals() const { return refusals; }

}  // namespace testing_support
