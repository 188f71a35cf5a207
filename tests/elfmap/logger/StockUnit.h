// tests/elfmap/logger/StockUnit.h - a unit of the logger test program that counts stock.
// Its throw is a standard library exception, the third known source position.
#pragma once

/// Always raises std::out_of_range from its own body; declared outside any namespace.
[[gnu::noinline]] void CountStock(int AItem);

/// The source line of CountStock's throw.
int CountStockLine();
