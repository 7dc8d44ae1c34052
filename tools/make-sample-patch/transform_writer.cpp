// Transforms written byte for byte as the installer's transform reader takes them (the
// same layout Wine's and libmsi's msi_table_apply_transform read).
#include "transform_writer.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <cstring>
#include <map>

namespace transform_writer {

const std::uint8_t kTransformClassId[16] = {0x82, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

namespace {

// Column type bits of the _Columns table.
constexpr std::uint16_t kTypeValid = 0x0100;
constexpr std::uint16_t kTypeLocalizable = 0x0200;
constexpr std::uint16_t kTypeShort = 0x0400;  // 16-bit integers
constexpr std::uint16_t kTypeString = 0x0800 | kTypeShort;
constexpr std::uint16_t kTypeNullable = 0x1000;
constexpr std::uint16_t kTypeKey = 0x2000;

struct ColumnType {
  bool IsString = false;
  bool Nullable = false;
  int Width = 0;  // bytes of an integer field
  std::uint16_t Code = 0;
};

bool ParseType(const Column& column, ColumnType& type, std::string& error) {
  const std::string& text = column.Type;
  if (text.size() < 2) {
    error = "column " + column.Name + ": bad type \"" + text + "\"";
    return false;
  }
  char kind = text[0];
  int size = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9' || size > 255) {
      error = "column " + column.Name + ": bad type \"" + text + "\"";
      return false;
    }
    size = size * 10 + (text[i] - '0');
  }
  type.Nullable = kind == 'S' || kind == 'L' || kind == 'I';
  if (kind == 's' || kind == 'S' || kind == 'l' || kind == 'L') {
    if (size > 255) size = 255;
    type.IsString = true;
    type.Code = static_cast<std::uint16_t>(kTypeValid | kTypeString | size);
    if (kind == 'l' || kind == 'L') type.Code |= kTypeLocalizable;
  } else if ((kind == 'i' || kind == 'I') && (size == 2 || size == 4)) {
    type.Width = size;
    type.Code = static_cast<std::uint16_t>(kTypeValid | (size == 2 ? kTypeShort : 0) | size);
  } else {
    error = "column " + column.Name + ": unsupported type \"" + text + "\"";
    return false;
  }
  if (type.Nullable) type.Code |= kTypeNullable;
  if (column.Key) type.Code |= kTypeKey;
  return true;
}

// The transform's string pool: ids from 1, in order of first use.
class StringPool {
 public:
  bool Add(const std::string& text, std::uint16_t& id, std::string& error) {
    for (char c : text) {
      if (static_cast<unsigned char>(c) > 0x7F) {
        error = "text is not ASCII: \"" + text + "\"";
        return false;
      }
    }
    auto found = Ids.find(text);
    if (found == Ids.end()) {
      if (Texts.size() >= 0xFFFE) {
        error = "too many strings for one transform";
        return false;
      }
      Texts.push_back(text);
      Refs.push_back(0);
      found = Ids.emplace(text, static_cast<std::uint16_t>(Texts.size())).first;
    }
    id = found->second;
    ++Refs[id - 1];
    return true;
  }
  // _StringPool: the code page (0, neutral) then a length and a reference count per string.
  std::string Pool() const {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < Texts.size(); ++i) {
      Put16(bytes, static_cast<std::uint16_t>(Texts[i].size()));
      Put16(bytes, Refs[i]);
    }
    return bytes;
  }
  std::string Data() const {
    std::string bytes;
    for (const std::string& text : Texts) bytes += text;
    return bytes;
  }
  static void Put16(std::string& bytes, std::uint32_t value) {
    bytes += static_cast<char>(value & 0xFF);
    bytes += static_cast<char>((value >> 8) & 0xFF);
  }

 private:
  std::map<std::string, std::uint16_t> Ids;
  std::vector<std::string> Texts;
  std::vector<std::uint16_t> Refs;
};

