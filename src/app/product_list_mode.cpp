#include "app/product_list_mode.h"

// Not built yet: the product-list mode comes with the patch targets.
void ShowProductList() {}
