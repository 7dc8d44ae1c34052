// The patch list writer.
#pragma once

#include <string>

// Appends one block per deployment note ("TXT" resources from id 206 on) to the list file
// named by `path`, or, when `path` is empty, to "patchlist<four characters>.txt" named from
// the package's target list, stored back into `path`. Returns false only when the list file
// cannot be opened (message 310).
bool WritePatchList(std::u16string& path);
