// host/core/TypInfo.cpp - the class registry and the published-property calls.
//
// The tables themselves are built by each class (TClassInfoBuilder); this unit looks names up
// in them, converts enumeration and set values to and from their member names, and keeps the
// process-wide map from class names to tables that stored forms create components through.
#include "host/core/TypInfo.h"

#include "host/core/SysUtils.h"

#include <map>
#include <mutex>

namespace host {

namespace {

struct TClassRegistry {
    std::mutex Lock;
    std::map<std::string, const TClassInfo*, TTextLess> ByName;
};

TClassRegistry& Registry() {
    static TClassRegistry registry;
    return registry;
}

[[noreturn]] void PropertyNotFound(const std::string& AName) {
    throw EPropertyError("Property " + AName + " does not exist");
}

const TPropInfo& RequireProp(const TObject* AInstance, const std::string& AName) {
    const TPropInfo* info = GetPropInfo(AInstance, AName);
    if (info == nullptr)
        PropertyNotFound(AName);
    return *info;
}

const TPropInfo& RequireProp(const TPropInfo* APropInfo) {
    if (APropInfo == nullptr || APropInfo->PropType == nullptr)
        throw EPropertyError("Property information missing");
    return *APropInfo;
}

[[noreturn]] void InvalidType(const TPropInfo& AProp) {
    throw EPropertyError("Invalid property type: " + AProp.PropType->Name);
}

[[noreturn]] void ReadOnly() {
    throw EPropReadOnly("Property is read-only");
}

bool IsOrdinalKind(TTypeKind AKind) {
    return AKind == tkInteger || AKind == tkChar || AKind == tkEnumeration || AKind == tkSet ||
           AKind == tkInt64;
}

} // namespace

// ---- Class registry ------------------------------------------------------------------------

void RegisterClass(const TClassInfo& AClass) {
    TClassRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.Lock);
    auto [it, inserted] = registry.ByName.emplace(AClass.Name, &AClass);
    if (!inserted && it->second != &AClass)
        throw EFilerError("A class named " + AClass.Name + " already exists");
}

void RegisterClasses(std::initializer_list<const TClassInfo*> AClasses) {
    for (const TClassInfo* c : AClasses)
        if (c != nullptr)
            RegisterClass(*c);
}

void UnRegisterClass(const TClassInfo& AClass) {
    TClassRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.Lock);
    auto it = registry.ByName.find(AClass.Name);
    if (it != registry.ByName.end() && it->second == &AClass)
        registry.ByName.erase(it);
}

const TClassInfo* GetClass(const std::string& AName) {
    TClassRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.Lock);
    auto it = registry.ByName.find(AName);
    return it == registry.ByName.end() ? nullptr : it->second;
}

const TClassInfo& FindClass(const std::string& AName) {
    const TClassInfo* info = GetClass(AName);
    if (info == nullptr)
        throw EClassNotFound("Class " + AName + " not found");
    return *info;
}

// ---- Common type information ---------------------------------------------------------------

const TTypeInfo& BooleanTypeInfo() {
    static const TTypeInfo info{.Name = "Boolean",
                                .Kind = tkEnumeration,
                                .EnumNames = {"False", "True"},
                                .MinValue = 0,
                                .MaxValue = 1};
    return info;
}

const TTypeInfo& StringTypeInfo() {
    static const TTypeInfo info{.Name = "string", .Kind = tkString};
    return info;
}

const TTypeInfo& Int64TypeInfo() {
    static const TTypeInfo info{.Name = "Int64", .Kind = tkInt64};
    return info;
}

const TTypeInfo& FloatTypeInfo(TFloatType AType) {
    static const TTypeInfo infos[] = {
        {.Name = "Single", .Kind = tkFloat, .FloatType = ftSingle},
        {.Name = "Double", .Kind = tkFloat, .FloatType = ftDouble},
        {.Name = "Extended", .Kind = tkFloat, .FloatType = ftExtended},
        {.Name = "Comp", .Kind = tkFloat, .FloatType = ftComp},
        {.Name = "Currency", .Kind = tkFloat, .FloatType = ftCurr},
    };
    const auto index = static_cast<std::size_t>(AType);
    return infos[index < std::size(infos) ? index : 1];
}

