// platform/PlatformServices.h - the one seam through which tests swap operating-system
// services.
//
// Components are created by stored forms with nothing but their owner, so services cannot be
// passed in. They ask PlatformServices() instead, which answers the Linux set unless a
// TScopedPlatformServices has swapped other implementations in for its lifetime.
#pragma once

namespace platform {

class TEventStore;
class TFileService;
class TFolderNotifications;
class TKeyStore;
class TMailClient;
class TScreenService;
class TShell;
class TSystemInfo;
class TTempFiles;

/// The services in use. A null member in a TScopedPlatformServices keeps the outer one.
struct TPlatformServices {
    TSystemInfo* SystemInfo = nullptr;
    TScreenService* Screen = nullptr;
    TMailClient* MailClient = nullptr;
    TShell* Shell = nullptr;
    TFileService* Files = nullptr;
    TFolderNotifications* FolderNotifications = nullptr;
    TTempFiles* TempFiles = nullptr;
    TKeyStore* KeyStore = nullptr;
    TEventStore* EventStore = nullptr;
};

/// The current services; every member is set.
const TPlatformServices& PlatformServices();

/// Swaps the given services in until destroyed, then restores the previous set. Scopes nest;
/// they are meant for the main thread of a test.
class TScopedPlatformServices {
public:
    explicit TScopedPlatformServices(const TPlatformServices& AServices);
    ~TScopedPlatformServices();
    TScopedPlatformServices(const TScopedPlatformServices&) = delete;
    TScopedPlatformServices& operator=(const TScopedPlatformServices&) = delete;

private:
    TPlatformServices FPrevious;
};

} // namespace platform
