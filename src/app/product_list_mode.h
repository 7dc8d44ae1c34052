// The product-list mode ("/i").
#pragma once

// Extracts the package to a temporary file, reads its target list and shows it in a box
// captioned "List of Products" (style 0x50000), even in a quiet run and even when empty.
void ShowProductList();
