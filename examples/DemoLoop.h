// examples/DemoLoop.h - serving a monitor's hand-overs between the demo's steps.
#pragma once

#include "host/core/ClassesThread.h"

#include <chrono>
#include <thread>

namespace demo {

/// Serves the hand-overs of the monitors' workers until none came for a moment.
inline void ServeUntilQuiet() {
    auto quietSince = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - quietSince < std::chrono::milliseconds(150)) {
        if (host::CheckSynchronize())
            quietSince = std::chrono::steady_clock::now();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace demo
