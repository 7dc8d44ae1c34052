// The running-application guard: the host application must be closed before any product is
// patched, and the user is held in a Retry/Cancel box while it runs.
#pragma once

#include "platform/platform.h"

// Capacity of WatchedImageName in characters, terminator included.
inline constexpr int kWatchedImageNameCapacity = 16;

// The image name ConfirmHostClosed looks for. It copies "kyro.exe" here at each call and
// checks this buffer; the name stays here after the call returns.
extern platform::WCHAR WatchedImageName[kWatchedImageNameCapacity];

// True when a process other than the system entry (id 0) runs whose image name, without a
// path, equals `imageName` ignoring letter case; also true when the process list cannot be
// taken, so that a failure holds the run rather than lets it patch under a running host.
// `imageName` is a terminated text; the snapshot is closed before returning.
bool IsProcessRunning(platform::LPCWSTR imageName);

// Waits until no "kyro.exe" runs: while one does, shows the guard's Retry/Cancel box
// (texts 311 and 315 of ModuleInstance in the thread's current language), whatever the
// quiet switch says. True once none runs, false when the user answers Cancel or closes the
// box. Shows no box when none runs at the first check.
bool ConfirmHostClosed();
