// host/forms/ExceptionChain.h - components that take over Application->OnException in turn.
//
// A component that puts its own handler into the application's OnException keeps the one it
// found there and calls it. Several such components, of different classes, form a chain; when
// one of them goes, whoever called it must call what it called instead, or the chain would call
// a destroyed component (or lose the ones behind it). Main thread only, as the events are.
#pragma once

#include "host/forms/Forms.h"

namespace host {

/// The members of the OnException chain, whatever their class.
class TExceptionChain {
public:
    /// Records AMine, now in the application's OnException, and where its member keeps the
    /// handler it calls (ASaved, which must outlive the membership).
    static void Join(const TExceptionEvent& AMine, TExceptionEvent* ASaved);
    /// Takes AMine out: a member that called AMine now calls what AMine called. True when
    /// there was such a member. The application's event is the caller's to restore.
    static bool Leave(const TExceptionEvent& AMine);
    /// True when AHandler is a member's handler.
    static bool IsMember(const TExceptionEvent& AHandler);
};

} // namespace host
