// The cached-database fix-up against the same work done straight through libmsi: on a copy
// of one database, FixCachedPackage (both passes and their two commits, through the emulated
// host's installer operations) and, on another copy, the same ten updates as two groups of
// UPDATE statements with a commit after each, made directly with libmsi. The two run
// alternately in one run; each side's commits reach the disk (the emulated host flushes the
// file it commits and its new name, the direct side flushes the file libmsi wrote and the
// directory it was renamed in), so both do the same job.
// Prints the median of each side, their ratio, and how each grows with the table size.
//
//   bench_fixup [--rounds N] [SCALE ...]
//
// SCALE multiplies a product's tables: 300 sequence rows and 2,000 registry rows at 1.
// Without SCALE: 1 and 10.
#include <fcntl.h>
#include <libmsi.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "host/cached_package.h"
#include "products/product_record.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSequenceRows = 300;
constexpr int kRegistryRows = 2000;

// The rows the fix-up rewrites, with the values it writes, so that both sides make the
// same ten changes.
constexpr char kFirstInstallOrRepair[] =
    "NOT Installed OR (REINSTALLMODE AND NOT PATCH AND NOT MSIPATCHREMOVE AND REMOVE <>\"ALL\" "
    "AND KYRO_SECONDARY_INSTALL <>\"1\")";
constexpr char kWithoutSharedSupport[] =
    "(NOT Installed OR (REINSTALLMODE AND NOT PATCH AND NOT MSIPATCHREMOVE AND REMOVE "
    "<>\"ALL\" AND KYRO_SECONDARY_INSTALL <>\"1\")) AND SHAREDSUPPORT<>\"1\"";
const std::pair<const char*, const char*> kActionConditions[] = {
    {"ResolveSourceDir", kFirstInstallOrRepair},
    {"SetMergeManufacturerMDBCD", kWithoutSharedSupport},
    {"MergeManufacturerMDBCD", kWithoutSharedSupport},
    {"SetMergeManufacturerMDBCDEX", kWithoutSharedSupport},
    {"MergeManufacturerMDBCDEX", kWithoutSharedSupport},
    {"SetUncabManufacturerCD", kWithoutSharedSupport},
    {"UncabManufacturerCD", kWithoutSharedSupport},
    {"HarvestInstallSelection", "Installed AND NOT MSIPATCHREMOVE"},
};
const char* const kRegistryKeys[] = {"registry461", "KYROMiniDump_SendAppArgs"};
constexpr char kSharedComponent[] = "KYROX.kyrm.9A0AD67F_1899_4E39_B406_AAD935BD48BE";

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
  const char* Message() const { return Error != nullptr ? Error->message : "unknown error"; }
};

bool Fail(const std::string& message) {
  std::fprintf(stderr, "bench_fixup: %s\n", message.c_str());
  return false;
}

// Table text in the installer's archive format. The listed rows lie spread through the
// table, the last one near its end, so a walk over the rows meets them late.
std::string SequenceTableText(int rows) {
  std::string text = "Action\tCondition\tSequence\ns72\tS255\tI2\nInstallExecuteSequence\tAction\n";
  const int listed = static_cast<int>(std::size(kActionConditions));
  for (int row = 0; row < rows; ++row) {
    int slot = (row + 1) * listed / rows;  // rises by one at evenly spaced rows
    bool isListed = slot > row * listed / rows;
    std::string action =
        isListed ? kActionConditions[slot - 1].first : "CustomAction" + std::to_string(row);
    text += action + "\tNOT Installed\t" + std::to_string(row + 1) + "\n";
  }
  return text;
}

std::string RegistryTableText(int rows) {
  std::string text =
      "Registry\tRoot\tKey\tName\tValue\tComponent_\ns72\ti2\tl255\tL255\tL0\ts72\n"
      "Registry\tRegistry\n";
  for (int row = 0; row < rows; ++row) {
    std::string key = row == rows / 2   ? kRegistryKeys[0]
                      : row == rows - 1 ? kRegistryKeys[1]
                                        : "registry" + std::to_string(100000 + row);
    text += key + "\t2\tSoftware\\Kyro\\Settings" + std::to_string(row % 97) + "\tValue" +
            std::to_string(row) + "\t#" + std::to_string(row) + "\tKyroComponent" +
            std::to_string(row % 211) + "\n";
  }
  return text;
}

