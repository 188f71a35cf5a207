// host/core/ClassesStreaming.cpp - the text form writer and reader (Classes unit).
//
// Reading goes in two steps: the parser turns the text into a tree of objects, properties and
// values (all syntax errors, with their line, surface here and nothing has been created yet);
// the loader then creates and fills components from the tree. Writing walks the published
// properties of the root and its owned components in stream order.
#include "host/core/ClassesStreaming.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace host {

namespace {

constexpr const char* kLineBreak = "\r\n";
constexpr std::size_t kStringChunk = 64;
constexpr int kMaxWriteDepth = 32;

char LowerAscii(char C) {
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

bool SameName(const std::string& A, const char* B) {
    std::size_t i = 0;
    for (; i < A.size() && B[i] != '\0'; ++i)
        if (LowerAscii(A[i]) != LowerAscii(B[i]))
            return false;
    return i == A.size() && B[i] == '\0';
}

bool SameName(const std::string& A, const std::string& B) {
    return A.size() == B.size() && SameName(A, B.c_str());
}

std::vector<std::string> SplitDotted(const std::string& APath) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = APath.find('.', start);
        parts.push_back(APath.substr(start, dot - start));
        if (dot == std::string::npos)
            return parts;
        start = dot + 1;
    }
}

/// Sets a component state flag for a scope and restores the previous value.
class TStateScope {
public:
    TStateScope(TComponent* AComponent, TComponentStateMember AMember)
        : FComponent(AComponent)
        , FMember(AMember)
        , FWasSet(AComponent->ComponentState().Contains(AMember)) {
        FComponent->SetState(FMember, true);
    }

    ~TStateScope() { FComponent->SetState(FMember, FWasSet); }

    TStateScope(const TStateScope&) = delete;
    TStateScope& operator=(const TStateScope&) = delete;

private:
    TComponent* FComponent;
    TComponentStateMember FMember;
    bool FWasSet;
};

// ---- Float text ----------------------------------------------------------------------------

