// tests/support/Stress.h - how long the stress tests run.
//
// CTest runs them short; JEX_STRESS_SCALE=N (or scripts/stress N) multiplies their rounds by N
// for a longer run that finds rarer interleavings.
#pragma once

#include <cstdlib>

namespace jex::test {

/// The factor JEX_STRESS_SCALE asks for; 1 when it is unset or not a positive number.
inline int StressScale() {
    const char* text = std::getenv("JEX_STRESS_SCALE");
    const int scale = text != nullptr ? std::atoi(text) : 1;
    return scale > 0 ? scale : 1;
}

} // namespace jex::test
