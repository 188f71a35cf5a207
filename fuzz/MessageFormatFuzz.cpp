// fuzz/MessageFormatFuzz.cpp - libFuzzer target for the message formatter and %NAME% expansion.
//
// The input is a message text, then a zero byte, then insertion strings separated by zero
// bytes. The formatter must never crash, never read past the strings it is given, and never
// make a text without bound; expansion likewise with a fixed set of variables.
#include "platform/EnvironmentStrings.h"
#include "platform/MessageCatalog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::string input(reinterpret_cast<const char*>(AData), ASize);
    const std::size_t split = input.find('\0');
    const std::string text = input.substr(0, split);
    std::vector<std::string> strings;
    for (std::size_t at = split; at != std::string::npos && at < input.size();) {
        const std::size_t next = input.find('\0', at + 1);
        strings.push_back(input.substr(at + 1, next == std::string::npos ? next : next - at - 1));
        at = next;
    }
    std::string result;
    if (platform::FormatMessageText(text, strings, result) == 0) {
        std::size_t room = 2 * text.size() + 16;
        for (const std::string& each : strings)
            room += 100 * (each.size() + 4096 * 2 + 64);
        if (result.size() > room) {
            std::fprintf(stderr, "formatted text grew without bound\n");
            std::abort();
        }
    }
    const platform::TEnvironmentLookup lookup =
        [](std::string_view AName) -> std::optional<std::string> {
        if (AName == "A")
            return std::string("%A%");
        if (AName == "EMPTY")
            return std::string();
        return std::nullopt;
    };
    const std::string expanded = platform::ExpandEnvironmentStrings(text, lookup);
    if (expanded.size() > text.size() * 2 + 1) {
        std::fprintf(stderr, "expansion grew without bound\n");
        std::abort();
    }
    return 0;
}
