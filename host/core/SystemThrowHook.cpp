// host/core/SystemThrowHook.cpp - interposes the C++ runtime's throw entry point.
//
// Kept apart from everything else because the compiler declares the entry point itself with
// untyped pointers, which clashes with the C++ ABI header's declaration.
#include <dlfcn.h>

namespace host {
void RecordThrow(const void* AObject);
} // namespace host

extern "C" [[noreturn]] void __cxa_throw(void* AObject, void* AType, void (*ADestructor)(void*)) {
    using TRealThrow = void (*)(void*, void*, void (*)(void*));
    static const auto realThrow = reinterpret_cast<TRealThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
    host::RecordThrow(AObject);
    realThrow(AObject, AType, ADestructor);
    __builtin_unreachable();
}
