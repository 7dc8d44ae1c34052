// make-sample-patch DESCRIPTION OUTPUT
//
// Writes a Windows Installer patch package made from a short description ("key = value"
// lines, see resources/sample_patch.txt): the patch class, a summary whose template
// property lists the target product codes and whose revision number is the patch code
// followed by those codes, and an MsiPatchMetadata table. The package is written beside
// OUTPUT and renamed into place only when complete; on any error OUTPUT is left as it was
// and the tool exits with status 1 after one line on stderr.
#include <libmsi.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

struct PatchDescription {
  std::map<std::string, std::string> Summary;                 // Title, Subject, ...
  std::vector<std::pair<std::string, std::string>> Metadata;  // MsiPatchMetadata rows
};

constexpr const char* kSummaryKeys[] = {"Title",    "Subject",   "Author",
                                        "Comments", "PatchCode", "Targets"};
constexpr const char* kRequiredKeys[] = {"Title", "PatchCode", "Targets"};
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
  if (!IsBracedGuid(description.Summary["PatchCode"])) {
    return Fail(std::string(path) + ": PatchCode is not a braced upper-case GUID");
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

// Steps: 1. create the patch database; 2. the MsiPatchMetadata table and its rows;
// 3. the summary information; 4. commit.
bool WritePackage(const PatchDescription& description, const std::string& path) {
  ErrorHolder error;
  GObjectHolder<LibmsiDatabase> database;
  database.Object = libmsi_database_new(
      path.c_str(), LIBMSI_DB_FLAGS_CREATE | LIBMSI_DB_FLAGS_PATCH, nullptr, &error.Error);
  if (database.Object == nullptr) return Fail("cannot create " + path + ": " + error.Message());

  if (!RunQuery(database.Object,
                "CREATE TABLE `MsiPatchMetadata` (`Company` CHAR(72), `Property` CHAR(72) NOT "
                "NULL, `Value` LONGCHAR NOT NULL PRIMARY KEY `Company`, `Property`)",
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

  GObjectHolder<LibmsiSummaryInfo> summary;
  summary.Object = libmsi_summary_info_new(database.Object, 16, &error.Error);
  if (summary.Object == nullptr) return Fail("summary information: " + error.Message());
  const std::map<std::string, std::string>& values = description.Summary;
  auto value = [&values](const char* key) {
    auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
  };
  const std::string targets = value("Targets");
  std::string revision = value("PatchCode") + targets;
  std::string noSeparators;
  for (char c : revision) {
    if (c != ';') noSeparators += c;
  }
  const std::pair<LibmsiProperty, std::string> strings[] = {
      {LIBMSI_PROPERTY_TITLE, value("Title")},
      {LIBMSI_PROPERTY_SUBJECT, value("Subject")},
      {LIBMSI_PROPERTY_AUTHOR, value("Author")},
      {LIBMSI_PROPERTY_KEYWORDS, "Installer,Patching,PCP"},
      {LIBMSI_PROPERTY_COMMENTS, value("Comments")},
      {LIBMSI_PROPERTY_TEMPLATE, targets},
      {LIBMSI_PROPERTY_LASTAUTHOR, ""},
      {LIBMSI_PROPERTY_UUID, noSeparators},
  };
  for (const auto& [property, text] : strings) {
    if (text.empty() && property != LIBMSI_PROPERTY_LASTAUTHOR) continue;
    if (!libmsi_summary_info_set_string(summary.Object, property, text.c_str(), &error.Error)) {
      return Fail("summary property " + std::to_string(property) + ": " + error.Message());
    }
  }
  // Minimum installer version 2.0; no long file names to track.
  if (!libmsi_summary_info_set_int(summary.Object, LIBMSI_PROPERTY_VERSION, 200, &error.Error) ||
      !libmsi_summary_info_set_int(summary.Object, LIBMSI_PROPERTY_SOURCE, 0, &error.Error) ||
      !libmsi_summary_info_persist(summary.Object, &error.Error)) {
    return Fail("summary information: " + error.Message());
  }
  if (!libmsi_database_commit(database.Object, &error.Error)) {
    return Fail("cannot write " + path + ": " + error.Message());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make-sample-patch DESCRIPTION OUTPUT\n");
    return 1;
  }
  PatchDescription description;
  if (!ReadDescription(argv[1], description)) return 1;
  const std::string output = argv[2];
  const std::string partial = output + ".partial";
  std::remove(partial.c_str());
  if (!WritePackage(description, partial)) {
    std::remove(partial.c_str());
    return 1;
  }
  if (std::rename(partial.c_str(), output.c_str()) != 0) {
    std::perror(("make-sample-patch: cannot rename to " + output).c_str());
    std::remove(partial.c_str());
    return 1;
  }
  return 0;
}
