// package/Jexlogc6.h - the component package: its units' start-up and shut-down.
//
// Loading libJexLogC6 initialises the package's units in their fixed order; unloading it
// finalises them in reverse. Each unit counts nested calls, so an application that calls
// Initialize/Finalize itself (as a package loader does) only adds to that count.
#pragma once

namespace jex {

/// Runs the initialisation of every unit of the package, in the package's order.
void Initialize();

/// Runs the finalisation of every unit of the package, in reverse order.
void Finalize();

} // namespace jex
