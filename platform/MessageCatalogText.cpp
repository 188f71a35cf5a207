// platform/MessageCatalogText.cpp - the .mc text form of a message catalogue: header statements
// (severity, facility and language names), and messages with one text block per language.
#include "platform/MessageCatalog.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <strings.h>

namespace platform {

namespace {

struct TNoCase {
    bool operator()(const std::string& A, const std::string& B) const {
        return ::strcasecmp(A.c_str(), B.c_str()) < 0;
    }
};

using TNames = std::map<std::string, std::uint32_t, TNoCase>;

std::string_view Trim(std::string_view AText) {
    while (!AText.empty() && std::isspace(static_cast<unsigned char>(AText.front())))
        AText.remove_prefix(1);
    while (!AText.empty() && std::isspace(static_cast<unsigned char>(AText.back())))
        AText.remove_suffix(1);
    return AText;
}

// A number in C syntax (decimal, 0x hex, leading-0 octal) filling the whole text.
std::optional<std::uint32_t> Number(std::string_view AText) {
    const std::string text(Trim(AText));
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end != text.c_str() + text.size() || value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

class TMcParser {
public:
    explicit TMcParser(std::string_view ABytes)
        : FBytes(ABytes) {
        FSeverities = {{"Success", 0}, {"Informational", 1}, {"Warning", 2}, {"Error", 3}};
        FFacilities = {{"System", 0x0FF}, {"Application", 0xFFF}};
        FLanguages = {{"English", LanguageUsEnglish}};
    }

    bool Run(TMessageCatalog& ACatalog, std::string& AError) {
        std::string_view line;
        while (NextLine(line)) {
            const std::string_view text = Trim(line);
            if (text.empty() || text.front() == ';')
                continue;
            const std::size_t equals = text.find('=');
            if (equals == std::string_view::npos)
                return Fail("expected keyword=value", AError);
            const std::string keyword(Trim(text.substr(0, equals)));
            std::string_view value = Trim(text.substr(equals + 1));
            if (!Statement(keyword, value, ACatalog))
                return Fail(FReason, AError);
        }
        if (FInMessage && !FHasText)
            return Fail("message without text", AError);
        return true;
    }

private:
    bool Fail(const std::string& AReason, std::string& AError) {
        AError = "line " + std::to_string(FLineNumber) + ": " + AReason;
        return false;
    }

    bool Error(const std::string& AReason) {
        FReason = AReason;
        return false;
    }

    // The next line without its line end; false at the end of the bytes.
    bool NextLine(std::string_view& ALine) {
        if (FAt >= FBytes.size())
            return false;
        std::size_t end = FBytes.find('\n', FAt);
        if (end == std::string_view::npos)
            end = FBytes.size();
        ALine = FBytes.substr(FAt, end - FAt);
        if (!ALine.empty() && ALine.back() == '\r')
            ALine.remove_suffix(1);
        FAt = end + 1;
        ++FLineNumber;
        return true;
    }

    // A value that cuts a trailing comment off.
    static std::string_view Plain(std::string_view AValue) {
        return Trim(AValue.substr(0, AValue.find(';')));
    }

    bool Statement(const std::string& AKeyword, std::string_view AValue,
                   TMessageCatalog& ACatalog) {
        const auto is = [&](const char* AName) {
            return ::strcasecmp(AKeyword.c_str(), AName) == 0;
        };
        if (is("SeverityNames") || is("FacilityNames") || is("LanguageNames"))
            return NameList(AKeyword, AValue);
        if (is("MessageIdTypedef"))
            return true;
        if (is("OutputBase")) {
            const std::optional<std::uint32_t> base = Number(Plain(AValue));
            return base == 10u || base == 16u ? true : Error("OutputBase must be 10 or 16");
        }
        if (is("MessageId"))
            return MessageId(Plain(AValue));
        if (!FInMessage)
            return Error(AKeyword + " outside a message");
        if (is("Severity") || is("Facility")) {
            const bool severity = is("Severity");
            const TNames& names = severity ? FSeverities : FFacilities;
            const auto found = names.find(std::string(Plain(AValue)));
            if (found == names.end())
                return Error("unknown " + std::string(severity ? "severity " : "facility ") +
                             std::string(Plain(AValue)));
            (severity ? FSeverity : FFacility) = found->second;
            return true;
        }
        if (is("SymbolicName"))
            return true;
        if (is("Language"))
            return Language(Plain(AValue), ACatalog);
        return Error("unknown keyword " + AKeyword);
    }

    bool MessageId(std::string_view AValue) {
        if (FInMessage && !FHasText)
            return Error("message without text");
        std::uint32_t number = 0;
        if (AValue.empty()) {
            number = FLastId + 1;
        } else if (AValue.front() == '+') {
            const std::optional<std::uint32_t> step = Number(AValue.substr(1));
            if (!step)
                return Error("bad MessageId");
            number = FLastId + *step;
        } else {
            const std::optional<std::uint32_t> value = Number(AValue);
            if (!value)
                return Error("bad MessageId");
            number = *value;
        }
        if (number > 0xFFFF)
            return Error("MessageId above 0xFFFF");
        FLastId = number;
        FInMessage = true;
        FHasText = false;
        return true;
    }

    bool Language(std::string_view AName, TMessageCatalog& ACatalog) {
        const auto found = FLanguages.find(std::string(AName));
        if (found == FLanguages.end())
            return Error("unknown language " + std::string(AName));
        TMessageEntry entry;
        entry.Id = (FSeverity << 30) | (FFacility << 16) | FLastId;
        entry.Language = static_cast<std::uint16_t>(found->second);
        for (const TMessageEntry& other : ACatalog.Entries)
            if (other.Id == entry.Id && other.Language == entry.Language)
                return Error("message given twice in language " + std::string(AName));
        std::string_view line;
        for (;;) {
            if (!NextLine(line))
                return Error("message text not ended by a line holding \".\"");
            if (line == ".")
                break;
            entry.Text.append(line);
            entry.Text.append("\r\n");
        }
        ACatalog.Entries.push_back(std::move(entry));
        FHasText = true;
        return true;
    }

    // (name=number[:symbol] ...), which may run over several lines.
    bool NameList(const std::string& AKeyword, std::string_view AValue) {
        std::string list(AValue);
        while (list.find(')') == std::string::npos) {
            std::string_view more;
            if (!NextLine(more))
                return Error(AKeyword + " list not closed by \")\"");
            list.push_back(' ');
            list.append(Plain(more));
        }
        const std::string_view text = Trim(list);
        if (text.empty() || text.front() != '(' || text.find(')') != text.size() - 1)
            return Error(AKeyword + " must be a list in parentheses");
        const bool severity = ::strcasecmp(AKeyword.c_str(), "SeverityNames") == 0;
        const bool facility = ::strcasecmp(AKeyword.c_str(), "FacilityNames") == 0;
        TNames& names = severity ? FSeverities : facility ? FFacilities : FLanguages;
        const std::uint32_t limit = severity ? 0x3 : facility ? 0xFFF : 0xFFFF;
        std::string_view rest = text.substr(1, text.size() - 2);
        while (!(rest = Trim(rest)).empty()) {
            std::size_t end = 0;
            while (end < rest.size() && !std::isspace(static_cast<unsigned char>(rest[end])))
                ++end;
            const std::string_view item = rest.substr(0, end);
            rest.remove_prefix(end);
            const std::size_t equals = item.find('=');
            if (equals == std::string_view::npos || equals == 0)
                return Error("bad entry " + std::string(item) + " in " + AKeyword);
            const std::string_view number = item.substr(equals + 1, item.find(':') - equals - 1);
            const std::optional<std::uint32_t> value = Number(number);
            if (!value || *value > limit)
                return Error("bad value in " + AKeyword + ": " + std::string(item));
            names[std::string(item.substr(0, equals))] = *value;
        }
        return true;
    }

    const std::string_view FBytes;
    std::size_t FAt = 0;
    int FLineNumber = 0;
    std::string FReason;
    TNames FSeverities;
    TNames FFacilities;
    TNames FLanguages;
    bool FInMessage = false;
    bool FHasText = false;
    std::uint32_t FLastId = 0;
    std::uint32_t FSeverity = 0;     // Success, until a message names another
    std::uint32_t FFacility = 0xFFF; // Application, likewise
};

} // namespace

bool ParseMcText(std::string_view ABytes, TMessageCatalog& ACatalog, std::string& AError) {
    TMessageCatalog catalog;
    TMcParser parser(ABytes);
    if (!parser.Run(catalog, AError))
        return false;
    ACatalog = std::move(catalog);
    return true;
}

} // namespace platform
