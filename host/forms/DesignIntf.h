// host/forms/DesignIntf.h - the designer's side of packages: palette pages and their images.
//
// A package's Register puts its component classes on a palette page; the designer shows each
// with the bitmap resource named after its class in upper case. The palette keeps the classes
// in the order they were registered, one page after the other.
#pragma once

#include "host/core/TypInfo.h"
#include "host/forms/Graphics.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace host {

/// Adds AClasses to the palette page APage (created on first use), after what is there; a class
/// already on the page keeps its place.
void RegisterComponents(const std::string& APage, std::span<const TClassInfo* const> AClasses);

/// Takes AClasses off every palette page (a page left empty goes); used when the package that
/// registered them is unloaded.
void UnRegisterComponents(std::span<const TClassInfo* const> AClasses);

/// The palette's pages, in the order they were created.
std::vector<std::string> PalettePages();

/// The classes on the page APage (names compare ignoring case), in order; empty when none.
std::vector<const TClassInfo*> PaletteClasses(const std::string& APage);

/// The palette image of the class AClassName: the bitmap resource of that name in upper case.
/// nullptr when there is none.
std::unique_ptr<TBitmap> FindPaletteImage(const std::string& AClassName);

} // namespace host
