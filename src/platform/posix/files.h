// Kernel handles of the emulated host (files and process snapshots) and the test hook of
// file writes.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <vector>

#include "platform/platform.h"

namespace platform::posix {

// What a HANDLE points at: one record for every kind, told apart by its tag, so that
// CloseHandle and the checks of each operation need no class hierarchy.
enum class KernelObjectKind { File, ProcessSnapshot };

struct KernelObject {
  KernelObjectKind Kind;
  // File: the open descriptor (it also holds the share-mode locks) and the access asked.
  int Descriptor = -1;
  DWORD Access = 0;
  // ProcessSnapshot: the entries taken, and the next one to hand out.
  std::vector<PROCESSENTRY32W> Processes;
  std::size_t NextProcess = 0;
};

// Makes a handle of `object` (owned from now on by the handle table until CloseHandle).
HANDLE RegisterKernelObject(KernelObject* object);
// The live object behind `handle` when it is of `kind`; else nullptr with
// ERROR_INVALID_HANDLE set.
KernelObject* LookUpKernelObject(HANDLE handle, KernelObjectKind kind);

// Test hook: the call WriteFile hands each chunk to (WriteFromMemoryOrImage below unless a
// test has swapped in another, for a disk that fills up half way). It returns the bytes written,
// or -1 with errno set. A test restores the previous value when it ends.
using WriteCall = ssize_t (*)(int descriptor, const void* data, std::size_t count);
extern WriteCall FileWriteCall;

// Test hook: the open(2) CreateFileW makes (for a directory the process may not create
// files in, whatever its rights: tests run as root too). Returns a descriptor, or -1 with
// errno set. A test restores the previous value when it ends.
using OpenCall = int (*)(const char* path, int flags, mode_t mode);
extern OpenCall FileOpenCall;

// Test hook: the lstat(2) GetFileAttributesW makes (for a directory that may be listed but
// not searched, whatever the process's rights). Returns 0, or -1 with errno set. A test
// restores the previous value when it ends.
using StatusCall = int (*)(const char* path, struct stat* info);
extern StatusCall FileStatusCall;

// The system call behind WriteFile: write(2), except for bytes of the executable's own
// read-only image (an embedded resource), which the kernel copies from the executable file
// (copy_file_range), where the target allows it. Returns what one step wrote, as write(2).
ssize_t WriteFromMemoryOrImage(int descriptor, const void* data, std::size_t count);

}  // namespace platform::posix
