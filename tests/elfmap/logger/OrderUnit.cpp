// tests/elfmap/logger/OrderUnit.cpp - a unit of the logger test program that refuses orders.
#include "OrderUnit.h"

#include "host/core/SysUtils.h"

#include <string>

namespace shop {

namespace {
// Kept beside the throw so that moving one moves the other.
constexpr int ThrowLine = __LINE__ + 4;
} // namespace

void RefuseOrder(int AQuantity) {
    throw host::EListError("Order of " + std::to_string(AQuantity) + " refused");
}

int RefuseOrderLine() {
    return ThrowLine;
}

} // namespace shop
