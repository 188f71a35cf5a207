// host/forms/ExceptionChain.cpp - TExceptionChain.
#include "host/forms/ExceptionChain.h"

#include <algorithm>
#include <vector>

namespace host {

namespace {

struct TMember {
    TExceptionEvent Handler;
    TExceptionEvent* Saved;
};

std::vector<TMember>& Members() {
    static std::vector<TMember> members;
    return members;
}

} // namespace

void TExceptionChain::Join(const TExceptionEvent& AMine, TExceptionEvent* ASaved) {
    Members().push_back({AMine, ASaved});
}

bool TExceptionChain::Leave(const TExceptionEvent& AMine) {
    std::vector<TMember>& members = Members();
    const auto self = std::find_if(members.begin(), members.end(), [&](const TMember& AMember) {
        return AMember.Handler == AMine;
    });
    if (self == members.end())
        return false;
    const TExceptionEvent called = *self->Saved;
    members.erase(self);
    bool relinked = false;
    for (TMember& other : members)
        if (*other.Saved == AMine) {
            *other.Saved = called;
            relinked = true;
        }
    return relinked;
}

bool TExceptionChain::IsMember(const TExceptionEvent& AHandler) {
    const std::vector<TMember>& members = Members();
    return std::any_of(members.begin(), members.end(),
                       [&](const TMember& AMember) { return AMember.Handler == AHandler; });
}

} // namespace host
