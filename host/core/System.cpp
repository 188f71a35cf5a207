// host/core/System.cpp - TObject and type names.
#include "host/core/System.h"

#include "host/core/SysUtils.h"
#include "host/core/TypInfo.h"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>

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

std::string Exception::ClassName() const {
    return ShortTypeName(typeid(*this));
}

} // namespace host
