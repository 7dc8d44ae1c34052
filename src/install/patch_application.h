// Applying the patch package to one product through the installer service.
#pragma once

#include <string>

#include "platform/platform.h"
#include "products/product_record.h"

// Sets `record.PatchCommandLine` to the installer command line that applies the package at
// `packagePath`: PATCH="path" PATCH_NO_UNINSTALL=0 REBOOTPROMPT=S FILESINUSETEXT="text 316",
// text 316 loaded in the thread's current language, each value written by the installer's
// property syntax (a quote inside a value doubled). Returns false, with the last error set
// and PatchCommandLine left as it was, when the line cannot say what it must: a package path
// holding ";" (the installer would read two packages: ERROR_INVALID_NAME) or a line longer
// than 1023 characters (ERROR_FILENAME_EXCED_RANGE); it is never cut.
bool BuildPatchCommandLine(ProductRecord& record, const std::u16string& packagePath);

// True for the installer results that mean the patch was applied: 0, and the two that
// also ask for a restart (1641 started, 3010 required).
bool IsPatchApplied(platform::UINT result);

// Hands `record.PatchCommandLine` to the installer for `record.ProductCode` and shows the
// outcome: message 301 when the patch was applied, else message 300 with the installer's
// result as its error code. Returns the installer's result.
platform::UINT ReconfigureProduct(const ProductRecord& record);
