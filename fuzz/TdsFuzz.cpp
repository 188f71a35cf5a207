// fuzz/TdsFuzz.cpp - arbitrary bytes as a TDS file through the built-in reader and the merge.
//
// The input is put into an in-memory file and handed to ReadTdsFile by path, so registration,
// the structure checks, every read operation and the merge's own handling of names, counts and
// offsets all see it. The only acceptable outcomes are a tail or "Cannot open the debug file".
#include "tool/TdsReader.h"
#include "tool/VellinError.h"
#include "tool/vellin.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

struct TMemoryFile {
    TMemoryFile()
        : Fd(memfd_create("tds", 0))
        , Path("/proc/self/fd/" + std::to_string(Fd)) {
        if (Fd < 0)
            std::abort();
    }

    void Fill(const std::uint8_t* AData, std::size_t ASize) {
        if (ftruncate(Fd, 0) != 0 || pwrite(Fd, AData, ASize, 0) != static_cast<ssize_t>(ASize))
            std::abort();
    }

    int Fd;
    std::string Path;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static TMemoryFile file;
    file.Fill(AData, ASize);
    std::vector<std::string> tail;
    try {
        vellin::ReadTdsFile(file.Path, tail, vellin::BuiltInBorDebugApi());
        // A file that was accepted always yields the publics header and its empty line.
        if (tail.size() < 2 || tail[0] != "  Address         Publics by Value")
            std::abort();
    } catch (const vellin::EVellinError&) {
    }
    return 0;
}
