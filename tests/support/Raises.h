// tests/support/Raises.h - the message of the host exception an action raises.
#pragma once

#include <string>

namespace jex::test {

/// Runs AAction and returns the Message() of the E it raises, or "(nothing raised)"; any other
/// exception passes on.
template <typename E, typename F>
std::string MessageOf(F AAction) {
    try {
        AAction();
    } catch (const E& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

} // namespace jex::test
