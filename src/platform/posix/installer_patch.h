// The emulated installer's application of patch packages to a product's cached database:
// the transforms a package holds as substorages, chosen and checked the way Windows
// Installer does, applied through libmsi and committed crash-safely.
//
// The transforms are read here, not by libmsi: its libmsi_database_apply_transform (0.101)
// looks every table stream up under a mangled name (it strips one byte of the three that
// encode the stream's leading U+4840) and applies no row. The rows go in through libmsi
// queries.
//
// A package lists its transforms in summary property 8 (":Kyro1;:#Kyro1;..."): each data
// transform is followed by the patch's own ('#'). A data transform fits a product when the
// validation flags of its summary (the upper word of property 16) hold against the
// product's Property table, with the product and versions its property 9 names
// ("{from}version;{to}version;{upgrade code}"); the '#' transform goes in with the data
// transform before it.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::posix {

// Applies, in order, the transforms of the patch packages at `patches` that fit the product
// whose cached database is `database`, then commits the database as MsiDatabaseCommit does.
// A package whose patch code is in `appliedPatches` (the product's ";"-separated list) or in
// the database's PatchPackage table is in the database already and is left out.
// Returns 0 and the ProductVersion the patched Property table holds in `productVersion`;
// ERROR_PATCH_TARGET_NOT_FOUND (1642) when a package holds no data transform that fits the
// product; ERROR_INSTALL_TRANSFORM_FAILURE (1624) when a fitting transform cannot be read or
// writes to a table the product lacks (and does not add); ERROR_PATCH_PACKAGE_OPEN_FAILED (1635)
// for a package that does not open; ERROR_INSTALL_PACKAGE_INVALID (1620) when the database does not
// open or commit. On any failure the database file is left as it was.
UINT ApplyPatchTransforms(const std::string& database, const std::vector<std::string>& patches,
                          const std::string& appliedPatches, std::string& productVersion);

// Applies the standalone transform file `transform` to the database file `database` and
// commits it crash-safely: 0, 1624 when the transform cannot be read or names a table the
// database lacks, 1620 when the database does not open or commit (left as it was).
UINT ApplyTransformFile(const std::string& database, const std::string& transform);

// Copies the transform held as substorage `name` of the patch package at `patch` into a
// standalone transform file at `path` (replaced if there). False when the package does not
// open, holds no such storage or the file cannot be written; `path` is then removed.
bool ExtractTransform(const std::string& patch, const std::string& name, const std::string& path);

}  // namespace platform::posix
