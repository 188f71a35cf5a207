// examples/PackageDemo.cpp - the package's identity and its palette page.
#include "examples/PackageDemo.h"

#include "host/core/SysUtils.h"
#include "host/core/SysUtilsPackage.h"
#include "host/forms/DesignIntf.h"
#include "package/LogReg.h"

#include <dlfcn.h>
#include <iostream>
#include <string>

void PackageDemo() {
    // The library this program is linked with, found from one of its functions.
    Dl_info library{};
    if (dladdr(reinterpret_cast<void*>(&jex::Register), &library) == 0 ||
        library.dli_fname == nullptr) {
        std::cout << "The package library could not be located.\n";
        return;
    }
    std::cout << "\n== The component package " << library.dli_fname << " ==\n";
    try {
        const host::TPackageInfo info = host::ReadPackageInfo(library.dli_fname);
        for (const char* key : {"ProductName", "FileVersion", "FileDescription"})
            std::cout << key << ": " << (info.contains(key) ? info.at(key) : "?") << "\n";
    } catch (const host::Exception& error) {
        std::cout << "Its identity cannot be read: " << error.Message() << "\n";
    }

    jex::Register();
    std::cout << "Palette page \"" << jex::PalettePage << "\":";
    for (const host::TClassInfo* component : host::PaletteClasses(jex::PalettePage)) {
        const auto image = host::FindPaletteImage(component->Name);
        std::cout << " " << component->Name;
        if (image != nullptr)
            std::cout << " (" << image->Width() << "x" << image->Height() << ")";
    }
    std::cout << "\n";
}
