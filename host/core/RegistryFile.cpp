// host/core/RegistryFile.cpp - the REGEDIT4 parser, its application to the store, and the
// writer.
#include "host/core/RegistryFile.h"

#include "platform/File.h"
#include "platform/KeyStore.h"
#include "platform/PlatformServices.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

constexpr std::string_view Header = "REGEDIT4";
constexpr HKEY Roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                          HKEY_CURRENT_CONFIG};

platform::TKeyStore& Store() {
    return *platform::PlatformServices().KeyStore;
}

[[noreturn]] void LineError(int ALine, const std::string& AWhat) {
    throw ERegistryException("Line " + std::to_string(ALine) + ": " + AWhat);
}

std::string_view Trim(std::string_view AText) {
    while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t'))
        AText.remove_prefix(1);
    while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t' || AText.back() == '\r'))
        AText.remove_suffix(1);
    return AText;
}

int HexDigit(char AChar) {
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'a' && AChar <= 'f')
        return AChar - 'a' + 10;
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    return -1;
}

// A quoted string at the start of AText with \\ and \" escapes; advances AText past it.
bool TakeQuoted(std::string_view& AText, std::string& AOut) {
    if (AText.empty() || AText.front() != '"')
        return false;
    AOut.clear();
    for (std::size_t i = 1; i < AText.size(); ++i) {
        const char c = AText[i];
        if (c == '"') {
            AText.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < AText.size() && (AText[i + 1] == '\\' || AText[i + 1] == '"'))
            AOut += AText[++i];
        else
            AOut += c;
    }
    return false;
}

bool ParseHexList(std::string_view AText, std::string& AOut) {
    AOut.clear();
    AText = Trim(AText);
    if (AText.empty())
        return true;
    for (;;) {
        AText = Trim(AText);
        if (AText.size() < 2 || HexDigit(AText[0]) < 0 || HexDigit(AText[1]) < 0)
            return false;
        AOut += static_cast<char>(HexDigit(AText[0]) * 16 + HexDigit(AText[1]));
        AText = Trim(AText.substr(2));
        if (AText.empty())
            return true;
        if (AText.front() != ',')
            return false;
        AText.remove_prefix(1);
    }
}

HKEY RootByName(std::string_view AName) {
    for (const HKEY root : Roots)
        if (RootKeyName(root) == AName)
            return root;
    return 0;
}

void ParseSection(std::string_view ALine, int ALineNo, TRegistryFileEntry& AEntry) {
    if (ALine.back() != ']')
        LineError(ALineNo, "a key line must end with ']'");
    std::string_view inner = ALine.substr(1, ALine.size() - 2);
    AEntry.Kind = TRegistryFileEntry::ekKey;
    if (!inner.empty() && inner.front() == '-') {
        AEntry.Kind = TRegistryFileEntry::ekDeleteKey;
        inner.remove_prefix(1);
    }
    const std::size_t slash = inner.find('\\');
    const std::string_view rootName = inner.substr(0, slash);
    AEntry.Root = RootByName(rootName);
    if (AEntry.Root == 0)
        LineError(ALineNo, "unknown root key '" + std::string(rootName) + "'");
    AEntry.Path =
        slash == std::string_view::npos ? std::string() : std::string(inner.substr(slash + 1));
}