// Float values are written as FloatToStr writes them: 15 significant digits rounded half-up
// from the 18-digit expansion, '.' as separator, fixed notation for 1E-4 <= |x| < 1E15.
std::string FloatToStoredText(double AValue) {
    if (std::isnan(AValue))
        return "NAN";
    if (std::isinf(AValue))
        return AValue < 0 ? "-INF" : "INF";
    if (AValue == 0)
        return "0";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17Le", std::fabs(static_cast<long double>(AValue)));
    std::string digits;
    const char* p = buffer;
    for (; *p != '\0' && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    if (*p != 'e' || digits.size() < 16)
        return "0";
    int exponent = std::atoi(p + 1) + 1; // value = 0.d1d2... x 10^exponent
    std::string d = digits.substr(0, 15);
    if (digits[15] >= '5') {
        int k = 14;
        while (k >= 0 && d[static_cast<std::size_t>(k)] == '9')
            d[static_cast<std::size_t>(k--)] = '0';
        if (k < 0) {
            d = "1" + d.substr(0, 14);
            ++exponent;
        } else {
            ++d[static_cast<std::size_t>(k)];
        }
    }
    while (d.size() > 1 && d.back() == '0')
        d.pop_back();
    std::string result = AValue < 0 ? "-" : "";
    if (exponent >= -3 && exponent <= 15) {
        if (exponent <= 0) {
            result += "0." + std::string(static_cast<std::size_t>(-exponent), '0') + d;
        } else {
            const auto intDigits = static_cast<std::size_t>(exponent);
            if (d.size() <= intDigits)
                result += d + std::string(intDigits - d.size(), '0');
            else
                result += d.substr(0, intDigits) + "." + d.substr(intDigits);
        }
    } else {
        result += d[0];
        if (d.size() > 1)
            result += "." + d.substr(1);
        result += "E" + std::to_string(exponent - 1);
    }
    return result;
}

// ---- Writer --------------------------------------------------------------------------------

class TTextWriter {
public:
    explicit TTextWriter(TComponent* ARoot)
        : FRoot(ARoot) {}

    std::string Run() {
        WriteComponent(FRoot, 0);
        return std::move(FOut);
    }

private:
    void Indent(int ALevel) { FOut.append(static_cast<std::size_t>(ALevel) * 2, ' '); }

    void WriteComponent(TComponent* AComponent, int ALevel) {
        TStateScope writing(AComponent, csWriting);
        Indent(ALevel);
        FOut += "object ";
        if (!AComponent->Name().empty())
            FOut += AComponent->Name() + ": ";
        FOut += AComponent->ClassName();
        FOut += kLineBreak;
        WriteProperties(AComponent, std::string(), ALevel + 1, 0);
        // A root writes what it owns; other components keep their owned parts to themselves.
        if (AComponent == FRoot)
            for (int i = 0; i < AComponent->ComponentCount(); ++i)
                WriteComponent(AComponent->Components(i), ALevel + 1);
        Indent(ALevel);
        FOut += "end";
        FOut += kLineBreak;
    }

    void WriteProperties(TObject* AObject, const std::string& APrefix, int ALevel, int ADepth) {
        if (ADepth > kMaxWriteDepth)
            throw EWriteError("Objects nest too deeply at " + APrefix);
        for (const TPropInfo* prop : GetPropList(AObject))
            WriteProperty(AObject, *prop, APrefix, ALevel, ADepth);
    }

    void BeginLine(const std::string& APath, int ALevel) {
        Indent(ALevel);
        FOut += APath;
        FOut += " = ";
    }

    void WriteProperty(TObject* AObject, const TPropInfo& AProp, const std::string& APrefix,
                       int ALevel, int ADepth) {
        if (AProp.PropType == nullptr || !AProp.HasSetter())
            return;
        if (AProp.IsStored && !AProp.IsStored(AObject))
            return;
        const TTypeInfo& type = *AProp.PropType;
        const std::string path = APrefix + AProp.Name;
        switch (type.Kind) {
        case tkInteger:
        case tkChar:
        case tkEnumeration:
        case tkSet: {
            if (!AProp.GetOrd)
                return;
            const std::int64_t value = AProp.GetOrd(AObject);
            if (value == AProp.Default)
                return;
            BeginLine(path, ALevel);
            if (type.Kind == tkSet)
                WriteSet(type, value);
            else if (type.Kind == tkEnumeration && !GetEnumName(type, value).empty())
                FOut += GetEnumName(type, value);
            else
                FOut += std::to_string(value);
            break;
        }
        case tkInt64: {
            const std::int64_t value = AProp.GetOrd ? AProp.GetOrd(AObject) : 0;
            if (value == 0)
                return;
            BeginLine(path, ALevel);
            FOut += std::to_string(value);
            break;
        }
        case tkFloat: {
            const double value = AProp.GetFloat ? AProp.GetFloat(AObject) : 0.0;
            if (value == 0)
                return;
            BeginLine(path, ALevel);
            WriteFloat(type, value);
            break;
        }
        case tkString: {
            const std::string value = AProp.GetStr ? AProp.GetStr(AObject) : std::string();
            if (value.empty())
                return;
            BeginLine(path, ALevel);
            WriteString(value, ALevel);
            break;
        }
        case tkMethod: {
            const std::string name =
                AProp.GetMethodName ? AProp.GetMethodName(AObject, FRoot) : std::string();
            if (name.empty())
                return;
            BeginLine(path, ALevel);
            FOut += name;
            break;
        }
        case tkClass:
            WriteObjectProperty(AObject, AProp, path, ALevel, ADepth);
            return;
        default:
            return;
        }
        FOut += kLineBreak;
    }

    void WriteObjectProperty(TObject* AObject, const TPropInfo& AProp, const std::string& APath,
                             int ALevel, int ADepth) {
        TObject* value = AProp.GetObject ? AProp.GetObject(AObject) : nullptr;
        if (value == nullptr)
            return;
        if (auto* component = dynamic_cast<TComponent*>(value)) {
            const std::string reference = ReferenceName(component);
            if (reference.empty())
                return;
            BeginLine(APath, ALevel);
            FOut += reference;
            FOut += kLineBreak;
        } else if (auto* strings = dynamic_cast<IStreamableStrings*>(value)) {
            WriteStrings(APath + ".Strings", strings->GetLines(), ALevel);
        } else if (auto* collection = dynamic_cast<IStreamableCollection*>(value)) {
            WriteCollection(APath, *collection, ALevel, ADepth);
        } else {
            WriteProperties(value, APath + ".", ALevel, ADepth + 1);
        }
    }

    // The name under which the reader finds AComponent again from the root.
    std::string ReferenceName(const TComponent* AComponent) const {
        if (AComponent->Owner() == FRoot)
            return AComponent->Name();
        if (AComponent == FRoot)
            return "Owner";
        const TComponent* owner = AComponent->Owner();
        if (owner != nullptr && !owner->Name().empty() && !AComponent->Name().empty())
            return owner->Name() + "." + AComponent->Name();
        if (!AComponent->Name().empty())
            return AComponent->Name() + ".Owner";
        return {};
    }

    void WriteSet(const TTypeInfo& AType, std::int64_t AValue) {
        FOut += '[';
        const auto bits = static_cast<std::uint64_t>(AValue);
        bool first = true;
        for (std::size_t i = 0; i < AType.EnumNames.size() && i < 64; ++i)
            if ((bits >> i) & 1U) {
                if (!first)
                    FOut += ", ";
                FOut += AType.EnumNames[i];
                first = false;
            }
        FOut += ']';
    }

    void WriteFloat(const TTypeInfo& AType, double AValue) {
        if (AType.FloatType == ftCurr) {
            // Currency is written as its scaled integer value.
            FOut += FloatToStoredText(std::round(AValue * 10000.0));
            FOut += 'c';
            return;
        }
        FOut += FloatToStoredText(AValue);
        if (AType.FloatType == ftSingle)
            FOut += 's';
        else if (&AType == &DateTimeTypeInfo())
            FOut += 'd';
    }

    // Printable characters go inside quotes; the apostrophe and control characters as #nnn.
    void WriteStringPiece(const std::string& AText, std::size_t AStart, std::size_t AEnd) {
        bool quoted = false;
        for (std::size_t i = AStart; i < AEnd; ++i) {
            const auto c = static_cast<unsigned char>(AText[i]);
            if (c >= 32 && c != '\'') {
                if (!quoted)
                    FOut += '\'';
                quoted = true;
                FOut += static_cast<char>(c);
            } else {
                if (quoted)
                    FOut += '\'';
                quoted = false;
                FOut += '#';
                FOut += std::to_string(c);
            }
        }
        if (quoted)
            FOut += '\'';
    }

    // A value on the current line; a string longer than one chunk moves to the following
    // lines, one level deeper, cut into chunks joined by " +".
    void WriteString(const std::string& AText, int ALevel) {
        if (AText.empty()) {
            FOut += "''";
            return;
        }
        if (AText.size() <= kStringChunk) {
            WriteStringPiece(AText, 0, AText.size());
            return;
        }
        for (std::size_t start = 0; start < AText.size(); start += kStringChunk) {
            if (start > 0)
                FOut += " +";
            FOut += kLineBreak;
            Indent(ALevel + 1);
            WriteStringPiece(AText, start, std::min(AText.size(), start + kStringChunk));
        }
    }

    void WriteStrings(const std::string& APath, const std::vector<std::string>& ALines,
                      int ALevel) {
        if (ALines.empty())
            return;
        BeginLine(APath, ALevel);
        FOut += '(';
        for (const std::string& line : ALines) {
            FOut += kLineBreak;
            Indent(ALevel + 1);
            WriteString(line, ALevel + 1);
        }
        FOut += ')';
        FOut += kLineBreak;
    }

    void WriteCollection(const std::string& APath, const IStreamableCollection& ACollection,
                         int ALevel, int ADepth) {
        if (ADepth > kMaxWriteDepth)
            throw EWriteError("Objects nest too deeply at " + APath);
        BeginLine(APath, ALevel);
        FOut += '<';
        for (int i = 0; i < ACollection.Count(); ++i) {
            FOut += kLineBreak;
            Indent(ALevel + 1);
            FOut += "item";
            FOut += kLineBreak;
            if (TPersistent* item = ACollection.Item(i))
                WriteProperties(item, std::string(), ALevel + 2, ADepth + 1);
            Indent(ALevel + 1);
            FOut += "end";
        }
        FOut += '>';
        FOut += kLineBreak;
    }

    TComponent* FRoot;
    std::string FOut;
};

// ---- Parser --------------------------------------------------------------------------------

enum TValueKind : std::uint8_t {
    vkInteger,
    vkFloat,
    vkString,
    vkIdent,
    vkSet,
    vkList,
    vkCollection,
    vkBinary,
};

struct TStoredItem;

struct TStoredValue {
    TValueKind Kind = vkInteger;
    std::int64_t Int = 0;
    double Float = 0;
    char FloatSuffix = 0;           ///< 's', 'c', 'd' or 0
    std::string Text;               ///< string, identifier, binary bytes
    std::vector<std::string> Names; ///< set members
    std::vector<TStoredValue> List;
    std::vector<TStoredItem> Items;
};

struct TStoredProp {
    std::string Path;
    TStoredValue Value;
};

struct TStoredItem {
    std::vector<TStoredProp> Props;
};

enum TObjectHead : std::uint8_t { ohObject, ohInherited, ohInline };

struct TStoredObject {
    TObjectHead Head = ohObject;
    std::string Name;
    std::string ClassName;
    std::vector<TStoredProp> Props;
    std::vector<TStoredObject> Children;
};

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
        return FTok == tokIdent && SameName(FTokText, AKeyword);
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

// ---- Global component finders --------------------------------------------------------------

struct TGlobalFinders {
    std::mutex Lock;
    std::vector<TFindGlobalComponent> Procs;
};

TGlobalFinders& GlobalFinders() {
    static TGlobalFinders finders;
    return finders;
}

// ---- Loader --------------------------------------------------------------------------------

[[noreturn]] void InvalidValue() {
    throw EReadError("Invalid property value");
}

[[noreturn]] void ReadOnlyProperty() {
    throw EReadError("Property is read-only");
}

std::string NameForMessages(const TObject* AInstance) {
    if (const auto* component = dynamic_cast<const TComponent*>(AInstance))
        if (!component->Name().empty())
            return component->Name();
    return AInstance->ClassName();
}

const TClassInfo& FindComponentClass(const std::string& AName) {
    const TClassInfo* info = GetClass(AName);
    if (info == nullptr || !info->CreateComponent)
        throw EClassNotFound("Class " + AName + " not found");
    return *info;
}

// An integer fits a property when the C++ type holds it; unsigned types also take the
// negative spelling of their upper half, as 32-bit handles are written by older writers.
bool FitIntegerRange(const TTypeInfo& AType, std::int64_t& AValue) {
    if (AValue >= AType.MinValue && AValue <= AType.MaxValue)
        return true;
    if (AType.MinValue == 0 && AType.MaxValue > 0 &&
        AType.MaxValue < std::numeric_limits<std::int64_t>::max() && AValue < 0 &&
        AValue >= -(AType.MaxValue / 2) - 1) {
        AValue += AType.MaxValue + 1;
        return true;
    }
    return false;
}

// A value the property's floating type cannot hold is refused rather than turned into an
// infinity that could not be written back; Currency keeps four decimals.
double FitFloat(const TTypeInfo& AType, double AValue) {
    constexpr double kMaxCurrency = 922337203685477.5807;
    if (AType.FloatType == ftSingle && std::fabs(AValue) > std::numeric_limits<float>::max())
        InvalidValue();
    if (AType.FloatType == ftCurr) {
        if (std::fabs(AValue) > kMaxCurrency)
            InvalidValue();
        return std::round(AValue * 10000.0) / 10000.0;
    }
    return AValue;
}

class TFormReader {
public:
    explicit TFormReader(TComponent* ARoot)
        : FRoot(ARoot) {}

    void Read(const TStoredObject& ATree) {
        try {
            Touch(FRoot);
            FRoot->SetState(csLoading, true);
            if (!ATree.Name.empty())
                FRoot->SetName(ATree.Name);
            ReadBody(FRoot, ATree);
            ResolveFixups();
        } catch (...) {
            Abandon();
            throw;
        }
        std::vector<TComponent*> order;
        order.push_back(FRoot);
        order.insert(order.end(), FRead.begin(), FRead.end());
        for (std::size_t i = 0; i < order.size(); ++i) {
            try {
                order[i]->Loaded();
            } catch (...) {
                Abandon();
                throw;
            }
        }
    }

private:
    struct TFixup {
        TObject* Instance;
        const TPropInfo* Prop;
        std::string Target;
        std::string ErrorName;
        std::string Path;
        std::vector<const IStreamableCollection*> Containers;
    };

    struct TContext {
        TObject* Instance;
        const std::string* Path;
        const std::vector<const IStreamableCollection*>* Containers;
    };

    void Touch(TComponent* AComponent) {
        for (TComponent* c : FTouched)
            if (c == AComponent)
                return;
        FTouched.push_back(AComponent);
    }

    // Undoes what can be undone after an error: the components created here go, the others
    // leave the loading and reading states.
    void Abandon() noexcept {
        FFixups.clear();
        for (auto it = FCreated.rbegin(); it != FCreated.rend(); ++it) {
            for (TComponent*& c : FTouched)
                if (c == *it)
                    c = nullptr;
            delete *it;
        }
        FCreated.clear();
        for (TComponent* c : FTouched)
            if (c != nullptr) {
                c->SetState(csLoading, false);
                c->SetState(csReading, false);
            }
    }

    void ReadBody(TComponent* AComponent, const TStoredObject& AObject) {
        {
            TStateScope reading(AComponent, csReading);
            const std::vector<const IStreamableCollection*> noContainers;
            for (const TStoredProp& prop : AObject.Props)
                ReadProperty(AComponent, prop, noContainers);
        }
        for (const TStoredObject& child : AObject.Children)
            ReadChild(child);
    }

    bool AlreadyRead(const TComponent* AComponent) const {
        for (const TComponent* c : FRead)
            if (c == AComponent)
                return true;
        return false;
    }

    void ReadChild(const TStoredObject& AObject) {
        TComponent* component = nullptr;
        if (AObject.Head == ohInherited) {
            component = FRoot->FindComponent(AObject.Name);
            if (component == nullptr || AlreadyRead(component))
                throw EReadError("Ancestor for '" + AObject.Name + "' not found");
        } else {
            TComponent* existing = FRoot->FindComponent(AObject.Name);
            if (existing != nullptr && !AlreadyRead(existing) &&
                SameName(existing->ClassName(), AObject.ClassName)) {
                component = existing;
            } else {
                const TClassInfo& info = FindComponentClass(AObject.ClassName);
                component = info.CreateComponent(FRoot);
                if (component == nullptr)
                    throw EClassNotFound("Class " + AObject.ClassName + " not found");
                FCreated.push_back(component);
                Touch(component);
                component->SetState(csLoading, true);
                component->SetName(AObject.Name);
            }
        }
        Touch(component);
        component->SetState(csLoading, true);
        ReadBody(component, AObject);
        FRead.push_back(component);
    }

    void ReadProperty(TObject* AInstance, const TStoredProp& AProp,
                      const std::vector<const IStreamableCollection*>& AContainers) {
        const TContext context{AInstance, &AProp.Path, &AContainers};
        try {
            ApplyPath(context, AProp.Value);
        } catch (const Exception& e) {
            throw EReadError("Error reading " + NameForMessages(AInstance) + "." + AProp.Path +
                             ": " + e.Message());
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            throw EReadError("Error reading " + NameForMessages(AInstance) + "." + AProp.Path +
                             ": " + e.what());
        }
    }

    void ApplyPath(const TContext& AContext, const TStoredValue& AValue) {
        const std::vector<std::string> segments = SplitDotted(*AContext.Path);
        TObject* target = AContext.Instance;
        for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
            const TPropInfo* prop = GetPropInfo(target, segments[i]);
            if (prop == nullptr || prop->PropType == nullptr || prop->PropType->Kind != tkClass ||
                !prop->GetObject)
                throw EReadError("Property " + segments[i] + " does not exist");
            target = prop->GetObject(target);
            if (target == nullptr)
                InvalidValue();
        }
        const std::string& last = segments.back();
        const TPropInfo* prop = GetPropInfo(target, last);
        if (prop == nullptr || prop->PropType == nullptr) {
            if (SameName(last, "Strings"))
                if (auto* strings = dynamic_cast<IStreamableStrings*>(target)) {
                    ReadStrings(*strings, AValue);
                    return;
                }
            throw EReadError("Property " + last + " does not exist");
        }
        ReadValue(AContext, target, *prop, AValue);
    }

    void ReadValue(const TContext& AContext, TObject* ATarget, const TPropInfo& AProp,
                   const TStoredValue& AValue) {
        const TTypeInfo& type = *AProp.PropType;
        switch (type.Kind) {
        case tkInteger:
        case tkChar: {
            std::int64_t value = AValue.Int;
            if (AValue.Kind != vkInteger || !FitIntegerRange(type, value))
                InvalidValue();
            SetOrdinal(ATarget, AProp, value);
            return;
        }
        case tkInt64:
            if (AValue.Kind != vkInteger)
                InvalidValue();
            SetOrdinal(ATarget, AProp, AValue.Int);
            return;
        case tkEnumeration: {
            std::int64_t value = -1;
            if (AValue.Kind == vkIdent)
                value = GetEnumValue(type, AValue.Text);
            else if (AValue.Kind == vkInteger)
                value = AValue.Int;
            if (value < 0 || value >= static_cast<std::int64_t>(type.EnumNames.size()))
                InvalidValue();
            SetOrdinal(ATarget, AProp, value);
            return;
        }
        case tkSet:
            if (AValue.Kind != vkSet)
                InvalidValue();
            SetOrdinal(ATarget, AProp, SetBits(type, AValue));
            return;
        case tkFloat: {
            double value = 0;
            if (AValue.Kind == vkFloat)
                value = AValue.FloatSuffix == 'c' ? AValue.Float / 10000.0 : AValue.Float;
            else if (AValue.Kind == vkInteger)
                value = static_cast<double>(AValue.Int);
            else
                InvalidValue();
            value = FitFloat(type, value);
            if (!AProp.SetFloat)
                ReadOnlyProperty();
            AProp.SetFloat(ATarget, value);
            return;
        }
        case tkString:
            if (AValue.Kind != vkString)
                InvalidValue();
            if (!AProp.SetStr)
                ReadOnlyProperty();
            AProp.SetStr(ATarget, AValue.Text);
            return;
        case tkClass:
            ReadObjectValue(AContext, ATarget, AProp, AValue);
            return;
        case tkMethod: {
            if (AValue.Kind != vkIdent)
                InvalidValue();
            if (!AProp.SetMethodName)
                ReadOnlyProperty();
            const std::string name = SameName(AValue.Text, "nil") ? std::string() : AValue.Text;
            if (!AProp.SetMethodName(ATarget, FRoot, name))
                InvalidValue();
            return;
        }
        default:
            InvalidValue();
        }
    }

    static void SetOrdinal(TObject* ATarget, const TPropInfo& AProp, std::int64_t AValue) {
        if (!AProp.SetOrd)
            ReadOnlyProperty();
        AProp.SetOrd(ATarget, AValue);
    }

    static std::int64_t SetBits(const TTypeInfo& AType, const TStoredValue& AValue) {
        std::uint64_t bits = 0;
        const auto count =
            static_cast<std::int64_t>(std::min<std::size_t>(AType.EnumNames.size(), 64));
        for (const std::string& name : AValue.Names) {
            std::int64_t ordinal = -1;
            if (!name.empty() && IsDigit(name[0])) {
                if (name.size() <= 2)
                    ordinal = std::atoi(name.c_str());
            } else {
                ordinal = GetEnumValue(AType, name);
            }
            if (ordinal < 0 || ordinal >= count)
                InvalidValue();
            bits |= std::uint64_t{1} << ordinal;
        }
        return static_cast<std::int64_t>(bits);
    }

    void ReadObjectValue(const TContext& AContext, TObject* ATarget, const TPropInfo& AProp,
                         const TStoredValue& AValue) {
        if (AValue.Kind == vkCollection) {
            TObject* object = AProp.GetObject ? AProp.GetObject(ATarget) : nullptr;
            auto* collection = dynamic_cast<IStreamableCollection*>(object);
            if (collection == nullptr)
                InvalidValue();
            ReadCollection(*collection, AValue, *AContext.Containers);
            return;
        }
        if (AValue.Kind != vkIdent)
            InvalidValue();
        if (!AProp.SetObject)
            ReadOnlyProperty();
        DropFixup(ATarget, &AProp);
        if (SameName(AValue.Text, "nil")) {
            AProp.SetObject(ATarget, nullptr);
            return;
        }
        // Resolved once every object of the form exists, so references may point forward.
        FFixups.push_back(TFixup{ATarget, &AProp, AValue.Text, NameForMessages(AContext.Instance),
                                 *AContext.Path, *AContext.Containers});
    }

    void DropFixup(const TObject* AInstance, const TPropInfo* AProp) {
        std::erase_if(FFixups,
                      [&](const TFixup& f) { return f.Instance == AInstance && f.Prop == AProp; });
    }

    static void ReadStrings(IStreamableStrings& AStrings, const TStoredValue& AValue) {
        if (AValue.Kind != vkList)
            InvalidValue();
        std::vector<std::string> lines;
        lines.reserve(AValue.List.size());
        for (const TStoredValue& item : AValue.List) {
            if (item.Kind != vkString)
                InvalidValue();
            lines.push_back(item.Text);
        }
        AStrings.SetLines(lines);
    }

    void ReadCollection(IStreamableCollection& ACollection, const TStoredValue& AValue,
                        const std::vector<const IStreamableCollection*>& AContainers) {
        // The old items go away: forget references still waiting to be set on them.
        std::erase_if(FFixups, [&](const TFixup& f) {
            for (const IStreamableCollection* c : f.Containers)
                if (c == &ACollection)
                    return true;
            return false;
        });
        std::vector<const IStreamableCollection*> containers = AContainers;
        containers.push_back(&ACollection);
        ACollection.BeginUpdate();
        try {
            ACollection.Clear();
            for (const TStoredItem& item : AValue.Items) {
                TPersistent* instance = ACollection.Add();
                if (instance == nullptr)
                    InvalidValue();
                for (const TStoredProp& prop : item.Props)
                    ReadProperty(instance, prop, containers);
            }
        } catch (...) {
            ACollection.EndUpdate();
            throw;
        }
        ACollection.EndUpdate();
    }

    TComponent* FindNested(const std::string& AName) const {
        const std::vector<std::string> segments = SplitDotted(AName);
        TComponent* current = nullptr;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const std::string& segment = segments[i];
            TComponent* scope = i == 0 ? FRoot : current;
            TComponent* found = scope->FindComponent(segment);
            if (found == nullptr && SameName(segment, "Owner"))
                found = scope;
            if (found == nullptr && i == 0 && !FRoot->Name().empty() &&
                SameName(segment, FRoot->Name()))
                found = FRoot;
            if (found == nullptr && i == 0)
                found = FindGlobalComponent(segment);
            if (found == nullptr)
                return nullptr;
            current = found;
        }
        return current;
    }

    void ResolveFixups() {
        std::vector<TFixup> fixups = std::move(FFixups);
        FFixups.clear();
        for (const TFixup& f : fixups) {
            try {
                TComponent* target = FindNested(f.Target);
                if (target == nullptr)
                    InvalidValue();
                f.Prop->SetObject(f.Instance, target);
            } catch (const Exception& e) {
                throw EReadError("Error reading " + f.ErrorName + "." + f.Path + ": " +
                                 e.Message());
            }
        }
    }

    TComponent* FRoot;
    std::vector<TComponent*> FCreated; ///< created here, in creation order
    std::vector<TComponent*> FRead;    ///< every component read but the root, as completed
    std::vector<TComponent*> FTouched; ///< every component whose states were set
    std::vector<TFixup> FFixups;
};

