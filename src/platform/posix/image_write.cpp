// Writing bytes of the executable's own image (an embedded resource) to a file by a copy
// inside the kernel, from the executable file, instead of from its mapping: the pages of
// a large payload are neither faulted into the process nor copied through it.
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform/posix/files.h"
#include "platform/posix/host.h"

namespace platform::posix {
namespace {

// The most one step copies; WriteFile's loop asks again for the rest.
constexpr std::size_t kImageCopyStep = std::size_t{8} << 20;

// A read-only segment of the main program as loaded: its addresses and where it lies in the
// executable file.
struct ImageSegment {
  std::uintptr_t Start = 0;
  std::uintptr_t End = 0;
  off_t FileOffset = 0;
};

std::vector<ImageSegment> ReadOnlySegments() {
  std::vector<ImageSegment> segments;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* out) {
        auto& found = *static_cast<std::vector<ImageSegment>*>(out);
        for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& header = info->dlpi_phdr[i];
          if (header.p_type != PT_LOAD || (header.p_flags & PF_W) != 0) continue;
          std::uintptr_t start = info->dlpi_addr + header.p_vaddr;
          found.push_back({start, start + header.p_filesz, static_cast<off_t>(header.p_offset)});
        }
        return 1;  // the main program comes first; the libraries are not its image
      },
      &segments);
  return segments;
}

// Where `count` bytes at `data` lie in the executable file; -1 when not wholly inside one
// read-only segment.
off_t ImageOffsetOf(const void* data, std::size_t count) {
  static const std::vector<ImageSegment> segments = ReadOnlySegments();
  auto address = reinterpret_cast<std::uintptr_t>(data);
  for (const ImageSegment& segment : segments) {
    if (address >= segment.Start && address < segment.End && count <= segment.End - address) {
      return segment.FileOffset + static_cast<off_t>(address - segment.Start);
    }
  }
  return -1;
}

}  // namespace

ssize_t WriteFromMemoryOrImage(int descriptor, const void* data, std::size_t count) {
  // 1. Bytes of the image: copied from the executable file (/proc/self/exe is the very file
  //    mapped, even when its path was replaced meanwhile).
  off_t offset = count > 0 ? ImageOffsetOf(data, count) : -1;
  if (offset >= 0) {
    ScopedFileDescriptor image(::open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (image) {
      off_t start = ::lseek(descriptor, 0, SEEK_CUR);
      ssize_t copied = ::copy_file_range(image.Get(), &offset, descriptor, nullptr,
                                         std::min(count, kImageCopyStep), 0);
      // A payload is written out to reach the disk: starting each step's writeback now
      // (without waiting for it) leaves less for the flush that follows to wait for.
      if (copied > 0 && start >= 0) {
        ::sync_file_range(descriptor, start, copied, SYNC_FILE_RANGE_WRITE);
      }
      // 2. A target the kernel cannot copy into (a pipe, a file opened for appending, another
      //    kind of file system) takes the ordinary write; a failing disk is reported.
      if (copied > 0 || (copied < 0 && errno != EXDEV && errno != EINVAL && errno != EBADF &&
                         errno != ENOSYS && errno != EOPNOTSUPP && errno != ETXTBSY)) {
        return copied;
      }
    }
  }
  // 3. Anything else, as written.
  return ::write(descriptor, data, count);
}

}  // namespace platform::posix
