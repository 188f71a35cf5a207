// host/core/System.cpp - TObject, type names and the command line.
#include "host/core/System.h"

#include "host/core/SysUtils.h"
#include "host/core/TypInfo.h"
#include "platform/File.h"
#include "platform/PlatformServices.h"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <vector>

namespace host {

std::string DemangledTypeName(const std::type_info& AType) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(AType.name(), nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(AType.name());
}

std::string ShortTypeName(const std::type_info& AType) {
    const std::string full = DemangledTypeName(AType);
    // Cut at the last "::" that is not inside template arguments.
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < full.size(); ++i) {
        const char c = full[i];
        if (c == '<')
            ++depth;
        else if (c == '>')
            --depth;
        else if (depth == 0 && c == ':' && i + 1 < full.size() && full[i + 1] == ':')
            start = i + 2;
    }
    return full.substr(start);
}

std::string TObject::ClassName() const {
    return ShortTypeName(typeid(*this));
}

const TClassInfo& TObject::ClassInfo() const {
    return StaticClassInfo();
}

const TClassInfo& TObject::StaticClassInfo() {
    static const TClassInfo info{.Name = "TObject"};
    return info;
}

bool TClassInfo::InheritsFrom(const TClassInfo& AClass) const {
    for (const TClassInfo* c = this; c != nullptr; c = c->Parent)
        if (c == &AClass)
            return true;
    return false;
}

namespace {

// The command line as the kernel keeps it: NUL-terminated arguments, the program name first.
const std::vector<std::string>& CommandLine() {
    static const std::vector<std::string> arguments = [] {
        std::vector<std::string> result;
        std::string bytes;
        // The process's own command line, read once: not a file a test's service stands in for.
        platform::LinuxFileService().ReadFile("/proc/self/cmdline", bytes);
        std::size_t start = 0;
        while (start < bytes.size()) {
            std::size_t end = bytes.find('\0', start);
            if (end == std::string::npos)
                end = bytes.size();
            result.push_back(bytes.substr(start, end - start));
            start = end + 1;
        }
        return result;
    }();
    return arguments;
}

} // namespace

int ParamCount() {
    const std::size_t count = CommandLine().size();
    return count > 1 ? static_cast<int>(count - 1) : 0;
}

std::string ParamStr(int AIndex) {
    if (AIndex == 0)
        return platform::PlatformServices().Files->ExecutablePath();
    if (AIndex < 0 || AIndex > ParamCount())
        return {};
    return CommandLine()[static_cast<std::size_t>(AIndex)];
}

std::string Exception::ClassName() const {
    return ShortTypeName(typeid(*this));
}

} // namespace host
