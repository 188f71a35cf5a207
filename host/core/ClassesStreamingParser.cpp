// host/core/ClassesStreamingParser.cpp - the stored-form parser: tokens, values, objects.
#include "host/core/ClassesStreamingParser.h"

#include "host/core/ClassesStreaming.h"
#include "host/core/SysUtils.h"

#include <charconv>
#include <cmath>
#include <string>
#include <utility>

namespace host {

namespace {

char LowerAscii(char C) {
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

enum TTokenKind : std::uint8_t {
    tokEof,
    tokIdent,
    tokString,
    tokInteger,
    tokFloat,
    tokBinary,
    tokChar,
};

bool IsIdentStart(char C) {
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_';
}

bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}

bool IsIdentChar(char C) {
    return IsIdentStart(C) || IsDigit(C);
}

int HexValue(char C) {
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    return -1;
}

void AppendUtf8(std::string& AOut, std::uint32_t ACode) {
    if (ACode < 0x800) {
        AOut += static_cast<char>(0xC0 | (ACode >> 6));
    } else {
        if (ACode < 0x10000) {
            AOut += static_cast<char>(0xE0 | (ACode >> 12));
        } else {
            AOut += static_cast<char>(0xF0 | (ACode >> 18));
            AOut += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
        }
        AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    }
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
}

class TFormParser {
public:
    explicit TFormParser(const std::string& AText)
        : FText(AText) {}

    TStoredObject Parse() {
        Next();
        TStoredObject root = ParseObject(0);
        if (FTok != tokEof)
            Error("End of file expected");
        return root;
    }

private:
    [[noreturn]] void ErrorAt(const std::string& AMessage, int ALine) const {
        throw EParserError(AMessage + " on line " + std::to_string(ALine));
    }

    [[noreturn]] void Error(const std::string& AMessage) const {
        ErrorAt(FTok == tokEof ? std::string("Unexpected end of file") : AMessage, FTokLine);
    }

    char Peek(std::size_t AOffset = 0) const {
        return FPos + AOffset < FText.size() ? FText[FPos + AOffset] : '\0';
    }

    bool AtEnd() const { return FPos >= FText.size(); }

    // Steps over one character, counting CR, LF and CRLF as one line break each.
    void Advance() {
        const char c = FText[FPos++];
        if (c == '\n' || (c == '\r' && Peek() != '\n'))
            ++FLine;
    }

    void SkipBlanks() {
        while (!AtEnd()) {
            const char c = Peek();
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
                return;
            Advance();
        }
    }

    void Next() {
        SkipBlanks();
        FTokLine = FLine;
        FTokText.clear();
        if (AtEnd()) {
            FTok = tokEof;
            return;
        }
        const char c = Peek();
        if (IsIdentStart(c)) {
            while (!AtEnd() && IsIdentChar(Peek()))
                FTokText += FText[FPos++];
            FTok = tokIdent;
        } else if (c == '\'' || c == '#') {
            ScanString();
        } else if (IsDigit(c) || c == '-') {
            ScanNumber();
        } else if (c == '$') {
            ScanHex();
        } else if (c == '{') {
            ScanBinary();
        } else {
            FTok = tokChar;
            FChar = c;
            ++FPos;
        }
    }

    void ScanString() {
        while (!AtEnd() && (Peek() == '\'' || Peek() == '#')) {
            if (Peek() == '\'') {
                ++FPos;
                for (;;) {
                    if (AtEnd() || Peek() == '\r' || Peek() == '\n')
                        ErrorAt("Invalid string constant", FLine);
                    const char ch = FText[FPos++];
                    if (ch != '\'') {
                        FTokText += ch;
                    } else if (Peek() == '\'') {
                        FTokText += '\'';
                        ++FPos;
                    } else {
                        break;
                    }
                }
            } else {
                ++FPos;
                const bool hex = Peek() == '$';
                if (hex)
                    ++FPos;
                std::uint32_t code = 0;
                int digits = 0;
                for (;;) {
                    const int v = hex ? HexValue(Peek()) : (IsDigit(Peek()) ? Peek() - '0' : -1);
                    if (v < 0)
                        break;
                    code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
                    if (code > 0x10FFFF)
                        ErrorAt("Invalid string constant", FLine);
                    ++digits;
                    ++FPos;
                }
                if (digits == 0)
                    ErrorAt("Invalid string constant", FLine);
                if (code < 256)
                    FTokText += static_cast<char>(code);
                else
                    AppendUtf8(FTokText, code);
            }
        }
        FTok = tokString;
    }

