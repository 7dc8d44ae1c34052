// A disk that fills up half way, for tests of code that writes files: while the holder
// lives, WriteFile of the emulated host writes the first `bytesBeforeFailure` bytes (in
// total, over every WriteFile) and then fails with `error` (ENOSPC: ERROR_DISK_FULL).
#pragma once

#include <cerrno>
#include <cstddef>

#include "platform/posix/files.h"

namespace testing_support {

class ScopedWriteFailure {
 public:
  explicit ScopedWriteFailure(std::size_t bytesBeforeFailure, int error = ENOSPC);
  ScopedWriteFailure(const ScopedWriteFailure&) = delete;
  ScopedWriteFailure& operator=(const ScopedWriteFailure&) = delete;
  ~ScopedWriteFailure();

  // The bytes that reached files while the failure was in place.
  std::size_t BytesWritten() const;

 private:
  platform::posix::WriteCall previous_;
};

}  // namespace testing_support
