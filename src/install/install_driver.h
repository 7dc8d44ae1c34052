// The default run.
#pragma once

// Installs the service pack: extracts the package to a temporary file, discovers the
// installed target products, waits until the host application is closed, then judges and
// patches each product in its own language, reporting every outcome through ShowMessage.
// Returns true when the product loop ran to its end (the temporary package is then
// deleted), false when the run ended early (the temporary package stays).
bool RunInstall();