    [[noreturn]] void InvalidNumber(std::size_t AStart) {
        while (!AtEnd() && (IsIdentChar(Peek()) || Peek() == '.'))
            ++FPos;
        ErrorAt("Invalid number: " + FText.substr(AStart, FPos - AStart), FLine);
    }

    void ScanNumber() {
        const std::size_t start = FPos;
        if (Peek() == '-')
            ++FPos;
        if (!IsDigit(Peek()))
            InvalidNumber(start);
        while (IsDigit(Peek()))
            ++FPos;
        bool isFloat = false;
        if (Peek() == '.') {
            isFloat = true;
            ++FPos;
            while (IsDigit(Peek()))
                ++FPos;
        }
        if (Peek() == 'e' || Peek() == 'E') {
            isFloat = true;
            ++FPos;
            if (Peek() == '+' || Peek() == '-')
                ++FPos;
            if (!IsDigit(Peek()))
                InvalidNumber(start);
            while (IsDigit(Peek()))
                ++FPos;
        }
        const std::size_t end = FPos;
        FSuffix = 0;
        const char s = LowerAscii(Peek());
        if ((s == 's' || s == 'c' || s == 'd') && !IsIdentChar(Peek(1))) {
            FSuffix = s;
            isFloat = true;
            ++FPos;
        }
        if (IsIdentChar(Peek()) || Peek() == '.')
            InvalidNumber(start);
        const char* first = FText.data() + start;
        const char* last = FText.data() + end;
        if (isFloat) {
            auto [ptr, ec] = std::from_chars(first, last, FFloat);
            if (ec != std::errc() || ptr != last || !std::isfinite(FFloat))
                InvalidNumber(start);
            FTok = tokFloat;
        } else {
            auto [ptr, ec] = std::from_chars(first, last, FInt);
            if (ec != std::errc() || ptr != last)
                InvalidNumber(start);
            FTok = tokInteger;
        }
    }

    void ScanHex() {
        const std::size_t start = FPos++;
        std::uint64_t value = 0;
        int digits = 0;
        while (HexValue(Peek()) >= 0) {
            if (++digits > 16)
                InvalidNumber(start);
            value = value * 16 + static_cast<std::uint64_t>(HexValue(Peek()));
            ++FPos;
        }
        if (digits == 0 || IsIdentChar(Peek()))
            InvalidNumber(start);
        FInt = static_cast<std::int64_t>(value);
        FTok = tokInteger;
    }

    void ScanBinary() {
        ++FPos;
        int high = -1;
        for (;;) {
            SkipBlanks();
            if (AtEnd())
                ErrorAt("Invalid binary value", FLine);
            const char c = FText[FPos++];
            if (c == '}')
                break;
            const int v = HexValue(c);
            if (v < 0)
                ErrorAt("Invalid binary value", FLine);
            if (high < 0) {
                high = v;
            } else {
                FTokText += static_cast<char>(high * 16 + v);
                high = -1;
            }
        }
        if (high >= 0)
            ErrorAt("Invalid binary value", FLine);
        FTok = tokBinary;
    }

    bool IsChar(char C) const { return FTok == tokChar && FChar == C; }

    bool IsKeyword(const char* AKeyword) const {
        return FTok == tokIdent && SameText(FTokText, AKeyword);
    }

    bool IsHead() const {
        return IsKeyword("object") || IsKeyword("inherited") || IsKeyword("inline");
    }

    void ExpectChar(char C) {
        if (!IsChar(C))
            Error(std::string("'") + C + "' expected");
        Next();
    }

    std::string ExpectIdent() {
        if (FTok != tokIdent)
            Error("Identifier expected");
        std::string result = std::move(FTokText);
        Next();
        return result;
    }

    void CheckDepth(int ADepth) const {
        if (ADepth > MaxStoredFormNesting)
            ErrorAt("Nesting too deep", FTokLine);
    }

