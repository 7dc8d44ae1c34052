// The emulated installer's reconfiguration of a product with patches: the property command
// line parser and what a patch package must hold for the emulated service to apply it.
//
// Applying a patch puts the package's transforms that fit the product into its cached
// database (installer_patch.h), records its patch code (the leading "{...}" of summary
// property 9) in the product's "Patches" property (a ";"-separated list) and makes the
// ProductVersion of the patched database the product's VersionString. The PATCH value
// itself, as received, becomes the product's "LastPatchSource".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace platform::posix {

struct PropertyAssignment {
  std::u16string Name;   // as written
  std::u16string Value;  // quotes removed, "" inside quotes made one quote
};

// Splits a command line by the installer's property syntax: assignments separated by
// white space, each NAME=value or NAME="value with spaces", where quotes may enclose any
// part of a value and "" inside quotes stands for one quote character. Returns false (and
// leaves `properties` unspecified) for text that is not a list of assignments: a word
// without "=", an empty name, an unterminated quote.
bool ParsePropertyCommandLine(std::u16string_view commandLine,
                              std::vector<PropertyAssignment>& properties);

// Whether Windows takes the level and state of a configuration: 0, or 87
// (ERROR_INVALID_PARAMETER) for a state that is none of 1 to 5 or, with the default state,
// a level outside 0 to 65535; 120 for the states 1 to 4, which the emulated service does
// not model.
UINT CheckRequest(int installLevel, INSTALLSTATE installState);

struct ProductEntry;
// Reconfigures the registered product `code` (its `entry`) with the patches the command
// line names: 0 or a forced success result, else the installer's error code (1618, 1639,
// 1635, 1642, 1636, 1620, a forced failure) with the product left as it was.
UINT Reconfigure(const std::string& code, const ProductEntry& entry, LPCWSTR commandLine);

}  // namespace platform::posix
