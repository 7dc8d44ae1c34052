// End-to-end scenarios written once and played on two hosts: the Linux build over the
// emulated Windows host, and spsetup.exe under Wine. A scenario says what the machine
// holds and what the user does; an outcome is what was seen afterwards.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/dialog_log.h"

namespace scenarios {

// One installed product, made at test time from table text and installed by the host's
// own installer (installer-emu on Linux, Wine's msiexec under Wine).
struct Product {
  std::string Code;
  std::string Name;
  std::string Version;
  std::string Language;  // ProductLanguage; "Deutsch" registers a Language that is no number
};

// A field of the outcome that a host cannot show as Windows would, and why.
struct KnownDifference {
  std::string Field;  // "boxes", "files", "temp", "rows", "versions", "patches" or
                      // "installer log"
  std::string Reason;
};

struct Scenario {
  std::string Name;
  std::vector<std::string> Arguments;  // relative paths are taken in the working directory
  std::string UserLanguage = "1033";
  std::vector<Product> Products;
  bool HostRunning = false;       // a process named kyro.exe runs during the run
  std::string Script;             // answers, as EMU_DIALOG_SCRIPT takes them
  std::string TempName = "Temp";  // the directory TMP names, under the scratch directory
  std::vector<KnownDifference> Known;
};

// What a host showed: the boxes, the files written to the working directory (name to
// bytes), the temporary directory's entries, and per product code its cached database's
// rows ("Action=Condition @Sequence" and "Registry=Component_" lines), version and applied patches.
struct Outcome {
  std::vector<testing_support::DialogRecord> Boxes;
  std::map<std::string, std::string> Files;
  std::vector<std::string> TempEntries;
  std::map<std::string, std::vector<std::string>> Rows;
  std::map<std::string, std::string> Versions;
  std::map<std::string, std::string> Patches;
  bool PlantedLibraryLoaded = false;
};

// The product database both hosts install: the identity rows, the actions and registry
// rows the fix-up rewrites, and what Wine's msiexec needs to register a product.
bool MakeScenarioProduct(const std::string& path, const Product& product);

// The rows of a cached database as Outcome::Rows holds them.
std::vector<std::string> CachedRows(const std::string& path);

}  // namespace scenarios
