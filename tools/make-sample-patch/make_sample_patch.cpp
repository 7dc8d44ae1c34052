// make-sample-patch DESCRIPTION OUTPUT
//
// Writes a Windows Installer patch package made from a short description ("key = value"
// lines, see resources/sample_patch.txt): the patch class; a summary whose template lists
// the target product codes, whose revision number is the patch code followed by those
// codes and whose last-saved-by property lists the transforms; the MsiPatchMetadata and
// MsiPatchSequence tables; and per released product image a pair of transforms held as
// substorages, the data transform (the image's rows to the new version) and the patch's
// own ('#': its medium and PatchPackage row). The package is written beside OUTPUT and
// renamed into place only when complete; on any error OUTPUT is left as it was and the
// tool exits with status 1 after one line on stderr.
#include <libmsi.h>

#include "transform_writer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace tw = transform_writer;

// A released product the patch starts from.
struct Image {
  std::string ProductCode;
  std::string Version;
};

// A row of a transform, before its table is known to hold the fields given.
struct RowText {
  std::string Table;
  tw::RowChange::Kind Operation;
  std::vector<std::string> Fields;
  std::string Where;  // file:line, for messages
};

struct PatchDescription {
  std::map<std::string, std::string> Summary;                 // Title, Subject, ...
  std::vector<std::pair<std::string, std::string>> Metadata;  // MsiPatchMetadata rows
  std::vector<Image> Images;
  std::map<std::string, std::pair<tw::TableSchema, bool>> Tables;  // name: schema, is new
  std::vector<RowText> DataRows;
  std::vector<RowText> PatchRows;
};

constexpr const char* kSummaryKeys[] = {"Title",     "Subject", "Author",      "Comments",
                                        "PatchCode", "Targets", "PatchFamily", "UpgradeCode"};
constexpr const char* kRequiredKeys[] = {"Title", "PatchCode", "Targets", "PatchFamily",
                                         "UpgradeCode"};
constexpr const char kMetadataPrefix[] = "Metadata.";

std::string Trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool Fail(const std::string& message) {
  std::fprintf(stderr, "make-sample-patch: %s\n", message.c_str());
  return false;
}