bool RootFits(const TComponent* ARoot, const std::string& AClassName) {
    if (SameName(ARoot->ClassName(), AClassName))
        return true;
    for (const TClassInfo* c = &ARoot->ClassInfo(); c != nullptr; c = c->Parent)
        if (SameName(c->Name, AClassName))
            return true;
    return false;
}

} // namespace

std::string WriteComponentToText(TComponent* ARoot) {
    if (ARoot == nullptr)
        throw EWriteError("No component to write");
    return TTextWriter(ARoot).Run();
}

TComponent* ReadComponentFromText(const std::string& AText, TComponent* AOwner) {
    const TStoredObject tree = TFormParser(AText).Parse();
    const TClassInfo& info = FindComponentClass(tree.ClassName);
    TComponent* root = info.CreateComponent(AOwner);
    if (root == nullptr)
        throw EClassNotFound("Class " + tree.ClassName + " not found");
    try {
        TFormReader(root).Read(tree);
    } catch (...) {
        delete root;
        throw;
    }
    return root;
}

void ReadComponentInto(TComponent* ARoot, const std::string& AText) {
    if (ARoot == nullptr)
        throw EReadError("No component to read into");
    const TStoredObject tree = TFormParser(AText).Parse();
    if (!RootFits(ARoot, tree.ClassName))
        throw EReadError("Stored class " + tree.ClassName + " does not match " +
                         ARoot->ClassName());
    TFormReader(ARoot).Read(tree);
}

void RegisterFindGlobalComponentProc(TFindGlobalComponent AProc) {
    TGlobalFinders& finders = GlobalFinders();
    std::lock_guard<std::mutex> guard(finders.Lock);
    if (AProc != nullptr)
        finders.Procs.push_back(AProc);
}

void UnregisterFindGlobalComponentProc(TFindGlobalComponent AProc) {
    TGlobalFinders& finders = GlobalFinders();
    std::lock_guard<std::mutex> guard(finders.Lock);
    std::erase(finders.Procs, AProc);
}

TComponent* FindGlobalComponent(const std::string& AName) {
    std::vector<TFindGlobalComponent> procs;
    {
        TGlobalFinders& finders = GlobalFinders();
        std::lock_guard<std::mutex> guard(finders.Lock);
        procs = finders.Procs;
    }
    for (TFindGlobalComponent proc : procs)
        if (TComponent* found = proc(AName))
            return found;
    return nullptr;
}

} // namespace host
