// Writing the embedded patch package to a file.
#pragma once

#include <string>

// Writes the embedded package ("MSP" resource "IDR_MSP") to `path`, from the loaded
// resource in one write, never copied.
// - `path` empty: a fresh temporary file "MSP<n>" in the temporary directory, created
//   exclusively (a name that appears meanwhile, or a link, makes it try the next number);
//   its name is stored in `path`, also when a later step fails. A partly written file is
//   removed.
// - `path` given: the package is written beside it and moved into place once every byte
//   is written, so a failure leaves an existing file as it was and no partial file.
// Returns true exactly when the whole package is at `path`. Shows nothing. The resource is
// located before any file is created.
bool ExtractPackage(std::u16string& path);
