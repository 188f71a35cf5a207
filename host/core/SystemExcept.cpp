// host/core/SystemExcept.cpp - ExceptObject and ExceptAddr: the exception being handled and
// where it was raised.
//
// The C++ runtime's throw entry point is interposed: every throw in the process (the
// program's, the framework's, the standard library's) records its site before the real throw
// runs. The recorded site is the innermost frame that lies in the main executable, taken
// inside the call instruction (return address - 1), in the map address model; when no frame
// lies in the executable, the throw's own caller, unchanged.
#include "host/core/SysUtils.h"
#include "host/core/System.h"
#include "platform/ProcessImage.h"

#include <array>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <exception>
#include <memory>
#include <typeinfo>
#include <unwind.h>

namespace host {

namespace {

struct TThrowSite {
    const void* Object = nullptr;
    void* Address = nullptr;
};

// The last throws of this thread; a handler asks for the site of the object it handles, which
// is nearly always the latest, but a nested throw inside a handler must not hide the outer one.
struct TThrowSites {
    std::array<TThrowSite, 16> Sites{};
    std::size_t Next = 0;
};

thread_local TThrowSites throwSites;

struct TWalk {
    std::uintptr_t FirstCaller = 0;
    std::uintptr_t InExecutable = 0;
    int Depth = 0;
};

_Unwind_Reason_Code WalkFrame(_Unwind_Context* AContext, void* AData) {
    auto* walk = static_cast<TWalk*>(AData);
    const std::uintptr_t ip = _Unwind_GetIP(AContext);
    // Frame 0 is this file's throw hook itself.
    if (walk->Depth++ == 0 || ip == 0)
        return _URC_NO_REASON;
    const std::uintptr_t inCall = ip - 1;
    if (walk->FirstCaller == 0)
        walk->FirstCaller = inCall;
    // Standard-library templates instantiated into the program count as the library: the
    // program's own call into them is the place a user can act on.
    if (platform::InMainExecutable(inCall) && !platform::InStandardLibraryCode(inCall)) {
        walk->InExecutable = inCall;
        return _URC_END_OF_STACK;
    }
    return walk->Depth > 64 ? _URC_END_OF_STACK : _URC_NO_REASON;
}

} // namespace

// Called by the throw hook (SystemThrowHook.cpp) for every throw in the process.
void RecordThrow(const void* AObject) {
    TWalk walk;
    _Unwind_Backtrace(&WalkFrame, &walk);
    const std::uintptr_t site =
        walk.InExecutable != 0 ? platform::ToMapAddress(walk.InExecutable) : walk.FirstCaller;
    TThrowSites& sites = throwSites;
    sites.Sites[sites.Next] = {AObject, reinterpret_cast<void*>(site)};
    sites.Next = (sites.Next + 1) % sites.Sites.size();
}

namespace {

// The thrown object of the exception currently being handled on this thread.
const void* CurrentThrownObject() {
    std::exception_ptr current = std::current_exception();
    if (!current)
        return nullptr;
    // libstdc++'s exception_ptr holds exactly the pointer to the thrown object.
    static_assert(sizeof(std::exception_ptr) == sizeof(void*));
    const void* object = nullptr;
    std::memcpy(&object, &current, sizeof object);
    return object;
}

} // namespace

void* ExceptAddr() {
    const void* object = CurrentThrownObject();
    if (object == nullptr)
        return nullptr;
    const TThrowSites& sites = throwSites;
    for (std::size_t i = 0; i < sites.Sites.size(); ++i) {
        const TThrowSite& s =
            sites.Sites[(sites.Next + sites.Sites.size() - 1 - i) % sites.Sites.size()];
        if (s.Object == object)
            return s.Address;
    }
    return nullptr;
}

Exception* ExceptObject() {
    std::exception_ptr current = std::current_exception();
    if (!current)
        return nullptr;
    try {
        std::rethrow_exception(current);
    } catch (Exception& e) {
        return &e;
    } catch (...) {
    }
    // A foreign exception is presented through one wrapper per thread, renewed when the
    // exception being handled changes.
    // The exception itself is kept (not just its address): a later exception may be allocated
    // at the address of an earlier one, and must not be shown with the earlier's class.
    thread_local std::unique_ptr<EForeignException> wrapper;
    thread_local std::exception_ptr wrapped;
    if (!wrapper || wrapped != current) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        std::string message;
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            message = e.what();
        } catch (...) {
        }
        wrapper = std::make_unique<EForeignException>(
            type != nullptr ? DemangledTypeName(*type) : std::string("unknown"), message);
        wrapped = current;
    }
    return wrapper.get();
}

} // namespace host
