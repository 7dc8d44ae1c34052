// The patch list writer.
#pragma once

#include <string>

// Appends one block per deployment note ("TXT" resources from id 206 on) to the list file
// named by `path`, or, when `path` is empty, to "patchlist<four characters>.txt" named from
// the package's target list, stored back into `path`. A block is "*****\r\n", the note's
// bytes and "\r\n"; it lands whole or not at all, and existing content is never changed.
// A block whose write fails is cut off and the copying goes on with the next id; a missing
// note 206 shows message 310, an empty or unloadable note message 300 and ends the copying.
// Returns false only when the list file cannot be opened for appending (message 310).
bool WritePatchList(std::u16string& path);

// The default list file name for a package whose target list is `targets`: "patchlist",
// then at most four characters of the list (of what follows its first ":", if any: those
// after the first "-", else the first ones), then ".txt".
std::u16string PatchListNameFromTargets(const std::u16string& targets);
