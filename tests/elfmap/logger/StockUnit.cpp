// tests/elfmap/logger/StockUnit.cpp - a unit of the logger test program that counts stock.
#include "StockUnit.h"

#include <stdexcept>
#include <string>

namespace {
// Kept beside the throw so that moving one moves the other.
constexpr int ThrowLine = __LINE__ + 4;
} // namespace

void CountStock(int AItem) {
    throw std::out_of_range("No stock of item " + std::to_string(AItem));
}

int CountStockLine() {
    return ThrowLine;
}
