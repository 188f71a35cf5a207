// host/core/SystemThrowHook.cpp - interposes the C++ runtime's throw entry point.
//
// Kept apart from everything else because the compiler declares the entry point itself with
// untyped pointers, which clashes with the C++ ABI header's declaration.
//
// The real throw is the hook's last call, so that it becomes a jump: the hook's frame is gone
// before the unwinder starts, which would otherwise step over it twice (search and cleanup) on
// every throw. The real throw never returns, but it is not declared so, because a call to a
// no-return function is never made a jump.
#include <dlfcn.h>

namespace host {
void RecordThrow(const void* AObject);
} // namespace host

extern "C" void __cxa_throw(void* AObject, void* AType, void (*ADestructor)(void*)) {
    using TRealThrow = void (*)(void*, void*, void (*)(void*));
    static const auto realThrow = reinterpret_cast<TRealThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
    host::RecordThrow(AObject);
    realThrow(AObject, AType, ADestructor);
}
