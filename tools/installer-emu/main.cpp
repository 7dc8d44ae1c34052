// installer-emu: how a person or a test sets up the emulated installer service.
//
//   installer-emu install PACKAGE.msi [--advertise]
//   installer-emu uninstall CODE
//   installer-emu list
//   installer-emu info CODE PROPERTY
//   installer-emu set CODE PROPERTY VALUE
//   installer-emu fail CODE RESULT
//   installer-emu journal CODE
//   installer-emu rows CODE TABLE
//
// Every command either does all it says or changes nothing; a failure is one line on
// standard error and exit code 1 (2 for a command line it does not understand). The
// commands that change the state first remove what interrupted earlier work left behind.
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/host.h"
#include "platform/posix/installer_handles.h"
#include "platform/posix/installer_journal.h"
#include "platform/posix/installer_registry.h"
#include "platform/posix/installer_steps.h"

// installer-emu carries no resources of its own; the host's module table stays empty.
extern "C" const platform::posix::EmbeddedResource spsetup_embedded_resources[1] = {};
extern "C" const std::size_t spsetup_embedded_resource_count = 0;

namespace {

namespace emu = platform::posix;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

int Fail(const std::string& message) {
  std::fprintf(stderr, "installer-emu: %s\n", message.c_str());
  return kFailed;
}

int Usage(const std::string& message) {
  std::fprintf(stderr,
               "installer-emu: %s (usage: install PACKAGE.msi [--advertise] | uninstall CODE | "
               "list | info CODE PROPERTY | set CODE PROPERTY VALUE | fail CODE RESULT | "
               "journal CODE | rows CODE TABLE)\n",
               message.c_str());
  return kUsage;
}

// One Property row of an open database; false when the table or row is missing.
bool ReadPropertyRow(LibmsiDatabase* database, const char* name, std::string& value) {
  emu::GErrorHolder error;
  emu::GObjectPtr<LibmsiQuery> query(libmsi_query_new(
      database, "SELECT `Value` FROM `Property` WHERE `Property` = ?", &error.Error));
  if (!query) return false;
  emu::GObjectPtr<LibmsiRecord> key(libmsi_record_new(1));
  libmsi_record_set_string(key.get(), 1, name);
  bool found = false;
  if (libmsi_query_execute(query.get(), key.get(), &error.Error)) {
    if (emu::GObjectPtr<LibmsiRecord> row{libmsi_query_fetch(query.get(), nullptr)}) {
      value = emu::ReadField(row.get(), 1).Text;
      found = true;
    }
    libmsi_query_close(query.get(), nullptr);
  }
  return found;
}

// The code as given must be a product code; reads its entry. 0 or an exit code.
int LoadProduct(const std::string& code, emu::ProductEntry& entry) {
  if (!emu::IsProductCode(code)) return Fail("not a product code: " + code);
  std::string problem;
  switch (emu::ReadProduct(code, entry, &problem)) {
    case emu::ProductRead::Missing:
      return Fail("unknown product " + code);
    case emu::ProductRead::Damaged:
      return Fail("damaged registry entry for " + code + ": " + problem);
    case emu::ProductRead::Found:
      return 0;
  }
  return kFailed;
}

int Install(const std::string& package, bool advertise) {
  // 1. The package must be a regular file (found out without blocking on a FIFO) and a
  //    product database (a patch is not) with the four properties.
  emu::ScopedFileDescriptor file = emu::OpenRegularFile(package);
  if (!file) {
    return Fail(errno == EINVAL ? package + " is not a regular file" : "cannot read " + package);
  }
  const std::string pinned = emu::PinnedPath(file.Get());
  emu::QuietLibmsi();
  emu::GErrorHolder error;
  emu::GObjectPtr<LibmsiDatabase> asPatch(libmsi_database_new(
      pinned.c_str(), LIBMSI_DB_FLAGS_READONLY | LIBMSI_DB_FLAGS_PATCH, nullptr, &error.Error));
  if (asPatch) return Fail(package + " is a patch package, not a product database");
  error.Clear();
  emu::GObjectPtr<LibmsiDatabase> database(
      libmsi_database_new(pinned.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error));
  if (!database) return Fail(package + " is not an installer database");
  emu::ProductEntry entry;
  entry.State = advertise ? platform::INSTALLSTATE_ADVERTISED : platform::INSTALLSTATE_DEFAULT;
  std::string code, version, name, language;
  for (auto [property, value] :
       {std::pair{"ProductCode", &code}, std::pair{"ProductVersion", &version},
        std::pair{"ProductName", &name}, std::pair{"ProductLanguage", &language}}) {
    if (!ReadPropertyRow(database.get(), property, *value)) {
      return Fail(package + " has no " + property + " row in its Property table");
    }
  }
  if (!emu::IsProductCode(code)) return Fail(package + ": ProductCode is no product code: " + code);
  entry.Code = emu::CanonicalProductCode(code);
  database.reset();
  // 2. Under the registry lock: refuse a product already there, cache the package, register.
  emu::ScopedFileDescriptor lock = emu::LockFile(emu::RegistryLockPath(), true);
  if (!lock) return Fail("cannot lock the registry in " + emu::InstallerRoot());
  emu::RemoveLeftovers();
  emu::ProductEntry existing;
  if (emu::ReadProduct(entry.Code, existing) != emu::ProductRead::Missing) {
    return Fail("product " + entry.Code + " is already registered; uninstall it first");
  }
  std::string problem;
  unlink(emu::JournalPath(entry.Code).c_str());  // left by a product of the code before
  std::string cached = emu::CachePackage(package, entry.Code, &problem);
  if (cached.empty()) return Fail(problem);
  emu::SetProperty(entry, "VersionString", version);
  emu::SetProperty(entry, "ProductName", name);
  emu::SetProperty(entry, "Language", language);
  emu::SetProperty(entry, "LocalPackage", cached);
  if (!emu::WriteProduct(entry, &problem)) {
    unlink(cached.c_str());
    return Fail(problem);
  }
  std::printf("%s\n", entry.Code.c_str());
  return 0;
}

int Uninstall(const std::string& code) {
  emu::ScopedFileDescriptor lock = emu::LockFile(emu::RegistryLockPath(), true);
  if (!lock) return Fail("cannot lock the registry in " + emu::InstallerRoot());
  emu::RemoveLeftovers();
  if (!emu::IsProductCode(code)) return Fail("not a product code: " + code);
  emu::ProductEntry entry;
  std::string problem;
  emu::ProductRead read = emu::ReadProduct(code, entry, &problem);
  if (read == emu::ProductRead::Missing) return Fail("unknown product " + code);
  if (!emu::RemoveProduct(code)) return Fail("cannot remove the entry of " + code);
  // The journal goes with the entry: a product installed again starts a journal of its own.
  unlink(emu::JournalPath(code).c_str());
  // The cached package goes with its entry (a damaged entry leaves it: its path is unknown).
  if (read == emu::ProductRead::Found) {
    if (const std::string* cached = emu::FindProperty(entry, "LocalPackage")) {
      if (cached->rfind(emu::CacheDirectory() + "/", 0) == 0) emu::UnlinkStep(*cached);
    }
  }
  return 0;
}

// A value on one line of the list: tabs and line breaks shown as \t, \n, \r.
std::string OneLine(const std::string& value) {
  std::string line;
  for (char c : value) {
    if (c == '\t')
      line += "\\t";
    else if (c == '\n')
      line += "\\n";
    else if (c == '\r')
      line += "\\r";
    else
      line += c;
  }
  return line;
}

int List() {
  int result = 0;
  for (const std::string& code : emu::ListProductCodes()) {
    emu::ProductEntry entry;
    std::string problem;
    if (emu::ReadProduct(code, entry, &problem) != emu::ProductRead::Found) {
      result = Fail("damaged registry entry for " + code + ": " + problem);
      continue;
    }
    std::string line = entry.Code + "\tstate=" + std::to_string(entry.State);
    for (const auto& [name, value] : entry.Properties) line += "\t" + name + "=" + OneLine(value);
    if (entry.ForcedResult)
      line += "\t(next configuration: " + std::to_string(*entry.ForcedResult) + ")";
    std::printf("%s\n", line.c_str());
  }
  return result;
}

int Info(const std::string& code, const std::string& property) {
  emu::ProductEntry entry;
  if (int failed = LoadProduct(code, entry)) return failed;
  if (property == "State") {
    std::printf("%d\n", entry.State);
    return 0;
  }
  const std::string* value = emu::FindProperty(entry, property);
  if (value == nullptr) return Fail("product " + entry.Code + " has no property " + property);
  std::printf("%s\n", value->c_str());
  return 0;
}

// Changes the entry of `code` under the registry lock with `change`, which may refuse
// (returning an exit code).
template <typename Change>
int Update(const std::string& code, Change change) {
  emu::ScopedFileDescriptor lock = emu::LockFile(emu::RegistryLockPath(), true);
  if (!lock) return Fail("cannot lock the registry in " + emu::InstallerRoot());
  emu::RemoveLeftovers();
  emu::ProductEntry entry;
  if (int failed = LoadProduct(code, entry)) return failed;
  if (int refused = change(entry)) return refused;
  std::string problem;
  if (!emu::WriteProduct(entry, &problem)) return Fail(problem);
  return 0;
}

int Set(const std::string& code, const std::string& property, const std::string& value) {
  if (!emu::IsPropertyName(property) || property == "State") {
    return Fail("not a property name that can be set: " + property);
  }
  return Update(code, [&](emu::ProductEntry& entry) {
    emu::SetProperty(entry, property, value);
    return 0;
  });
}

int ForceResult(const std::string& code, const std::string& result) {
  // Decimal digits only: strtoul alone would also take blanks, a sign or a hexadecimal
  // prefix.
  bool digits = !result.empty() && result.size() <= 10;
  for (char c : result) digits = digits && c >= '0' && c <= '9';
  unsigned long long number = digits ? std::strtoull(result.c_str(), nullptr, 10) : 0;
  if (!digits || number > 0xFFFFFFFFull) return Fail("not a result code: " + result);
  return Update(code, [&](emu::ProductEntry& entry) {
    entry.ForcedResult = static_cast<platform::UINT>(number);
    return 0;
  });
}

// The product's journal as it is on disk (installer_journal.h): nothing for a product never
// configured.
int Journal(const std::string& code) {
  emu::ProductEntry entry;
  if (int failed = LoadProduct(code, entry)) return failed;
  FILE* file = std::fopen(emu::JournalPath(entry.Code).c_str(), "rb");
  if (file == nullptr) return errno == ENOENT ? 0 : Fail("cannot read the journal of " + code);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    std::fwrite(buffer, 1, got, stdout);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return failed ? Fail("cannot read the journal of " + code) : 0;
}

// The rows of one table of the product's cached database, as patches and the fix-up left
// them: the column names, then one line per row, fields tab-separated (null as empty).
int Rows(const std::string& code, const std::string& table) {
  emu::ProductEntry entry;
  if (int failed = LoadProduct(code, entry)) return failed;
  const std::string* cached = emu::FindProperty(entry, "LocalPackage");
  if (cached == nullptr) return Fail("product " + entry.Code + " has no cached database");
  for (char c : table) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.') {
      return Fail("not a table name: " + table);
    }
  }
  emu::QuietLibmsi();
  emu::GErrorHolder error;
  emu::GObjectPtr<LibmsiDatabase> database(
      libmsi_database_new(cached->c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error));
  if (!database) return Fail("cannot open the cached database " + *cached);
  emu::GObjectPtr<LibmsiQuery> query(
      libmsi_query_new(database.get(), ("SELECT * FROM `" + table + "`").c_str(), &error.Error));
  if (!query) return Fail("the cached database of " + entry.Code + " has no table " + table);
  emu::GObjectPtr<LibmsiRecord> names(
      libmsi_query_get_column_info(query.get(), LIBMSI_COL_INFO_NAMES, nullptr));
  guint columns = names ? libmsi_record_get_field_count(names.get()) : 0;
  std::string header;
  for (guint i = 1; i <= columns; ++i) {
    header += (i > 1 ? "\t" : "") + emu::ReadField(names.get(), i).Text;
  }
  if (!libmsi_query_execute(query.get(), nullptr, &error.Error)) {
    return Fail("cannot read table " + table);
  }
  std::printf("%s\n", header.c_str());
  while (emu::GObjectPtr<LibmsiRecord> row{libmsi_query_fetch(query.get(), nullptr)}) {
    std::string line;
    for (guint i = 1; i <= columns; ++i) {
      line += (i > 1 ? "\t" : "") + OneLine(emu::ReadField(row.get(), i).Text);
    }
    std::printf("%s\n", line.c_str());
  }
  libmsi_query_close(query.get(), nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  emu::InitializeProcess(argc, argv);
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) return Usage("no command");
  const std::string& command = arguments[0];
  const std::size_t count = arguments.size();
  if (command == "install" && (count == 2 || (count == 3 && arguments[2] == "--advertise"))) {
    return Install(arguments[1], count == 3);
  }
  if (command == "uninstall" && count == 2) return Uninstall(arguments[1]);
  if (command == "list" && count == 1) return List();
  if (command == "info" && count == 3) return Info(arguments[1], arguments[2]);
  if (command == "set" && count == 4) return Set(arguments[1], arguments[2], arguments[3]);
  if (command == "fail" && count == 3) return ForceResult(arguments[1], arguments[2]);
  if (command == "journal" && count == 2) return Journal(arguments[1]);
  if (command == "rows" && count == 3) return Rows(arguments[1], arguments[2]);
  return Usage("bad arguments for " + command);
}
