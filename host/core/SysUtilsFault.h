// host/core/SysUtilsFault.h - the framework's exceptions for hardware faults and their texts.
#pragma once

#include "host/core/SysUtils.h"
#include "platform/FaultSignals.h"

#include <cstddef>

namespace host {

/// The framework's class for a fault ("EAccessViolation", "EDivByZero", ...); for a terminate
/// report, which has no class of its own, "EExternalException".
const char* FaultClassName(platform::TFaultKind AKind) noexcept;

/// The framework's message for a fault into ABuffer (at most ASize bytes with the NUL), e.g.
/// "Access violation at address 0040A1B2. Read of address 00000000" (the instruction in the map
/// address model, the data address as it is) or "External exception 401"; returns its length.
/// Async-signal-safe: the fatal report uses it too.
std::size_t FaultMessage(const platform::TFaultInfo& AFault, char* ABuffer,
                         std::size_t ASize) noexcept;

/// Throws the framework's exception for AFault (EAccessViolation, EDivByZero, ...), recorded as
/// raised at the faulting instruction with the faulting thread's frames. Used by the fault
/// handler on the main thread.
[[noreturn]] void RaiseFault(const platform::TFaultInfo& AFault);

} // namespace host
