// host/core/SystemExcept.cpp - ExceptObject and ExceptAddr: the exception being handled and
// where it was raised.
//
// The C++ runtime's throw entry point is interposed: every throw in the process (the
// program's, the framework's, the standard library's) records its site before the real throw
// runs. The recorded site is the innermost frame that lies in the main executable, taken
// inside the call instruction (return address - 1), in the map address model; when no frame
// lies in the executable, the throw's own caller, unchanged. The raw frames are kept with the
// site for the report's call stack.
#include "host/core/SystemExcept.h"

#include "host/core/SysUtils.h"
#include "host/core/System.h"
#include "platform/CallStack.h"
#include "platform/FaultSignals.h"
#include "platform/ProcessImage.h"
#include "platform/SignalSafeText.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <exception>
#include <memory>
#include <typeinfo>

namespace host {

namespace {

struct TThrowSite {
    const void* Object = nullptr;
    void* Address = nullptr;
    /// The throwing thread's frames, innermost first, as addresses inside their calls.
    std::array<std::uintptr_t, MaxThrowFrames> Frames{};
    std::size_t FrameCount = 0;
};

// The last throws of this thread; a handler asks for the site of the object it handles, which
// is nearly always the latest, but a nested throw inside a handler must not hide the outer one.
struct TThrowSites {
    std::array<TThrowSite, 16> Sites{};
    std::size_t Next = 0;
};

thread_local TThrowSites throwSites;

// A site given for the next throw of this thread (a fault names its own instruction).
struct TGivenSite {
    bool Set = false;
    void* Address = nullptr;
    const std::uintptr_t* Frames = nullptr;
    std::size_t FrameCount = 0;
};

thread_local TGivenSite givenSite;

} // namespace

void* SiteOfFrames(std::span<const std::uintptr_t> AFrames) noexcept {
    const std::uintptr_t* frames = AFrames.data();
    const std::size_t count = AFrames.size();
    for (std::size_t i = 0; i < count; ++i)
        if (platform::InMainExecutable(frames[i]) && !platform::InStandardLibraryCode(frames[i]))
            return reinterpret_cast<void*>(platform::ToMapAddress(frames[i]));
    return count > 0 ? reinterpret_cast<void*>(frames[0]) : nullptr;
}

namespace {

void* SiteOf(const std::uintptr_t* AFrames, std::size_t ACount) {
    return SiteOfFrames({AFrames, ACount});
}

} // namespace

// Called by the throw hook (SystemThrowHook.cpp) for every throw in the process. Only the raw
// frames are taken here; they are resolved when a report is written.
void RecordThrow(const void* AObject) {
    TThrowSites& sites = throwSites;
    TThrowSite& site = sites.Sites[sites.Next];
    sites.Next = (sites.Next + 1) % sites.Sites.size();
    site.Object = AObject;
    TGivenSite& given = givenSite;
    if (given.Set) {
        given.Set = false;
        site.Address = given.Address;
        site.FrameCount = std::min(given.FrameCount, site.Frames.size());
        std::copy_n(given.Frames, site.FrameCount, site.Frames.begin());
        return;
    }
    // The two innermost frames are this function and the throw hook.
    site.FrameCount = platform::CaptureCallStack(site.Frames.data(), site.Frames.size(), 2);
    site.Address = SiteOf(site.Frames.data(), site.FrameCount);
}

void SetNextThrowSite(void* AAddress, const std::uintptr_t* AFrames, std::size_t AFrameCount) {
    givenSite = {true, AAddress, AFrames, AFrameCount};
}

namespace {

const TThrowSite* FindSite(const void* AObject) noexcept {
    if (AObject == nullptr)
        return nullptr;
    const TThrowSites& sites = throwSites;
    for (std::size_t i = 0; i < sites.Sites.size(); ++i) {
        const TThrowSite& s =
            sites.Sites[(sites.Next + sites.Sites.size() - 1 - i) % sites.Sites.size()];
        if (s.Object == AObject)
            return &s;
    }
    return nullptr;
}

// The thrown object of the exception currently being handled on this thread.
const void* CurrentThrownObject() noexcept {
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
    const TThrowSite* site = FindSite(CurrentThrownObject());
    return site != nullptr ? site->Address : nullptr;
}

std::span<const std::uintptr_t> ExceptFrames() noexcept {
    const TThrowSite* site = FindSite(CurrentThrownObject());
    if (site == nullptr)
        return {};
    return {site->Frames.data(), site->FrameCount};
}

namespace {

// Appends the C++ name of a mangled class name ("N4host16EAccessViolationE",
// "St13runtime_error"); AShort keeps only the last component. False when the name is not a plain
// (non-template) class name.
bool AppendDemangled(platform::TSignalSafeText& AOut, const char* AMangled, bool AShort) noexcept {
    const char* p = AMangled;
    const bool nested = *p == 'N';
    if (nested)
        ++p;
    const char* parts[8];
    std::size_t lengths[8];
    std::size_t count = 0;
    if (p[0] == 'S' && p[1] == 't') {
        parts[count] = "std";
        lengths[count++] = 3;
        p += 2;
    }
    while (*p >= '1' && *p <= '9' && count < std::size(parts)) {
        std::size_t length = 0;
        while (*p >= '0' && *p <= '9')
            length = length * 10 + static_cast<std::size_t>(*p++ - '0');
        if (std::strlen(p) < length)
            return false;
        parts[count] = p;
        lengths[count++] = length;
        p += length;
    }
    if (count == 0 || (nested ? std::strcmp(p, "E") != 0 : *p != '\0'))
        return false;
    for (std::size_t i = AShort ? count - 1 : 0; i < count; ++i) {
        if (i > (AShort ? count - 1 : 0))
            AOut.Append("::");
        AOut.Append(std::string_view(parts[i], lengths[i]));
    }
    return true;
}

} // namespace

bool DescribeCurrentException(platform::TSignalSafeText& AClassName,
                              const char*& AMessage) noexcept {
    AMessage = "";
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type == nullptr)
        return false;
    void* object = const_cast<void*>(CurrentThrownObject());
    void* asHost = object;
    void* asStd = object;
    if (object != nullptr && typeid(Exception).__do_catch(type, &asHost, 1)) {
        const auto* e = static_cast<const Exception*>(asHost);
        AMessage = e->Message().c_str();
        // A host exception's class name is its own name without namespaces.
        if (!AppendDemangled(AClassName, type->name(), true))
            AClassName.Append(type->name());
        return true;
    }
    if (object != nullptr && typeid(std::exception).__do_catch(type, &asStd, 1))
        AMessage = static_cast<const std::exception*>(asStd)->what();
    if (!AppendDemangled(AClassName, type->name(), false))
        AClassName.Append(type->name());
    return true;
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
