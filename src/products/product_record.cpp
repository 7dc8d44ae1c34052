#include "products/product_record.h"

#include <vector>

namespace {

// The records are held by pointer so that the references handed out survive growth.
std::vector<std::unique_ptr<ProductRecord>>& Records() {
  static std::vector<std::unique_ptr<ProductRecord>> records;
  return records;
}

}  // namespace

void ProductListAppend(std::unique_ptr<ProductRecord> record) {
  Records().push_back(std::move(record));
}

std::size_t ProductListCount() { return Records().size(); }

ProductRecord& ProductListAt(std::size_t index) { return *Records().at(index); }

void ProductListResetForTesting() { Records().clear(); }
