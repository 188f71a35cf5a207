// host/core/SystemExcept.h - what is recorded where an exception was raised: the site, the raw
// frames of the raising thread, and a description of the exception being handled that a fatal
// report can read without allocating.
//
// ExceptObject and ExceptAddr themselves are declared in System.h.
#pragma once

#include "host/core/System.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {
class TSignalSafeText;
} // namespace platform

namespace host {

/// Frames kept for each throw at most.
inline constexpr std::size_t MaxThrowFrames = 32;

/// The frames of the thread that raised the exception being handled, innermost first, as
/// run-time addresses inside their call instructions (a fault's first frame is the faulting
/// instruction); empty when no exception is being handled. Only raw addresses are recorded at
/// the throw; resolving them is the report's business. Valid until the next throw on this
/// thread; reads no more than memory, so a fatal report may use it.
std::span<const std::uintptr_t> ExceptFrames() noexcept;

/// The site a throw with these frames is reported at: the innermost frame of the main
/// executable that is not standard-library code instantiated into it, in the map address
/// model; else the innermost frame as it is. Reads memory only.
void* SiteOfFrames(std::span<const std::uintptr_t> AFrames) noexcept;

/// Makes the next throw on this thread record AAddress (in the map address model) and AFrames
/// instead of walking its own stack: a fault thrown from a signal handler names the faulting
/// instruction, not the handler.
void SetNextThrowSite(void* AAddress, const std::uintptr_t* AFrames, std::size_t AFrameCount);

/// For the exception being handled on this thread (also inside std::terminate): appends its
/// class name to AClassName (a host exception's own name, a foreign one's full C++ name) and
/// points AMessage at its message (what() for a std::exception, "" for other objects). False
/// when none is being handled. Allocates nothing, so a fatal report may use it.
bool DescribeCurrentException(platform::TSignalSafeText& AClassName,
                              const char*& AMessage) noexcept;

} // namespace host