void ParseValue(std::string_view ALine, int ALineNo, TRegistryFileEntry& AEntry) {
    std::string_view rest = ALine;
    if (rest.front() == '@') {
        AEntry.Name.clear();
        rest.remove_prefix(1);
    } else if (!TakeQuoted(rest, AEntry.Name)) {
        LineError(ALineNo, "a value name must be quoted or '@'");
    }
    rest = Trim(rest);
    if (rest.empty() || rest.front() != '=')
        LineError(ALineNo, "'=' expected after the value name");
    rest = Trim(rest.substr(1));
    AEntry.Kind = TRegistryFileEntry::ekValue;
    if (rest == "-") {
        AEntry.Kind = TRegistryFileEntry::ekDeleteValue;
        return;
    }
    if (!rest.empty() && rest.front() == '"') {
        if (!TakeQuoted(rest, AEntry.Data) || !Trim(rest).empty())
            LineError(ALineNo, "unterminated string or text after it");
        AEntry.Type = platform::kvString;
        AEntry.Data += '\0';
        return;
    }
    if (rest.substr(0, 6) == "dword:") {
        const std::string_view digits = rest.substr(6);
        if (digits.size() != 8)
            LineError(ALineNo, "dword: needs eight hex digits");
        std::uint32_t number = 0;
        for (const char c : digits) {
            if (HexDigit(c) < 0)
                LineError(ALineNo, "dword: needs eight hex digits");
            number = number * 16 + static_cast<std::uint32_t>(HexDigit(c));
        }
        AEntry.Type = platform::kvInteger;
        AEntry.Data.clear();
        for (int i = 0; i < 4; ++i)
            AEntry.Data += static_cast<char>((number >> (8 * i)) & 0xFF);
        return;
    }
    if (rest.substr(0, 3) == "hex") {
        rest.remove_prefix(3);
        AEntry.Type = platform::kvBinary;
        if (!rest.empty() && rest.front() == '(') {
            const std::size_t close = rest.find(')');
            if (close == std::string_view::npos || close == 1 || close > 9)
                LineError(ALineNo, "hex(type): needs a hex type number");
            std::uint32_t type = 0;
            for (const char c : rest.substr(1, close - 1)) {
                if (HexDigit(c) < 0)
                    LineError(ALineNo, "hex(type): needs a hex type number");
                type = type * 16 + static_cast<std::uint32_t>(HexDigit(c));
            }
            AEntry.Type = type;
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != ':' || !ParseHexList(rest.substr(1), AEntry.Data))
            LineError(ALineNo, "hex: needs bytes as two hex digits separated by commas");
        return;
    }
    LineError(ALineNo, "unknown value data");
}

std::string Quote(std::string_view AText) {
    std::string quoted = "\"";
    for (const char c : AText) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string HexList(std::string_view AData) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string list;
    std::size_t lineLength = 0;
    for (std::size_t i = 0; i < AData.size(); ++i) {
        if (i > 0) {
            list += ',';
            if (++lineLength >= 25) {
                list += "\\\n  ";
                lineLength = 0;
            }
        }
        const auto byte = static_cast<unsigned char>(AData[i]);
        list += Hex[byte >> 4];
        list += Hex[byte & 0xF];
    }
    return list;
}

// A string value can be written as text when its only NUL is the terminator and it has no
// line breaks.
bool PlainString(const platform::TKeyValue& AValue) {
    const std::string& data = AValue.Data;
    return AValue.Type == platform::kvString && !data.empty() && data.back() == '\0' &&
           data.find('\0') == data.size() - 1 && data.find_first_of("\r\n") == std::string::npos;
}

void ExportKey(const std::string& AHive, const std::string& APath, std::string& AOut) {
    AOut += "\n[" + AHive + (APath.empty() ? "" : "\\" + APath) + "]\n";
    // A value or key that cannot be read fails the export: a text without it would pass for
    // the whole key. One deleted or damaged meanwhile is left out.
    const auto fail = [&](const std::string& AName) {
        throw ERegistryException("Failed to get data for '" + AName + "'");
    };
    std::vector<std::string> names;
    if (Store().ValueNames(AHive, APath, names) != 0)
        fail(APath);
    for (const std::string& name : names) {
        platform::TKeyValue value;
        const int error = Store().ReadValue(AHive, APath, name, value);
        if (error == ENOENT || error == EBADMSG)
            continue;
        if (error != 0)
            fail(name);
        AOut += name.empty() ? "@" : Quote(name);
        AOut += '=';
        if (PlainString(value)) {
            AOut += Quote(std::string_view(value.Data).substr(0, value.Data.size() - 1));
        } else if (value.Type == platform::kvInteger && value.Data.size() == 4) {
            std::uint32_t number = 0;
            for (int i = 3; i >= 0; --i)
                number = (number << 8) |
                         static_cast<unsigned char>(value.Data[static_cast<std::size_t>(i)]);
            char digits[9];
            std::snprintf(digits, sizeof digits, "%08x", number);
            AOut += std::string("dword:") + digits;
        } else if (value.Type == platform::kvBinary) {
            AOut += "hex:" + HexList(value.Data);
        } else {
            char type[16];
            std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.Type));
            AOut += type + HexList(value.Data);
        }
        AOut += '\n';
    }
    if (Store().SubKeyNames(AHive, APath, names) != 0)
        fail(APath);
    for (const std::string& name : names)
        ExportKey(AHive, APath.empty() ? name : APath + "\\" + name, AOut);
}

} // namespace

