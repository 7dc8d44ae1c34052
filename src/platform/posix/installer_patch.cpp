// Patch transforms on the emulated installer service: the choice of the transforms that fit
// a product, their application through libmsi and the commit of the cached database.
#include "platform/posix/installer_patch.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>

#include "platform/posix/host.h"
#include "platform/posix/installer_handles.h"

namespace platform {
namespace posix {
namespace {

// Validation flags of a transform (the upper word of its character count), as msiquery.h
// names them.
enum : std::uint32_t {
  kValidateLanguage = 0x0001,
  kValidateProduct = 0x0002,
  kValidateMajorVersion = 0x0008,
  kValidateMinorVersion = 0x0010,
  kValidateUpdateVersion = 0x0020,
  kValidateNewLessBaseVersion = 0x0040,
  kValidateNewLessEqualBaseVersion = 0x0080,
  kValidateNewEqualBaseVersion = 0x0100,
  kValidateNewGreaterEqualBaseVersion = 0x0200,
  kValidateNewGreaterBaseVersion = 0x0400,
  kValidateUpgradeCode = 0x0800,
};

const guint8 kTransformClassId[16] = {0x82, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

template <typename T>
using GsfPtr = GObjectPtr<T>;

GsfPtr<GsfInfile> OpenCompoundFile(const std::string& path) {
  gsf_init();
  GsfPtr<GsfInput> input(gsf_input_stdio_new(path.c_str(), nullptr));
  if (!input) return nullptr;
  return GsfPtr<GsfInfile>(gsf_infile_msole_new(input.get(), nullptr));
}

bool IsStorage(GsfInput* entry) {
  return GSF_IS_INFILE(entry) && gsf_infile_num_children(GSF_INFILE(entry)) >= 0;
}

bool CopyStreams(GsfInfile* from, GsfOutfile* to) {
  int count = gsf_infile_num_children(from);
  for (int i = 0; i < count; ++i) {
    GsfPtr<GsfInput> child(gsf_infile_child_by_index(from, i));
    const char* name = gsf_infile_name_by_index(from, i);
    if (!child || name == nullptr) return false;
    bool storage = IsStorage(child.get());
    GsfPtr<GsfOutput> copy(gsf_outfile_new_child(to, name, storage));
    if (!copy) return false;
    bool ok = storage ? CopyStreams(GSF_INFILE(child.get()), GSF_OUTFILE(copy.get()))
                      : gsf_input_copy(child.get(), copy.get());
    if (!gsf_output_close(copy.get()) || !ok) return false;
  }
  return true;
}

// The whole content of one stream of `storage`; false when there is none.
bool ReadStream(GsfInfile* storage, const char* name, std::string& bytes) {
  GsfPtr<GsfInput> stream(gsf_infile_child_by_name(storage, name));
  if (!stream || IsStorage(stream.get())) return false;
  gsf_off_t size = gsf_input_size(stream.get());
  if (size < 0 || size > (1 << 24)) return false;
  bytes.resize(static_cast<std::size_t>(size));
  return size == 0 || gsf_input_read(stream.get(), static_cast<std::size_t>(size),
                                     reinterpret_cast<guint8*>(bytes.data())) != nullptr;
}

std::uint32_t Read32(const std::string& bytes, std::size_t at) {
  if (at + 4 > bytes.size()) return 0;
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

// The text (VT_LPSTR) and number (VT_I2, VT_I4) properties of a summary information stream.
struct Summary {
  std::map<std::uint32_t, std::string> Texts;
  std::map<std::uint32_t, std::uint32_t> Numbers;
};

bool ReadSummary(GsfInfile* storage, Summary& summary) {
  std::string bytes;
  if (!ReadStream(storage, "\005SummaryInformation", bytes) || bytes.size() < 48 ||
      static_cast<unsigned char>(bytes[0]) != 0xFE ||
      static_cast<unsigned char>(bytes[1]) != 0xFF) {
    return false;
  }
  std::size_t section = Read32(bytes, 44);
  std::uint32_t count = Read32(bytes, section + 4);
  if (section + 8 + 8ull * count > bytes.size()) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t id = Read32(bytes, section + 8 + 8 * i);
    std::size_t at = section + Read32(bytes, section + 12 + 8 * i);
    std::uint32_t type = Read32(bytes, at);
    if (type == 30) {  // VT_LPSTR: length with its terminator, then the text
      std::uint32_t length = Read32(bytes, at + 4);
      if (length == 0 || at + 8 + length > bytes.size()) return false;
      summary.Texts[id] = bytes.substr(at + 8, length - 1);
    } else if (type == 3 || type == 2) {
      summary.Numbers[id] = type == 3 ? Read32(bytes, at + 4) : Read32(bytes, at + 4) & 0xFFFF;
    }
  }
  return true;
}

// The table a transform stream writes to: the installer's encoding of table names (a
// leading U+4840, then base-64 digits two to a character) undone. Empty for other streams.
std::string DecodedTableName(const char* utf8) {
  std::u16string name = FromUtf8(utf8);
  if (name.empty() || name[0] != 0x4840) return {};
  auto digit = [](unsigned value) -> char {
    if (value < 10) return static_cast<char>('0' + value);
    if (value < 36) return static_cast<char>('A' + value - 10);
    if (value < 62) return static_cast<char>('a' + value - 36);
    return value == 62 ? '.' : '_';
  };
  std::string decoded;
  for (std::size_t i = 1; i < name.size(); ++i) {
    char16_t c = name[i];
    if (c >= 0x3800 && c < 0x4800) {
      decoded += digit((c - 0x3800) & 0x3F);
      decoded += digit(((c - 0x3800) >> 6) & 0x3F);
    } else if (c >= 0x4800 && c < 0x4840) {
      decoded += digit(c - 0x4800);
    } else {
      decoded += ToUtf8(std::u16string(1, c));
    }
  }
  return decoded;
}

// A transform's streams, read: its strings and the rows of each table stream.
class TransformReader {
 public:
  // False when the storage's streams are not a transform's.
  bool Read(GsfInfile* transform) {
    int count = gsf_infile_num_children(transform);
    for (int i = 0; i < count; ++i) {
      const char* name = gsf_infile_name_by_index(transform, i);
      std::string table = name != nullptr ? DecodedTableName(name) : std::string();
      if (table.empty()) continue;
      std::string bytes;
      if (!ReadStream(transform, name, bytes)) return false;
      Streams[table] = bytes;
    }
    return ReadStrings();
  }

  // The string of `id`; id 0 is the null value.
  bool String(std::uint32_t id, std::optional<std::string>& text) const {
    if (id >= Strings.size()) return false;
    text = id == 0 ? std::nullopt : std::optional<std::string>(Strings[id]);
    return true;
  }
  std::uint32_t Reference(const std::string& bytes, std::size_t at) const {
    std::uint32_t id =
        static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
    if (ReferenceWidth == 3)
      id |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16;
    return id;
  }

  std::map<std::string, std::string> Streams;  // table name: stream bytes
  std::vector<std::string> Strings;
  std::size_t ReferenceWidth = 2;

 private:
  // _StringPool: the code page, then a length and a reference count per string id from 1
  // (a zero length with references puts the high word of a long length before it);
  // _StringData: the strings one after another.
  bool ReadStrings() {
    const std::string& pool = Streams["_StringPool"];
    const std::string& data = Streams["_StringData"];
    if (pool.size() < 4) return false;
    ReferenceWidth = (static_cast<unsigned char>(pool[3]) & 0x80) != 0 ? 3 : 2;
    Strings.assign(1, std::string());
    std::size_t offset = 0;
    for (std::size_t at = 4; at + 4 <= pool.size(); at += 4) {
      std::uint32_t entry = Read32(pool, at);
      std::uint32_t length = entry & 0xFFFF;
      if (length == 0 && (entry >> 16) != 0 && at + 8 <= pool.size()) {
        length = ((entry >> 16) << 16) | (Read32(pool, at + 4) & 0xFFFF);
        at += 4;
      }
      if (offset + length > data.size()) return false;
      Strings.push_back(data.substr(offset, length));
      offset += length;
    }
    return true;
  }
};

// A column of a table as libmsi describes it ("s72", "L0", "i2" ...).
struct TableColumn {
  std::string Name;
  std::string Type;
  bool Key = false;
  bool IsString() const {
    return !Type.empty() && (Type[0] == 's' || Type[0] == 'S' || Type[0] == 'l' || Type[0] == 'L');
  }
  bool IsBinary() const { return !Type.empty() && (Type[0] == 'v' || Type[0] == 'V'); }
  std::size_t Width(std::size_t reference) const {
    if (IsString()) return reference;
    return Type.size() > 1 && Type[1] == '4' ? 4 : 2;
  }
};

// Runs `sql` with `values` (a transform's texts, null for none) bound as the columns of
// `types` take them.
bool RunQuery(LibmsiDatabase* database, const std::string& sql,
              const std::vector<std::optional<std::string>>& values,
              const std::vector<TableColumn>& types, std::size_t* rows = nullptr) {
  std::vector<Parameter> parameters;
  for (std::size_t i = 0; i < values.size(); ++i) {
    FieldValue value;
    value.IsNull = !values[i].has_value();
    value.Text = values[i].value_or("");
    value.IsInteger = !types[i].IsString() && !value.IsNull;
    if (value.IsInteger) value.Integer = std::atoi(value.Text.c_str());
    parameters.push_back({value, types[i].Type});
  }
  return RunStatement(database, sql, parameters, rows);
}

// The columns of `table` in `database`; empty when there is no such table.
std::vector<TableColumn> ColumnsOf(LibmsiDatabase* database, const std::string& table) {
  GErrorHolder error;
  GObjectPtr<LibmsiQuery> query(
      libmsi_query_new(database, ("SELECT * FROM " + Quoted(table)).c_str(), &error.Error));
  if (!query) return {};
  GObjectPtr<LibmsiRecord> names(
      libmsi_query_get_column_info(query.get(), LIBMSI_COL_INFO_NAMES, nullptr));
  GObjectPtr<LibmsiRecord> types(
      libmsi_query_get_column_info(query.get(), LIBMSI_COL_INFO_TYPES, nullptr));
  GObjectPtr<LibmsiRecord> keys(libmsi_database_get_primary_keys(database, table.c_str(), nullptr));
  std::vector<TableColumn> columns;
  if (!names || !types || !keys) return columns;
  guint count = libmsi_record_get_field_count(names.get());
  for (guint i = 1; i <= count; ++i) {
    columns.push_back({ReadField(names.get(), i).Text, ReadField(types.get(), i).Text, false});
  }
  guint keyCount = libmsi_record_get_field_count(keys.get());
  for (guint i = 1; i <= keyCount; ++i) {
    std::string key = ReadField(keys.get(), i).Text;
    for (TableColumn& column : columns) column.Key = column.Key || column.Name == key;
  }
  return columns;
}

// The rows of one table stream of a transform, as fields by column (nullopt: not given).
struct TransformRow {
  std::uint32_t Mask = 0;
  std::vector<std::optional<std::string>> Fields;
  std::vector<bool> Given;
};

bool ReadRows(const TransformReader& reader, const std::string& bytes,
              const std::vector<TableColumn>& columns, std::vector<TransformRow>& rows) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (at + 2 > bytes.size()) return false;
    TransformRow row;
    row.Mask = static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1])
                                                           << 8;
    at += 2;
    // Low bit set: the first mask >> 8 columns follow; else keys and the masked columns.
    std::size_t first = (row.Mask & 1) ? (row.Mask >> 8) : columns.size();
    if (first > columns.size()) return false;
    row.Fields.assign(columns.size(), std::nullopt);
    row.Given.assign(columns.size(), false);
    for (std::size_t i = 0; i < first; ++i) {
      if (!(row.Mask & 1) && !columns[i].Key && !((1u << i) & row.Mask)) continue;
      if (columns[i].IsBinary()) return false;
      std::size_t width = columns[i].Width(reader.ReferenceWidth);
      if (at + width > bytes.size()) return false;
      if (columns[i].IsString()) {
        if (!reader.String(reader.Reference(bytes, at), row.Fields[i])) return false;
      } else {
        std::uint32_t stored =
            static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
        if (width == 4) stored |= Read32(bytes, at) & 0xFFFF0000u;
        if (stored != 0) {
          long value = width == 2 ? static_cast<long>(stored) - 0x8000
                                  : static_cast<std::int32_t>(stored ^ 0x80000000u);
          row.Fields[i] = std::to_string(value);
        }
      }
      row.Given[i] = true;
      at += width;
    }
    rows.push_back(std::move(row));
  }
  return true;
}