bool ParseInteger(const std::string& text, long long& value) {
  if (text.empty()) return false;
  std::size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9' || value > 0xFFFFFFFFLL) return false;
    value = value * 10 + (text[i] - '0');
  }
  if (text[0] == '-') value = -value;
  return true;
}

// One field as the transform stores it: a string id, or an integer offset so that 0 stays
// the null value (2 bytes: value + 0x8000; 4 bytes: value with its top bit flipped).
bool PutField(std::string& bytes, StringPool& strings, const ColumnType& type,
              const std::string& value, const std::string& column, std::string& error) {
  if (value.empty() && !type.Nullable && !type.IsString) {
    error = "column " + column + " needs a value";
    return false;
  }
  if (type.IsString) {
    std::uint16_t id = 0;
    if (!value.empty() && !strings.Add(value, id, error)) return false;
    StringPool::Put16(bytes, id);
    return true;
  }
  std::uint32_t stored = 0;
  if (!value.empty()) {
    long long number = 0;
    bool fits = ParseInteger(value, number) &&
                (type.Width == 2 ? number >= -0x7FFF && number <= 0x7FFF
                                 : number >= -0x7FFFFFFFLL && number <= 0x7FFFFFFFLL);
    if (!fits) {
      error = "column " + column + ": \"" + value + "\" is not a " +
              std::to_string(type.Width * 8) + "-bit integer";
      return false;
    }
    stored = type.Width == 2 ? static_cast<std::uint32_t>(number + 0x8000)
                             : static_cast<std::uint32_t>(number) ^ 0x80000000u;
  }
  StringPool::Put16(bytes, stored & 0xFFFF);
  if (type.Width == 4) StringPool::Put16(bytes, stored >> 16);
  return true;
}

// The records of one table stream. A mask with its low bit set means "the first mask >> 8
// columns follow" (an insert, or a full replacement of the row with the same key); a mask
// without it names the non-key columns present (keys always are); mask 0 deletes.
bool TableStream(const TableChanges& table, const std::vector<ColumnType>& types,
                 StringPool& strings, std::string& bytes, std::string& error) {
  const std::vector<Column>& columns = table.Schema.Columns;
  for (const RowChange& row : table.Rows) {
    if (row.Fields.size() != columns.size()) {
      error = table.Schema.Name + ": a row needs " + std::to_string(columns.size()) + " fields";
      return false;
    }
    std::uint32_t mask = 0;
    std::vector<bool> present(columns.size(), false);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      bool key = columns[i].Key;
      if (key && !row.Fields[i]) {
        error = table.Schema.Name + ": a row needs its key fields";
        return false;
      }
      switch (row.Operation) {
        case RowChange::Kind::Insert:
          if (!row.Fields[i]) {
            error = table.Schema.Name + ": an added row needs every field";
            return false;
          }
          present[i] = true;
          break;
        case RowChange::Kind::Update:
          present[i] = key || row.Fields[i].has_value();
          if (!key && row.Fields[i]) mask |= 1u << i;
          break;
        case RowChange::Kind::Delete:
          present[i] = key;
          break;
      }
    }
    if (row.Operation == RowChange::Kind::Insert) {
      mask = static_cast<std::uint32_t>(columns.size() << 8) | 1;
    } else if (row.Operation == RowChange::Kind::Update && (mask == 0 || mask > 0xFFFF)) {
      error = table.Schema.Name + ": an update must change one of the first 16 columns";
      return false;
    }
    StringPool::Put16(bytes, mask);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (present[i] &&
          !PutField(bytes, strings, types[i], *row.Fields[i], columns[i].Name, error)) {
        return false;
      }
    }
  }
  return true;
}

