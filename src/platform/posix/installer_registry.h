// The emulated installer service's state: a registry of products and a cache of their
// installation databases under one root directory. Shared by the installer operations and
// the admin command installer-emu.
//
// Layout under the root:
//   products/{CODE}.product   one product: its state, a forced result, its properties
//   cache/{CODE}.msi          its cached installation database (its LocalPackage)
//   journal/{CODE}.journal    what each configuration of it was asked (installer_journal.h)
//   registry.lock             taken exclusively by every writer of the registry
//   configure.lock            held by the one configuration that may run at a time
// Every file is written to a new name and renamed into place, so a reader (of any process,
// without a lock) sees a whole old file or a whole new one.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/host.h"

namespace platform::posix {

// A registered product. Text is UTF-8 here, as in the files.
struct ProductEntry {
  std::string Code;                           // canonical: upper-case
  INSTALLSTATE State = INSTALLSTATE_DEFAULT;  // 5 installed, 1 advertised
  std::optional<UINT> ForcedResult;           // returned once by the next configuration
  std::vector<std::pair<std::string, std::string>> Properties;  // in the order first set
};

// The root: EMU_INSTALLER_ROOT, else $XDG_STATE_HOME/spsetup-emu/installer, else
// $HOME/.local/state/spsetup-emu/installer; a relative one is taken from the current
// directory and made absolute. Read afresh on every call.
std::string InstallerRoot();
std::string ProductsDirectory();
std::string CacheDirectory();
std::string RegistryLockPath();
std::string ConfigureLockPath();

// True for a product code in the installer's form: "{" 8-4-4-4-12 hexadecimal digits "}".
bool IsProductCode(std::string_view text);
// The code with its hexadecimal letters in upper case (codes compare without case).
std::string CanonicalProductCode(std::string_view code);

// `text` as one field of a line of the installer's state files: backslash, tab, line feed
// and carriage return are written "\\", "\t", "\n" and "\r".
std::string Escape(std::string_view text);

// An entry's file: a header line, then one line each for the state, a forced result and
// every property (tab-separated, values escaped). Parse fills `entry` (all but its Code)
// and returns true, or returns false with `problem` saying what is wrong; its time grows
// linearly with the text. Format gives the text that Parse reads back to the same entry.
bool ParseProduct(std::string_view content, ProductEntry& entry, std::string& problem);
std::string FormatProduct(const ProductEntry& entry);

enum class ProductRead { Found, Missing, Damaged };
// Reads the entry of `code` (any letter case). Damaged: a file that does not parse;
// `problem`, when given, then says what is wrong with it.
ProductRead ReadProduct(std::string_view code, ProductEntry& entry, std::string* problem = nullptr);
// Writes `entry` in one step (new file, fsync, rename), creating the directories. False
// with `problem` set when it cannot; the old entry then stands.
bool WriteProduct(const ProductEntry& entry, std::string* problem = nullptr);
// Removes the entry of `code`; false when there was none to remove.
bool RemoveProduct(std::string_view code);
// The codes of all entries, sorted.
std::vector<std::string> ListProductCodes();

// A property of the entry; nullptr when it has none of that name (exact, case-sensitive).
const std::string* FindProperty(const ProductEntry& entry, std::string_view name);
// Sets a property, adding it at the end when new.
void SetProperty(ProductEntry& entry, std::string_view name, std::string_view value);
// True for a name a property may have: not empty, no tab, line break or "=".
bool IsPropertyName(std::string_view name);

// Takes the lock file at `path` (created, with its directory, when missing): exclusive,
// waiting for it, or with `wait` false failing at once when another holder has it.
// Returns an invalid holder when the lock is not taken.
ScopedFileDescriptor LockFile(const std::string& path, bool wait);

// Removes what interrupted work left under the root; the caller holds the registry lock.
// Goes: unfinished writes (".new-" files), commit directories that no open database holds
// locked, and cached packages of products that are not registered (an install or uninstall
// stopped between its two steps). Stays: everything live, since a commit directory in use
// is locked and every other write happens under the registry lock.
void RemoveLeftovers();

// Copies `source` into the cache as the package of `code` in one step; returns its path,
// or "" with `problem` set.
std::string CachePackage(const std::string& source, std::string_view code, std::string* problem);

// Writes `content` to `path` crash-safely: a new file beside it, fsync, rename, fsync of
// the directory. False with `problem` set when it cannot.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* problem);

}  // namespace platform::posix