    TStoredObject ParseObject(int ADepth) {
        CheckDepth(ADepth);
        TStoredObject obj;
        if (IsKeyword("inherited"))
            obj.Head = ohInherited;
        else if (IsKeyword("inline"))
            obj.Head = ohInline;
        else if (!IsKeyword("object"))
            Error("'object' expected");
        Next();
        std::string first = ExpectIdent();
        if (IsChar(':')) {
            Next();
            obj.Name = std::move(first);
            obj.ClassName = ExpectIdent();
        } else {
            obj.ClassName = std::move(first);
        }
        if (IsChar('[')) {
            Next();
            if (FTok != tokInteger)
                Error("Number expected");
            Next();
            ExpectChar(']');
        }
        while (FTok == tokIdent && !IsHead() && !IsKeyword("end"))
            obj.Props.push_back(ParseProperty(ADepth));
        while (IsHead())
            obj.Children.push_back(ParseObject(ADepth + 1));
        if (!IsKeyword("end"))
            Error("'end' expected");
        Next();
        return obj;
    }

    TStoredProp ParseProperty(int ADepth) {
        TStoredProp prop;
        prop.Path = ExpectIdent();
        while (IsChar('.')) {
            Next();
            prop.Path += '.';
            prop.Path += ExpectIdent();
        }
        ExpectChar('=');
        prop.Value = ParseValue(ADepth);
        return prop;
    }

    TStoredValue ParseValue(int ADepth) {
        TStoredValue value;
        switch (FTok) {
        case tokInteger:
            value.Kind = vkInteger;
            value.Int = FInt;
            Next();
            return value;
        case tokFloat:
            value.Kind = vkFloat;
            value.Float = FFloat;
            value.FloatSuffix = FSuffix;
            Next();
            return value;
        case tokString:
            value.Kind = vkString;
            value.Text = std::move(FTokText);
            Next();
            while (IsChar('+')) {
                Next();
                if (FTok != tokString)
                    Error("String expected");
                value.Text += FTokText;
                Next();
            }
            return value;
        case tokIdent:
            value.Kind = vkIdent;
            value.Text = ExpectIdent();
            while (IsChar('.')) {
                Next();
                value.Text += '.';
                value.Text += ExpectIdent();
            }
            return value;
        case tokBinary:
            value.Kind = vkBinary;
            value.Text = std::move(FTokText);
            Next();
            return value;
        case tokChar:
            if (FChar == '[')
                return ParseSet();
            if (FChar == '(')
                return ParseList(ADepth + 1);
            if (FChar == '<')
                return ParseCollection(ADepth + 1);
            break;
        default:
            break;
        }
        Error("Invalid property value");
    }

    TStoredValue ParseSet() {
        TStoredValue value;
        value.Kind = vkSet;
        Next();
        if (IsChar(']')) {
            Next();
            return value;
        }
        for (;;) {
            if (FTok == tokInteger) {
                value.Names.push_back(std::to_string(FInt));
                Next();
            } else {
                value.Names.push_back(ExpectIdent());
            }
            if (IsChar(']')) {
                Next();
                return value;
            }
            ExpectChar(',');
        }
    }

    TStoredValue ParseList(int ADepth) {
        CheckDepth(ADepth);
        TStoredValue value;
        value.Kind = vkList;
        Next();
        while (!IsChar(')')) {
            if (FTok == tokEof)
                Error("')' expected");
            value.List.push_back(ParseValue(ADepth));
        }
        Next();
        return value;
    }

    TStoredValue ParseCollection(int ADepth) {
        CheckDepth(ADepth);
        TStoredValue value;
        value.Kind = vkCollection;
        Next();
        while (!IsChar('>')) {
            if (!IsKeyword("item"))
                Error("'item' expected");
            Next();
            if (IsChar('[')) {
                Next();
                if (FTok != tokInteger)
                    Error("Number expected");
                Next();
                ExpectChar(']');
            }
            TStoredItem item;
            while (!IsKeyword("end")) {
                if (FTok != tokIdent)
                    Error("'end' expected");
                item.Props.push_back(ParseProperty(ADepth));
            }
            Next();
            value.Items.push_back(std::move(item));
        }
        Next();
        return value;
    }

    const std::string& FText;
    std::size_t FPos = 0;
    int FLine = 1;
    TTokenKind FTok = tokEof;
    int FTokLine = 1;
    std::string FTokText;
    std::int64_t FInt = 0;
    double FFloat = 0;
    char FSuffix = 0;
    char FChar = 0;
};

} // namespace

TStoredObject ParseStoredForm(const std::string& AText) {
    return TFormParser(AText).Parse();
}

} // namespace host
