// host/core/ClassesStreamingWriter.cpp - the stored-form writer: components to text.
//
// Writing walks the published properties of the root and its owned components in stream
// order.
#include "host/core/ClassesComponent.h"
#include "host/core/ClassesStreaming.h"
#include "host/core/SysUtils.h"
#include "host/core/TypInfo.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace host {

namespace {

constexpr const char* kLineBreak = "\r\n";
constexpr std::size_t kStringChunk = 64;
constexpr int kMaxWriteDepth = 32;

// Float values are written as FloatToStr writes them, with '.' whatever the user's settings.
std::string StoredFloatText(double AValue) {
    static const TFormatSettings settings;
    return FloatToStr(AValue, settings);
}

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
        TComponentStateScope writing(AComponent, csWriting);
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
            FOut += StoredFloatText(std::round(AValue * 10000.0));
            FOut += 'c';
            return;
        }
        FOut += StoredFloatText(AValue);
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

} // namespace

std::string WriteComponentToText(TComponent* ARoot) {
    if (ARoot == nullptr)
        throw EWriteError("No component to write");
    return TTextWriter(ARoot).Run();
}

} // namespace host