// The type text of a _Columns type code, for CREATE TABLE.
std::string ColumnDefinition(const std::string& name, std::uint32_t type) {
  std::string definition = Quoted(name);
  const std::uint32_t size = type & 0xFF;
  if (type & 0x0800) {
    definition += size == 0 ? " LONGCHAR" : " CHAR(" + std::to_string(size) + ")";
    if (type & 0x0200) definition += " LOCALIZABLE";
  } else {
    definition += size == 4 ? " LONG" : " SHORT";
  }
  if (!(type & 0x1000)) definition += " NOT NULL";
  return definition;
}

// Steps: 1. the tables the transform adds (its _Tables and _Columns rows); 2. the rows of
// every other table stream, each deleting, replacing or adding the row with its key.
// 1624 when a stream cannot be read or names a table the database lacks.
UINT ApplyTransformStorage(GsfInfile* transform, LibmsiDatabase* database) {
  TransformReader reader;
  if (!reader.Read(transform)) return ERROR_INSTALL_TRANSFORM_FAILURE;
  // 1.
  std::map<std::string, std::vector<std::pair<std::string, std::uint32_t>>> added;
  std::vector<std::string> addedOrder;
  if (reader.Streams.count("_Tables") != 0) {
    const std::vector<TableColumn> tablesColumns = {{"Name", "s64", true}};
    const std::vector<TableColumn> columnsColumns = {{"Table", "s64", true},
                                                     {"Number", "i2", true},
                                                     {"Name", "s64", false},
                                                     {"Type", "i2", false}};
    std::vector<TransformRow> tables;
    std::vector<TransformRow> columns;
    if (!ReadRows(reader, reader.Streams["_Tables"], tablesColumns, tables) ||
        !ReadRows(reader, reader.Streams["_Columns"], columnsColumns, columns)) {
      return ERROR_INSTALL_TRANSFORM_FAILURE;
    }
    for (const TransformRow& row : tables) {
      if (row.Fields[0] && ColumnsOf(database, *row.Fields[0]).empty()) {
        added[*row.Fields[0]];
        addedOrder.push_back(*row.Fields[0]);
      }
    }
    for (const TransformRow& row : columns) {
      if (!row.Fields[0] || !row.Fields[2] || !row.Fields[3]) continue;
      auto table = added.find(*row.Fields[0]);
      if (table == added.end()) continue;
      table->second.emplace_back(*row.Fields[2],
                                 static_cast<std::uint32_t>(std::atol(row.Fields[3]->c_str())));
    }
    for (const std::string& name : addedOrder) {
      std::string definitions;
      std::string keys;
      for (const auto& [column, type] : added[name]) {
        definitions += (definitions.empty() ? "" : ", ") + ColumnDefinition(column, type);
        if (type & 0x2000) keys += (keys.empty() ? "" : ", ") + Quoted(column);
      }
      if (definitions.empty() || keys.empty() ||
          !RunQuery(
              database,
              "CREATE TABLE " + Quoted(name) + " (" + definitions + " PRIMARY KEY " + keys + ")",
              {}, {})) {
        return ERROR_INSTALL_TRANSFORM_FAILURE;
      }
    }
  }
  // 2.
  for (const auto& [table, bytes] : reader.Streams) {
    if (table[0] == '_') continue;
    std::vector<TableColumn> columns = ColumnsOf(database, table);
    std::vector<TransformRow> rows;
    if (columns.empty() || !ReadRows(reader, bytes, columns, rows)) {
      return ERROR_INSTALL_TRANSFORM_FAILURE;
    }
    for (const TransformRow& row : rows) {
      std::string condition;
      std::vector<std::optional<std::string>> keyValues;
      std::vector<TableColumn> keyTypes;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!columns[i].Key) continue;
        condition += (condition.empty() ? "" : " AND ") + Quoted(columns[i].Name) + " = ?";
        keyValues.push_back(row.Fields[i]);
        keyTypes.push_back(columns[i]);
      }
      std::size_t found = 0;
      if (!RunQuery(database, "SELECT * FROM " + Quoted(table) + " WHERE " + condition, keyValues,
                    keyTypes, &found)) {
        return ERROR_INSTALL_TRANSFORM_FAILURE;
      }
      bool ok = true;
      if (row.Mask == 0) {
        // A delete of a missing row is an error condition the transform may suppress.
        if (found != 0) {
          ok = RunQuery(database, "DELETE FROM " + Quoted(table) + " WHERE " + condition, keyValues,
                        keyTypes);
        }
      } else if (found != 0) {
        std::string assignments;
        std::vector<std::optional<std::string>> values;
        std::vector<TableColumn> types;
        for (std::size_t i = 0; i < columns.size(); ++i) {
          if (columns[i].Key || !row.Given[i]) continue;
          assignments += (assignments.empty() ? "" : ", ") + Quoted(columns[i].Name) + " = ?";
          values.push_back(row.Fields[i]);
          types.push_back(columns[i]);
        }
        values.insert(values.end(), keyValues.begin(), keyValues.end());
        types.insert(types.end(), keyTypes.begin(), keyTypes.end());
        ok = assignments.empty() ||
             RunQuery(database,
                      "UPDATE " + Quoted(table) + " SET " + assignments + " WHERE " + condition,
                      values, types);
      } else {
        std::string names;
        std::string marks;
        std::vector<std::optional<std::string>> values;
        std::vector<TableColumn> types;
        for (std::size_t i = 0; i < columns.size(); ++i) {
          if (!row.Given[i] || !row.Fields[i]) continue;
          names += (names.empty() ? "" : ", ") + Quoted(columns[i].Name);
          marks += marks.empty() ? "?" : ", ?";
          values.push_back(row.Fields[i]);
          types.push_back(columns[i]);
        }
        ok = RunQuery(database,
                      "INSERT INTO " + Quoted(table) + " (" + names + ") VALUES (" + marks + ")",
                      values, types);
      }
      if (!ok) return ERROR_INSTALL_TRANSFORM_FAILURE;
    }
  }
  return ERROR_SUCCESS;
}