// A braced GUID of upper-case hexadecimal digits, as product and patch codes are written.
bool IsBracedGuid(const std::string& text) {
  static const char kPattern[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  if (text.size() != sizeof(kPattern) - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (kPattern[i] == 'X') {
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    } else if (c != kPattern[i]) {
      return false;
    }
  }
  return true;
}

// Four dot-separated numbers, as ProductVersion holds them here.
bool IsVersion(const std::string& text) {
  int fields = 1;
  bool digit = false;
  for (char c : text) {
    if (c == '.') {
      if (!digit) return false;
      ++fields;
      digit = false;
    } else if (c >= '0' && c <= '9') {
      digit = true;
    } else {
      return false;
    }
  }
  return digit && fields == 4;
}

// "name:type*, name:type" into a schema.
bool ReadColumns(const std::string& text, tw::TableSchema& schema, const std::string& where) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    std::string item = Trim(text.substr(start, comma - start));
    std::size_t colon = item.find(':');
    if (colon == std::string::npos || colon == 0) {
      return Fail(where + "a column is \"name:type\", found \"" + item + "\"");
    }
    tw::Column column{item.substr(0, colon), item.substr(colon + 1), false};
    if (!column.Type.empty() && column.Type.back() == '*') {
      column.Key = true;
      column.Type.pop_back();
    }
    schema.Columns.push_back(column);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

bool ReadDescription(const char* path, PatchDescription& description) {
  std::ifstream in(path);
  if (!in) return Fail(std::string("cannot read ") + path);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    std::string where = std::string(path) + ":" + std::to_string(number) + ": ";
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) return Fail(where + "expected \"key = value\"");
    std::string key = Trim(text.substr(0, equals));
    std::string value = Trim(text.substr(equals + 1));
    if (key.rfind(kMetadataPrefix, 0) == 0) {
      std::string property = key.substr(sizeof(kMetadataPrefix) - 1);
      if (property.empty()) return Fail(where + "a metadata key needs a property name");
      description.Metadata.emplace_back(property, value);
      continue;
    }
    if (key == "Image") {
      std::size_t space = value.find(' ');
      Image image{value.substr(0, space),
                  space == std::string::npos ? "" : Trim(value.substr(space))};
      if (!IsBracedGuid(image.ProductCode) || !IsVersion(image.Version)) {
        return Fail(where + "an image is \"{PRODUCT-CODE} version\"");
      }
      description.Images.push_back(image);
      continue;
    }
    if (key.rfind("Table.", 0) == 0 || key.rfind("NewTable.", 0) == 0) {
      bool added = key[0] == 'N';
      tw::TableSchema schema;
      schema.Name = key.substr(key.find('.') + 1);
      if (!ReadColumns(value, schema, where)) return false;
      if (!description.Tables.emplace(schema.Name, std::make_pair(schema, added)).second) {
        return Fail(where + "table " + schema.Name + " given twice");
      }
      continue;
    }
    if (key.rfind("Update.", 0) == 0 || key.rfind("Insert.", 0) == 0 ||
        key.rfind("PatchInsert.", 0) == 0) {
      RowText row;
      row.Table = key.substr(key.find('.') + 1);
      row.Operation = key[0] == 'U' ? tw::RowChange::Kind::Update : tw::RowChange::Kind::Insert;
      row.Where = where;
      std::size_t start = 0;
      while (true) {
        std::size_t bar = value.find('|', start);
        row.Fields.push_back(Trim(value.substr(start, bar - start)));
        if (bar == std::string::npos) break;
        start = bar + 1;
      }
      (key[0] == 'P' ? description.PatchRows : description.DataRows).push_back(row);
      continue;
    }
    bool known = false;
    for (const char* summaryKey : kSummaryKeys) known = known || key == summaryKey;
    if (!known) return Fail(where + "unknown key \"" + key + "\"");
    if (!description.Summary.emplace(key, value).second) {
      return Fail(where + "\"" + key + "\" given twice");
    }
  }
  for (const char* key : kRequiredKeys) {
    if (description.Summary.count(key) == 0) {
      return Fail(std::string(path) + ": \"" + key + "\" is missing");
    }
  }
  for (const char* key : {"PatchCode", "UpgradeCode"}) {
    if (!IsBracedGuid(description.Summary[key])) {
      return Fail(std::string(path) + ": " + key + " is not a braced upper-case GUID");
    }
  }
  if (description.Images.empty()) return Fail(std::string(path) + ": no Image given");
  for (const auto& [property, value] : description.Metadata) {
    if (property == "ProductVersion" && IsVersion(value)) description.Summary["NewVersion"] = value;
  }
  if (description.Summary["NewVersion"].empty()) {
    return Fail(std::string(path) + ": Metadata.ProductVersion must give the version brought");
  }
  const std::string& targets = description.Summary["Targets"];
  std::size_t start = 0;
  while (start <= targets.size()) {
    std::size_t end = targets.find(';', start);
    if (end == std::string::npos) end = targets.size();
    if (!IsBracedGuid(targets.substr(start, end - start))) {
      return Fail(std::string(path) + ": Targets must be braced upper-case GUIDs separated by ';'");
    }
    start = end + 1;
  }
  for (const Image& image : description.Images) {
    if (targets.find(image.ProductCode) == std::string::npos) {
      return Fail(std::string(path) + ": image " + image.ProductCode + " is not a target");
    }
  }
  return true;
}

// Owners of the GLib objects and errors used below.
template <typename T>
struct GObjectHolder {
  T* Object = nullptr;
  ~GObjectHolder() {
    if (Object != nullptr) g_object_unref(Object);
  }
};

struct ErrorHolder {
  GError* Error = nullptr;
  ~ErrorHolder() {
    if (Error != nullptr) g_error_free(Error);
  }
  std::string Message() const { return Error != nullptr ? Error->message : "unknown error"; }
};

bool RunQuery(LibmsiDatabase* database, const std::string& sql, LibmsiRecord* parameters) {
  ErrorHolder error;
  GObjectHolder<LibmsiQuery> query;
  query.Object = libmsi_query_new(database, sql.c_str(), &error.Error);
  if (query.Object == nullptr) return Fail("query \"" + sql + "\": " + error.Message());
  if (!libmsi_query_execute(query.Object, parameters, &error.Error)) {
    return Fail("query \"" + sql + "\": " + error.Message());
  }
  return libmsi_query_close(query.Object, &error.Error) ||
         Fail("query \"" + sql + "\": " + error.Message());
}

// The names of the transforms of the images, in order: Kyro1, Kyro2, ...
std::vector<std::string> TransformNames(const PatchDescription& description) {
  std::string stem;
  auto subject = description.Summary.find("Subject");
  for (char c : subject != description.Summary.end() ? subject->second : std::string()) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) stem += c;
  }
  if (stem.empty()) stem = "Image";
  std::vector<std::string> names;
  for (std::size_t i = 1; i <= description.Images.size(); ++i) {
    names.push_back(stem.substr(0, 24) + std::to_string(i));
  }
  return names;
}

// The transform list of the last-saved-by property: ":Kyro1;:#Kyro1;:Kyro2;...", each data
// transform followed by the patch's own.
std::string TransformList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) {
    list += (list.empty() ? ":" : ";:") + name + ";:#" + name;
  }
  return list;
}

