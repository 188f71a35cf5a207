// fuzz/TableNameFuzz.cpp - libFuzzer target for the dataset logger's table-name rule.
//
// Arbitrary SQL text, as a query component's SQL property may hold it. The name found must be
// a piece of the text holding no dot, and the text without "FROM " must come back up to its
// first dot.
#include "monitors/LogDS.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::string sql(reinterpret_cast<const char*>(AData), ASize);
    const std::string name = jex::TJexDatasetLog::TableNameInSQL(sql);
    if (name.find('.') != std::string::npos || sql.find(name) == std::string::npos) {
        std::fprintf(stderr, "table name '%s' is not a dotless piece of the text\n", name.c_str());
        std::abort();
    }
    return 0;
}
