#include "install/install_driver.h"

// Not built yet: the install driver comes with the products, host and messages.
bool RunInstall() { return false; }
