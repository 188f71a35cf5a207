// platform/CallStack.h - the raw frames of the calling thread, taken cheaply enough for every
// C++ throw.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

/// Writes the frames of the calling thread, innermost first, skipping the innermost ASkip
/// callers, as addresses inside their call instructions (return address - 1), like
/// CaptureFrames. Uses libunwind's cached trace, which reads the unwind tables once per code
/// address and then only the stack, so it finds every frame also in code built without frame
/// pointers. Not for signal handlers (the first walk on a thread sets up its cache). Returns
/// the number written.
std::size_t CaptureCallStack(std::uintptr_t* AFrames, std::size_t ACapacity,
                             std::size_t ASkip) noexcept;

} // namespace platform