// The tables a transform changes, with its rows, in the order the rows name them.
bool TransformTables(const PatchDescription& description, const std::vector<RowText>& rows,
                     std::vector<tw::TableChanges>& tables) {
  for (const RowText& row : rows) {
    auto schema = description.Tables.find(row.Table);
    if (schema == description.Tables.end()) {
      return Fail(row.Where + "table " + row.Table + " has no Table line");
    }
    if (row.Fields.size() != schema->second.first.Columns.size()) {
      return Fail(row.Where + "table " + row.Table + " has " +
                  std::to_string(schema->second.first.Columns.size()) + " columns");
    }
    auto changes = std::find_if(tables.begin(), tables.end(), [&row](const auto& table) {
      return table.Schema.Name == row.Table;
    });
    if (changes == tables.end()) {
      changes = tables.insert(tables.end(), {schema->second.first, schema->second.second, {}});
    }
    tw::RowChange change;
    change.Operation = row.Operation;
    for (const std::string& field : row.Fields) change.Fields.emplace_back(field);
    changes->Rows.push_back(change);
  }
  return true;
}

// Per image, the data transform and the patch's own. Their summaries carry the validation
// that makes the installer refuse another product or version. The character count holds
// the validation flags in its upper word and the error conditions to suppress in its lower
// word, as msitran writes them; Wine's msi.dll reads the lower word as the validation
// flags, so the lower word is chosen to mean the right checks to it as well:
//   data transform: upper 0x0122 = product, major.minor.update version, installed version
//                   equal to the base; lower 0x0017 = suppress add-existing-row,
//                   delete-missing-row, add-existing-table, update-missing-row (to Wine:
//                   language (neutral here), product, platform (which it skips), major.minor
//                   version);
//   '#' transform:  upper 0 (the installer applies it with its data transform); lower 0x0013
//                   (to Wine: language, product and major.minor of the version brought,
//                   which the product has once its data transform is in).
bool BuildTransforms(const PatchDescription& description,
                     std::vector<tw::NamedTransform>& transforms) {
  std::vector<tw::TableChanges> dataTables;
  std::vector<tw::TableChanges> patchTables;
  if (!TransformTables(description, description.DataRows, dataTables) ||
      !TransformTables(description, description.PatchRows, patchTables)) {
    return false;
  }
  const std::string& upgradeCode = description.Summary.at("UpgradeCode");
  const std::string& newVersion = description.Summary.at("NewVersion");
  std::vector<std::string> names = TransformNames(description);
  for (std::size_t i = 0; i < description.Images.size(); ++i) {
    const Image& image = description.Images[i];
    tw::NamedTransform data{names[i], {dataTables, {}}};
    data.Contents.Summary.Template = "Intel;0";
    data.Contents.Summary.LastSavedBy = "Intel;0";
    data.Contents.Summary.RevisionNumber = image.ProductCode + image.Version + ";" +
                                           image.ProductCode + newVersion + ";" + upgradeCode;
    data.Contents.Summary.ValidationFlags =
        tw::kValidateProduct | tw::kValidateUpdateVersion | tw::kValidateNewEqualBaseVersion;
    data.Contents.Summary.SuppressedErrors = tw::kErrorAddExistingRow | tw::kErrorDeleteMissingRow |
                                             tw::kErrorAddExistingTable |
                                             tw::kErrorUpdateMissingRow;
    tw::NamedTransform own{"#" + names[i], {patchTables, data.Contents.Summary}};
    own.Contents.Summary.RevisionNumber =
        image.ProductCode + newVersion + ";" + image.ProductCode + newVersion + ";" + upgradeCode;
    own.Contents.Summary.ValidationFlags = 0;
    own.Contents.Summary.SuppressedErrors =
        tw::kErrorAddExistingRow | tw::kErrorDeleteMissingRow | tw::kErrorUpdateMissingRow;
    transforms.push_back(std::move(data));
    transforms.push_back(std::move(own));
  }
  return true;
}

