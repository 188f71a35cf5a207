// platform/PlatformServices.cpp - the current service set and its scoped replacement.
#include "platform/PlatformServices.h"

#include "platform/EventLog.h"
#include "platform/File.h"
#include "platform/FolderNotifications.h"
#include "platform/KeyStore.h"
#include "platform/MailClient.h"
#include "platform/Screen.h"
#include "platform/Shell.h"
#include "platform/SystemInfo.h"
#include "platform/TempFiles.h"

namespace platform {

namespace {

TPlatformServices& Current() {
    static TPlatformServices services{
        &LinuxSystemInfo(), &LinuxScreenService(), &LinuxMailClient(),
        &LinuxShell(),      &LinuxFileService(),   &LinuxFolderNotifications(),
        &LinuxTempFiles(),  &LinuxKeyStore(),      &LinuxEventStore()};
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
    if (AServices.MailClient != nullptr)
        current.MailClient = AServices.MailClient;
    if (AServices.Shell != nullptr)
        current.Shell = AServices.Shell;
    if (AServices.FolderNotifications != nullptr)
        current.FolderNotifications = AServices.FolderNotifications;
    if (AServices.Files != nullptr)
        current.Files = AServices.Files;
    if (AServices.TempFiles != nullptr)
        current.TempFiles = AServices.TempFiles;
    if (AServices.KeyStore != nullptr)
        current.KeyStore = AServices.KeyStore;
    if (AServices.EventStore != nullptr)
        current.EventStore = AServices.EventStore;
}

TScopedPlatformServices::~TScopedPlatformServices() {
    Current() = FPrevious;
}

} // namespace platform