bool WriteStream(GsfOutfile* storage, const std::string& name, const std::string& bytes,
                 std::string& error) {
  GsfOutput* stream = gsf_outfile_new_child(storage, name.c_str(), FALSE);
  bool ok = stream != nullptr &&
            gsf_output_write(stream, bytes.size(), reinterpret_cast<const guint8*>(bytes.data()));
  if (stream != nullptr) {
    ok = gsf_output_close(stream) && ok;
    g_object_unref(stream);
  }
  if (!ok) error = "cannot write stream " + name;
  return ok;
}

void Put32(std::string& bytes, std::uint32_t value) {
  StringPool::Put16(bytes, value & 0xFFFF);
  StringPool::Put16(bytes, value >> 16);
}

// "\005SummaryInformation": one property set (FMTID_SummaryInformation) holding the
// transform's properties, text as VT_LPSTR and numbers as VT_I4, in the layout of the
// summary streams the installer writes.
std::string SummaryStream(const TransformSummary& summary) {
  constexpr std::uint32_t kLpstr = 30;
  constexpr std::uint32_t kI4 = 3;
  struct Property {
    std::uint32_t Id;
    std::string Value;  // encoded value, type first
  };
  std::vector<Property> properties;
  auto text = [&properties](std::uint32_t id, const std::string& value) {
    std::string bytes;
    Put32(bytes, kLpstr);
    Put32(bytes, static_cast<std::uint32_t>(value.size() + 1));
    bytes += value;
    bytes += '\0';
    while (bytes.size() % 4 != 0) bytes += '\0';
    properties.push_back({id, bytes});
  };
  auto number = [&properties](std::uint32_t id, std::uint32_t value) {
    std::string bytes;
    Put32(bytes, kI4);
    Put32(bytes, value);
    properties.push_back({id, bytes});
  };
  text(2, summary.Title);
  text(7, summary.Template);
  text(8, summary.LastSavedBy);
  text(9, summary.RevisionNumber);
  number(14, static_cast<std::uint32_t>(summary.MinimumInstallerVersion));
  number(16,
         (static_cast<std::uint32_t>(summary.ValidationFlags) << 16) | summary.SuppressedErrors);

  std::string section;
  std::uint32_t offset = 8 + 8 * static_cast<std::uint32_t>(properties.size());
  std::string values;
  std::string index;
  for (const Property& property : properties) {
    Put32(index, property.Id);
    Put32(index, offset + static_cast<std::uint32_t>(values.size()));
    values += property.Value;
  }
  Put32(section, offset + static_cast<std::uint32_t>(values.size()));
  Put32(section, static_cast<std::uint32_t>(properties.size()));
  section += index + values;

  static const std::uint8_t kFormatId[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                             0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  std::string stream;
  StringPool::Put16(stream, 0xFFFE);  // byte order
  StringPool::Put16(stream, 0);       // format version
  Put32(stream, 0x00020205);          // the writing system, as the installer records it
  stream.append(16, '\0');            // class id
  Put32(stream, 1);                   // one section
  stream.append(reinterpret_cast<const char*>(kFormatId), 16);
  Put32(stream, static_cast<std::uint32_t>(stream.size() + 4));
  return stream + section;
}

// Copies every child of `from` into `to`: streams byte for byte, storages with their class.
bool CopyStorage(GsfInfile* from, GsfOutfile* to, std::string& error) {
  int count = gsf_infile_num_children(from);
  for (int i = 0; i < count; ++i) {
    const char* name = gsf_infile_name_by_index(from, i);
    GsfInput* child = gsf_infile_child_by_index(from, i);
    if (child == nullptr || name == nullptr) {
      if (child != nullptr) g_object_unref(child);
      error = "cannot read the package's entry " + std::to_string(i);
      return false;
    }
    bool isStorage = GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0;
    GsfOutput* copy = gsf_outfile_new_child(to, name, isStorage);
    bool ok = copy != nullptr;
    if (ok && isStorage) {
      guint8 classId[16];
      if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(child), classId)) {
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(copy), classId);
      }
      ok = CopyStorage(GSF_INFILE(child), GSF_OUTFILE(copy), error);
    } else if (ok) {
      ok = gsf_input_copy(child, copy);
    }
    if (copy != nullptr) {
      ok = gsf_output_close(copy) && ok;
      g_object_unref(copy);
    }
    g_object_unref(child);
    if (!ok) {
      if (error.empty()) error = std::string("cannot copy the package's entry ") + name;
      return false;
    }
  }
  return true;
}

}  // namespace

