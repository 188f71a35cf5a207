// package/Jexlogc6.h - the component package: its units' start-up and shut-down.
//
// The package's units start in a fixed order and stop in reverse; each unit counts nested
// calls, so only the first start and the matching last stop do the unit's work. A program
// linked with libJexLogC6 gets that start when the library loads and the stop when it unloads;
// a host that loads the package with host::LoadPackage runs the exported "Initialize" and
// "Finalize" entry points instead, once per load.
#pragma once

#include "host/core/SysUtilsPackage.h"

#include <span>

namespace jex {

/// The package's units in initialisation order.
std::span<const host::TPackageUnit> PackageUnits();

/// Runs the initialisation of every unit of the package, in the package's order.
void Initialize();

/// Runs the finalisation of every unit of the package, in reverse order.
void Finalize();

} // namespace jex
