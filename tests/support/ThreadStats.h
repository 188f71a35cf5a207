// tests/support/ThreadStats.h - how often a thread of this process ran, for tests and
// benchmarks that show a worker sleeps while nothing happens.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace jex::test {

/// Voluntary plus involuntary context switches of thread ATid of this process so far.
inline long ContextSwitches(std::uint64_t ATid) {
    std::ifstream status("/proc/self/task/" + std::to_string(ATid) + "/status");
    long total = 0;
    for (std::string line; std::getline(status, line);)
        if (line.find("ctxt_switches:") != std::string::npos)
            total += std::stol(line.substr(line.find(':') + 1));
    return total;
}

} // namespace jex::test
