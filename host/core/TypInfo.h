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
#include <initializer_list>
#include <limits>
#include <string>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

namespace host {

class TComponent;
class TPersistent;

template <typename T, typename... A>
T* Create(TComponent* AOwner, A&&... AArgs);

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

/// The representation of a floating-point property; stored forms mark Single values with the
/// suffix s, Currency with c (scaled by 10000), and the TDateTime type with d.
enum TFloatType : std::uint8_t { ftSingle, ftDouble, ftExtended, ftComp, ftCurr };

/// Describes the type of a property: its kind, the member names of an enumeration (or of the
/// enumeration a set is built on), and for objects the class.
struct TTypeInfo {
    std::string Name;
    TTypeKind Kind = tkUnknown;
    std::vector<std::string> EnumNames;    ///< tkEnumeration, tkSet: member names by ordinal
    const TClassInfo* ClassType = nullptr; ///< tkClass, when known at construction
    const std::type_info* MethodSignature = nullptr; ///< tkMethod: typeid of the TEvent type
    TFloatType FloatType = ftDouble;                 ///< tkFloat
    /// tkInteger, tkEnumeration: the values the C++ type can hold.
    std::int64_t MinValue = std::numeric_limits<std::int64_t>::min();
    std::int64_t MaxValue = std::numeric_limits<std::int64_t>::max();
    /// tkClass: the class table, fetched on demand so a class may publish a property of its
    /// own type without recursing into its own table's construction.
    const TClassInfo& (*GetClassType)() = nullptr;
    /// tkSet: the enumeration the set is built on.
    const TTypeInfo* CompType = nullptr;

    /// The class of a tkClass type, nullptr for other kinds.
    const TClassInfo* ClassTypeInfo() const {
        if (ClassType != nullptr)
            return ClassType;
        return GetClassType != nullptr ? &GetClassType() : nullptr;
    }
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

// ---- Hooks for list-like and collection-like properties ------------------------------------

/// Implemented by string lists, so a stored form can hold a published string-list property as
/// `Lines.Strings = ('a' 'b')` without the stream code depending on the list class.
class IStreamableStrings {
public:
    /// The lines in order; a list with no lines is not written.
    virtual std::vector<std::string> GetLines() const = 0;
    /// Replaces every line (the reader empties the list, then adds each stored line).
    virtual void SetLines(const std::vector<std::string>& ALines) = 0;

protected:
    ~IStreamableStrings() = default;
};

/// Implemented by collections, so a stored form can hold a published collection property as
/// `Items = < item ... end >`. The reader empties the collection inside BeginUpdate/EndUpdate
/// and adds one item per stored item.
class IStreamableCollection {
public:
    virtual int Count() const = 0;
    /// The item at AIndex, 0 <= AIndex < Count(); its published properties are streamed.
    virtual TPersistent* Item(int AIndex) const = 0;
    virtual void Clear() = 0;
    /// Appends a new item of the collection's item class and returns it.
    virtual TPersistent* Add() = 0;
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;

    /// For collections whose items come in kinds derived from the item class: the class name
    /// to store with the item at AIndex when Add would not make that kind again; empty (the
    /// default) when the item class says it all.
    virtual std::string StoredItemClass(int /*AIndex*/) const { return {}; }

