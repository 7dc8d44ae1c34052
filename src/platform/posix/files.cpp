// Files of the emulated host: the real file system behind the Windows file operations,
// with Windows' names (ResolveWindowsPath: any letter case, trailing dots and spaces
// dropped, refused characters), share modes held between processes and error codes.

#include "platform/posix/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/posix/host.h"

namespace platform {
namespace posix {

WriteCall FileWriteCall = WriteFromMemoryOrImage;

OpenCall FileOpenCall = [](const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
};

StatusCall FileStatusCall = [](const char* path, struct stat* info) { return ::lstat(path, info); };

namespace {

constexpr DWORD kFileAttributeReadonly = 0x1;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kFileReadData = 0x1;
constexpr DWORD kFileWriteData = 0x2;

std::mutex& HandleTableLock() {
  static std::mutex lock;
  return lock;
}

std::unordered_set<KernelObject*>& HandleTable() {
  static std::unordered_set<KernelObject*> table;
  return table;
}

// ---------------------------------------------------------------------------------------
// Share modes between processes.
//
// Windows keeps, per file, who has it open for what and what each opener denies to the
// others; an open that conflicts fails with ERROR_SHARING_VIOLATION. Here every handle's
// open file description holds shared (read) locks of the open-file-description kind
// (F_OFD_SETLK) on single bytes far beyond any real data, one byte per fact:
//
//   kLockBase + 0  open for reading          kLockBase + 2  denies reading
//   kLockBase + 1  open for writing          kLockBase + 3  denies writing
//                                            kLockBase + 4  denies deleting
//
// Whether another handle holds a byte is asked with F_OFD_GETLK for an exclusive lock,
// which reports any shared lock of another open file description, in this process or
// another. The locks go away with the descriptor, also when a process dies. An opener
// checks and takes its bytes while holding an exclusive flock() on the file (the gate),
// so two openers never both pass the check. A file that cannot be opened for reading
// (write-only permission) cannot hold shared locks; such a handle neither holds nor
// honours share modes.
// ---------------------------------------------------------------------------------------

constexpr off_t kLockBase = 0x7FFFFFFF00000000;
enum LockByte : off_t {
  kOpenForRead = 0,
  kOpenForWrite = 1,
  kDeniesRead = 2,
  kDeniesWrite = 3,
  kDeniesDelete = 4,
};

bool OthersHold(int descriptor, LockByte byte) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kLockBase + byte;
  lock.l_len = 1;
  if (::fcntl(descriptor, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

// Whether any other handle has the file open, whatever it shares.
bool OthersHoldAny(int descriptor) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kLockBase;
  lock.l_len = kDeniesDelete + 1;
  if (::fcntl(descriptor, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

bool Hold(int descriptor, LockByte byte) {
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kLockBase + byte;
  lock.l_len = 1;
  return ::fcntl(descriptor, F_OFD_SETLK, &lock) == 0;
}

// The gate: held while a handle checks and takes its bytes, or while a name is deleted.
// Openers hold it for microseconds; should some other program keep a flock() on the file,
// the open goes on without the gate after a while rather than hang.
class Gate {
 public:
  explicit Gate(int descriptor) : descriptor_(descriptor) {
    for (int attempt = 0; attempt < 2000 && !held_; ++attempt) {
      held_ = ::flock(descriptor_, LOCK_EX | LOCK_NB) == 0;
      if (!held_ && errno != EWOULDBLOCK && errno != EINTR) break;
      if (!held_) ::usleep(1000);
    }
  }
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;
  ~Gate() {
    if (held_) ::flock(descriptor_, LOCK_UN);
  }

 private:
  int descriptor_;
  bool held_ = false;
};

// Checks `access` and `shareMode` against every other handle of the file and records this
// handle's own. False when they conflict.
bool TakeShareLocks(int descriptor, bool read, bool write, DWORD shareMode) {
  Gate gate(descriptor);
  if (read && OthersHold(descriptor, kDeniesRead)) return false;
  if (write && OthersHold(descriptor, kDeniesWrite)) return false;
  if ((shareMode & FILE_SHARE_READ) == 0 && OthersHold(descriptor, kOpenForRead)) return false;
  if ((shareMode & FILE_SHARE_WRITE) == 0 && OthersHold(descriptor, kOpenForWrite)) return false;
  if (read) Hold(descriptor, kOpenForRead);
  if (write) Hold(descriptor, kOpenForWrite);
  if ((shareMode & FILE_SHARE_READ) == 0) Hold(descriptor, kDeniesRead);
  if ((shareMode & FILE_SHARE_WRITE) == 0) Hold(descriptor, kDeniesWrite);
  if ((shareMode & FILE_SHARE_DELETE) == 0) Hold(descriptor, kDeniesDelete);
  return true;
}

// Runs `remove` (an unlink or rename of the regular file at `path`) unless an open handle
// denies deleting it. False with ERROR_SHARING_VIOLATION when one does; otherwise what
// `remove` returns.
template <typename Remove>
bool RemoveUnlessDenied(const std::string& path, Remove remove) {
  ScopedFileDescriptor file(
      ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!file) return remove();  // not a file we can look into: nothing to honour
  struct stat info {};
  bool regular = ::fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode);
  Gate gate(file.Get());
  if (regular && OthersHold(file.Get(), kDeniesDelete)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  return remove();
}

// Whether a handle has the regular file at `path` open. Windows never replaces such a file
// by a rename, even where every handle shares deleting.
bool HeldOpen(const std::string& path) {
  ScopedFileDescriptor file(
      ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat info {};
  return file && ::fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode) &&
         OthersHoldAny(file.Get());
}

// ---------------------------------------------------------------------------------------
// Paths and errors
// ---------------------------------------------------------------------------------------

// A name that is not there: ERROR_FILE_NOT_FOUND when its directory exists, else
// ERROR_PATH_NOT_FOUND, as Windows tells them apart.
void SetMissingError(const std::string& path) {
  struct stat info {};
  std::string parent = DirectoryOf(path);
  bool parentIsDirectory = ::stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  SetLastError(parentIsDirectory ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
}

void SetErrorFor(int error, const std::string& path) {
  if (error == ENOENT) {
    SetMissingError(path);
  } else {
    SetLastErrorFromErrno(error);
  }
}

// Opens with `flags`; on EEXIST or ENOENT races of the *_ALWAYS dispositions the caller
// tries again.
int OpenRetrying(const std::string& path, int flags) {
  int descriptor;
  do {
    descriptor = FileOpenCall(path.c_str(), flags, 0666);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

KernelObject* TakeKernelObject(HANDLE handle) {
  std::lock_guard<std::mutex> guard(HandleTableLock());
  auto* object = static_cast<KernelObject*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || HandleTable().erase(object) == 0) {
    return nullptr;
  }
  return object;
}

}  // namespace

HANDLE RegisterKernelObject(KernelObject* object) {
  std::lock_guard<std::mutex> guard(HandleTableLock());
  HandleTable().insert(object);
  return object;
}

KernelObject* LookUpKernelObject(HANDLE handle, KernelObjectKind kind) {
  std::lock_guard<std::mutex> guard(HandleTableLock());
  auto* object = static_cast<KernelObject*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || HandleTable().count(object) == 0 ||
      object->Kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

}  // namespace posix

using posix::KernelObject;
using posix::KernelObjectKind;

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, void* /*security*/,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE /*templateFile*/) {
  // 1. What is asked: reading, writing, and how the name is to be found or made.
  bool read = (access & (GENERIC_READ | posix::kGenericAll | posix::kFileReadData)) != 0;
  bool write =
      (access & (GENERIC_WRITE | posix::kGenericAll | posix::kFileWriteData | FILE_APPEND_DATA)) !=
      0;
  if (path == nullptr || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !write)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string native;
  if (!posix::ResolveWindowsPath(path, native)) return INVALID_HANDLE_VALUE;
  if (native.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // A file is opened for reading too, so that its handle can hold share-mode locks. A
  // device or pipe gets exactly the access asked: a pipe opened for reading as well would
  // be its own reader, and a write nobody else reads would wait for ever. Opening without
  // waiting makes a pipe that nobody reads fail at once (ENXIO).
  int accessFlags = write ? O_RDWR : O_RDONLY;
  struct stat present {};
  if (::stat(native.c_str(), &present) == 0 && !S_ISREG(present.st_mode) &&
      !S_ISDIR(present.st_mode)) {
    accessFlags = read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  }
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | accessFlags;
  // Append access alone: every write goes to the end, as the file is at that moment.
  if ((access & FILE_APPEND_DATA) != 0 &&
      (access & (GENERIC_WRITE | posix::kGenericAll | posix::kFileWriteData)) == 0) {
    flags |= O_APPEND;
  }
  if ((flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0) flags |= O_NOFOLLOW;

  // 2. Open or create. CREATE_NEW never opens an existing name, a link included
  // (O_EXCL). The *_ALWAYS dispositions first try to create, so that they know whether
  // the file was there.
  int descriptor = -1;
  bool existed = false;
  for (int attempt = 0; attempt < 16 && descriptor < 0; ++attempt) {
    bool create =
        disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    if (create) {
      descriptor = posix::OpenRetrying(native, flags | O_CREAT | O_EXCL);
      if (descriptor >= 0 || errno != EEXIST || disposition == CREATE_NEW) break;
    }
    descriptor = posix::OpenRetrying(native, flags);
    if (descriptor < 0 && write && errno == EACCES && (access & GENERIC_READ) == 0) {
      // Write-only permission: the handle works, without share-mode locks.
      descriptor = posix::OpenRetrying(native, (flags & ~O_RDWR) | O_WRONLY);
    }
    existed = descriptor >= 0;
    if (descriptor < 0 && !(create && errno == ENOENT)) break;  // ENOENT: gone meanwhile
  }
  if (descriptor < 0) {
    posix::SetErrorFor(errno, native);
    return INVALID_HANDLE_VALUE;
  }
  posix::ScopedFileDescriptor file(descriptor);
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);

  // 3. The share mode, against every other handle of the file.
  bool lockable = (::fcntl(descriptor, F_GETFL) & O_ACCMODE) != O_WRONLY;
  if (lockable && !posix::TakeShareLocks(descriptor, read, write, shareMode)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }

  // 4. Truncate only now: a file another handle denies writing is left as it was. A device
  // or pipe has nothing to cut.
  if (existed && S_ISREG(info.st_mode) &&
      (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) &&
      ::ftruncate(descriptor, 0) != 0) {
    posix::SetLastErrorFromErrno(errno);
    return INVALID_HANDLE_VALUE;
  }

  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) {
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  }
  auto object = std::make_unique<KernelObject>();
  object->Kind = KernelObjectKind::File;
  object->Descriptor = file.Release();
  object->Access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
  return posix::RegisterKernelObject(object.release());
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
  KernelObject* object = posix::LookUpKernelObject(file, KernelObjectKind::File);
  if (object == nullptr) return INVALID_SET_FILE_POINTER;
  std::int64_t move =
      distanceHigh == nullptr
          ? std::int64_t{distance}
          : static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                static_cast<std::uint32_t>(distance));
  std::int64_t origin;
  if (moveMethod == FILE_BEGIN) {
    origin = 0;
  } else if (moveMethod == FILE_CURRENT) {
    origin = ::lseek(object->Descriptor, 0, SEEK_CUR);
  } else if (moveMethod == FILE_END) {
    struct stat info {};
    origin = ::fstat(object->Descriptor, &info) == 0 ? info.st_size : -1;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (origin < 0) {
    posix::SetLastErrorFromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t target = origin + move;
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh == nullptr && target > 0xFFFFFFFE) {
    // Without the high part the new position must fit the result.
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (::lseek(object->Descriptor, static_cast<off_t>(target), SEEK_SET) < 0) {
    posix::SetLastErrorFromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(target >> 32);
  DWORD low = static_cast<DWORD>(target & 0xFFFFFFFF);
  // A position whose low part looks like the failure value is told apart by the code.
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return low;
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, DWORD* written, void* overlapped) {
  if (written != nullptr) *written = 0;
  KernelObject* object = posix::LookUpKernelObject(file, KernelObjectKind::File);
  if (object == nullptr) return 0;
  if (overlapped != nullptr || (data == nullptr && count > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((object->Access & GENERIC_WRITE) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  // One request writes everything: the system call may take less at a time.
  const auto* bytes = static_cast<const unsigned char*>(data);
  DWORD done = 0;
  while (done < count) {
    ssize_t step = posix::FileWriteCall(object->Descriptor, bytes + done, count - done);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) {
      posix::SetLastErrorFromErrno(step == 0 ? ENOSPC : errno);
      return 0;
    }
    done += static_cast<DWORD>(step);
    if (written != nullptr) *written = done;
  }
  return 1;
}

BOOL ReadFile(HANDLE file, LPVOID data, DWORD count, DWORD* read, void* overlapped) {
  if (read != nullptr) *read = 0;
  KernelObject* object = posix::LookUpKernelObject(file, KernelObjectKind::File);
  if (object == nullptr) return 0;
  if (overlapped != nullptr || (data == nullptr && count > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((object->Access & GENERIC_READ) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  // A file gives what was asked unless it ends first; the end is success with fewer.
  auto* bytes = static_cast<unsigned char*>(data);
  DWORD done = 0;
  while (done < count) {
    ssize_t step = ::read(object->Descriptor, bytes + done, count - done);
    if (step < 0 && errno == EINTR) continue;
    if (step < 0) {
      posix::SetLastErrorFromErrno(errno);
      return 0;
    }
    if (step == 0) break;
    done += static_cast<DWORD>(step);
    if (read != nullptr) *read = done;
  }
  return 1;
}

BOOL SetEndOfFile(HANDLE file) {
  KernelObject* object = posix::LookUpKernelObject(file, KernelObjectKind::File);
  if (object == nullptr) return 0;
  if ((object->Access & GENERIC_WRITE) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  off_t position = ::lseek(object->Descriptor, 0, SEEK_CUR);
  if (position < 0 || ::ftruncate(object->Descriptor, position) != 0) {
    posix::SetLastErrorFromErrno(errno);
    return 0;
  }
  return 1;
}

BOOL FlushFileBuffers(HANDLE file) {
  KernelObject* object = posix::LookUpKernelObject(file, KernelObjectKind::File);
  if (object == nullptr) return 0;
  if ((object->Access & GENERIC_WRITE) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  if (::fsync(object->Descriptor) != 0) {
    posix::SetLastErrorFromErrno(errno);
    return 0;
  }
  return 1;
}

BOOL CloseHandle(HANDLE handle) {
  KernelObject* object = posix::TakeKernelObject(handle);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  std::unique_ptr<KernelObject> owned(object);
  if (owned->Kind == KernelObjectKind::File) {
    // Closing the descriptor also drops the handle's share-mode locks.
    ::close(owned->Descriptor);
  }
  return 1;
}

BOOL DeleteFileW(LPCWSTR path) {
  std::string native;
  if (!posix::ResolveWindowsPath(path, native)) return 0;
  struct stat info {};
  if (native.empty() || ::lstat(native.c_str(), &info) != 0) {
    if (native.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
    } else {
      posix::SetErrorFor(errno, native);
    }
    return 0;
  }
  if (S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  bool ok = posix::RemoveUnlessDenied(native, [&native] {
    if (::unlink(native.c_str()) == 0) return true;
    posix::SetErrorFor(errno, native);
    return false;
  });
  return ok ? 1 : 0;
}

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR destination, DWORD flags) {
  if (existing == nullptr || destination == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string from;
  std::string to;
  if (!posix::ResolveWindowsPath(existing, from) || !posix::ResolveWindowsPath(destination, to)) {
    return 0;
  }
  struct stat info {};
  if (from.empty() || to.empty() || ::lstat(from.c_str(), &info) != 0) {
    if (from.empty() || to.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
    } else {
      posix::SetErrorFor(errno, from);
    }
    return 0;
  }
  bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
  bool writeThrough = (flags & MOVEFILE_WRITE_THROUGH) != 0;

  // 1. A replaced destination must not be open through any handle.
  if (replace && posix::HeldOpen(to)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  // 2. With write-through, the file's bytes reach the disk before its new name does.
  if (writeThrough && S_ISREG(info.st_mode) && !posix::SyncPath(from, 0)) {
    posix::SetErrorFor(errno, from);
    return 0;
  }
  // 3. The rename itself, in one step; without REPLACE_EXISTING it never replaces.
  bool moved = posix::RemoveUnlessDenied(from, [&] {
    int result;
    if (replace) {
      result = std::rename(from.c_str(), to.c_str());
    } else {
      result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
      if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the flag: the check and the rename are two steps here.
        struct stat present {};
        if (::lstat(to.c_str(), &present) == 0) {
          errno = EEXIST;
        } else {
          result = std::rename(from.c_str(), to.c_str());
        }
      }
    }
    if (result == 0) return true;
    if (errno == EEXIST) {
      SetLastError(ERROR_ALREADY_EXISTS);
    } else if (errno == EXDEV) {
      SetLastError(ERROR_NOT_SAME_DEVICE);
    } else if (errno == ENOENT) {
      posix::SetMissingError(to);
    } else {
      posix::SetLastErrorFromErrno(errno);
    }
    return false;
  });
  if (!moved) return 0;
  // 4. With write-through, the directory entry too.
  if (writeThrough && !posix::SyncPath(posix::DirectoryOf(to), O_DIRECTORY)) {
    posix::SetLastErrorFromErrno(errno);
    return 0;
  }
  return 1;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  std::string native;
  if (!posix::ResolveWindowsPath(path, native)) return INVALID_FILE_ATTRIBUTES;
  struct stat info {};
  if (native.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (posix::FileStatusCall(native.c_str(), &info) != 0) {
    posix::SetErrorFor(errno, native);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISLNK(info.st_mode)) {
    struct stat target {};
    bool directory = ::stat(native.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    return FILE_ATTRIBUTE_REPARSE_POINT | (directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
  }
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if ((info.st_mode & S_IWUSR) == 0) return posix::kFileAttributeReadonly;
  return FILE_ATTRIBUTE_NORMAL;
}

DWORD GetFullPathNameW(LPCWSTR path, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart) {
  if (path == nullptr || *path == u'\0') {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  // 1. Absolute: against the current directory. The result is a string operation: the
  // name need not exist.
  std::u16string input(path);
  for (char16_t& c : input) {
    if (c == u'\\') c = u'/';
  }
  if (input[0] != u'/') {
    std::unique_ptr<char, decltype(&std::free)> current(::getcwd(nullptr, 0), &std::free);
    if (current == nullptr) {
      posix::SetLastErrorFromErrno(errno);
      return 0;
    }
    input = posix::FromUtf8(current.get()) + u"/" + input;
  }
  // 2. Without "." and ".." components and repeated separators; a trailing separator
  // stays.
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find(u'/', start);
    if (end == std::u16string::npos) end = input.size();
    std::u16string part = input.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  std::u16string full;
  for (const std::u16string& part : parts) full += u"/" + part;
  bool directoryForm = input.back() == u'/' || full.empty();
  if (directoryForm) full += u'/';

  // 3. Windows' return convention.
  if (buffer == nullptr || full.size() + 1 > bufferLength) {
    return static_cast<DWORD>(full.size() + 1);
  }
  std::memcpy(buffer, full.c_str(), (full.size() + 1) * sizeof(char16_t));
  if (filePart != nullptr) {
    *filePart = directoryForm ? nullptr : buffer + full.rfind(u'/') + 1;
  }
  return static_cast<DWORD>(full.size());
}

DWORD GetFileType(HANDLE file) {
  KernelObject* object = posix::LookUpKernelObject(file, KernelObjectKind::File);
  if (object == nullptr) return FILE_TYPE_UNKNOWN;
  struct stat info {};
  if (::fstat(object->Descriptor, &info) != 0) {
    posix::SetLastErrorFromErrno(errno);
    return FILE_TYPE_UNKNOWN;
  }
  if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) return FILE_TYPE_DISK;
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FILE_TYPE_PIPE;
  // Block devices too: the system writes into a device and never replaces it, which is
  // what Windows' disk type would make it do.
  return FILE_TYPE_CHAR;
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  KernelObject* object = posix::LookUpKernelObject(file, KernelObjectKind::File);
  if (object == nullptr) return 0;
  struct stat info {};
  if (information == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (::fstat(object->Descriptor, &info) != 0) {
    posix::SetLastErrorFromErrno(errno);
    return 0;
  }
  auto fileTime = [](const struct timespec& at) {
    // 100-nanosecond intervals since 1601, as Windows counts.
    constexpr std::uint64_t kEpochDifference = 116444736000000000ULL;
    std::uint64_t ticks = kEpochDifference + static_cast<std::uint64_t>(at.tv_sec) * 10000000ULL +
                          static_cast<std::uint64_t>(at.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  };
  // A descriptor never stands for a link itself on this host, so no reparse point is shown.
  DWORD attributes = 0;
  if (S_ISDIR(info.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((info.st_mode & S_IWUSR) == 0) attributes |= posix::kFileAttributeReadonly;
  information->dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  information->ftCreationTime = fileTime(info.st_ctim);
  information->ftLastAccessTime = fileTime(info.st_atim);
  information->ftLastWriteTime = fileTime(info.st_mtim);
  information->dwVolumeSerialNumber = static_cast<DWORD>(info.st_dev);
  information->nFileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(info.st_size) >> 32);
  information->nFileSizeLow = static_cast<DWORD>(info.st_size);
  information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
  information->nFileIndexHigh = static_cast<DWORD>(static_cast<std::uint64_t>(info.st_ino) >> 32);
  information->nFileIndexLow = static_cast<DWORD>(info.st_ino);
  return 1;
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD bufferLength, DWORD flags) {
  KernelObject* object = posix::LookUpKernelObject(file, KernelObjectKind::File);
  if (object == nullptr) return 0;
  if (flags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // The kernel keeps the name each descriptor was reached by, links resolved. A file whose
  // last name is gone has no final path.
  struct stat info {};
  if (::fstat(object->Descriptor, &info) != 0 || info.st_nlink == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  std::string link = "/proc/self/fd/" + std::to_string(object->Descriptor);
  std::string name(4096, '\0');
  ssize_t length = ::readlink(link.c_str(), name.data(), name.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= name.size() || name[0] != '/') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  name.resize(static_cast<std::size_t>(length));
  std::u16string wide = posix::FromUtf8(name);
  if (buffer == nullptr || wide.size() + 1 > bufferLength) {
    return static_cast<DWORD>(wide.size() + 1);
  }
  std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
  return static_cast<DWORD>(wide.size());
}

BOOL ReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD /*flags*/,
                  LPVOID exclude, LPVOID reserved) {
  if (replaced == nullptr || replacement == nullptr || backup != nullptr || exclude != nullptr ||
      reserved != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string to = posix::NativePath(replaced);
  std::string from = posix::NativePath(replacement);
  // 1. Both files must be there, and be files.
  struct stat old {};
  struct stat fresh {};
  if (to.empty() || from.empty() || ::lstat(to.c_str(), &old) != 0 ||
      ::lstat(from.c_str(), &fresh) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (!S_ISREG(old.st_mode) || !S_ISREG(fresh.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  // 2. The replacement takes the replaced file's owner and group where this process may
  // give them (a group of its own, any owner for a privileged one), then its mode: the
  // mode last, since a change of owner clears the set-id bits.
  if (::lchown(from.c_str(), old.st_uid, old.st_gid) != 0) {
    ::lchown(from.c_str(), static_cast<uid_t>(-1), old.st_gid);
  }
  if (::chmod(from.c_str(), old.st_mode & 07777) != 0) {
    posix::SetErrorFor(errno, from);
    return 0;
  }
  // 3. The move, in one step, unless a handle denies deleting the replaced file.
  bool moved = posix::RemoveUnlessDenied(to, [&] {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    SetLastError(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED
                                                   : ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    return false;
  });
  if (!moved) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) SetLastError(ERROR_UNABLE_TO_REMOVE_REPLACED);
    return 0;
  }
  // 4. The new name reaches the disk with the directory.
  posix::SyncPath(posix::DirectoryOf(to), O_DIRECTORY);
  return 1;
}

}  // namespace platform
