#include "payload/patch_list.h"

// Not built yet: the patch list writer comes with the products and messages.
bool WritePatchList(std::u16string& /*path*/) { return false; }
