// package/LogReg.h - the package's registration with the designer and its palette images.
//
// Register puts the suite's component classes on the palette page "JexLogger". Each class has a
// 24 x 24 palette image, a bitmap resource of the library named after the class in upper case,
// which the unit's initialisation makes known to the host.
#pragma once

#include <string>
#include <string_view>

namespace jex {

/// The palette page the suite's components are registered on.
inline constexpr const char* PalettePage = "JexLogger";

/// Registers the suite's component classes on the palette page "JexLogger", in palette order.
/// The designer calls it after loading the package; it is not called at run time.
void Register();

/// The palette image of the class AClassName as a whole BMP file (24 x 24); empty for a class
/// that has none.
std::string_view PaletteImage(const std::string& AClassName);

/// Initialisation and finalisation of the unit: makes the palette images known as bitmap
/// resources, and takes the classes off the palette again when the package goes.
void LogRegInitialization();
void LogRegFinalization();

} // namespace jex