// A database with the two tables at `scale` (and a Property table, as products have).
bool MakeDatabase(const fs::path& path, int scale, const fs::path& scratch) {
  const std::pair<std::string, std::string> tables[] = {
      {"Property",
       "Property\tValue\ns72\tl0\nProperty\tProperty\nProductCode\t{6F1C8A2E-0000-4000-8000-"
       "000000000001}\nProductVersion\t5.1.8.0\n"},
      {"InstallExecuteSequence", SequenceTableText(kSequenceRows * scale)},
      {"Registry", RegistryTableText(kRegistryRows * scale)},
  };
  fs::remove(path);
  ErrorHolder error;
  GObjectHolder<LibmsiDatabase> database;
  database.Object =
      libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_CREATE, nullptr, &error.Error);
  if (database.Object == nullptr) return Fail(std::string("cannot create: ") + error.Message());
  for (const auto& [name, text] : tables) {
    fs::path file = scratch / (name + ".idt");
    std::ofstream(file, std::ios::binary) << text;
    if (!libmsi_database_import(database.Object, file.c_str(), &error.Error)) {
      return Fail("cannot import " + name + ": " + error.Message());
    }
  }
  return libmsi_database_commit(database.Object, &error.Error) ||
         Fail(std::string("cannot write: ") + error.Message());
}

bool Flush(const std::string& path) {
  int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = file >= 0 && ::fsync(file) == 0;
  if (file >= 0) ::close(file);
  return ok;
}

bool Update(LibmsiDatabase* database, const char* sql, const char* value, const char* key) {
  ErrorHolder error;
  GObjectHolder<LibmsiRecord> parameters;
  parameters.Object = libmsi_record_new(2);
  libmsi_record_set_string(parameters.Object, 1, value);
  libmsi_record_set_string(parameters.Object, 2, key);
  GObjectHolder<LibmsiQuery> query;
  query.Object = libmsi_query_new(database, sql, &error.Error);
  return query.Object != nullptr &&
         libmsi_query_execute(query.Object, parameters.Object, &error.Error) &&
         libmsi_query_close(query.Object, &error.Error);
}

// libmsi's commit writes a new file and renames it onto the database: durable once the file
// and the directory entry are flushed.
bool Commit(LibmsiDatabase* database, const std::string& path) {
  ErrorHolder error;
  return libmsi_database_commit(database, &error.Error) && Flush(path) &&
         Flush(fs::path(path).parent_path().string());
}

// The same ten changes and two commits, straight through libmsi.
bool DirectUpdates(const std::string& path) {
  ErrorHolder error;
  GObjectHolder<LibmsiDatabase> database;
  database.Object =
      libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_TRANSACT, nullptr, &error.Error);
  if (database.Object == nullptr) return false;
  for (const auto& [action, condition] : kActionConditions) {
    if (!Update(database.Object,
                "UPDATE `InstallExecuteSequence` SET `Condition` = ? WHERE `Action` = ?", condition,
                action)) {
      return false;
    }
  }
  if (!Commit(database.Object, path)) return false;
  for (const char* key : kRegistryKeys) {
    if (!Update(database.Object, "UPDATE `Registry` SET `Component_` = ? WHERE `Registry` = ?",
                kSharedComponent, key)) {
      return false;
    }
  }
  return Commit(database.Object, path);
}