std::vector<TRegistryFileEntry> ParseRegistryText(std::string_view AText) {
    std::vector<TRegistryFileEntry> entries;
    bool headerSeen = false;
    bool inSection = false;
    int lineNo = 0;
    std::size_t at = 0;
    while (at <= AText.size()) {
        // One logical line: a hex list continues over lines ending with a backslash.
        const int startLine = lineNo + 1;
        const auto nextPiece = [&] {
            const std::size_t end = AText.find('\n', at);
            const std::string_view piece =
                AText.substr(at, end == std::string_view::npos ? AText.npos : end - at);
            at = end == std::string_view::npos ? AText.size() + 1 : end + 1;
            ++lineNo;
            return std::string(Trim(piece));
        };
        std::string line = nextPiece();
        while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
               at <= AText.size()) {
            line.pop_back();
            line += nextPiece();
        }
        if (line.empty() || line.front() == ';')
            continue;
        if (!headerSeen) {
            if (line != Header)
                LineError(startLine, "the file must begin with REGEDIT4");
            headerSeen = true;
            continue;
        }
        if (line.find('\0') != std::string::npos)
            LineError(startLine, "NUL byte in the text");
        TRegistryFileEntry entry;
        entry.Line = startLine;
        if (line.front() == '[') {
            ParseSection(line, startLine, entry);
            inSection = entry.Kind == TRegistryFileEntry::ekKey;
            entries.push_back(std::move(entry));
            continue;
        }
        if (!inSection)
            LineError(startLine, "a value needs a key line before it");
        const TRegistryFileEntry& section = entries.back();
        entry.Root = section.Root;
        entry.Path = section.Path;
        ParseValue(line, startLine, entry);
        entries.push_back(std::move(entry));
    }
    if (!headerSeen)
        LineError(1, "the file must begin with REGEDIT4");
    return entries;
}

void ApplyRegistryEntries(const std::vector<TRegistryFileEntry>& AEntries) {
    for (const TRegistryFileEntry& entry : AEntries) {
        const std::string hive = RootKeyName(entry.Root);
        int error = 0;
        switch (entry.Kind) {
        case TRegistryFileEntry::ekKey:
            error = Store().CreateKey(hive, entry.Path);
            break;
        case TRegistryFileEntry::ekDeleteKey: {
            TRegistry registry;
            registry.SetRootKey(entry.Root);
            if (registry.KeyExists("\\" + entry.Path) && !registry.DeleteKey("\\" + entry.Path))
                error = EACCES;
            break;
        }
        case TRegistryFileEntry::ekValue:
            error =
                Store().WriteValue(hive, entry.Path, entry.Name,
                                   static_cast<platform::TKeyValueType>(entry.Type), entry.Data);
            break;
        case TRegistryFileEntry::ekDeleteValue:
            error = Store().DeleteValue(hive, entry.Path, entry.Name);
            if (error == ENOENT)
                error = 0;
            break;
        }
        if (error != 0)
            LineError(entry.Line, "the store refused it: " + std::string(std::strerror(error)));
    }
}

void ImportRegistryText(std::string_view AText) {
    ApplyRegistryEntries(ParseRegistryText(AText));
}

std::string ExportRegistryText(HKEY ARoot, const std::string& AKey) {
    const std::string hive = RootKeyName(ARoot);
    std::string path = AKey;
    while (!path.empty() && path.front() == '\\')
        path.erase(0, 1);
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    if (hive.empty() || !Store().KeyExists(hive, path))
        throw ERegistryException("Failed to get data for '" + AKey + "'");
    std::string text(Header);
    text += '\n';
    ExportKey(hive, path, text);
    return text;
}

void ImportRegistryFile(const std::string& AFileName) {
    std::string text;
    if (platform::PlatformServices().Files->ReadFile(AFileName, text) != 0)
        throw ERegistryException("Cannot open file " + AFileName);
    ImportRegistryText(text);
}

void ExportRegistryFile(HKEY ARoot, const std::string& AKey, const std::string& AFileName) {
    const std::string text = ExportRegistryText(ARoot, AKey);
    if (platform::PlatformServices().Files->ReplaceFile(AFileName, text) != 0)
        throw ERegistryException("Cannot create file " + AFileName);
}

} // namespace host
