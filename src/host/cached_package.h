// The fix-up of a product's cached installation database before the patch is applied to it.
#pragma once

#include "products/product_record.h"

// Rewrites, in the database at `product.LocalPackage` (the only field read), the Condition
// of eight custom actions in InstallExecuteSequence and the Component_ of two Registry rows,
// committing each table's edits to the file. Rows whose key differs from a listed one, even
// in letter case only, and every other column are left as they were; running it again
// changes nothing more. A database that cannot be opened is left untouched; a missing table
// only skips its own edits. Each row is written back by replacement, or updated in place
// where the installer refuses to replace it. Shows nothing (each pass's count and any refusal go to
// the run's log): the patch is applied whatever it achieved. Every installer handle it opens, the
// database included, is closed before it returns.
void FixCachedPackage(const ProductRecord& product);
