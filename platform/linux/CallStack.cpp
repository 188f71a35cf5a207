// platform/linux/CallStack.cpp - the throw's stack walk through libunwind's cached trace.
//
// libunwind exports its own _Unwind_* entry points and a backtrace() of its own. hostrt names
// libgcc_s before libunwind among its needed libraries (CMakeLists.txt), so the loader always
// finds the C++ runtime's unwinder first, and the C library (which every program needs
// directly) keeps backtrace(). Only unw_backtrace is used from libunwind.
#include "platform/CallStack.h"

#include <algorithm>

#define UNW_LOCAL_ONLY
#include <libunwind.h>

namespace platform {

namespace {

// Walks deeper than this are cut at the capacity asked for anyway.
constexpr std::size_t MaxWalk = 128;

} // namespace

std::size_t CaptureCallStack(std::uintptr_t* AFrames, std::size_t ACapacity,
                             std::size_t ASkip) noexcept {
    if (AFrames == nullptr || ACapacity == 0)
        return 0;
    // The first address unw_backtrace gives is its return into this function.
    const std::size_t skip = ASkip + 1;
    if (skip >= MaxWalk)
        return 0;
    void* raw[MaxWalk];
    const std::size_t wanted = std::min(MaxWalk, ACapacity + skip);
    const int walked = unw_backtrace(raw, static_cast<int>(wanted));
    if (walked <= 0 || static_cast<std::size_t>(walked) <= skip)
        return 0;
    const std::size_t count = static_cast<std::size_t>(walked) - skip;
    for (std::size_t i = 0; i < count; ++i)
        AFrames[i] = reinterpret_cast<std::uintptr_t>(raw[skip + i]) - 1;
    return count;
}

} // namespace platform
