// tests/support/WaitFor.h - waiting for a condition another thread or process brings about,
// with a limit, instead of a fixed sleep.
#pragma once

#include <chrono>
#include <thread>

namespace jex::test {

/// Asks ACondition every few milliseconds until it holds or ATimeout has passed; its last
/// answer.
template <typename TCondition>
bool WaitFor(TCondition&& ACondition, std::chrono::milliseconds ATimeout) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    while (!ACondition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return ACondition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace jex::test
