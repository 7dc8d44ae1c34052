// Installer databases and patch packages made at test time from readable table text, and
// read back, so that a test states in a few lines which rows its database holds.
//
// Table text is the installer's archive format (the .idt files that msitools' msibuild
// and msiinfo read and write), with fields separated by tabs and lines by "\n":
//   line 1  the column names
//   line 2  the column types: s72 (text, at most 72, not null), S255 (nullable text),
//           l0 / L0 (localizable text, no limit), i2 / I2 (16-bit integer), i4 / I4 ...
//   line 3  the table name, then its primary key columns
//   then    one line per row; an empty field is a null value
// For example:
//   MakeDatabase(path, {{"Property",
//                        "Property\tValue\ns72\tl0\nProperty\tProperty\n"
//                        "ProductCode\t{6F1C8A2E-0000-4000-8000-000000000001}\n"}});
// Field values must not hold tabs or line breaks.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// One table as archive text (see above).
struct TableText {
  std::string Name;
  std::string Text;
};

// The summary information written into a new database or patch.
struct SummaryText {
  std::string Title = "Installation Database";
  // Property 7: "platform;languages" for a database, the target product codes for a patch.
  std::string Template = "Intel;1033";
  // Property 9: the package code of a database, the patch code (then other codes) of a patch.
  std::string RevisionNumber = "{00000000-0000-4000-8000-00000000C0DE}";
  // Property 8: nothing for a database, the transform list of a patch (empty: not set).
  std::string LastSavedBy;
};

// Makes a new installer database at `path`, replacing any file there, with `tables` and
// `summary`. `patch` makes a patch package (its storage is marked as a patch's). Returns
// true; on failure adds a failure to the running test and returns false.
bool MakeDatabase(const std::string& path, const std::vector<TableText>& tables,
                  const SummaryText& summary = {}, bool patch = false);

// Table text builders for the tables the system edits or reads.

// Property table (Property s72 key, Value l0): one row per (Property, Value).
TableText PropertyTable(const std::vector<std::pair<std::string, std::string>>& rows);

struct SequenceRow {
  std::string Action;
  std::string Condition;  // empty: null
  int Sequence = 0;
};
// InstallExecuteSequence (Action s72 key, Condition S255, Sequence I2).
TableText InstallExecuteSequenceTable(const std::vector<SequenceRow>& rows);

struct RegistryRow {
  std::string Registry;
  int Root = 2;
  std::string Key;
  std::string Name;   // empty: null
  std::string Value;  // empty: null
  std::string Component;
};
// Registry (Registry s72 key, Root i2, Key l255, Name L255, Value L0, Component_ s72). The
// Component_ column names a component by key; the test databases need no Component table.
TableText RegistryTable(const std::vector<RegistryRow>& rows);

// Media (DiskId i2 key, LastSequence i4, DiskPrompt L64, Cabinet S255, VolumeLabel S32,
// Source S72) with one row per line of `rows`, fields tab-separated.
TableText MediaTable(const std::vector<std::string>& rows = {"1\t1\t\t\t\t"});

// A product's identity as its Property table states it.
struct ProductFacts {
  std::string ProductCode;
  std::string ProductVersion = "5.1.8.0";
  std::string ProductName = "Kyro Test Product";
  std::string ProductLanguage = "1033";
};
// Property table with ProductCode, ProductVersion, ProductName and ProductLanguage.
TableText ProductPropertyTable(const ProductFacts& product);

// A product database: ProductPropertyTable(product) plus `extraTables`.
bool MakeProductDatabase(const std::string& path, const ProductFacts& product,
                         const std::vector<TableText>& extraTables = {});

// A patch package as the installer service reads one: summary property 7 = `Targets`
// (product codes separated by ";"), property 9 = `PatchCode` followed by `RevisionTail`,
// an MsiPatchMetadata table whose ProductVersion row (empty Company) holds `ProductVersion`
// (no row when it is empty), and for each product code among the targets a pair of
// transforms (property 8 lists them): the data transform, valid for that product at
// `FromVersion`, sets its ProductVersion to `ProductVersion` (changes nothing when that is
// empty); the patch's own adds a PatchPackage table and the row of the patch code.
struct PatchFacts {
  std::string Targets;
  std::string PatchCode = "{0D5E6B1C-0000-4000-8000-0000000000AA}";
  std::string RevisionTail;
  std::string ProductVersion = "5.2.0.0";
  std::string FromVersion = "5.1.8.0";
};
bool MakePatchPackage(const std::string& path, const PatchFacts& patch);

// Applies the standalone transform file `transform` to a copy of the database at `database`
// made at `output`, with the emulated installer's transform reader (libmsi's own applies no
// table stream). Adds a failure and returns false on error.
bool ApplyTransformFile(const std::string& database, const std::string& transform,
                        const std::string& output);

// Reading back.

// The rows a SELECT query gives, through libmsi, each field as text ("" for null, integers
// in decimal). Adds a failure and returns {} when the database or query cannot be opened.
std::vector<std::vector<std::string>> ReadRows(const std::string& path, const std::string& query);

// A table as msitools' `msiinfo export` prints it (an independent reader): archive text with
// "\r\n" line ends as the tool writes them. Adds a failure and returns "" when it fails.
std::string ExportTable(const std::string& path, const std::string& table);

// A summary property as text through libmsi ("" when absent; integers in decimal).
std::string ReadSummaryProperty(const std::string& path, int property);

}  // namespace testing_support