    /// Appends a new item of the kind AClassName, as StoredItemClass named it; nullptr when the
    /// collection knows no such kind (the default knows none).
    virtual TPersistent* AddStoredItem(const std::string& /*AClassName*/) { return nullptr; }

protected:
    ~IStreamableCollection() = default;
};

// ---- Class registry ------------------------------------------------------------------------

/// Makes AClass known by its name to FindClass and the stored-form reader. Registering the same
/// table again does nothing; another table under a name already taken (ignoring case) raises
/// EFilerError "A class named <Name> already exists".
void RegisterClass(const TClassInfo& AClass);

/// Registers every table of AClasses in order.
void RegisterClasses(std::initializer_list<const TClassInfo*> AClasses);

/// Forgets AClass if it is registered (plug-ins that unload).
void UnRegisterClass(const TClassInfo& AClass);

/// The registered class called AName (ignoring case); raises EClassNotFound
/// "Class <AName> not found" when there is none.
const TClassInfo& FindClass(const std::string& AName);

/// The registered class called AName (ignoring case), or nullptr.
const TClassInfo* GetClass(const std::string& AName);

// ---- Type information of the common property types -----------------------------------------

/// Boolean: an enumeration with the members False and True.
const TTypeInfo& BooleanTypeInfo();
/// The string type of string properties.
const TTypeInfo& StringTypeInfo();
/// Int64 properties.
const TTypeInfo& Int64TypeInfo();
/// A floating-point type: Single, Double, Extended, Comp or Currency.
const TTypeInfo& FloatTypeInfo(TFloatType AType);
/// TDateTime: a Double written with the suffix d.
const TTypeInfo& DateTimeTypeInfo();

/// The Integer type information for the C++ integral type I (its range in MinValue/MaxValue).
template <typename I>
const TTypeInfo& IntegerTypeInfo() {
    static_assert(std::is_integral_v<I> && !std::is_same_v<I, bool>, "integral type expected");
    static const TTypeInfo info = [] {
        TTypeInfo t;
        t.Name = sizeof(I) <= 4 ? (std::is_signed_v<I> ? "Integer" : "Cardinal")
                                : (std::is_signed_v<I> ? "NativeInt" : "NativeUInt");
        t.Kind = tkInteger;
        t.MinValue = static_cast<std::int64_t>(std::numeric_limits<I>::min());
        t.MaxValue = sizeof(I) < 8 || std::is_signed_v<I>
                         ? static_cast<std::int64_t>(std::numeric_limits<I>::max())
                         : std::numeric_limits<std::int64_t>::max();
        return t;
    }();
    return info;
}

/// The type information of the enumeration E, named AName with member names ANames by ordinal.
/// The first call for E defines it; later calls return the same object.
template <typename E>
const TTypeInfo& EnumType(const char* AName, std::initializer_list<const char*> ANames) {
    static_assert(std::is_enum_v<E>, "EnumType needs an enumeration");
    static const TTypeInfo info = [&] {
        TTypeInfo t;
        t.Name = AName;
        t.Kind = tkEnumeration;
        for (const char* n : ANames)
            t.EnumNames.emplace_back(n);
        t.MinValue = 0;
        t.MaxValue = static_cast<std::int64_t>(t.EnumNames.size()) - 1;
        return t;
    }();
    return info;
}

/// The type information of a set over the enumeration AComp (whose ordinals are 0..63), named
/// AName. The first call for E defines it.
template <typename E>
const TTypeInfo& SetType(const char* AName, const TTypeInfo& AComp) {
    static_assert(std::is_enum_v<E>, "SetType needs the set's enumeration");
    static const TTypeInfo info = [&] {
        TTypeInfo t;
        t.Name = AName;
        t.Kind = tkSet;
        t.EnumNames = AComp.EnumNames;
        t.CompType = &AComp;
        return t;
    }();
    return info;
}

/// The type information of class-typed properties whose objects are C.
template <typename C>
const TTypeInfo& ClassTypeOf() {
    static const TTypeInfo info = [] {
        TTypeInfo t;
        t.Name = "class";
        t.Kind = tkClass;
        t.GetClassType = &C::StaticClassInfo;
        return t;
    }();
    return info;
}

/// The type information of event properties of the event type E (a TEvent).
template <typename E>
const TTypeInfo& EventTypeOf() {
    static const TTypeInfo info = [] {
        TTypeInfo t;
        t.Name = ShortTypeName(typeid(E));
        t.Kind = tkMethod;
        t.MethodSignature = &typeid(E);
        return t;
    }();
    return info;
}

// ---- Declaring published members -----------------------------------------------------------

/// A property's stored-test, made by Stored(false) or Stored(&T::IsXStored).
class TStored {
public:
    TStored() = default;

    const std::function<bool(const TObject*)>& Test() const { return FTest; }

private:
    explicit TStored(std::function<bool(const TObject*)> ATest)
        : FTest(std::move(ATest)) {}

    std::function<bool(const TObject*)> FTest;

