// tool/LBD.cpp - loading the debug-symbol library at start-up, or binding the built-in reader.
//
// The binding must be in place before main's first step, also when the tool is started without
// arguments, because a broken library beside the tool has to stop it before the usage text. A
// function-local static touched from main would run only after main began, so this file holds
// the one namespace-scope object of the tool with a dynamic initialiser (TStartup below); its
// destructor releases the library when the program ends.
#include "tool/LBD.h"

#include "platform/linux/FileOps.h"
#include "tool/TdsReader.h"
#include "tool/VellinError.h"

#include <cstdlib>
#include <dlfcn.h>

namespace vellin {

bool TBorDebugApi::Complete() const {
    return RegisterFile != nullptr && UnregisterFile != nullptr && SubSectionCount != nullptr &&
           SubSection != nullptr && SrcModule != nullptr && SrcModuleSources != nullptr &&
           SrcModuleSourceRanges != nullptr && SrcModuleLineNumbers != nullptr &&
           NameIndexToName != nullptr && StartSymbols != nullptr && NextSymbol != nullptr &&
           SymbolGPROC32 != nullptr && SymbolGPROCREF != nullptr;
}

namespace {

[[noreturn]] void RaiseCannotLoad(const std::string& APath) {
    throw EVellinError("Cannot load the \"" + APath + "\" library.");
}

template <typename TFunction>
void Bind(void* AHandle, const char* AName, TFunction& AEntry) {
    AEntry = reinterpret_cast<TFunction>(dlsym(AHandle, AName));
}

} // namespace

TBorDebugLibrary::TBorDebugLibrary(void* AHandle)
    : FHandle(AHandle) {
    Bind(FHandle, "_BorDebugRegisterFile", FApi.RegisterFile);
    Bind(FHandle, "_BorDebugUnregisterFile", FApi.UnregisterFile);
    Bind(FHandle, "_BorDebugSubSectionCount", FApi.SubSectionCount);
    Bind(FHandle, "_BorDebugSubSection", FApi.SubSection);
    Bind(FHandle, "_BorDebugSrcModule", FApi.SrcModule);
    Bind(FHandle, "_BorDebugSrcModuleSources", FApi.SrcModuleSources);
    Bind(FHandle, "_BorDebugSrcModuleSourceRanges", FApi.SrcModuleSourceRanges);
    Bind(FHandle, "_BorDebugSrcModuleLineNumbers", FApi.SrcModuleLineNumbers);
    Bind(FHandle, "_BorDebugNameIndexToName", FApi.NameIndexToName);
    Bind(FHandle, "_BorDebugStartSymbols", FApi.StartSymbols);
    Bind(FHandle, "_BorDebugNextSymbol", FApi.NextSymbol);
    Bind(FHandle, "_BorDebugSymbolGPROC32", FApi.SymbolGPROC32);
    Bind(FHandle, "_BorDebugSymbolGPROCREF", FApi.SymbolGPROCREF);
}

TBorDebugLibrary::~TBorDebugLibrary() {
    dlclose(FHandle);
}

std::unique_ptr<TBorDebugLibrary> TBorDebugLibrary::Load(const std::string& APath) {
    // A path without a slash would make dlopen search the library path; the library is only
    // ever taken from the exact file named.
    const std::string exact = APath.find('/') == std::string::npos ? "./" + APath : APath;
    void* handle = dlopen(exact.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        RaiseCannotLoad(APath);
    std::unique_ptr<TBorDebugLibrary> library(new TBorDebugLibrary(handle));
    if (!library->Api().Complete())
        RaiseCannotLoad(APath);
    return library;
}

std::string ExecutableFolder() {
    const std::string path = fileops::ExecutablePath();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::unique_ptr<TBorDebugLibrary> LoadBorDebugLibrary(const std::string& AFolder) {
    if (AFolder.empty())
        return nullptr;
    for (const char* name : {BorDebugLibraryName, BorDebugSharedObjectName}) {
        const std::string path = AFolder + name;
        if (fileops::PathExists(path))
            return TBorDebugLibrary::Load(path);
    }
    return nullptr;
}

namespace {

class TStartup {
public:
    TStartup() {
        try {
            FLibrary = LoadBorDebugLibrary(ExecutableFolder());
        } catch (...) {
            std::exit(ReportUnhandledError(std::current_exception()));
        }
        FApi = FLibrary ? &FLibrary->Api() : &BuiltInBorDebugApi();
    }

    const TBorDebugApi& Api() const { return *FApi; }

private:
    std::unique_ptr<TBorDebugLibrary> FLibrary;
    const TBorDebugApi* FApi = nullptr;
};

// Runs before main (see the file comment); the one static constructor of the tool.
TStartup GStartup;

} // namespace

const TBorDebugApi& BorDebug() {
    return GStartup.Api();
}

} // namespace vellin
