// The target list of a patch package: the product codes it applies to, separated by ";".
#pragma once

#include <string>

#include "platform/platform.h"

// Opens the summary information of the package at `packagePath` (made absolute first) for
// reading. Returns the summary handle, which the caller closes, or 0 when the file cannot
// be opened as an installer package or its absolute path does not fit 260 characters.
platform::MSIHANDLE OpenPackageSummary(const std::u16string& packagePath);

// Reads summary property 7 of the package at `packagePath` into `targets` and returns
// true; a package without the property gives an empty list. A list longer than 2047
// characters takes a second read at its exact size; there is no third. On false (the
// package does not open, or the last read did not succeed) `targets` is left as it was.
// The summary handle is closed before returning.
bool ReadPatchTargets(const std::u16string& packagePath, std::u16string& targets);
