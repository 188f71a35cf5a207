// platform/linux/CallStack.cpp - the throw's stack walk through libunwind's cached trace.
//
// libunwind is loaded with dlopen and kept local: linked in, its own _Unwind_* entry points and
// its backtrace() would take the place of the C++ runtime's unwinder and of the C library's
// backtrace() for the whole process. Only unw_backtrace is taken from it.
#include "platform/CallStack.h"

#include "platform/FaultSignals.h"

#include <algorithm>
#include <dlfcn.h>

namespace platform {

namespace {

using TBacktrace = int (*)(void** ABuffer, int ASize);

TBacktrace LoadBacktrace() noexcept {
    void* library = dlopen("libunwind.so.8", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<TBacktrace>(dlsym(library, "unw_backtrace"));
}

// Walks deeper than this are cut at the capacity asked for anyway.
constexpr std::size_t MaxWalk = 128;

} // namespace

std::size_t CaptureCallStack(std::uintptr_t* AFrames, std::size_t ACapacity,
                             std::size_t ASkip) noexcept {
    if (AFrames == nullptr || ACapacity == 0)
        return 0;
    static const TBacktrace backtrace = LoadBacktrace();
    // The first address unw_backtrace gives is its return into this function.
    const std::size_t skip = ASkip + 1;
    if (backtrace == nullptr || skip >= MaxWalk) {
        const std::size_t count = CaptureFrames(AFrames, ACapacity, skip);
        // Not a tail call: this function's frame is one of those skipped.
        asm volatile("" ::: "memory");
        return count;
    }
    void* raw[MaxWalk];
    const std::size_t wanted = std::min(MaxWalk, ACapacity + skip);
    const int walked = backtrace(raw, static_cast<int>(wanted));
    if (walked <= 0 || static_cast<std::size_t>(walked) <= skip)
        return 0;
    const std::size_t count = static_cast<std::size_t>(walked) - skip;
    for (std::size_t i = 0; i < count; ++i)
        AFrames[i] = reinterpret_cast<std::uintptr_t>(raw[skip + i]) - 1;
    return count;
}

} // namespace platform
