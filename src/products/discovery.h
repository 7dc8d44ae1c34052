// Which of the package's target products are installed, and what the installer knows of
// each.
#pragma once

#include <string>
#include <vector>

#include "products/product_record.h"

// True when the installer reports `productCode` installed (5) or advertised (1); any other
// state, an unknown product included, is false.
bool IsProductInstalled(const std::u16string& productCode);

// The installer's `propertyName` of the product, read into 1024 characters. A read that
// fails gives an empty text, and a value that does not fit gives whatever the installer
// left in the buffer, cut to 1023 characters.
std::u16string ReadProductProperty(const std::u16string& productCode,
                                   const std::u16string& propertyName);

// The entries of the target list `targets` (codes separated by ";"), in list order. Entries
// are taken exactly as written, spaces and letter case included; the walk stops at the first
// empty entry, so a list that begins with ";" yields nothing and ";;" ends it, while a ";"
// at the very end adds nothing. Takes time in proportion to the list's length.
std::vector<std::u16string> TargetListEntries(const std::u16string& targets);

// Walks `targets` by TargetListEntries, and for each installed code appends to ProductList
// a copy of `templateRecord` with that ProductCode and the product's VersionString,
// LocalPackage, ProductName and Language, in list order. Codes that are not installed
// leave nothing.
void DiscoverProducts(const std::u16string& targets, const ProductRecord& templateRecord);
