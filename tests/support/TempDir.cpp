// tests/support/TempDir.cpp - private temporary folders and whole-file helpers for tests.
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace jex::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/jextest-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    FPath = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

std::string ReadFileBytes(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFileBytes(const std::string& APath, const std::string& AContent) {
    std::ofstream out(APath, std::ios::binary | std::ios::trunc);
    out << AContent;
}

std::size_t EntryCount(const std::filesystem::path& AFolder) {
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it(AFolder, error), end; !error && it != end;
         it.increment(error))
        ++count;
    return count;
}

} // namespace jex::test