const TTypeInfo& DateTimeTypeInfo() {
    static const TTypeInfo info{.Name = "TDateTime", .Kind = tkFloat, .FloatType = ftDouble};
    return info;
}

namespace detail {

void ThrowInvalidCast() {
    throw EInvalidCast("Invalid class typecast");
}

std::string FindMethodNameOf(const TObject* ARoot, const std::type_info& AEventType,
                             const void* AEvent) {
    if (ARoot == nullptr)
        return {};
    for (const TClassInfo* c = &ARoot->ClassInfo(); c != nullptr; c = c->Parent)
        for (const TMethodInfo& m : c->Methods)
            if (m.Signature != nullptr && *m.Signature == AEventType && m.Matches &&
                m.Matches(ARoot, AEvent))
                return m.Name;
    return {};
}

bool BindMethodOf(TObject* ARoot, const std::type_info& AEventType, const std::string& AName,
                  void* AEvent) {
    if (ARoot == nullptr)
        return false;
    for (const TClassInfo* c = &ARoot->ClassInfo(); c != nullptr; c = c->Parent)
        for (const TMethodInfo& m : c->Methods)
            if (SameText(m.Name, AName)) {
                if (m.Signature == nullptr || *m.Signature != AEventType || !m.Bind)
                    return false;
                m.Bind(ARoot, AEvent);
                return true;
            }
    return false;
}

} // namespace detail

// ---- Property lookup -----------------------------------------------------------------------

const TPropInfo* GetPropInfo(const TClassInfo& AClass, const std::string& AName) {
    // The most derived declaration wins, so a descendant can publish a property again with
    // another default.
    for (const TClassInfo* c = &AClass; c != nullptr; c = c->Parent)
        for (const TPropInfo& p : c->Props)
            if (SameText(p.Name, AName))
                return &p;
    return nullptr;
}

const TPropInfo* GetPropInfo(const TObject* AInstance, const std::string& AName) {
    return AInstance == nullptr ? nullptr : GetPropInfo(AInstance->ClassInfo(), AName);
}

std::vector<const TPropInfo*> GetPropList(const TClassInfo& AClass) {
    std::vector<const TClassInfo*> chain;
    for (const TClassInfo* c = &AClass; c != nullptr; c = c->Parent)
        chain.push_back(c);
    std::vector<const TPropInfo*> result;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        for (const TPropInfo& p : (*it)->Props) {
            bool replaced = false;
            for (const TPropInfo*& existing : result)
                if (SameText(existing->Name, p.Name)) {
                    existing = &p;
                    replaced = true;
                    break;
                }
            if (!replaced)
                result.push_back(&p);
        }
    return result;
}

std::vector<const TPropInfo*> GetPropList(const TObject* AInstance) {
    return AInstance == nullptr ? std::vector<const TPropInfo*>{}
                                : GetPropList(AInstance->ClassInfo());
}

bool IsPublishedProp(const TObject* AInstance, const std::string& AName) {
    return GetPropInfo(AInstance, AName) != nullptr;
}

const TMethodInfo* GetMethodInfo(const TClassInfo& AClass, const std::string& AName) {
    for (const TClassInfo* c = &AClass; c != nullptr; c = c->Parent)
        for (const TMethodInfo& m : c->Methods)
            if (SameText(m.Name, AName))
                return &m;
    return nullptr;
}

// ---- Accessors -----------------------------------------------------------------------------

std::string GetStrProp(const TObject* AInstance, const TPropInfo* APropInfo) {
    const TPropInfo& p = RequireProp(APropInfo);
    if (p.PropType->Kind != tkString || !p.GetStr)
        InvalidType(p);
    return p.GetStr(AInstance);
}

