// tests/elfmap/logger/OrderUnit.h - a unit of the logger test program that refuses orders.
// Its throw is one of the three known source positions the logger must report.
#pragma once

namespace shop {

/// Always raises host::EListError from its own body.
[[gnu::noinline]] void RefuseOrder(int AQuantity);

/// The source line of RefuseOrder's throw.
int RefuseOrderLine();

} // namespace shop
