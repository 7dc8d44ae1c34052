// Writing the embedded patch package to a file.
#pragma once

#include <string>

// Writes the embedded package ("MSP" resource "IDR_MSP") to `path`, from the loaded
// resource in one write, never copied.
// - `path` empty: a fresh temporary file "MSP<n>" in the temporary directory, its name made
//   absolute, created exclusively (a name that appears meanwhile, or a link, makes it try
//   the next number); its name is stored in `path`, also when a later step fails. A partly
//   written file is removed.
// - `path` given: what is there stays what it is. A device or pipe is written straight
//   into. A file (the file a link names, so that the link stays) is replaced whole by a new
//   file written beside it and moved into place, which keeps the old file's attributes and
//   security; a new name is created the same way. A failure leaves an existing file as it
//   was and no partial file. Where nothing may be created beside the file for lack of
//   access, but the file may be written, it is written in place. A path that may not be
//   written is left alone.
// Returns true exactly when the whole package is at `path`. Shows nothing. The resource is
// located before any file is created.
bool ExtractPackage(std::u16string& path);