// What the transforms are checked against: the product as its Property table has it.
struct ProductFacts {
  std::string ProductCode;
  std::string ProductVersion;
  std::string UpgradeCode;
  std::string ProductLanguage;
};

std::string PropertyValue(LibmsiDatabase* database, const char* name) {
  GErrorHolder error;
  GObjectPtr<LibmsiQuery> query(libmsi_query_new(
      database, "SELECT `Value` FROM `Property` WHERE `Property` = ?", &error.Error));
  if (!query) return {};
  GObjectPtr<LibmsiRecord> key(libmsi_record_new(1));
  libmsi_record_set_string(key.get(), 1, name);
  std::string value;
  if (libmsi_query_execute(query.get(), key.get(), &error.Error)) {
    if (GObjectPtr<LibmsiRecord> row{libmsi_query_fetch(query.get(), nullptr)}) {
      value = ReadField(row.get(), 1).Text;
    }
    libmsi_query_close(query.get(), nullptr);
  }
  return value;
}

// Whether the database's PatchPackage table, which a patch's own transform fills, holds
// the patch `patchCode` already.
bool HoldsPatch(LibmsiDatabase* database, const std::string& patchCode) {
  GErrorHolder error;
  GObjectPtr<LibmsiQuery> query(libmsi_query_new(
      database, "SELECT `PatchId` FROM `PatchPackage` WHERE `PatchId` = ?", &error.Error));
  if (!query) return false;
  GObjectPtr<LibmsiRecord> key(libmsi_record_new(1));
  libmsi_record_set_string(key.get(), 1, patchCode.c_str());
  bool held = false;
  if (libmsi_query_execute(query.get(), key.get(), &error.Error)) {
    held = GObjectPtr<LibmsiRecord>{libmsi_query_fetch(query.get(), nullptr)} != nullptr;
    libmsi_query_close(query.get(), nullptr);
  }
  return held;
}

