// host/core/System.h - the root object, method-pointer events and option sets.
//
// Everything of the host framework and the suite derives from TObject. Events are TEvent
// method pointers (an object plus a member function) that can be tested for assignment,
// compared, saved and restored, as the components' event chaining needs. TSet is a set over a
// plain enumeration whose stored value has bit n for the member of ordinal n.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace host {

struct TClassInfo;

/// The root of every host class. Objects are not copyable: they have an identity (an owner
/// holds them by pointer, events point at them).
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    /// The class's own name without namespaces ("TJexLogBase", "EConvertError"), for every
    /// class, also those an application derives without registering them.
    std::string ClassName() const;

    /// Run-time type information of the nearest class that declares it (JEX_CLASS); the
    /// published properties and methods that TypInfo and stored forms work on.
    virtual const TClassInfo& ClassInfo() const;

    static const TClassInfo& StaticClassInfo();
};

/// Demangled C++ type name without its namespaces: "host::EConvertError" -> "EConvertError".
std::string ShortTypeName(const std::type_info& AType);

/// Full demangled name of a C++ type ("std::out_of_range").
std::string DemangledTypeName(const std::type_info& AType);

/// Declares a class's run-time type information inside its class body. The matching
/// StaticClassInfo() is defined in the class's .cpp with the published members.
#define JEX_CLASS(ClassName_)                                                                    \
public:                                                                                          \
    static const ::host::TClassInfo& StaticClassInfo();                                          \
    const ::host::TClassInfo& ClassInfo() const override { return ClassName_::StaticClassInfo(); } \
                                                                                                 \
private:

template <typename Sig>
class TEvent;

/// A method pointer: an object and one of its member functions, or a free function or lambda
/// bound for application code and tests. Two events are equal when they call the same code on
/// the same object; a copy is equal to its original, so a component can save the handler it
/// found and later tell whether the slot still holds its own.
template <typename R, typename... Args>
class TEvent<R(Args...)> {
public:
    TEvent() = default;

    TEvent(std::nullptr_t) {}

    /// Binds AMethod of AObject.
    template <typename T>
    TEvent(T* AObject, R (T::*AMethod)(Args...))
        : FData(AObject)
        , FInvoke(&InvokeMember<T>) {
        static_assert(sizeof(AMethod) <= sizeof(FCode), "member pointer too large");
        std::memcpy(FCode, &AMethod, sizeof(AMethod));
    }

    /// Binds any callable (a lambda with or without captures). Each binding is a handler of its
    /// own: copies of the event compare equal, a second binding of the same lambda does not.
    template <typename F>
    static TEvent FromCallable(F ACallable) {
        TEvent result;
        auto holder = std::make_shared<F>(std::move(ACallable));
        result.FData = holder.get();
        result.FKeep = holder;
        result.FInvoke = &InvokeCallable<F>;
        return result;
    }

    /// True when a handler is bound (the code part is set).
    bool Assigned() const { return FInvoke != nullptr; }

    explicit operator bool() const { return Assigned(); }

    /// The object part: the instance whose method is bound, or the bound callable.
    void* Data() const { return FData; }

    void Clear() { *this = TEvent(); }

    /// Calls the handler. Calling an unassigned event is a programming error; callers test
    /// Assigned() first, as the components do.
    R operator()(Args... AArgs) const { return FInvoke(FData, FCode, std::forward<Args>(AArgs)...); }

    bool operator==(const TEvent& AOther) const {
        return FData == AOther.FData && FInvoke == AOther.FInvoke &&
               std::memcmp(FCode, AOther.FCode, sizeof(FCode)) == 0;
    }

    bool operator!=(const TEvent& AOther) const { return !(*this == AOther); }

private:
    using TInvoker = R (*)(void*, const unsigned char*, Args&&...);

    template <typename T>
    static R InvokeMember(void* AData, const unsigned char* ACode, Args&&... AArgs) {
        R (T::*method)(Args...);
        std::memcpy(&method, ACode, sizeof(method));
        return (static_cast<T*>(AData)->*method)(std::forward<Args>(AArgs)...);
    }

    template <typename F>
    static R InvokeCallable(void* AData, const unsigned char*, Args&&... AArgs) {
        return (*static_cast<F*>(AData))(std::forward<Args>(AArgs)...);
    }

    void* FData = nullptr;
    alignas(void*) unsigned char FCode[2 * sizeof(void*)] = {};
    TInvoker FInvoke = nullptr;
    std::shared_ptr<void> FKeep;
};

/// The framework's plain notification: (Sender).
using TNotifyEvent = TEvent<void(TObject*)>;

/// A set over the plain enumeration E (members 0..63). Bits() is the stored value: bit n for
/// the member of ordinal n.
template <typename E>
class TSet {
    static_assert(std::is_enum_v<E>, "TSet needs an enumeration");

public:
    constexpr TSet() = default;

    constexpr TSet(std::initializer_list<E> AMembers) {
        for (E m : AMembers)
            FBits |= Bit(m);
    }

    static constexpr TSet FromBits(std::uint64_t ABits) {
        TSet s;
        s.FBits = ABits;
        return s;
    }

    constexpr std::uint64_t Bits() const { return FBits; }

    constexpr bool Contains(E AMember) const { return (FBits & Bit(AMember)) != 0; }

    constexpr bool Empty() const { return FBits == 0; }

    constexpr TSet& Include(E AMember) {
        FBits |= Bit(AMember);
        return *this;
    }

    constexpr TSet& Exclude(E AMember) {
        FBits &= ~Bit(AMember);
        return *this;
    }

    constexpr TSet operator+(TSet AOther) const { return FromBits(FBits | AOther.FBits); }

    constexpr TSet operator-(TSet AOther) const { return FromBits(FBits & ~AOther.FBits); }

    constexpr TSet operator*(TSet AOther) const { return FromBits(FBits & AOther.FBits); }

    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr std::uint64_t Bit(E AMember) {
        return std::uint64_t{1} << static_cast<unsigned>(AMember);
    }

    std::uint64_t FBits = 0;
};

/// The framework's date-time: days since 30 December 1899, the fraction is the time of day.
using TDateTime = double;

/// The number of command-line parameters after the program name, read from the process itself
/// (/proc/self/cmdline), so no cooperation of main() is needed.
int ParamCount();

/// Parameter AIndex counted from 1; 0 gives the full path of the running executable
/// (/proc/self/exe). Out of range gives "".
std::string ParamStr(int AIndex);

} // namespace host

namespace host {

class Exception;

/// The exception being handled by the innermost active handler on this thread, presented as a
/// host exception (a foreign C++ exception is wrapped, see SysUtils.h); nullptr when none is.
Exception* ExceptObject();

/// The code address where the exception being handled was raised, in the map address model
/// (0x00401000 + offset into the main executable's code section; addresses outside the
/// executable unchanged); nullptr when no exception is being handled.
void* ExceptAddr();

} // namespace host
