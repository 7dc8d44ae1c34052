// Test hook of the emulated installer's transacted databases.
#pragma once

#include <string>

namespace platform::posix {

// Called by MsiDatabaseCommit after the new database has been written completely and
// synced to `written` (beside the database, same directory) and before it is moved onto
// `target`. Returning false stops the commit there, as a process killed at that moment
// would: MsiDatabaseCommit then fails and `target` keeps its old content. A hook may also
// end the process. nullptr (the default): none.
using CommitHook = bool (*)(const std::string& written, const std::string& target);
extern CommitHook commitHookForTesting;

}  // namespace platform::posix
