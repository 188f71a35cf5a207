// host/core/SysUtilsPackage.h - the package loader: unit tables, LoadPackage, package identity.
//
// A package is a shared library that exports the entry points "Initialize" and "Finalize". Its
// Initialize hands the package's table of units to InitializePackage, which runs each unit's
// initialisation in table order; Finalize hands the same table to FinalizePackage, which runs
// the finalisations in reverse. Each unit guards its own work with a counter, so nested calls
// (an application linked with the package that also loads it) only count.
#pragma once

#include <cstddef>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace host {

/// One unit of a package: its name and its start-up and shut-down.
struct TPackageUnit {
    const char* Name;
    void (*Initialization)();
    void (*Finalization)();
};

/// Runs the initialisation of every unit of AUnits, first to last.
void InitializePackage(std::span<const TPackageUnit> AUnits);

/// Runs the finalisation of every unit of AUnits, last to first.
void FinalizePackage(std::span<const TPackageUnit> AUnits);

/// Called with a unit's name before its initialisation (AStarting true) or finalisation runs;
/// a debugger's or a test's view of the package loader.
using TPackageUnitHook = void (*)(const char* AUnitName, bool AStarting);

/// Installs AHook (nullptr removes it); returns the previous one.
TPackageUnitHook SetPackageUnitHook(TPackageUnitHook AHook);

/// A loaded package module.
using HModule = void*;

/// Loads the package AFileName and runs its Initialize. Raises EPackageError "Can't load
/// package <name>.\n<reason>" when the library cannot be loaded or lacks the entry points; the
/// library is then released again.
HModule LoadPackage(const std::string& AFileName);

/// Runs the package's Finalize and releases the library; a null module is ignored.
void UnloadPackage(HModule AModule);

/// The address of the exported symbol AName of AModule, nullptr when there is none.
void* GetProcAddress(HModule AModule, const char* AName);

/// The fields of a package's identity ("FileVersion", "FileDescription", "InternalName",
/// "OriginalFilename", "ProductName", "ProductVersion", "Description").
using TPackageInfo = std::map<std::string, std::string>;

/// The name of the ELF section that carries a package's identity, as "Key=Value" lines.
inline constexpr const char* PackageInfoSection = ".jexpackage";

/// Parses identity text ("Key=Value" lines, NUL-terminated or not); lines without '=' are
/// skipped.
TPackageInfo ParsePackageInfo(std::string_view AText);

/// Reads the identity of the package file AFileName without loading it. Raises EFOpenError
/// when the file cannot be opened, EPackageError
/// when the file cannot be read as ELF or has no identity section.
TPackageInfo ReadPackageInfo(const std::string& AFileName);

/// The identity of a loaded package, from its exported "PackageIdentity" text. Raises
/// EPackageError when the module has none.
TPackageInfo GetPackageInfo(HModule AModule);

/// True while LoadPackage or UnloadPackage has the library opening or closing: a package's
/// own load-time start-up leaves its units to the loader then.
bool PackageLoaderActive();

} // namespace host
