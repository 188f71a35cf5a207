// platform/EnvironmentStrings.h - %NAME% references in configured paths, replaced by the
// values of environment variables.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

/// Looks up one variable; nothing when it is not set.
using TEnvironmentLookup = std::function<std::optional<std::string>(std::string_view)>;

/// Replaces each %NAME% of AText by the variable's value. A name that is not set stays as
/// written, both percent signs included, and so does a lone "%". Names are looked up in their
/// exact spelling first, then without regard to letter case, as the configured paths were
/// written for a system that ignored it.
std::string ExpandEnvironmentStrings(std::string_view AText);

/// The same with another source of variables, for tests and callers with an environment of
/// their own.
std::string ExpandEnvironmentStrings(std::string_view AText, const TEnvironmentLookup& ALookup);

/// The process environment as a lookup (exact spelling, then any letter case).
std::optional<std::string> ProcessEnvironmentVariable(std::string_view AName);

} // namespace platform