    friend TStored Stored(bool AValue);
    template <typename C>
    friend TStored Stored(bool (C::*AIsStored)() const);
};

/// `stored False` (never written) or `stored True` (the default).
inline TStored Stored(bool AValue) {
    if (AValue)
        return TStored();
    return TStored([](const TObject*) { return false; });
}

/// `stored IsXStored`: written only while the method answers true.
template <typename C>
TStored Stored(bool (C::*AIsStored)() const) {
    return TStored([AIsStored](const TObject* AObject) {
        return (static_cast<const C*>(AObject)->*AIsStored)();
    });
}

namespace detail {

template <typename E>
struct TEventTraits : std::false_type {};

template <typename Sig>
struct TEventTraits<TEvent<Sig>> : std::true_type {};

template <typename M>
struct TMethodTraits;

template <typename C, typename R, typename... Args>
struct TMethodTraits<R (C::*)(Args...)> {
    using Class = C;
    using Event = TEvent<R(Args...)>;
};

template <typename S>
struct TSetTraits : std::false_type {};

template <typename E>
struct TSetTraits<TSet<E>> : std::true_type {
    using Enum = E;
};

/// Raises EInvalidCast "Invalid class typecast".
[[noreturn]] void ThrowInvalidCast();
/// The name of ARoot's published method that the TEvent *AEvent of type AEventType calls on
/// ARoot, or "".
std::string FindMethodNameOf(const TObject* ARoot, const std::type_info& AEventType,
                             const void* AEvent);
/// Makes the TEvent *AEvent of type AEventType call ARoot's published method AName; false
/// when ARoot publishes no method of that name and signature.
bool BindMethodOf(TObject* ARoot, const std::type_info& AEventType, const std::string& AName,
                  void* AEvent);

} // namespace detail

/// Builds the TClassInfo of class T from a chain of member declarations, in publishing order:
///
///     const TClassInfo& TJexLogBase::StaticClassInfo() {
///         using T = TJexLogBase;
///         static const TClassInfo info =
///             TClassInfoBuilder<T>("TJexLogBase", &TComponent::StaticClassInfo())
///                 .Component()
///                 .Bool("Active", &T::Active, &T::SetActive)
///                 .String("LogFile", &T::LogFile, &T::SetLogFile)
///                 .Object("SendTo", &T::SendTo, &T::SetSendTo)
///                 .Build();
///         return info;
///     }
///
/// Getters are const member functions returning by value or by const reference; setters take
/// the value by value or const reference, or are nullptr for read-only properties. Properties
/// with a default take it after the type; any property takes a Stored(...) test last.
template <typename T>
class TClassInfoBuilder {
    /// The plain type a getter G returns.
    template <typename G>
    using Result = std::remove_cvref_t<std::invoke_result_t<G, const T&>>;

public:
    TClassInfoBuilder(std::string AName, const TClassInfo* AParent) {
        FInfo.Name = std::move(AName);
        FInfo.Parent = AParent;
    }

    /// Lets stored forms create T with an owner through host::Create<T>.
    TClassInfoBuilder& Component() {
        FInfo.CreateComponent = [](TComponent* AOwner) -> TComponent* { return Create<T>(AOwner); };
        return *this;
    }

    /// Lets the class be created without arguments (plain persistent objects).
    TClassInfoBuilder& Persistent() {
        FInfo.CreatePersistent = []() -> TPersistent* { return new T(); };
        return *this;
    }

    /// An integral property (Integer); no default: always written.
    template <typename G, typename S>
    TClassInfoBuilder& Integer(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        return AddInteger(std::move(AName), AGetter, ASetter, NoDefault, std::move(AStored));
    }

    /// An integral property not written while it equals ADefault.
    template <typename G, typename S>
    TClassInfoBuilder& Integer(std::string AName, G AGetter, S ASetter, std::int64_t ADefault,
                               TStored AStored = {}) {
        return AddInteger(std::move(AName), AGetter, ASetter, ADefault, std::move(AStored));
    }

