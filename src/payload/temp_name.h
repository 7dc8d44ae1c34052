// Names for temporary package files.
#pragma once

#include <optional>
#include <string>

// Forms a name that no file or directory holds yet: a directory (TMP when it names
// something that exists, else `directory` when given and existing, else the root of the
// current drive, else "."), a separator unless the directory ends in one, `prefix`, and
// the next number of a process-wide counter (the first is 2). Creates no file; the name
// can be taken by someone else before it is used. Empty when no number is left, and at
// once when the existence test of a name is refused for lack of access
// (ERROR_ACCESS_DENIED stays the last error).
std::optional<std::u16string> MakeTempName(const std::u16string* directory,
                                           const std::u16string& prefix);