ProductFacts ReadProductFacts(LibmsiDatabase* database) {
  return {PropertyValue(database, "ProductCode"), PropertyValue(database, "ProductVersion"),
          PropertyValue(database, "UpgradeCode"), PropertyValue(database, "ProductLanguage")};
}

// The first `fields` numbers of a dotted version (missing ones are 0).
std::vector<unsigned long> VersionFields(const std::string& text, int fields) {
  std::vector<unsigned long> numbers;
  std::size_t start = 0;
  for (int i = 0; i < fields; ++i) {
    numbers.push_back(start < text.size() ? std::strtoul(text.c_str() + start, nullptr, 10) : 0);
    std::size_t dot = text.find('.', start);
    start = dot == std::string::npos ? text.size() : dot + 1;
  }
  return numbers;
}

// Whether a data transform with `summary` fits `product`, as Windows Installer validates it.
bool TransformFits(const Summary& summary, const ProductFacts& product) {
  auto number = summary.Numbers.find(16);
  auto revision = summary.Texts.find(9);
  if (number == summary.Numbers.end() || revision == summary.Texts.end()) return false;
  const std::uint32_t flags = number->second >> 16;
  // "{from}version;{to}version;{upgrade code}"
  const std::string& text = revision->second;
  std::size_t close = text.find('}');
  std::size_t semicolon = text.find(';');
  std::size_t last = text.rfind(';');
  if (text.empty() || text[0] != '{' || close == std::string::npos ||
      semicolon == std::string::npos || semicolon < close || last == semicolon) {
    return false;
  }
  const std::string fromCode = text.substr(0, close + 1);
  const std::string fromVersion = text.substr(close + 1, semicolon - close - 1);
  const std::string upgradeCode = text.substr(last + 1);
  if ((flags & kValidateProduct) && fromCode != product.ProductCode) return false;
  if ((flags & kValidateUpgradeCode) && upgradeCode != product.UpgradeCode) return false;
  if (flags & kValidateLanguage) {
    auto templ = summary.Texts.find(7);
    std::string language;
    if (templ != summary.Texts.end() && templ->second.find(';') != std::string::npos) {
      language = templ->second.substr(templ->second.find(';') + 1);
    }
    if (!language.empty() && language != "0" && language != product.ProductLanguage) return false;
  }
  int fields = (flags & kValidateUpdateVersion)  ? 3
               : (flags & kValidateMinorVersion) ? 2
               : (flags & kValidateMajorVersion) ? 1
                                                 : 0;
  if (fields > 0) {
    std::vector<unsigned long> installed = VersionFields(product.ProductVersion, fields);
    std::vector<unsigned long> base = VersionFields(fromVersion, fields);
    bool holds = installed == base;
    if (flags & kValidateNewLessBaseVersion) holds = installed < base;
    if (flags & kValidateNewLessEqualBaseVersion) holds = installed <= base;
    if (flags & kValidateNewGreaterEqualBaseVersion) holds = installed >= base;
    if (flags & kValidateNewGreaterBaseVersion) holds = installed > base;
    if (flags & kValidateNewEqualBaseVersion) holds = installed == base;
    if (!holds) return false;
  }
  return true;
}