    /// A 64-bit integer property; not written while 0.
    template <typename G, typename S>
    TClassInfoBuilder& Int64(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        using R = Result<G>;
        static_assert(std::is_integral_v<R>, "Int64 getter must return an integer");
        TPropInfo& p = AddProp(std::move(AName), Int64TypeInfo(), std::move(AStored));
        p.Default = 0;
        p.GetOrd = [AGetter](const TObject* AObject) {
            return static_cast<std::int64_t>(Get(AGetter, AObject));
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetOrd = [ASetter](TObject* AObject, std::int64_t AValue) {
                Put(ASetter, AObject, static_cast<R>(AValue));
            };
        return *this;
    }

    /// A Boolean property without default: always written.
    template <typename G, typename S>
    TClassInfoBuilder& Bool(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        return AddBool(std::move(AName), AGetter, ASetter, NoDefault, std::move(AStored));
    }

    /// A Boolean property not written while it equals ADefault.
    template <typename G, typename S>
    TClassInfoBuilder& Bool(std::string AName, G AGetter, S ASetter, bool ADefault,
                            TStored AStored = {}) {
        return AddBool(std::move(AName), AGetter, ASetter, ADefault ? 1 : 0, std::move(AStored));
    }

    /// A string property; not written while empty.
    template <typename G, typename S>
    TClassInfoBuilder& String(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        static_assert(std::is_convertible_v<Result<G>, std::string>,
                      "String getter must return a string");
        TPropInfo& p = AddProp(std::move(AName), StringTypeInfo(), std::move(AStored));
        p.GetStr = [AGetter](const TObject* AObject) { return std::string(Get(AGetter, AObject)); };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetStr = [ASetter](TObject* AObject, const std::string& AValue) {
                Put(ASetter, AObject, AValue);
            };
        return *this;
    }

    /// A floating-point property (Double unless AType says otherwise); not written while 0.
    template <typename G, typename S>
    TClassInfoBuilder& Float(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        return AddFloat(std::move(AName), AGetter, ASetter, FloatTypeInfo(ftDouble),
                        std::move(AStored));
    }

    template <typename G, typename S>
    TClassInfoBuilder& Float(std::string AName, G AGetter, S ASetter, TFloatType AType,
                             TStored AStored = {}) {
        return AddFloat(std::move(AName), AGetter, ASetter, FloatTypeInfo(AType),
                        std::move(AStored));
    }

    /// A TDateTime property; not written while 0.
    template <typename G, typename S>
    TClassInfoBuilder& DateTime(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        return AddFloat(std::move(AName), AGetter, ASetter, DateTimeTypeInfo(), std::move(AStored));
    }

    /// An enumeration property of type AType (see EnumType) without default: always written.
    template <typename G, typename S>
    TClassInfoBuilder& Enum(std::string AName, G AGetter, S ASetter, const TTypeInfo& AType,
                            TStored AStored = {}) {
        return AddEnum(std::move(AName), AGetter, ASetter, AType, NoDefault, std::move(AStored));
    }

    /// An enumeration property not written while it equals ADefault.
    template <typename G, typename S>
    TClassInfoBuilder& Enum(std::string AName, G AGetter, S ASetter, const TTypeInfo& AType,
                            Result<G> ADefault, TStored AStored = {}) {
        return AddEnum(std::move(AName), AGetter, ASetter, AType,
                       static_cast<std::int64_t>(ADefault), std::move(AStored));
    }

    /// A set property (a TSet) of type AType (see SetType) without default: always written.
    template <typename G, typename S>
    TClassInfoBuilder& Set(std::string AName, G AGetter, S ASetter, const TTypeInfo& AType,
                           TStored AStored = {}) {
        return AddSet(std::move(AName), AGetter, ASetter, AType, NoDefault, std::move(AStored));
    }

    /// A set property not written while it equals ADefault (compared as bit masks).
    template <typename G, typename S>
    TClassInfoBuilder& Set(std::string AName, G AGetter, S ASetter, const TTypeInfo& AType,
                           Result<G> ADefault, TStored AStored = {}) {
        return AddSet(std::move(AName), AGetter, ASetter, AType,
                      static_cast<std::int64_t>(ADefault.Bits()), std::move(AStored));
    }

    /// An object property: a TPersistent sub-object (written flattened, `SendTo.EMail`), a
    /// reference to a component (written by name), a string list or a collection (see the
    /// IStreamable hooks). The getter returns a pointer to the object's class.
    template <typename G, typename S>
    TClassInfoBuilder& Object(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        using P = Result<G>;
        static_assert(std::is_pointer_v<P>, "Object getter must return a pointer");
        using C = std::remove_cv_t<std::remove_pointer_t<P>>;
        static_assert(std::is_base_of_v<TObject, C>, "Object property must hold a TObject");
        TPropInfo& p = AddProp(std::move(AName), ClassTypeOf<C>(), std::move(AStored));
        p.GetObject = [AGetter](const TObject* AObject) -> TObject* {
            return const_cast<C*>(Get(AGetter, AObject));
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetObject = [ASetter](TObject* AObject, TObject* AValue) {
                C* value = AValue != nullptr ? dynamic_cast<C*>(AValue) : nullptr;
                if (AValue != nullptr && value == nullptr)
                    detail::ThrowInvalidCast();
                Put(ASetter, AObject, value);
            };
        return *this;
    }

    /// A string-list property (its class implements IStreamableStrings).
    template <typename G, typename S>
    TClassInfoBuilder& Strings(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        static_assert(std::is_base_of_v<IStreamableStrings, std::remove_pointer_t<Result<G>>>,
                      "Strings property must implement IStreamableStrings");
        return Object(std::move(AName), AGetter, ASetter, std::move(AStored));
    }

    /// A collection property (its class implements IStreamableCollection).
    template <typename G, typename S>
    TClassInfoBuilder& Collection(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        static_assert(std::is_base_of_v<IStreamableCollection, std::remove_pointer_t<Result<G>>>,
                      "Collection property must implement IStreamableCollection");
        return Object(std::move(AName), AGetter, ASetter, std::move(AStored));
    }

    /// An event property (a TEvent). Stored forms hold the name of the root's published method
    /// the handler points at; handlers that are not published methods of the root are not
    /// written.
    template <typename G, typename S>
    TClassInfoBuilder& Event(std::string AName, G AGetter, S ASetter, TStored AStored = {}) {
        using E = Result<G>;
        static_assert(detail::TEventTraits<E>::value, "Event getter must return a TEvent");
        TPropInfo& p = AddProp(std::move(AName), EventTypeOf<E>(), std::move(AStored));
        p.GetMethodName = [AGetter](const TObject* AObject, const TObject* ARoot) {
            const E handler = Get(AGetter, AObject);
            return handler.Assigned() ? detail::FindMethodNameOf(ARoot, typeid(E), &handler)
                                      : std::string();
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetMethodName = [ASetter](TObject* AObject, TObject* ARoot,
                                        const std::string& AMethodName) {
                E handler;
                if (!AMethodName.empty() &&
                    !detail::BindMethodOf(ARoot, typeid(E), AMethodName, &handler))
                    return false;
                Put(ASetter, AObject, handler);
                return true;
            };
        return *this;
    }

    /// A published method, so events of the matching signature can be stored by its name.
    template <typename M>
    TClassInfoBuilder& Method(std::string AName, M AMethod) {
        using Traits = detail::TMethodTraits<M>;
        using C = typename Traits::Class;
        using E = typename Traits::Event;
        TMethodInfo m;
        m.Name = std::move(AName);
        m.Signature = &typeid(E);
        m.Bind = [AMethod](TObject* AInstance, void* AEvent) {
            if (C* instance = dynamic_cast<C*>(AInstance))
                *static_cast<E*>(AEvent) = E(instance, AMethod);
        };
        m.Matches = [AMethod](const TObject* AInstance, const void* AEvent) {
            C* instance = dynamic_cast<C*>(const_cast<TObject*>(AInstance));
            return instance != nullptr && *static_cast<const E*>(AEvent) == E(instance, AMethod);
        };
        FInfo.Methods.push_back(std::move(m));
        return *this;
    }

    /// The finished table.
    TClassInfo Build() { return std::move(FInfo); }

private:
    template <typename G>
    static decltype(auto) Get(G AGetter, const TObject* AObject) {
        return std::invoke(AGetter, *static_cast<const T*>(AObject));
    }

    template <typename S, typename V>
    static void Put(S ASetter, TObject* AObject, V&& AValue) {
        std::invoke(ASetter, *static_cast<T*>(AObject), std::forward<V>(AValue));
    }

    TPropInfo& AddProp(std::string AName, const TTypeInfo& AType, TStored AStored) {
        TPropInfo p;
        p.Name = std::move(AName);
        p.PropType = &AType;
        p.IsStored = AStored.Test();
        FInfo.Props.push_back(std::move(p));
        return FInfo.Props.back();
    }

    template <typename G, typename S>
    TClassInfoBuilder& AddInteger(std::string AName, G AGetter, S ASetter, std::int64_t ADefault,
                                  TStored AStored) {
        using R = Result<G>;
        static_assert(std::is_integral_v<R> && !std::is_same_v<R, bool>,
                      "Integer getter must return an integer");
        TPropInfo& p = AddProp(std::move(AName), IntegerTypeInfo<R>(), std::move(AStored));
        p.Default = ADefault;
        p.GetOrd = [AGetter](const TObject* AObject) {
            return static_cast<std::int64_t>(Get(AGetter, AObject));
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetOrd = [ASetter](TObject* AObject, std::int64_t AValue) {
                Put(ASetter, AObject, static_cast<R>(AValue));
            };
        return *this;
    }

    template <typename G, typename S>
    TClassInfoBuilder& AddBool(std::string AName, G AGetter, S ASetter, std::int64_t ADefault,
                               TStored AStored) {
        static_assert(std::is_same_v<Result<G>, bool>, "Bool getter must return bool");
        TPropInfo& p = AddProp(std::move(AName), BooleanTypeInfo(), std::move(AStored));
        p.Default = ADefault;
        p.GetOrd = [AGetter](const TObject* AObject) -> std::int64_t {
            return Get(AGetter, AObject) ? 1 : 0;
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetOrd = [ASetter](TObject* AObject, std::int64_t AValue) {
                Put(ASetter, AObject, AValue != 0);
            };
        return *this;
    }

    template <typename G, typename S>
    TClassInfoBuilder& AddFloat(std::string AName, G AGetter, S ASetter, const TTypeInfo& AType,
                                TStored AStored) {
        using R = Result<G>;
        static_assert(std::is_floating_point_v<R>, "Float getter must return a floating type");
        TPropInfo& p = AddProp(std::move(AName), AType, std::move(AStored));
        p.GetFloat = [AGetter](const TObject* AObject) {
            return static_cast<double>(Get(AGetter, AObject));
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetFloat = [ASetter](TObject* AObject, double AValue) {
                Put(ASetter, AObject, static_cast<R>(AValue));
            };
        return *this;
    }

    template <typename G, typename S>
    TClassInfoBuilder& AddEnum(std::string AName, G AGetter, S ASetter, const TTypeInfo& AType,
                               std::int64_t ADefault, TStored AStored) {
        using R = Result<G>;
        static_assert(std::is_enum_v<R>, "Enum getter must return an enumeration");
        TPropInfo& p = AddProp(std::move(AName), AType, std::move(AStored));
        p.Default = ADefault;
        p.GetOrd = [AGetter](const TObject* AObject) {
            return static_cast<std::int64_t>(Get(AGetter, AObject));
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetOrd = [ASetter](TObject* AObject, std::int64_t AValue) {
                Put(ASetter, AObject, static_cast<R>(AValue));
            };
        return *this;
    }

    template <typename G, typename S>
    TClassInfoBuilder& AddSet(std::string AName, G AGetter, S ASetter, const TTypeInfo& AType,
                              std::int64_t ADefault, TStored AStored) {
        using R = Result<G>;
        static_assert(detail::TSetTraits<R>::value, "Set getter must return a TSet");
        TPropInfo& p = AddProp(std::move(AName), AType, std::move(AStored));
        p.Default = ADefault;
        p.GetOrd = [AGetter](const TObject* AObject) {
            return static_cast<std::int64_t>(Get(AGetter, AObject).Bits());
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetOrd = [ASetter](TObject* AObject, std::int64_t AValue) {
                Put(ASetter, AObject, R::FromBits(static_cast<std::uint64_t>(AValue)));
            };
        return *this;
    }

    TClassInfo FInfo;
};

// ---- Published properties by name ----------------------------------------------------------

/// The published property AName (ignoring case) of AClass or its ancestors; nullptr when there
/// is none. Never raises.
const TPropInfo* GetPropInfo(const TClassInfo& AClass, const std::string& AName);

/// The published property AName of AInstance's class; nullptr for none or a null instance.
const TPropInfo* GetPropInfo(const TObject* AInstance, const std::string& AName);

/// Every published property of AClass in stream order: ancestors' first, each class's own in
/// declaration order; a property a descendant publishes again keeps its ancestor's position.
std::vector<const TPropInfo*> GetPropList(const TClassInfo& AClass);
std::vector<const TPropInfo*> GetPropList(const TObject* AInstance);

/// True when AInstance's class publishes AName.
bool IsPublishedProp(const TObject* AInstance, const std::string& AName);

/// The published method AName (ignoring case) of AClass or its ancestors, or nullptr.
const TMethodInfo* GetMethodInfo(const TClassInfo& AClass, const std::string& AName);

// The accessors below raise EPropertyError "Property <Name> does not exist" when the instance
// has no such published property, EPropertyError "Invalid property type: <Type>" when the
// property is of another kind, and EPropReadOnly "Property is read-only" on writing a property
// without setter.

std::string GetStrProp(const TObject* AInstance, const std::string& APropName);
std::string GetStrProp(const TObject* AInstance, const TPropInfo* APropInfo);
void SetStrProp(TObject* AInstance, const std::string& APropName, const std::string& AValue);
void SetStrProp(TObject* AInstance, const TPropInfo* APropInfo, const std::string& AValue);

/// The ordinal value of an Integer, enumeration (ordinal), Boolean (0/1), set (bit mask) or
/// Int64 property.
std::int64_t GetOrdProp(const TObject* AInstance, const std::string& APropName);
std::int64_t GetOrdProp(const TObject* AInstance, const TPropInfo* APropInfo);
void SetOrdProp(TObject* AInstance, const std::string& APropName, std::int64_t AValue);
void SetOrdProp(TObject* AInstance, const TPropInfo* APropInfo, std::int64_t AValue);

/// The member name of an enumeration or Boolean property's value.
std::string GetEnumProp(const TObject* AInstance, const std::string& APropName);
/// Sets an enumeration property by member name (ignoring case); an unknown name raises
/// EPropertyConvertError "Invalid property element: <Name>".
void SetEnumProp(TObject* AInstance, const std::string& APropName, const std::string& AValue);

/// A set property as its member names joined by "," (no space), in brackets on request.
std::string GetSetProp(const TObject* AInstance, const std::string& APropName,
                       bool ABrackets = false);
/// Sets a set property from member names (see StringToSet).
void SetSetProp(TObject* AInstance, const std::string& APropName, const std::string& AValue);

double GetFloatProp(const TObject* AInstance, const std::string& APropName);
void SetFloatProp(TObject* AInstance, const std::string& APropName, double AValue);

TObject* GetObjectProp(const TObject* AInstance, const std::string& APropName);
/// Raises EInvalidCast "Invalid class typecast" when AValue is not of the property's class.
void SetObjectProp(TObject* AInstance, const std::string& APropName, TObject* AValue);

/// Evaluates the property's stored-test (true when it has none).
bool IsStoredProp(const TObject* AInstance, const TPropInfo* APropInfo);
bool IsStoredProp(const TObject* AInstance, const std::string& APropName);

// ---- Enumeration and set names -------------------------------------------------------------

/// The member of ordinal AValue: enumeration names, False/True for Boolean, the decimal value
/// for Integer types; "" for a value out of range or another kind.
std::string GetEnumName(const TTypeInfo& ATypeInfo, std::int64_t AValue);

/// The ordinal of member AName (ignoring case), -1 when there is none.
int GetEnumValue(const TTypeInfo& ATypeInfo, const std::string& AName);

/// The members of the set AValue (bit n for ordinal n) in ascending order, joined by "," with
/// no space; with ABrackets inside "[...]". An empty set is "" or "[]".
std::string SetToString(const TTypeInfo& ATypeInfo, std::int64_t AValue, bool ABrackets = false);
std::string SetToString(const TPropInfo* APropInfo, std::int64_t AValue, bool ABrackets = false);

/// The bit mask of a list of member names separated by commas or spaces, optionally in
/// brackets; an unknown name raises EPropertyConvertError "Invalid property element: <Name>".
std::int64_t StringToSet(const TTypeInfo& ATypeInfo, const std::string& AValue);
std::int64_t StringToSet(const TPropInfo* APropInfo, const std::string& AValue);

} // namespace host