std::string GetStrProp(const TObject* AInstance, const std::string& APropName) {
    return GetStrProp(AInstance, &RequireProp(AInstance, APropName));
}

void SetStrProp(TObject* AInstance, const TPropInfo* APropInfo, const std::string& AValue) {
    const TPropInfo& p = RequireProp(APropInfo);
    if (p.PropType->Kind != tkString)
        InvalidType(p);
    if (!p.SetStr)
        ReadOnly();
    p.SetStr(AInstance, AValue);
}

void SetStrProp(TObject* AInstance, const std::string& APropName, const std::string& AValue) {
    SetStrProp(AInstance, &RequireProp(AInstance, APropName), AValue);
}

std::int64_t GetOrdProp(const TObject* AInstance, const TPropInfo* APropInfo) {
    const TPropInfo& p = RequireProp(APropInfo);
    if (!IsOrdinalKind(p.PropType->Kind) || !p.GetOrd)
        InvalidType(p);
    return p.GetOrd(AInstance);
}

std::int64_t GetOrdProp(const TObject* AInstance, const std::string& APropName) {
    return GetOrdProp(AInstance, &RequireProp(AInstance, APropName));
}

void SetOrdProp(TObject* AInstance, const TPropInfo* APropInfo, std::int64_t AValue) {
    const TPropInfo& p = RequireProp(APropInfo);
    if (!IsOrdinalKind(p.PropType->Kind))
        InvalidType(p);
    if (!p.SetOrd)
        ReadOnly();
    p.SetOrd(AInstance, AValue);
}

void SetOrdProp(TObject* AInstance, const std::string& APropName, std::int64_t AValue) {
    SetOrdProp(AInstance, &RequireProp(AInstance, APropName), AValue);
}

std::string GetEnumProp(const TObject* AInstance, const std::string& APropName) {
    const TPropInfo& p = RequireProp(AInstance, APropName);
    if (p.PropType->Kind != tkEnumeration)
        InvalidType(p);
    return GetEnumName(*p.PropType, GetOrdProp(AInstance, &p));
}

void SetEnumProp(TObject* AInstance, const std::string& APropName, const std::string& AValue) {
    const TPropInfo& p = RequireProp(AInstance, APropName);
    if (p.PropType->Kind != tkEnumeration)
        InvalidType(p);
    const int value = GetEnumValue(*p.PropType, AValue);
    if (value < 0)
        throw EPropertyConvertError("Invalid property element: " + AValue);
    SetOrdProp(AInstance, &p, value);
}

std::string GetSetProp(const TObject* AInstance, const std::string& APropName, bool ABrackets) {
    const TPropInfo& p = RequireProp(AInstance, APropName);
    if (p.PropType->Kind != tkSet)
        InvalidType(p);
    return SetToString(*p.PropType, GetOrdProp(AInstance, &p), ABrackets);
}

void SetSetProp(TObject* AInstance, const std::string& APropName, const std::string& AValue) {
    const TPropInfo& p = RequireProp(AInstance, APropName);
    if (p.PropType->Kind != tkSet)
        InvalidType(p);
    SetOrdProp(AInstance, &p, StringToSet(*p.PropType, AValue));
}

double GetFloatProp(const TObject* AInstance, const std::string& APropName) {
    const TPropInfo& p = RequireProp(AInstance, APropName);
    if (p.PropType->Kind != tkFloat || !p.GetFloat)
        InvalidType(p);
    return p.GetFloat(AInstance);
}

void SetFloatProp(TObject* AInstance, const std::string& APropName, double AValue) {
    const TPropInfo& p = RequireProp(AInstance, APropName);
    if (p.PropType->Kind != tkFloat)
        InvalidType(p);
    if (!p.SetFloat)
        ReadOnly();
    p.SetFloat(AInstance, AValue);
}

