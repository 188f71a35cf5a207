// platform/MessageCatalogFormat.cpp - the message formatter: inserts, their printf
// conversions, escapes and line ends.
#include "platform/MessageCatalog.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

constexpr int InvalidParameter = 87;

// Widths and precisions beyond this are taken as this: a text never needs more, and a huge
// number from a record's string must not make a huge result.
constexpr long MaxWidth = 4096;

long AsNumber(const std::string& AText) {
    const long long value = std::strtoll(AText.c_str(), nullptr, 0);
    return value > MaxWidth ? MaxWidth : value < -MaxWidth ? -MaxWidth : static_cast<long>(value);
}

// Applies the conversion AFormat ("s", "-10.3s", "08x", "*d", ...) to the string AArgs[AIndex]
// and those a "*" takes after it; false when the conversion is not one the formatter knows or
// a string it needs is missing. AUsed is the number of strings taken.
bool Convert(std::string_view AFormat, const std::vector<std::string>& AArgs, std::size_t AIndex,
             std::string& AOut, std::size_t& AUsed) {
    std::string spec = "%";
    std::size_t at = 0;
    std::size_t next = AIndex;
    while (at < AFormat.size() &&
           std::string_view("-+ #0").find(AFormat[at]) != std::string_view::npos)
        spec.push_back(AFormat[at++]);
    const auto number = [&](bool& AOk) {
        AOk = true;
        if (at < AFormat.size() && AFormat[at] == '*') {
            ++at;
            if (next >= AArgs.size()) {
                AOk = false;
                return;
            }
            spec += std::to_string(AsNumber(AArgs[next++]));
            return;
        }
        std::size_t digits = 0;
        while (at < AFormat.size() && std::isdigit(static_cast<unsigned char>(AFormat[at])) &&
               digits < 4) {
            spec.push_back(AFormat[at++]);
            ++digits;
        }
    };
    bool ok = true;
    number(ok);
    if (!ok)
        return false;
    if (at < AFormat.size() && AFormat[at] == '.') {
        spec.push_back(AFormat[at++]);
        number(ok);
        if (!ok)
            return false;
    }
    // Length modifiers are read and dropped: every value here is a string or a long long.
    while (at < AFormat.size() &&
           std::string_view("hlLqjzt").find(AFormat[at]) != std::string_view::npos)
        ++at;
    if (AFormat.substr(at).starts_with("I64"))
        at += 3;
    if (at + 1 != AFormat.size() || next >= AArgs.size())
        return false;
    const char conversion = AFormat[at];
    const std::string& value = AArgs[next];
    char buffer[MaxWidth * 2 + 64];
    int length = 0;
    switch (conversion) {
    case 's':
    case 'S':
        spec.push_back('s');
        // The string is not cut to the buffer: it goes in whole when there is no width.
        if (spec == "%s") {
            AOut.append(value);
            AUsed = next + 1 - AIndex;
            return true;
        }
        length = std::snprintf(buffer, sizeof buffer, spec.c_str(), value.c_str());
        break;
    case 'd':
    case 'i':
        spec += "lld";
        length = std::snprintf(buffer, sizeof buffer, spec.c_str(),
                               static_cast<long long>(std::strtoll(value.c_str(), nullptr, 0)));
        break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        spec += "ll";
        spec.push_back(conversion);
        length = std::snprintf(
            buffer, sizeof buffer, spec.c_str(),
            static_cast<unsigned long long>(std::strtoull(value.c_str(), nullptr, 0)));
        break;
    case 'c':
        spec.push_back('c');
        length = std::snprintf(buffer, sizeof buffer, spec.c_str(),
                               value.empty() ? ' ' : static_cast<unsigned char>(value[0]));
        break;
    default:
        return false;
    }
    if (length < 0)
        return false;
    AOut.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1));
    AUsed = next + 1 - AIndex;
    return true;
}

} // namespace

int FormatMessageText(std::string_view AText, const std::vector<std::string>& AArgs,
                      std::string& AResult) {
    std::string out;
    std::size_t at = 0;
    while (at < AText.size()) {
        const char c = AText[at];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            at += c == '\r' && at + 1 < AText.size() && AText[at + 1] == '\n' ? 2 : 1;
            continue;
        }
        if (c != '%') {
            out.push_back(c);
            ++at;
            continue;
        }
        if (at + 1 >= AText.size()) {
            AResult.clear();
            return InvalidParameter;
        }
        const char next = AText[at + 1];
        if (next >= '1' && next <= '9') {
            const std::size_t start = at;
            std::size_t index = static_cast<std::size_t>(next - '0');
            at += 2;
            if (at < AText.size() && std::isdigit(static_cast<unsigned char>(AText[at]))) {
                index = index * 10 + static_cast<std::size_t>(AText[at] - '0');
                ++at;
            }
            std::string_view format = "s";
            if (at < AText.size() && AText[at] == '!') {
                const std::size_t close = AText.find('!', at + 1);
                if (close != std::string_view::npos) {
                    format = AText.substr(at + 1, close - at - 1);
                    at = close + 1;
                }
            }
            std::size_t used = 0;
            std::string converted;
            if (index <= AArgs.size() && Convert(format, AArgs, index - 1, converted, used))
                out.append(converted);
            else
                out.append(AText.substr(start, at - start)); // no string for it: kept as written
            continue;
        }
        at += 2;
        switch (next) {
        case '0':
            AResult = std::move(out);
            return 0;
        case 'n':
            out += "\r\n";
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 't':
            out.push_back('\t');
            break;
        default:
            out.push_back(next); // %% %. %! "% " and every other character stand for themselves
            break;
        }
    }
    AResult = std::move(out);
    return 0;
}

} // namespace platform
