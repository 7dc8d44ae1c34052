// Test hook of the emulated installer's transacted databases.
#pragma once

#include <string>

namespace platform::posix {

// A transacted database at DIR/NAME is committed through the directory
// DIR/.NAME.commit-XXXXXX, which its open handle keeps locked (flock) while it lives; one
// that nobody holds locked is the leftover of a killed process.
inline constexpr char kCommitDirectoryInfix[] = ".commit-";

// Called by MsiDatabaseCommit after the new database has been written completely, checked
// and synced to `written` (in the commit directory beside the database) and before it is
// moved onto
// `target`. Returning false stops the commit there, as a process killed at that moment
// would: MsiDatabaseCommit then fails and `target` keeps its old content. A hook may also
// end the process. nullptr (the default): none.
using CommitHook = bool (*)(const std::string& written, const std::string& target);
extern CommitHook commitHookForTesting;

}  // namespace platform::posix
