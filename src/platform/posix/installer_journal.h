// The emulated installer's journal: per product, what each MsiConfigureProductExW call was
// asked (install level, install state, command line) and what it found in the product's
// cached database before it did anything (the InstallExecuteSequence conditions and the
// Registry components), with its result. Tests read it to show the order of the fix-up and
// the patch call; `installer-emu journal CODE` prints it.
//
// Layout: journal/{CODE}.journal under the installer root, UTF-8, one field per line:
//
//   call<TAB>N                       1 for the product's first call, then 2, 3 ...
//   level<TAB>LEVEL                  as passed, decimal
//   state<TAB>STATE                  as passed, decimal
//   commandline<TAB>TEXT             as passed ("" for none)
//   database<TAB>unreadable          only when the cached database did not open
//   sequence<TAB>ACTION<TAB>COND     one per InstallExecuteSequence row, by Sequence then
//                                    Action; COND empty for none
//   registry<TAB>KEY<TAB>COMPONENT   one per Registry row, by key
//   result<TAB>CODE                  what the call returned, decimal
//
// Backslashes, tabs and line breaks inside a value are written \\, \t, \n and \r.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace platform::posix {

struct ConfigureCall {
  int Level = 0;
  INSTALLSTATE State = INSTALLSTATE_DEFAULT;
  std::string CommandLine;
  bool DatabaseRead = false;
  std::vector<std::pair<std::string, std::string>> Sequence;  // action, condition
  std::vector<std::pair<std::string, std::string>> Registry;  // key, component
  UINT Result = ERROR_SUCCESS;
};

// The journal file of `code` (any letter case).
std::string JournalPath(const std::string& code);

// Reads the rows the journal keeps from the database at `path` into `call`; DatabaseRead
// stays false when it does not open. A missing table gives no rows.
void ReadJournalRows(const std::string& path, ConfigureCall& call);

// The lines of `call`'s record after its "call" line, each ending in "\n".
std::string FormatJournalRecord(const ConfigureCall& call);

// Appends `call` as the next record of the product's journal, crash-safely (the whole file
// written anew and renamed into place, under the registry lock). False when it cannot be
// written; the journal then stays as it was.
bool AppendToJournal(const std::string& code, const ConfigureCall& call);

}  // namespace platform::posix
