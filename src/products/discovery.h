// Which of the package's target products are installed, and what the installer knows of
// each.
#pragma once

#include <string>

#include "products/product_record.h"

// True when the installer reports `productCode` installed (5) or advertised (1); any other
// state, an unknown product included, is false.
bool IsProductInstalled(const std::u16string& productCode);

// The installer's `propertyName` of the product, read into 1024 characters. A read that
// fails gives an empty text, and a value that does not fit gives whatever the installer
// left in the buffer, cut to 1023 characters.
std::u16string ReadProductProperty(const std::u16string& productCode,
                                   const std::u16string& propertyName);

// Walks `targets` (codes separated by ";") entry by entry, and for each installed code
// appends to ProductList a copy of `templateRecord` with that ProductCode and the
// product's VersionString, LocalPackage, ProductName and Language. Entries are taken
// exactly as written; the walk stops at the first empty entry, so a list that begins
// with ";" yields nothing and ";;" ends it. Codes that are not installed leave nothing.
void DiscoverProducts(const std::u16string& targets, const ProductRecord& templateRecord);
