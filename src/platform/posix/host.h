// Pieces shared by the files of the emulated Windows host: process start-up, the
// executable's module, and the conversions at the host's edges (UTF-8 for the terminal,
// file names and libmsi; '/' for paths).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace platform::posix {

// One resource of a module, as the build embeds it. A type or name is a string when its
// text is not null, else the integer id beside it.
struct EmbeddedResource {
  const char16_t* TypeName;
  WORD TypeId;
  const char16_t* Name;
  WORD NameId;
  LANGID Language;
  const unsigned char* Begin;
  const unsigned char* End;
};

// Records argv for GetCommandLineW and settles the user default locale; ignores SIGXFSZ, so
// that a write beyond a file-size limit fails (ERROR_DISK_FULL) instead of killing the
// process before it cleans up. Called first by main; tests may call it again to stand for
// another process start.
void InitializeProcess(int argc, char** argv);

// argv as InitializeProcess recorded it (empty before).
const std::vector<std::string>& ProcessArguments();

// The executable's own module: the resource table that the build embedded.
HINSTANCE MainModule();

// A module over a table of one's own (tests use it for a module without some resource).
// The table must outlive the module, which lives as long as the process.
HINSTANCE MakeModule(const EmbeddedResource* resources, std::size_t count);

// Text conversions at the host's edges. Invalid sequences become U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// The code point at `i` of UTF-16 text, advancing `i` past it; a lone surrogate reads as
// U+FFFD.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i);
// Appends `c` to UTF-16 text, as a surrogate pair above U+FFFF.
void AppendCodePoint(std::u16string& out, char32_t c);

// A Windows-shaped path as the file system takes it: UTF-8, backslashes made '/'.
std::string NativePath(LPCWSTR path);

// A Windows path resolved as NTFS resolves names, for the file system: NativePath, then
// trailing dots and spaces dropped from the last component (as Windows drops them), and
// each component that exists under another letter case replaced by the existing name, so
// that a name differing only in case opens the existing file. False, with
// ERROR_INVALID_NAME (123) set, for a name holding a character Windows refuses in names
// (< > : " | ? * and control characters).
bool ResolveWindowsPath(LPCWSTR path, std::string& native);

// The directory that holds the last component of a '/' path (trailing separators
// ignored): "." for a bare name, "/" for a name in the root.
std::string DirectoryOf(const std::string& path);

// Opens `path` with `flags` (O_DIRECTORY for a directory) and flushes it to the disk;
// false with errno set when either step fails.
bool SyncPath(const std::string& path, int flags);

// A file descriptor owned by a holder; locks taken through it end when it is closed. The
// close keeps errno, so that a failure's cause survives the cleanup after it.
struct FileDescriptorTraits {
  using Handle = int;
  static Handle Invalid() { return -1; }
  static bool IsValid(Handle handle) { return handle >= 0; }
  static void Close(Handle handle);
};
using ScopedFileDescriptor = ScopedHandle<FileDescriptorTraits>;

// Maps the errno of a failed system call to the Windows last-error code and sets it.
void SetLastErrorFromErrno(int error);

// The names in directory `path`, without "." and ".."; empty when it cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& path);

// Opens `path` read-only when it names a regular file (a link to one included), found out
// without blocking: a FIFO, device, socket or directory is refused (errno EINVAL), never
// waited on. An invalid holder with errno set otherwise.
ScopedFileDescriptor OpenRegularFile(const std::string& path);
// A path naming the very file open on `descriptor` (/proc/self/fd/N), for a library that
// opens files by name: it cannot be swapped for another file between the check and the open.
std::string PinnedPath(int descriptor);

}  // namespace platform::posix

// The module handle of the emulated host: a table of embedded resources.
struct platform::HINSTANCE__ {
  const platform::posix::EmbeddedResource* Resources;
  std::size_t Count;
};

// The table generated from the resource script (resources/).
extern "C" const platform::posix::EmbeddedResource spsetup_embedded_resources[];
extern "C" const std::size_t spsetup_embedded_resource_count;
