// host/core/SysUtilsExcept.cpp - ExceptionErrorMessage and the console ShowException.
#include "host/core/SysUtils.h"
#include "platform/File.h"
#include "platform/PlatformServices.h"
#include "platform/ProcessImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

// Where the executable counts as loaded in the map address model (its code at 0x00401000).
constexpr std::uintptr_t MapImageBase = 0x00400000;

std::string FileNameOf(const std::string& APath) {
    const auto slash = APath.rfind('/');
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

void ModuleAndOffset(const void* AAddress, std::string& AModule, std::uintptr_t& AOffset) {
    const auto address = reinterpret_cast<std::uintptr_t>(AAddress);
    if (platform::FromMapAddress(address) != 0) {
        AModule = FileNameOf(platform::PlatformServices().Files->ExecutablePath());
        AOffset = address - MapImageBase;
        return;
    }
    const platform::TModuleInfo module = platform::ModuleOf(address);
    if (!module.Path.empty()) {
        AModule = FileNameOf(module.Path);
        AOffset = address - module.Base;
        return;
    }
    // Not inside any module: named after the module that holds this code.
    const platform::TModuleInfo self =
        platform::ModuleOf(reinterpret_cast<std::uintptr_t>(&ModuleAndOffset));
    AModule = FileNameOf(self.Path);
    AOffset = address - 0x1000;
}

} // namespace

std::string ExceptionErrorMessage(const Exception* AExceptObject, const void* AExceptAddr) {
    std::string module;
    std::uintptr_t offset = 0;
    ModuleAndOffset(AExceptAddr, module, offset);
    std::string message;
    if (AExceptObject != nullptr) {
        const std::string& full = AExceptObject->Message();
        message = full.substr(0, full.find('\0'));
    }
    char hex[24];
    std::snprintf(hex, sizeof hex, "%08llX", static_cast<unsigned long long>(offset & 0xFFFFFFFFu));
    const std::string className =
        AExceptObject != nullptr ? AExceptObject->ClassName() : std::string("Exception");
    std::string text =
        "Exception " + className + " in module " + module + " at " + hex + ".\r\n" + message;
    if (!message.empty() && message.back() != '.')
        text += '.';
    text += "\r\n";
    return text;
}

int ExceptionErrorMessage(const Exception* AExceptObject, const void* AExceptAddr, char* ABuffer,
                          int ASize) {
    if (ABuffer == nullptr || ASize <= 0)
        return 0;
    const std::string text = ExceptionErrorMessage(AExceptObject, AExceptAddr);
    const auto length = std::min<std::size_t>(text.size(), static_cast<std::size_t>(ASize));
    std::memcpy(ABuffer, text.data(), length);
    ABuffer[length] = '\0';
    return static_cast<int>(length);
}

void ShowException(const Exception* AExceptObject, const void* AExceptAddr) {
    char buffer[1024 + 1];
    const int length = ExceptionErrorMessage(AExceptObject, AExceptAddr, buffer, 1024);
    std::fwrite(buffer, 1, static_cast<std::size_t>(length), stderr);
    std::fflush(stderr);
}

} // namespace host
