// host/core/SysUtilsPackage.cpp - the package loader: unit tables, LoadPackage, package identity.
#include "host/core/SysUtilsPackage.h"

#include "host/core/ClassesStreams.h"
#include "host/core/SysUtils.h"

#include <atomic>
#include <dlfcn.h>
#include <gelf.h>
#include <libelf.h>
#include <memory>

namespace host {

namespace {

std::atomic<TPackageUnitHook> unitHook{nullptr};
// Nested depth of LoadPackage/UnloadPackage calls that have a library opening or closing.
thread_local int loaderDepth = 0;

class TLoaderScope {
public:
    TLoaderScope() { ++loaderDepth; }

    ~TLoaderScope() { --loaderDepth; }

    TLoaderScope(const TLoaderScope&) = delete;
    TLoaderScope& operator=(const TLoaderScope&) = delete;
};

using TEntryPoint = void (*)();

TEntryPoint EntryPoint(HModule AModule, const char* AName) {
    return reinterpret_cast<TEntryPoint>(GetProcAddress(AModule, AName));
}

[[noreturn]] void RaiseLoadError(const std::string& AFileName, const std::string& AReason) {
    throw EPackageError("Can't load package " + AFileName + ".\n" + AReason);
}

struct TElfCloser {
    void operator()(Elf* AElf) const { elf_end(AElf); }
};

} // namespace

void InitializePackage(std::span<const TPackageUnit> AUnits) {
    for (const TPackageUnit& unit : AUnits) {
        if (TPackageUnitHook hook = unitHook.load())
            hook(unit.Name, true);
        unit.Initialization();
    }
}

void FinalizePackage(std::span<const TPackageUnit> AUnits) {
    for (auto it = AUnits.rbegin(); it != AUnits.rend(); ++it) {
        if (TPackageUnitHook hook = unitHook.load())
            hook(it->Name, false);
        it->Finalization();
    }
}

TPackageUnitHook SetPackageUnitHook(TPackageUnitHook AHook) {
    return unitHook.exchange(AHook);
}

bool PackageLoaderActive() {
    return loaderDepth > 0;
}

HModule LoadPackage(const std::string& AFileName) {
    HModule module = nullptr;
    {
        TLoaderScope scope;
        module = dlopen(AFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (module == nullptr) {
        const char* reason = dlerror();
        RaiseLoadError(AFileName, reason != nullptr ? reason : "unknown error");
    }
    TEntryPoint initialize = EntryPoint(module, "Initialize");
    if (initialize == nullptr || EntryPoint(module, "Finalize") == nullptr) {
        TLoaderScope scope;
        dlclose(module);
        RaiseLoadError(AFileName, "It exports no Initialize and Finalize.");
    }
    initialize();
    return module;
}

void UnloadPackage(HModule AModule) {
    if (AModule == nullptr)
        return;
    if (TEntryPoint finalize = EntryPoint(AModule, "Finalize"))
        finalize();
    TLoaderScope scope;
    dlclose(AModule);
}

void* GetProcAddress(HModule AModule, const char* AName) {
    if (AModule == nullptr)
        return nullptr;
    return dlsym(AModule, AName);
}

TPackageInfo ParsePackageInfo(std::string_view AText) {
    TPackageInfo info;
    AText = AText.substr(0, AText.find('\0'));
    while (!AText.empty()) {
        const std::size_t end = AText.find('\n');
        const std::string_view line = AText.substr(0, end);
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos && equals > 0)
            info[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
        if (end == std::string_view::npos)
            break;
        AText.remove_prefix(end + 1);
    }
    return info;
}

TPackageInfo ReadPackageInfo(const std::string& AFileName) {
    std::string bytes;
    {
        TFileStream file(AFileName, fmOpenRead | fmShareDenyNone);
        bytes.resize(static_cast<std::size_t>(file.Size()));
        file.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
    elf_version(EV_CURRENT);
    std::unique_ptr<Elf, TElfCloser> elf(elf_memory(bytes.data(), bytes.size()));
    std::size_t names = 0;
    if (elf == nullptr || elf_kind(elf.get()) != ELF_K_ELF ||
        elf_getshdrstrndx(elf.get(), &names) != 0)
        throw EPackageError(AFileName + " is not an ELF file");
    for (Elf_Scn* section = elf_nextscn(elf.get(), nullptr); section != nullptr;
         section = elf_nextscn(elf.get(), section)) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr || header.sh_type == SHT_NOBITS)
            continue;
        const char* name = elf_strptr(elf.get(), names, header.sh_name);
        if (name == nullptr || std::string_view(name) != PackageInfoSection)
            continue;
        Elf_Data* data = elf_getdata(section, nullptr);
        if (data == nullptr || data->d_buf == nullptr)
            break;
        return ParsePackageInfo({static_cast<const char*>(data->d_buf), data->d_size});
    }
    throw EPackageError(AFileName + " carries no package identity");
}

TPackageInfo GetPackageInfo(HModule AModule) {
    const auto* text = static_cast<const char* const*>(GetProcAddress(AModule, "PackageIdentity"));
    if (text == nullptr || *text == nullptr)
        throw EPackageError("The module carries no package identity");
    return ParsePackageInfo(*text);
}

} // namespace host
