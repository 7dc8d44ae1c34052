// The emulated installer's reconfiguration of a product with patches: the property command
// line parser and what a patch package must hold for the emulated service to apply it.
//
// Applying a patch puts the package's transforms that fit the product into its cached
// database (installer_patch.h), records its patch code (the leading "{...}" of summary
// property 9) in the product's "Patches" property (a ";"-separated list) and makes the
// ProductVersion of the patched database the product's VersionString.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

}  // namespace platform::posix
