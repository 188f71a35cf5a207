// tests/support/MessageLoop.h - raising errors from inside the application's message loop, where
// the application's own top-level handling (and so the exception logger) deals with them.
#pragma once

#include "host/forms/Forms.h"

#include <cstdint>

namespace jex::test {

/// A message number for the application's window that no earlier call returned.
inline std::uint32_t NewTestMessage() {
    static std::uint32_t next = host::WM_USER + 100;
    return next++;
}

/// Posts a message to the application's window and processes the pending messages; the
/// message's handler calls AHandle, so whatever AHandle raises goes through the application's
/// top-level handling. Each call has its own message, so a call nested in a handler raises its
/// own error.
template <typename F>
void RaiseThroughLoop(F AHandle) {
    const std::uint32_t message = NewTestMessage();
    const auto hook = host::TWindowHook::FromCallable([&AHandle, message](host::TMessage& AMsg) {
        if (AMsg.Msg == message)
            AHandle();
        return false;
    });
    host::Application->HookMainWindow(hook);
    host::Application->PostMessage(host::Application->Handle(), message);
    host::Application->ProcessMessages();
    host::Application->UnhookMainWindow(hook);
}

} // namespace jex::test