// Steps: 1. create the patch database; 2. the MsiPatchMetadata and MsiPatchSequence tables
// and their rows; 3. the summary information; 4. commit.
bool WritePackage(const PatchDescription& description, const std::string& path) {
  ErrorHolder error;
  GObjectHolder<LibmsiDatabase> database;
  database.Object = libmsi_database_new(
      path.c_str(), LIBMSI_DB_FLAGS_CREATE | LIBMSI_DB_FLAGS_PATCH, nullptr, &error.Error);
  if (database.Object == nullptr) return Fail("cannot create " + path + ": " + error.Message());

  if (!RunQuery(database.Object,
                "CREATE TABLE `MsiPatchMetadata` (`Company` CHAR(72), `Property` CHAR(72) NOT "
                "NULL, `Value` LONGCHAR NOT NULL PRIMARY KEY `Company`, `Property`)",
                nullptr) ||
      !RunQuery(database.Object,
                "CREATE TABLE `MsiPatchSequence` (`PatchFamily` CHAR(72) NOT NULL, "
                "`ProductCode` CHAR(38), `Sequence` CHAR(72) NOT NULL, `Attributes` LONG "
                "PRIMARY KEY `PatchFamily`, `ProductCode`)",
                nullptr)) {
    return false;
  }
  for (const auto& [property, value] : description.Metadata) {
    GObjectHolder<LibmsiRecord> row;
    row.Object = libmsi_record_new(2);
    libmsi_record_set_string(row.Object, 1, property.c_str());
    libmsi_record_set_string(row.Object, 2, value.c_str());
    if (!RunQuery(database.Object,
                  "INSERT INTO `MsiPatchMetadata` (`Property`, `Value`) VALUES (?, ?)",
                  row.Object)) {
      return false;
    }
  }
  // With sequencing rows the installer takes what follows the patch code in the revision
  // number as no list of obsolete patches.
  const std::map<std::string, std::string>& values = description.Summary;
  const std::string& targets = values.at("Targets");
  for (std::size_t start = 0; start < targets.size(); start += 39) {
    GObjectHolder<LibmsiRecord> row;
    row.Object = libmsi_record_new(3);
    libmsi_record_set_string(row.Object, 1, values.at("PatchFamily").c_str());
    libmsi_record_set_string(row.Object, 2, targets.substr(start, 38).c_str());
    libmsi_record_set_string(row.Object, 3, values.at("NewVersion").c_str());
    if (!RunQuery(database.Object,
                  "INSERT INTO `MsiPatchSequence` (`PatchFamily`, `ProductCode`, `Sequence`) "
                  "VALUES (?, ?, ?)",
                  row.Object)) {
      return false;
    }
  }

  GObjectHolder<LibmsiSummaryInfo> summary;
  summary.Object = libmsi_summary_info_new(database.Object, 16, &error.Error);
  if (summary.Object == nullptr) return Fail("summary information: " + error.Message());
  auto value = [&values](const char* key) {
    auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
  };
  std::string revision = value("PatchCode");
  for (char c : targets) {
    if (c != ';') revision += c;
  }
  const std::pair<LibmsiProperty, std::string> strings[] = {
      {LIBMSI_PROPERTY_TITLE, value("Title")},
      {LIBMSI_PROPERTY_SUBJECT, value("Subject")},
      {LIBMSI_PROPERTY_AUTHOR, value("Author")},
      {LIBMSI_PROPERTY_KEYWORDS, "Installer,Patching,PCP"},
      {LIBMSI_PROPERTY_COMMENTS, value("Comments")},
      {LIBMSI_PROPERTY_TEMPLATE, targets},
      {LIBMSI_PROPERTY_LASTAUTHOR, TransformList(TransformNames(description))},
      {LIBMSI_PROPERTY_UUID, revision},
  };
  for (const auto& [property, text] : strings) {
    if (text.empty()) continue;
    if (!libmsi_summary_info_set_string(summary.Object, property, text.c_str(), &error.Error)) {
      return Fail("summary property " + std::to_string(property) + ": " + error.Message());
    }
  }
  // The word count of a patch: 1, as in the patches Windows Installer 3.0 and later apply
  // with sequencing rows; a patch has no page count.
  if (!libmsi_summary_info_set_int(summary.Object, LIBMSI_PROPERTY_SOURCE, 1, &error.Error) ||
      !libmsi_summary_info_persist(summary.Object, &error.Error)) {
    return Fail("summary information: " + error.Message());
  }
  if (!libmsi_database_commit(database.Object, &error.Error)) {
    return Fail("cannot write " + path + ": " + error.Message());
  }
  return true;
}

}  // namespace

// Steps: 1. the description; 2. the patch's database beside OUTPUT; 3. that database with
// the transforms as OUTPUT.partial; 4. renamed into place.
int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make-sample-patch DESCRIPTION OUTPUT\n");
    return 1;
  }
  // 1.
  PatchDescription description;
  std::vector<tw::NamedTransform> transforms;
  if (!ReadDescription(argv[1], description) || !BuildTransforms(description, transforms)) {
    return 1;
  }
  // 2.
  const std::string output = argv[2];
  const std::string tables = output + ".tables";
  const std::string partial = output + ".partial";
  std::remove(tables.c_str());
  std::remove(partial.c_str());
  bool ok = WritePackage(description, tables);
  // 3.
  std::string error;
  if (ok && !tw::WritePackageWithTransforms(tables, transforms, partial, error)) {
    ok = Fail(error);
  }
  std::remove(tables.c_str());
  // 4.
  if (ok && std::rename(partial.c_str(), output.c_str()) != 0) {
    std::perror(("make-sample-patch: cannot rename to " + output).c_str());
    ok = false;
  }
  if (!ok) std::remove(partial.c_str());
  return ok ? 0 : 1;
}
