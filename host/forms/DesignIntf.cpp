// host/forms/DesignIntf.cpp - the designer's side of packages: palette pages and their images.
#include "host/forms/DesignIntf.h"

#include "host/core/SysUtils.h"

#include <algorithm>
#include <mutex>

namespace host {

namespace {

struct TPalettePage {
    std::string Name;
    std::vector<const TClassInfo*> Classes;
};

struct TPalette {
    std::mutex Lock;
    std::vector<TPalettePage> Pages;
};

// Never destroyed: a package linked with the program takes its classes off at its unload, which
// comes after this library's static objects are gone.
TPalette& Palette() {
    static TPalette* const palette = new TPalette;
    return *palette;
}

} // namespace

void RegisterComponents(const std::string& APage, std::span<const TClassInfo* const> AClasses) {
    TPalette& palette = Palette();
    std::lock_guard lock(palette.Lock);
    auto page = std::ranges::find_if(
        palette.Pages, [&](const TPalettePage& AEach) { return SameText(AEach.Name, APage); });
    if (page == palette.Pages.end())
        page = palette.Pages.insert(page, TPalettePage{APage, {}});
    for (const TClassInfo* info : AClasses)
        if (info != nullptr && std::ranges::find(page->Classes, info) == page->Classes.end())
            page->Classes.push_back(info);
}

void UnRegisterComponents(std::span<const TClassInfo* const> AClasses) {
    TPalette& palette = Palette();
    std::lock_guard lock(palette.Lock);
    for (TPalettePage& page : palette.Pages)
        std::erase_if(page.Classes, [&](const TClassInfo* AInfo) {
            return std::ranges::find(AClasses, AInfo) != AClasses.end();
        });
    std::erase_if(palette.Pages, [](const TPalettePage& APage) { return APage.Classes.empty(); });
}

std::vector<std::string> PalettePages() {
    TPalette& palette = Palette();
    std::lock_guard lock(palette.Lock);
    std::vector<std::string> names;
    for (const TPalettePage& page : palette.Pages)
        names.push_back(page.Name);
    return names;
}

std::vector<const TClassInfo*> PaletteClasses(const std::string& APage) {
    TPalette& palette = Palette();
    std::lock_guard lock(palette.Lock);
    for (const TPalettePage& page : palette.Pages)
        if (SameText(page.Name, APage))
            return page.Classes;
    return {};
}

std::unique_ptr<TBitmap> FindPaletteImage(const std::string& AClassName) {
    const std::string name = UpperCase(AClassName);
    if (FindBitmapResource(name).empty())
        return nullptr;
    auto image = std::make_unique<TBitmap>();
    image->LoadFromResourceName(name);
    return image;
}

} // namespace host
