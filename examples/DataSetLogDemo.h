// examples/DataSetLogDemo.h - the demo's part for the dataset change logger.
#pragma once

#include <string>

namespace demo {

/// Edits, inserts and deletes orders in an SQLite table watched by a TJexDatasetLog, then
/// prints the lines it logged and the statements it described.
void DataSetLogDemo(const std::string& AFolder);

} // namespace demo
