// host/core/TypInfo.h - run-time type information: classes, published properties and methods.
//
// Every class that publishes properties declares JEX_CLASS(TName) in its body and defines
// TName::StaticClassInfo() in its .cpp, building one TClassInfo with TClassInfoBuilder. The
// class registry maps class names to those tables, so stored forms can create components by
// class name and read and write their published properties.
#pragma once

#include "host/core/System.h"

#include <cstdint>
#include <functional>
#include <string>
#include <typeindex>
#include <vector>

namespace host {

class TComponent;
class TPersistent;

/// Kinds of published property values.
enum TTypeKind : std::uint8_t {
    tkUnknown,
    tkInteger,
    tkChar,
    tkEnumeration, ///< also Boolean (names False, True)
    tkFloat,
    tkString,
    tkSet,
    tkClass,
    tkMethod,
    tkInt64,
};

/// Describes the type of a property: its kind, the member names of an enumeration (or of the
/// enumeration a set is built on), and for objects the class.
struct TTypeInfo {
    std::string Name;
    TTypeKind Kind = tkUnknown;
    std::vector<std::string> EnumNames;    ///< tkEnumeration, tkSet: member names by ordinal
    const TClassInfo* ClassType = nullptr; ///< tkClass
    const std::type_info* MethodSignature = nullptr; ///< tkMethod: typeid of the TEvent type
};

/// "No default": an ordinal property without default is always written.
inline constexpr std::int64_t NoDefault = std::int64_t{-2147483647} - 1;

/// One published property. The accessors work on the object through TObject*; a missing
/// setter makes the property read-only.
struct TPropInfo {
    std::string Name;
    const TTypeInfo* PropType = nullptr;
    std::int64_t Default = NoDefault; ///< ordinal and set properties (sets: the bit mask)

    std::function<std::int64_t(const TObject*)> GetOrd; ///< tkInteger, tkChar, enums, sets, bool
    std::function<void(TObject*, std::int64_t)> SetOrd;
    std::function<std::string(const TObject*)> GetStr; ///< tkString
    std::function<void(TObject*, const std::string&)> SetStr;
    std::function<double(const TObject*)> GetFloat; ///< tkFloat
    std::function<void(TObject*, double)> SetFloat;
    std::function<TObject*(const TObject*)> GetObject; ///< tkClass
    std::function<void(TObject*, TObject*)> SetObject;
    /// tkMethod: the handler's published method name in ARoot, empty when none or unnamed.
    std::function<std::string(const TObject*, const TObject* ARoot)> GetMethodName;
    /// tkMethod: binds the published method AName of ARoot; false when ARoot has no such
    /// method of the event's signature. An empty name clears the event.
    std::function<bool(TObject*, TObject* ARoot, const std::string& AName)> SetMethodName;
    /// Stored-test; absent means always stored.
    std::function<bool(const TObject*)> IsStored;

    bool HasSetter() const { return SetOrd || SetStr || SetFloat || SetObject || SetMethodName; }
};

/// One published method: its name and a binder that makes an event of the requested signature
/// point at it. Bind returns false when the signatures differ.
struct TMethodInfo {
    std::string Name;
    const std::type_info* Signature = nullptr; ///< typeid of the TEvent type it can bind to
    std::function<void(TObject* AInstance, void* AEvent)> Bind; ///< AEvent: TEvent<...>*
    std::function<bool(const TObject* AInstance, const void* AEvent)> Matches;
};

/// Run-time type information of one class.
struct TClassInfo {
    std::string Name;
    const TClassInfo* Parent = nullptr;
    /// Virtual construction with an owner (components only): creates the object completely,
    /// including its AfterConstruction step.
    std::function<TComponent*(TComponent* AOwner)> CreateComponent;
    /// Construction of a plain persistent object (collection items use their collection).
    std::function<TPersistent*()> CreatePersistent;
    std::vector<TPropInfo> Props;     ///< this class's own published properties, in order
    std::vector<TMethodInfo> Methods; ///< this class's own published methods

    /// True when this class is AClass or derives from it.
    bool InheritsFrom(const TClassInfo& AClass) const;
};

} // namespace host
