// platform/PlatformServices.cpp - the current service set and its scoped replacement.
#include "platform/PlatformServices.h"

#include "platform/Screen.h"
#include "platform/SystemInfo.h"

namespace platform {

namespace {

TPlatformServices& Current() {
    static TPlatformServices services{&LinuxSystemInfo(), &LinuxScreenService()};
    return services;
}

} // namespace

const TPlatformServices& PlatformServices() {
    return Current();
}

TScopedPlatformServices::TScopedPlatformServices(const TPlatformServices& AServices)
    : FPrevious(Current()) {
    TPlatformServices& current = Current();
    if (AServices.SystemInfo != nullptr)
        current.SystemInfo = AServices.SystemInfo;
    if (AServices.Screen != nullptr)
        current.Screen = AServices.Screen;
}

TScopedPlatformServices::~TScopedPlatformServices() {
    Current() = FPrevious;
}

} // namespace platform