std::string EncodeTableStreamName(const std::string& name) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 36;
    if (c == '.') return 62;
    if (c == '_') return 63;
    return -1;
  };
  std::vector<std::uint32_t> characters{0x4840};
  for (std::size_t i = 0; i < name.size(); ++i) {
    int first = digit(name[i]);
    if (first < 0) {
      characters.push_back(static_cast<unsigned char>(name[i]));
    } else if (i + 1 < name.size() && digit(name[i + 1]) >= 0) {
      characters.push_back(0x3800 + first + (digit(name[i + 1]) << 6));
      ++i;
    } else {
      characters.push_back(0x4800 + first);
    }
  }
  std::string utf8;
  for (std::uint32_t c : characters) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {  // every encoded character lies below U+10000 and above U+07FF
      utf8 += static_cast<char>(0xE0 | (c >> 12));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

// Steps: 1. the column types; 2. the rows of each table stream, and _Tables and _Columns
// for added tables, filling the string pool; 3. the streams; 4. the summary; 5. the class.
bool WriteTransform(GsfOutfile* storage, const Transform& transform, std::string& error) {
  StringPool strings;
  std::string tablesStream;
  std::string columnsStream;
  std::vector<std::pair<std::string, std::string>> streams;
  for (const TableChanges& table : transform.Tables) {
    // 1.
    std::vector<ColumnType> types;
    bool keysFirst = true;
    for (std::size_t i = 0; i < table.Schema.Columns.size(); ++i) {
      const Column& column = table.Schema.Columns[i];
      ColumnType type;
      if (!ParseType(column, type, error)) return false;
      types.push_back(type);
      keysFirst = keysFirst && (!column.Key || i == 0 || table.Schema.Columns[i - 1].Key);
    }
    if (types.empty() || !table.Schema.Columns[0].Key || !keysFirst || types.size() > 32) {
      error = table.Schema.Name + ": a table needs its key columns first, at most 32 columns";
      return false;
    }
    // 2.
    if (table.AddsTable) {
      std::uint16_t id = 0;
      StringPool::Put16(tablesStream, 0x0101);
      if (!strings.Add(table.Schema.Name, id, error)) return false;
      StringPool::Put16(tablesStream, id);
      for (std::size_t i = 0; i < types.size(); ++i) {
        // A new table's column numbers are left null: the reader numbers them in order.
        std::uint16_t nameId = 0;
        StringPool::Put16(columnsStream, 0x0401);
        if (!strings.Add(table.Schema.Name, id, error) ||
            !strings.Add(table.Schema.Columns[i].Name, nameId, error)) {
          return false;
        }
        StringPool::Put16(columnsStream, id);
        StringPool::Put16(columnsStream, 0);
        StringPool::Put16(columnsStream, nameId);
        StringPool::Put16(columnsStream, types[i].Code + 0x8000u);
      }
    }
    std::string rows;
    if (!TableStream(table, types, strings, rows, error)) return false;
    if (!rows.empty()) streams.emplace_back(EncodeTableStreamName(table.Schema.Name), rows);
  }
  // 3.
  if (!tablesStream.empty()) {
    streams.emplace_back(EncodeTableStreamName("_Tables"), tablesStream);
    streams.emplace_back(EncodeTableStreamName("_Columns"), columnsStream);
  }
  streams.emplace_back(EncodeTableStreamName("_StringPool"), strings.Pool());
  streams.emplace_back(EncodeTableStreamName("_StringData"), strings.Data());
  // 4.
  streams.emplace_back("\005SummaryInformation", SummaryStream(transform.Summary));
  for (const auto& [name, bytes] : streams) {
    if (!WriteStream(storage, name, bytes, error)) return false;
  }
  // 5.
  if (GSF_IS_OUTFILE_MSOLE(storage) &&
      !gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(storage), kTransformClassId)) {
    error = "cannot set the storage class";
    return false;
  }
  return true;
}

