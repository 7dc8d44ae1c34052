#include "support/write_failure.h"

#include <unistd.h>

namespace testing_support {
namespace {

std::size_t allowance = 0;
std::size_t written = 0;
int failure = ENOSPC;

ssize_t FailingWrite(int descriptor, const void* data, std::size_t count) {
  if (written >= allowance) {
    errno = failure;
    return -1;
  }
  std::size_t take = count < allowance - written ? count : allowance - written;
  ssize_t step = ::write(descriptor, data, take);
  if (step > 0) written += static_cast<std::size_t>(step);
  return step;
}

}  // namespace

ScopedWriteFailure::ScopedWriteFailure(std::size_t bytesBeforeFailure, int error)
    : previous_(platform::posix::FileWriteCall) {
  allowance = bytesBeforeFailure;
  written = 0;
  failure = error;
  platform::posix::FileWriteCall = FailingWrite;
}

ScopedWriteFailure::~ScopedWriteFailure() { platform::posix::FileWriteCall = previous_; }

std::size_t ScopedWriteFailure::BytesWritten() const { return written; }

}  // namespace testing_support
