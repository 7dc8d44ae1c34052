#include "support/msi_tables.h"

#include <libmsi.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/posix/installer_patch.h"
#include "transform_writer.h"

#include <gtest/gtest.h>

namespace testing_support {
namespace {

struct GObjectUnref {
  void operator()(void* object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct ErrorHolder {
  GError* Error = nullptr;
  ~ErrorHolder() { Clear(); }
  void Clear() {
    if (Error != nullptr) g_error_free(Error);
    Error = nullptr;
  }
  std::string Message() const { return Error != nullptr ? Error->message : "unknown error"; }
};

std::string Join(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    line += fields[i];
  }
  return line + "\n";
}

// A private directory for the archive files libmsi imports, removed afterwards.
struct ImportDir {
  std::filesystem::path Path;
  ImportDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "msi-tables-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) Path = pattern;
  }
  ~ImportDir() {
    std::error_code ignored;
    if (!Path.empty()) std::filesystem::remove_all(Path, ignored);
  }
};

bool SetSummary(LibmsiDatabase* database, const SummaryText& summary) {
  ErrorHolder error;
  GPtr<LibmsiSummaryInfo> info(libmsi_summary_info_new(database, 8, &error.Error));
  if (!info) {
    ADD_FAILURE() << "summary information: " << error.Message();
    return false;
  }
  bool ok = libmsi_summary_info_set_string(info.get(), LIBMSI_PROPERTY_TITLE, summary.Title.c_str(),
                                           &error.Error) &&
            libmsi_summary_info_set_string(info.get(), LIBMSI_PROPERTY_TEMPLATE,
                                           summary.Template.c_str(), &error.Error) &&
            libmsi_summary_info_set_string(info.get(), LIBMSI_PROPERTY_UUID,
                                           summary.RevisionNumber.c_str(), &error.Error) &&
            libmsi_summary_info_set_int(info.get(), LIBMSI_PROPERTY_VERSION, 200, &error.Error) &&
            libmsi_summary_info_set_int(info.get(), LIBMSI_PROPERTY_SOURCE, 2, &error.Error) &&
            (summary.LastSavedBy.empty() ||
             libmsi_summary_info_set_string(info.get(), LIBMSI_PROPERTY_LASTAUTHOR,
                                            summary.LastSavedBy.c_str(), &error.Error)) &&
            libmsi_summary_info_save(info.get(), database, &error.Error);
  if (!ok) ADD_FAILURE() << "summary information: " << error.Message();
  return ok;
}

}  // namespace

bool MakeDatabase(const std::string& path, const std::vector<TableText>& tables,
                  const SummaryText& summary, bool patch) {
  // 1. A fresh file: libmsi creates the database in memory and writes it on commit.
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  ImportDir scratch;
  if (scratch.Path.empty()) {
    ADD_FAILURE() << "no scratch directory for table import";
    return false;
  }
  guint flags = LIBMSI_DB_FLAGS_CREATE;
  if (patch) flags |= LIBMSI_DB_FLAGS_PATCH;
  ErrorHolder error;
  GPtr<LibmsiDatabase> database(libmsi_database_new(path.c_str(), flags, nullptr, &error.Error));
  if (!database) {
    ADD_FAILURE() << "cannot create " << path << ": " << error.Message();
    return false;
  }
  // 2. Each table through an archive file of its own.
  for (const TableText& table : tables) {
    std::filesystem::path file = scratch.Path / (table.Name + ".idt");
    {
      std::ofstream out(file, std::ios::binary);
      out << table.Text;
      if (!table.Text.empty() && table.Text.back() != '\n') out << '\n';
    }
    if (!libmsi_database_import(database.get(), file.c_str(), &error.Error)) {
      ADD_FAILURE() << "cannot import table " << table.Name << ": " << error.Message();
      return false;
    }
  }
  // 3. Summary information, then the file.
  if (!SetSummary(database.get(), summary)) return false;
  if (!libmsi_database_commit(database.get(), &error.Error)) {
    ADD_FAILURE() << "cannot write " << path << ": " << error.Message();
    return false;
  }
  return true;
}

TableText PropertyTable(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::string text = "Property\tValue\ns72\tl0\nProperty\tProperty\n";
  for (const auto& [name, value] : rows) text += Join({name, value});
  return {"Property", text};
}

TableText InstallExecuteSequenceTable(const std::vector<SequenceRow>& rows) {
  std::string text = "Action\tCondition\tSequence\ns72\tS255\tI2\nInstallExecuteSequence\tAction\n";
  for (const SequenceRow& row : rows) {
    text += Join({row.Action, row.Condition, std::to_string(row.Sequence)});
  }
  return {"InstallExecuteSequence", text};
}

TableText RegistryTable(const std::vector<RegistryRow>& rows) {
  std::string text =
      "Registry\tRoot\tKey\tName\tValue\tComponent_\n"
      "s72\ti2\tl255\tL255\tL0\ts72\n"
      "Registry\tRegistry\n";
  for (const RegistryRow& row : rows) {
    text +=
        Join({row.Registry, std::to_string(row.Root), row.Key, row.Name, row.Value, row.Component});
  }
  return {"Registry", text};
}

TableText MediaTable(const std::vector<std::string>& rows) {
  std::string text =
      "DiskId\tLastSequence\tDiskPrompt\tCabinet\tVolumeLabel\tSource\n"
      "i2\ti4\tL64\tS255\tS32\tS72\n"
      "Media\tDiskId\n";
  for (const std::string& row : rows) text += row + "\n";
  return {"Media", text};
}

TableText ProductPropertyTable(const ProductFacts& product) {
  return PropertyTable({{"ProductCode", product.ProductCode},
                        {"ProductVersion", product.ProductVersion},
                        {"ProductName", product.ProductName},
                        {"ProductLanguage", product.ProductLanguage}});
}

bool MakeProductDatabase(const std::string& path, const ProductFacts& product,
                         const std::vector<TableText>& extraTables) {
  std::vector<TableText> tables{ProductPropertyTable(product)};
  tables.insert(tables.end(), extraTables.begin(), extraTables.end());
  return MakeDatabase(path, tables);
}

bool MakePatchPackage(const std::string& path, const PatchFacts& patch) {
  namespace tw = transform_writer;
  // 1. The patch's own tables and summary, in a database beside `path`.
  std::vector<TableText> tables;
  std::string metadata =
      "Company\tProperty\tValue\nS72\ts72\tl0\nMsiPatchMetadata\tCompany\tProperty\n";
  if (!patch.ProductVersion.empty()) metadata += Join({"", "ProductVersion", patch.ProductVersion});
  tables.push_back({"MsiPatchMetadata", metadata});
  // 2. A pair of transforms per product code among the targets.
  std::vector<tw::NamedTransform> transforms;
  std::string list;
  std::size_t start = 0;
  while (start < patch.Targets.size()) {
    std::size_t end = patch.Targets.find(';', start);
    if (end == std::string::npos) end = patch.Targets.size();
    std::string code = patch.Targets.substr(start, end - start);
    start = end + 1;
    if (code.size() != 38 || code[0] != '{') continue;
    std::string name = "T" + std::to_string(transforms.size() / 2 + 1);
    list += (list.empty() ? ":" : ";:") + name + ";:#" + name;
    std::string newVersion =
        patch.ProductVersion.empty() ? patch.FromVersion : patch.ProductVersion;
    tw::Transform data;
    if (!patch.ProductVersion.empty()) {
      data.Tables.push_back({{"Property", {{"Property", "s72", true}, {"Value", "l0", false}}},
                             false,
                             {{tw::RowChange::Kind::Update, {"ProductVersion", newVersion}}}});
    }
    data.Summary.Template = "Intel;0";
    data.Summary.LastSavedBy = "Intel;0";
    data.Summary.RevisionNumber = code + patch.FromVersion + ";" + code + newVersion +
                                  ";{00000000-0000-4000-8000-000000000000}";
    data.Summary.ValidationFlags =
        tw::kValidateProduct | tw::kValidateUpdateVersion | tw::kValidateNewEqualBaseVersion;
    data.Summary.SuppressedErrors = 0x17;
    tw::Transform own;
    own.Tables.push_back({{"PatchPackage", {{"PatchId", "s38", true}, {"Media_", "i2", false}}},
                          true,
                          {{tw::RowChange::Kind::Insert, {patch.PatchCode, "1"}}}});
    own.Summary = data.Summary;
    own.Summary.ValidationFlags = 0;
    transforms.push_back({name, data});
    transforms.push_back({"#" + name, own});
  }
  SummaryText summary;
  summary.Title = "Patch";
  summary.Template = patch.Targets;
  summary.RevisionNumber = patch.PatchCode + patch.RevisionTail;
  summary.LastSavedBy = list;
  const std::string tablesOnly = path + ".tables";
  if (!MakeDatabase(tablesOnly, tables, summary, true)) return false;
  // 3. The package: that database with the transforms as substorages.
  std::string error;
  bool written = tw::WritePackageWithTransforms(tablesOnly, transforms, path, error);
  std::remove(tablesOnly.c_str());
  if (!written) ADD_FAILURE() << "cannot write " << path << ": " << error;
  return written;
}

bool ApplyTransformFile(const std::string& database, const std::string& transform,
                        const std::string& output) {
  std::error_code failed;
  std::filesystem::copy_file(database, output, std::filesystem::copy_options::overwrite_existing,
                             failed);
  if (failed) {
    ADD_FAILURE() << "cannot copy " << database << ": " << failed.message();
    return false;
  }
  platform::UINT result = platform::posix::ApplyTransformFile(output, transform);
  if (result != platform::ERROR_SUCCESS) {
    ADD_FAILURE() << "applying " << transform << " to " << database << " gave " << result;
    return false;
  }
  return true;
}

std::vector<std::vector<std::string>> ReadRows(const std::string& path, const std::string& query) {
  ErrorHolder error;
  GPtr<LibmsiDatabase> database(
      libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error));
  if (!database) {
    error.Clear();
    database.reset(libmsi_database_new(
        path.c_str(), LIBMSI_DB_FLAGS_READONLY | LIBMSI_DB_FLAGS_PATCH, nullptr, &error.Error));
  }
  if (!database) {
    ADD_FAILURE() << "cannot open " << path << ": " << error.Message();
    return {};
  }
  GPtr<LibmsiQuery> view(libmsi_query_new(database.get(), query.c_str(), &error.Error));
  if (!view || !libmsi_query_execute(view.get(), nullptr, &error.Error)) {
    ADD_FAILURE() << "query " << query << ": " << error.Message();
    return {};
  }
  std::vector<std::vector<std::string>> rows;
  while (GPtr<LibmsiRecord> record{libmsi_query_fetch(view.get(), &error.Error)}) {
    std::vector<std::string> row;
    guint count = libmsi_record_get_field_count(record.get());
    for (guint field = 1; field <= count; ++field) {
      gchar* text = libmsi_record_get_string(record.get(), field);
      row.push_back(text != nullptr ? text : "");
      g_free(text);
    }
    rows.push_back(std::move(row));
  }
  libmsi_query_close(view.get(), nullptr);
  return rows;
}

std::string ExportTable(const std::string& path, const std::string& table) {
  // msiinfo writes the table to standard output; run it without a shell.
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {};
  }
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], 1);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execlp("msiinfo", "msiinfo", "export", path.c_str(), table.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  std::string output;
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) output.append(buffer, got);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "msiinfo export " << path << " " << table << " failed";
    return {};
  }
  return output;
}

std::string ReadSummaryProperty(const std::string& path, int property) {
  ErrorHolder error;
  GPtr<LibmsiDatabase> database(
      libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error));
  if (!database) return {};
  GPtr<LibmsiSummaryInfo> info(libmsi_summary_info_new(database.get(), 0, &error.Error));
  if (!info) return {};
  auto id = static_cast<LibmsiProperty>(property);
  switch (libmsi_summary_info_get_property_type(info.get(), id, nullptr)) {
    case LIBMSI_PROPERTY_TYPE_STRING: {
      const gchar* text = libmsi_summary_info_get_string(info.get(), id, nullptr);
      return text != nullptr ? text : "";
    }
    case LIBMSI_PROPERTY_TYPE_INT:
      return std::to_string(libmsi_summary_info_get_int(info.get(), id, nullptr));
    default:
      return {};
  }
}

}  // namespace testing_support
