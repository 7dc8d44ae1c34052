// The emulated installer's reconfiguration of a product with patches: the property command
// line parser and what a patch package must hold for the emulated service to apply it.
//
// A patch package brings its product version in its MsiPatchMetadata table, in the row
// whose Property is "ProductVersion" (the sample package records 5.2.0.0 there). Applying
// the patch records its patch code (the leading "{...}" of summary property 9) in the
// product's "Patches" property (a ";"-separated list) and makes that version the product's
// VersionString. A patch without such a row changes no version. The PATCH value itself, as
// received, becomes the product's "LastPatchSource".
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