// Applies the transform held as substorage `name` of `patch` to `database`: 0 or 1624.
UINT ApplyOne(GsfInfile* patch, const std::string& name, LibmsiDatabase* database) {
  GsfPtr<GsfInput> storage(gsf_infile_child_by_name(patch, name.c_str()));
  if (!storage || !IsStorage(storage.get())) return ERROR_INSTALL_TRANSFORM_FAILURE;
  return ApplyTransformStorage(GSF_INFILE(storage.get()), database);
}

// Applies the first pair of `package`'s transforms that fits the product: 0, 1635, 1642 or
// 1624.
UINT ApplyPackage(const std::string& package, LibmsiDatabase* database,
                  const std::string& appliedPatches) {
  GsfPtr<GsfInfile> patch = OpenCompoundFile(package);
  Summary patchSummary;
  if (!patch || !ReadSummary(patch.get(), patchSummary)) return ERROR_PATCH_PACKAGE_OPEN_FAILED;
  std::string patchCode = patchSummary.Texts[9].substr(0, 38);
  for (char& c : patchCode) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  // Applied already: recorded on the product, or in the database though not recorded yet
  // (a configuration ended between the commit of the database and that of the registry).
  if (patchCode.size() == 38 &&
      (appliedPatches.find(patchCode) != std::string::npos || HoldsPatch(database, patchCode))) {
    return ERROR_SUCCESS;
  }
  const ProductFacts product = ReadProductFacts(database);
  // ":Kyro1;:#Kyro1;:Kyro2;:#Kyro2": each data transform, then the patch's own.
  std::vector<std::string> names;
  const std::string& list = patchSummary.Texts[8];
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(start, end - start);
    if (item.size() > 1 && item[0] == ':') names.push_back(item.substr(1));
    start = end + 1;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i][0] == '#') continue;
    GsfPtr<GsfInput> storage(gsf_infile_child_by_name(patch.get(), names[i].c_str()));
    Summary summary;
    if (!storage || !IsStorage(storage.get()) || !ReadSummary(GSF_INFILE(storage.get()), summary) ||
        !TransformFits(summary, product)) {
      continue;
    }
    if (UINT result = ApplyOne(patch.get(), names[i], database); result != ERROR_SUCCESS) {
      return result;
    }
    if (i + 1 < names.size() && names[i + 1] == "#" + names[i]) {
      return ApplyOne(patch.get(), names[i + 1], database);
    }
    return ERROR_SUCCESS;
  }
  return ERROR_PATCH_TARGET_NOT_FOUND;
}

}  // namespace

