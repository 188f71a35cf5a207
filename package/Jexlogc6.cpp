// package/Jexlogc6.cpp - the component package: its units' start-up and shut-down, its identity.
#include "package/Jexlogc6.h"

#include "checks/JexLChecks.h"
#include "exceptions/LogDlg.h"
#include "exceptions/LogError.h"
#include "host/core/SysUtilsPackage.h"
#include "logging/LogBase.h"
#include "monitors/LogApp.h"
#include "monitors/LogDS.h"
#include "monitors/LogFile.h"
#include "monitors/LogNT.h"
#include "monitors/LogRegistry.h"
#include "package/LogReg.h"

namespace jex {

namespace {

void Nothing() {}

// The package's units in initialisation order; finalisation runs backwards. Units without
// start-up work have empty entries so the order stays visible here. Each unit's own counter
// keeps nested calls from repeating its work.
constexpr host::TPackageUnit Units[] = {
    {"Jexlogc6", &Nothing, &Nothing},
    {"LogCnst", &Nothing, &Nothing},
    {"JexLChecks", &JexLChecksInitialization, &JexLChecksFinalization},
    {"LogBase", &LogBaseInitialization, &LogBaseFinalization},
    {"LogRegistry", &LogRegistryInitialization, &LogRegistryFinalization},
    {"LogNT", &LogNTInitialization, &LogNTFinalization},
    {"LogFile", &LogFileInitialization, &LogFileFinalization},
    {"LogDS", &LogDSInitialization, &LogDSFinalization},
    {"LogDlg", &LogDlgInitialization, &LogDlgFinalization},
    {"Jexmapfile", &Nothing, &Nothing},
    {"LogError", &LogErrorInitialization, &LogErrorFinalization},
    {"LogApp", &LogAppInitialization, &LogAppFinalization},
    {"LogReg", &LogRegInitialization, &LogRegFinalization},
};

// Whether the library's own load started the units (a program linked with it), so that its
// unload stops them again; under the package loader, LoadPackage and UnloadPackage do that.
bool startedAtLoad = false;

} // namespace

std::span<const host::TPackageUnit> PackageUnits() {
    return Units;
}

void Initialize() {
    host::InitializePackage(Units);
}

void Finalize() {
    host::FinalizePackage(Units);
}

} // namespace jex

// The package's identity, readable from the file (host::ReadPackageInfo) without loading it.
[[gnu::used, gnu::section(".jexpackage")]] static const char JexPackageIdentityText[] =
    "FileVersion=1.5.0.0\n"
    "ProductVersion=1.5.0.0\n"
    "FileDescription=JexLogger components\n"
    "InternalName=JexLogger\n"
    "OriginalFilename=JexLogger\n"
    "ProductName=JexLogger suite\n"
    "Description=JexLogger: log component suite. Exception logger, event monitors, dataset "
    "logger and input validation.\n";

extern "C" {

/// The package's identity once loaded (host::GetPackageInfo).
[[gnu::visibility("default")]] extern const char* const PackageIdentity;
const char* const PackageIdentity = JexPackageIdentityText;

/// The package's load entry point, called by the host's package loader.
[[gnu::visibility("default")]] void Initialize() {
    jex::Initialize();
}

/// The package's unload entry point, called by the host's package unloader.
[[gnu::visibility("default")]] void Finalize() {
    jex::Finalize();
}
}

// A program linked with the library starts the units when the library loads and stops them
// when it unloads; the package loader runs Initialize and Finalize itself instead.
[[gnu::constructor]] static void JexPackageLoad() {
    if (host::PackageLoaderActive())
        return;
    jex::startedAtLoad = true;
    jex::Initialize();
}

[[gnu::destructor]] static void JexPackageUnload() {
    if (!jex::startedAtLoad)
        return;
    jex::startedAtLoad = false;
    jex::Finalize();
}