TObject* GetObjectProp(const TObject* AInstance, const std::string& APropName) {
    const TPropInfo& p = RequireProp(AInstance, APropName);
    if (p.PropType->Kind != tkClass || !p.GetObject)
        InvalidType(p);
    return p.GetObject(AInstance);
}

void SetObjectProp(TObject* AInstance, const std::string& APropName, TObject* AValue) {
    const TPropInfo& p = RequireProp(AInstance, APropName);
    if (p.PropType->Kind != tkClass)
        InvalidType(p);
    if (!p.SetObject)
        ReadOnly();
    p.SetObject(AInstance, AValue);
}

bool IsStoredProp(const TObject* AInstance, const TPropInfo* APropInfo) {
    const TPropInfo& p = RequireProp(APropInfo);
    return !p.IsStored || p.IsStored(AInstance);
}

bool IsStoredProp(const TObject* AInstance, const std::string& APropName) {
    return IsStoredProp(AInstance, &RequireProp(AInstance, APropName));
}

// ---- Enumeration and set names -------------------------------------------------------------

std::string GetEnumName(const TTypeInfo& ATypeInfo, std::int64_t AValue) {
    if (ATypeInfo.Kind == tkInteger || ATypeInfo.Kind == tkInt64)
        return std::to_string(AValue);
    if (ATypeInfo.Kind != tkEnumeration || AValue < 0 ||
        AValue >= static_cast<std::int64_t>(ATypeInfo.EnumNames.size()))
        return {};
    return ATypeInfo.EnumNames[static_cast<std::size_t>(AValue)];
}

int GetEnumValue(const TTypeInfo& ATypeInfo, const std::string& AName) {
    const std::vector<std::string>& names =
        ATypeInfo.CompType != nullptr ? ATypeInfo.CompType->EnumNames : ATypeInfo.EnumNames;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (SameText(names[i], AName))
            return static_cast<int>(i);
    return -1;
}

std::string SetToString(const TTypeInfo& ATypeInfo, std::int64_t AValue, bool ABrackets) {
    const auto bits = static_cast<std::uint64_t>(AValue);
    std::string result;
    for (std::size_t i = 0; i < ATypeInfo.EnumNames.size() && i < 64; ++i)
        if ((bits >> i) & 1U) {
            if (!result.empty())
                result += ',';
            result += ATypeInfo.EnumNames[i];
        }
    return ABrackets ? "[" + result + "]" : result;
}

std::string SetToString(const TPropInfo* APropInfo, std::int64_t AValue, bool ABrackets) {
    return SetToString(*RequireProp(APropInfo).PropType, AValue, ABrackets);
}

std::int64_t StringToSet(const TTypeInfo& ATypeInfo, const std::string& AValue) {
    std::uint64_t bits = 0;
    std::size_t i = 0;
    auto isDelimiter = [](char c) {
        return c == '[' || c == ']' || c == ',' || c == ' ' || c == '\t';
    };
    while (i < AValue.size()) {
        while (i < AValue.size() && isDelimiter(AValue[i]))
            ++i;
        const std::size_t start = i;
        while (i < AValue.size() && !isDelimiter(AValue[i]))
            ++i;
        if (i == start)
            continue;
        const std::string name = AValue.substr(start, i - start);
        int ordinal = -1;
        for (std::size_t k = 0; k < ATypeInfo.EnumNames.size() && k < 64; ++k)
            if (SameText(ATypeInfo.EnumNames[k], name)) {
                ordinal = static_cast<int>(k);
                break;
            }
        if (ordinal < 0)
            throw EPropertyConvertError("Invalid property element: " + name);
        bits |= std::uint64_t{1} << ordinal;
    }
    return static_cast<std::int64_t>(bits);
}

std::int64_t StringToSet(const TPropInfo* APropInfo, const std::string& AValue) {
    return StringToSet(*RequireProp(APropInfo).PropType, AValue);
}

} // namespace host