// How many rows of the two tables hold the fix-up's values, read back through libmsi.
int ChangedRows(const std::string& path) {
  ErrorHolder error;
  GObjectHolder<LibmsiDatabase> database;
  database.Object =
      libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error.Error);
  if (database.Object == nullptr) return -1;
  int changed = 0;
  for (const char* sql :
       {"SELECT `Action` FROM `InstallExecuteSequence` WHERE `Condition` <> 'NOT Installed'",
        "SELECT `Registry` FROM `Registry` WHERE `Component_` = "
        "'KYROX.kyrm.9A0AD67F_1899_4E39_B406_AAD935BD48BE'"}) {
    GObjectHolder<LibmsiQuery> query;
    query.Object = libmsi_query_new(database.Object, sql, &error.Error);
    if (query.Object == nullptr || !libmsi_query_execute(query.Object, nullptr, &error.Error)) {
      return -1;
    }
    while (LibmsiRecord* record = libmsi_query_fetch(query.Object, nullptr)) {
      g_object_unref(record);
      ++changed;
    }
  }
  return changed;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Result {
  int Scale = 0;
  double FixUp = 0;
  double Direct = 0;
};

// One scale: a template database, then in each round a fresh copy for each side, in
// alternating order. Empty when a side fails or does not make the ten changes.
bool Measure(int scale, int rounds, const fs::path& scratch, Result& result) {
  const fs::path original = scratch / "original.msi";
  if (!MakeDatabase(original, scale, scratch)) return false;
  const fs::path fixedPath = scratch / "fixed.msi";
  const fs::path directPath = scratch / "direct.msi";
  ProductRecord product;
  for (char c : fixedPath.string()) product.LocalPackage += static_cast<char16_t>(c);

  std::vector<double> fixUp, direct;
  for (int round = 0; round < rounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      bool fixUpTurn = (round + turn) % 2 == 0;
      const fs::path& copy = fixUpTurn ? fixedPath : directPath;
      fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
      Flush(copy.string());  // both sides start from a file already on disk
      auto start = std::chrono::steady_clock::now();
      bool ok = true;
      if (fixUpTurn) {
        FixCachedPackage(product);
      } else {
        ok = DirectUpdates(copy.string());
      }
      double elapsed =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      if (!ok) return Fail("the direct updates failed");
      (fixUpTurn ? fixUp : direct).push_back(elapsed);
    }
  }
  if (ChangedRows(fixedPath.string()) != 10 || ChangedRows(directPath.string()) != 10) {
    return Fail("a side did not make exactly the ten changes");
  }
  result = {scale, Median(fixUp), Median(direct)};
  std::printf("\n%d sequence rows, %d registry rows (%llu bytes), %d rounds\n",
              kSequenceRows * scale, kRegistryRows * scale,
              static_cast<unsigned long long>(fs::file_size(original)), rounds);
  std::printf("  fix-up (FixCachedPackage)   median %10.1f ms\n", result.FixUp);
  std::printf("  the same updates in libmsi  median %10.1f ms\n", result.Direct);
  std::printf("  ratio fix-up / libmsi              %10.2f\n", result.FixUp / result.Direct);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 0;
  std::vector<int> scales;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (int scale = std::atoi(argument.c_str()); scale > 0 && scale <= 100) {
      scales.push_back(scale);
    } else {
      std::fprintf(stderr, "usage: bench_fixup [--rounds N] [SCALE ...]  (SCALE 1 to 100)\n");
      return 2;
    }
  }
  if (scales.empty()) scales = {1, 10};
  fs::path scratch = fs::temp_directory_path() / ("spsetup-bench-" + std::to_string(getpid()));
  fs::create_directories(scratch);

  std::vector<Result> results;
  bool ok = true;
  for (int scale : scales) {
    Result result;
    ok = Measure(scale, rounds > 0 ? rounds : (scale <= 2 ? 21 : 7), scratch, result);
    if (!ok) break;
    results.push_back(result);
  }
  fs::remove_all(scratch);
  if (!ok) return 1;

  // Growth: each size against the first, beside how much the tables grew.
  if (results.size() > 1) std::printf("\ngrowth against %dx:\n", results[0].Scale);
  for (std::size_t i = 1; i < results.size(); ++i) {
    std::printf("  tables x%-4g fix-up x%-6.2f libmsi x%-6.2f\n",
                static_cast<double>(results[i].Scale) / results[0].Scale,
                results[i].FixUp / results[0].FixUp, results[i].Direct / results[0].Direct);
  }
  return 0;
}