bool WriteTransformFile(const std::string& path, const Transform& transform, std::string& error) {
  gsf_init();
  GError* failure = nullptr;
  GsfOutput* sink = gsf_output_stdio_new(path.c_str(), &failure);
  if (sink == nullptr) {
    error = "cannot create " + path + ": " + (failure != nullptr ? failure->message : "");
    if (failure != nullptr) g_error_free(failure);
    return false;
  }
  GsfOutfile* storage = gsf_outfile_msole_new(sink);
  bool ok = WriteTransform(storage, transform, error);
  bool closed = gsf_output_close(GSF_OUTPUT(storage));
  g_object_unref(storage);
  closed = (gsf_output_is_closed(sink) || gsf_output_close(sink)) && closed;
  g_object_unref(sink);
  if (ok && !closed) error = "cannot write " + path;
  return ok && closed;
}

}  // namespace transform_writer

namespace transform_writer {

// Steps: 1. open the package; 2. the output with the package's class; 3. the package's
// entries; 4. the transforms; 5. close, which writes the directory.
bool WritePackageWithTransforms(const std::string& package,
                                const std::vector<NamedTransform>& transforms,
                                const std::string& output, std::string& error) {
  gsf_init();
  // 1.
  GError* failure = nullptr;
  GsfInput* input = gsf_input_stdio_new(package.c_str(), &failure);
  GsfInfile* source = input != nullptr ? gsf_infile_msole_new(input, &failure) : nullptr;
  if (input != nullptr) g_object_unref(input);
  if (source == nullptr) {
    error = "cannot read " + package + ": " + (failure != nullptr ? failure->message : "");
    if (failure != nullptr) g_error_free(failure);
    return false;
  }
  // 2.
  GsfOutput* sink = gsf_output_stdio_new(output.c_str(), &failure);
  if (sink == nullptr) {
    error = "cannot create " + output + ": " + (failure != nullptr ? failure->message : "");
    if (failure != nullptr) g_error_free(failure);
    g_object_unref(source);
    return false;
  }
  GsfOutfile* target = gsf_outfile_msole_new(sink);
  guint8 classId[16];
  if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(source), classId)) {
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(target), classId);
  }
  // 3.
  bool ok = CopyStorage(source, target, error);
  g_object_unref(source);
  // 4.
  for (const NamedTransform& transform : transforms) {
    if (!ok) break;
    if (transform.Name.empty() || transform.Name.size() > 31 ||
        transform.Name.find_first_of("/\\:!") != std::string::npos) {
      error = "bad transform name \"" + transform.Name + "\"";
      ok = false;
      break;
    }
    GsfOutput* storage = gsf_outfile_new_child(target, transform.Name.c_str(), TRUE);
    ok = storage != nullptr && WriteTransform(GSF_OUTFILE(storage), transform.Contents, error);
    if (storage != nullptr) {
      ok = gsf_output_close(storage) && ok;
      g_object_unref(storage);
    }
    if (!ok && error.empty()) error = "cannot write transform " + transform.Name;
  }
  // 5.
  bool closed = gsf_output_close(GSF_OUTPUT(target));
  g_object_unref(target);
  closed = (gsf_output_is_closed(sink) || gsf_output_close(sink)) && closed;
  g_object_unref(sink);
  if (ok && !closed) error = "cannot write " + output;
  return ok && closed;
}

}  // namespace transform_writer
