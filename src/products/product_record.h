// One installed target product, and the process-wide list of them in discovery order.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// Eight texts describing one product. A new record has all of them empty; a copy equals
// its source field by field. Fields named after an installer property hold its value.
struct ProductRecord {
  // One entry of the package's target list, exactly as written there (untrimmed).
  std::u16string ProductCode;
  // The version the patch brings the product to (string 700), copied from the template.
  std::u16string TargetVersion;
  std::u16string ProductName;
  // A language identifier as decimal text.
  std::u16string Language;
  // Set only for a product judged Applicable, just before it is reconfigured.
  std::u16string PatchCommandLine;
  // Versions the patch applies to, each followed by "," (string 900), from the template.
  std::u16string ApplicableVersions;
  // The installer's "VersionString" of the product.
  std::u16string InstalledVersion;
  // Path of the product's cached installation database.
  std::u16string LocalPackage;
};

// ProductList: the installed target products of this run, in the order they were found.
// It starts empty, only grows at its end, and its records live until the process ends,
// so a reference from ProductListAt stays valid.

// Takes `record` (not null) and puts it at the end; the count grows by one.
void ProductListAppend(std::unique_ptr<ProductRecord> record);
// The number of records appended so far.
std::size_t ProductListCount();
// The record at `index`, 0 up to ProductListCount() - 1.
ProductRecord& ProductListAt(std::size_t index);
// Empties the list and destroys its records. Only tests, which run many discoveries in one
// process, call it; a run never removes a product.
void ProductListResetForTesting();
