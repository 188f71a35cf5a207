// platform/linux/EnvironmentStrings.cpp - %NAME% expansion over the process environment.
#include "platform/EnvironmentStrings.h"

#include <cstdlib>
#include <strings.h>

extern char** environ;

namespace platform {

std::optional<std::string> ProcessEnvironmentVariable(std::string_view AName) {
    const std::string name(AName);
    if (const char* value = std::getenv(name.c_str()); value != nullptr)
        return std::string(value);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        if (equals == name.size() && ::strncasecmp(text.data(), name.data(), equals) == 0)
            return std::string(text.substr(equals + 1));
    }
    return std::nullopt;
}

std::string ExpandEnvironmentStrings(std::string_view AText) {
    return ExpandEnvironmentStrings(AText, &ProcessEnvironmentVariable);
}

std::string ExpandEnvironmentStrings(std::string_view AText, const TEnvironmentLookup& ALookup) {
    std::string result;
    result.reserve(AText.size());
    std::size_t at = 0;
    while (at < AText.size()) {
        const std::size_t open = AText.find('%', at);
        if (open == std::string_view::npos) {
            result.append(AText.substr(at));
            break;
        }
        result.append(AText.substr(at, open - at));
        const std::size_t close = AText.find('%', open + 1);
        if (close == std::string_view::npos) {
            result.append(AText.substr(open)); // a lone "%" stays
            break;
        }
        const std::string_view name = AText.substr(open + 1, close - open - 1);
        std::optional<std::string> value;
        if (!name.empty())
            value = ALookup(name);
        if (value.has_value()) {
            result.append(*value);
            at = close + 1;
        } else {
            // Unknown: the reference stays as written, both percent signs included.
            result.append(AText.substr(open, close - open + 1));
            at = close + 1;
        }
    }
    return result;
}

} // namespace platform