bool ExtractTransform(const std::string& patch, const std::string& name, const std::string& path) {
  GsfPtr<GsfInfile> package = OpenCompoundFile(patch);
  GsfPtr<GsfInput> storage(package ? gsf_infile_child_by_name(package.get(), name.c_str())
                                   : nullptr);
  if (!storage || !IsStorage(storage.get())) return false;
  GsfPtr<GsfOutput> sink(gsf_output_stdio_new(path.c_str(), nullptr));
  if (!sink) return false;
  GsfPtr<GsfOutfile> copy(gsf_outfile_msole_new(sink.get()));
  bool ok = gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(copy.get()), kTransformClassId) &&
            CopyStreams(GSF_INFILE(storage.get()), copy.get());
  ok = gsf_output_close(GSF_OUTPUT(copy.get())) && ok;
  ok = (gsf_output_is_closed(sink.get()) || gsf_output_close(sink.get())) && ok;
  if (!ok) unlink(path.c_str());
  return ok;
}

namespace {

// Opens the database at `path` for a crash-safe commit, lets `edit` change it and commits
// it: 0, what `edit` returned when it failed (the file is then left as it was), or 1620 when
// the database does not open or commit.
template <typename Edit>
UINT EditAndCommit(const std::string& path, Edit edit) {
  InstallerHandleHolder handle;
  std::u16string widePath = FromUtf8(path);
  if (MsiOpenDatabaseW(widePath.c_str(), MSIDBOPEN_TRANSACT, handle.Receive()) != ERROR_SUCCESS) {
    return ERROR_INSTALL_PACKAGE_INVALID;
  }
  std::shared_ptr<DatabaseObject> opened = FindHandle<DatabaseObject>(handle.Get());
  if (!opened) return ERROR_INSTALL_PACKAGE_INVALID;
  if (UINT result = edit(opened->Database.get()); result != ERROR_SUCCESS) return result;
  return MsiDatabaseCommit(handle.Get()) == ERROR_SUCCESS ? ERROR_SUCCESS
                                                          : ERROR_INSTALL_PACKAGE_INVALID;
}

}  // namespace

UINT ApplyPatchTransforms(const std::string& database, const std::vector<std::string>& patches,
                          const std::string& appliedPatches, std::string& productVersion) {
  return EditAndCommit(database, [&](LibmsiDatabase* opened) -> UINT {
    // Each package's transforms, in the order given, then the version the patched database
    // holds.
    for (const std::string& patch : patches) {
      if (UINT result = ApplyPackage(patch, opened, appliedPatches); result != ERROR_SUCCESS) {
        return result;
      }
    }
    productVersion = PropertyValue(opened, "ProductVersion");
    return ERROR_SUCCESS;
  });
}

UINT ApplyTransformFile(const std::string& database, const std::string& transform) {
  GsfPtr<GsfInfile> storage = OpenCompoundFile(transform);
  if (!storage) return ERROR_INSTALL_TRANSFORM_FAILURE;
  return EditAndCommit(database, [&](LibmsiDatabase* opened) {
    return ApplyTransformStorage(storage.get(), opened);
  });
}

}  // namespace posix
}  // namespace platform
