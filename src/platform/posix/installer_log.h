// The emulated installer's own log, as MsiEnableLogW sets it for the process: each
// configuration's journal record is written to the file it names.
#pragma once

#include <string>

namespace platform::posix {

// Appends to the log MsiEnableLogW named a start line for `code`, the lines of `record`
// (journal lines, each ending in "\n") and an end line, one write per line. Nothing when no
// log is set. A log that cannot be opened or written, or that is no regular file, changes no
// result of the configuration.
void WriteToInstallerLog(const std::string& code, const std::string& record);

}  // namespace platform::posix
