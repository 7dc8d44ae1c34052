// Windows Installer transforms written from row changes, into a compound-file storage
// through libgsf: the root of a standalone .mst file, or a substorage of a patch package.
//
// A transform holds a string pool of its own (_StringPool, _StringData), one stream per
// table it changes (named as the installer encodes table names), _Tables and _Columns rows
// for the tables it adds, and a summary information stream whose properties say which
// products it is for. The installer reads each table stream as a list of records: a 16-bit
// mask, then the key fields and the fields the mask names (see WriteTransform).
#pragma once

#include <gsf/gsf-outfile.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace transform_writer {

// A column as the installer's archive text declares it: "s72" text of at most 72
// characters, "S255" nullable text, "l0"/"L0" localizable text, "i2"/"i4" integers,
// "I2"/"I4" nullable integers.
struct Column {
  std::string Name;
  std::string Type;
  bool Key = false;  // key columns come first in a table
};

struct TableSchema {
  std::string Name;
  std::vector<Column> Columns;
};

// One change to a table. Fields are given by column, as text ("" is null); integers in
// decimal. Insert gives every field; Update gives the key fields and the changed fields,
// std::nullopt for a field it leaves as it is; Delete gives the key fields only.
struct RowChange {
  enum class Kind { Insert, Update, Delete };
  Kind Operation = Kind::Insert;
  std::vector<std::optional<std::string>> Fields;
};

struct TableChanges {
  TableSchema Schema;
  bool AddsTable = false;  // the table is new: _Tables and _Columns rows create it
  std::vector<RowChange> Rows;
};

// Validation flags (the upper word of the character count) and error conditions the
// installer suppresses (the lower word), as msiquery.h names them.
enum : std::uint32_t {
  kValidateLanguage = 0x0001,
  kValidateProduct = 0x0002,
  kValidatePlatform = 0x0004,
  kValidateMajorVersion = 0x0008,
  kValidateMinorVersion = 0x0010,
  kValidateUpdateVersion = 0x0020,
  kValidateNewEqualBaseVersion = 0x0100,
  kValidateUpgradeCode = 0x0800,
  kErrorAddExistingRow = 0x0001,
  kErrorDeleteMissingRow = 0x0002,
  kErrorAddExistingTable = 0x0004,
  kErrorDeleteMissingTable = 0x0008,
  kErrorUpdateMissingRow = 0x0010,
};

// The summary information of a transform.
struct TransformSummary {
  std::string Title = "Transform";
  std::string Template;        // 7: platform and language of the product it starts from
  std::string LastSavedBy;     // 8: platform and language of the product it leads to
  std::string RevisionNumber;  // 9: "{from}version;{to}version;{upgrade code}"
  std::int32_t MinimumInstallerVersion = 200;  // 14
  std::uint16_t ValidationFlags = 0;           // 16, upper word
  std::uint16_t SuppressedErrors = 0;          // 16, lower word
};

struct Transform {
  std::vector<TableChanges> Tables;
  TransformSummary Summary;
};

// The installer's storage class of a transform: {000C1082-0000-0000-C000-000000000046}.
extern const std::uint8_t kTransformClassId[16];

// The name under which the installer stores table `name` in a compound file (UTF-8).
std::string EncodeTableStreamName(const std::string& name);

// Writes `transform` into `storage` and sets its class to the transform class; the storage
// stays open for the caller to close. Text must be ASCII (the pool is written in the
// neutral code page). False with `error` set on bad input or a failed write; the storage
// then holds an unspecified part of the transform.
bool WriteTransform(GsfOutfile* storage, const Transform& transform, std::string& error);

// Writes `transform` as a standalone transform file at `path` (replacing any file there).
bool WriteTransformFile(const std::string& path, const Transform& transform, std::string& error);

// A transform held by a patch package as a substorage of that name.
struct NamedTransform {
  std::string Name;  // at most 31 characters, no '/', '\', ':' or '!'
  Transform Contents;
};

// Writes to `output` a copy of the compound file `package` (its storage classes, streams
// and substorages) with `transforms` added as substorages. False with `error` set; the
// output then holds an unspecified part of the package, for the caller to remove.
bool WritePackageWithTransforms(const std::string& package,
                                const std::vector<NamedTransform>& transforms,
                                const std::string& output, std::string& error);

}  // namespace transform_writer
