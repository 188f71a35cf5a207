// platform/linux/SystemInfo.cpp - identity, memory and version from the Linux system.
#include "platform/SystemInfo.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <limits.h>
#include <pwd.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::string ReadWholeFile(const char* APath) {
    std::ifstream in(APath, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The user part of a 64-bit process's address space: 128 TiB minus one page.
constexpr std::uint64_t UserAddressSpace = 0x7FFFFFFFF000ULL;

// VmSize of this process in bytes, 0 when unknown.
std::uint64_t ProcessVirtualSize() {
    std::istringstream in(ReadWholeFile("/proc/self/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmSize:", 0) == 0)
            return std::strtoull(line.c_str() + 7, nullptr, 10) * 1024;
    return 0;
}

class TLinuxSystemInfo : public TSystemInfo {
public:
    std::string ComputerName() override {
        char name[HOST_NAME_MAX + 1] = {};
        if (gethostname(name, sizeof name - 1) != 0)
            return {};
        std::string result(name);
        return result.substr(0, result.find('.'));
    }

    std::string UserName() override {
        const uid_t uid = geteuid();
        long size = sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_name != nullptr && *found->pw_name != '\0')
            return found->pw_name;
        // Containers run arbitrary ids without a password entry.
        for (const char* variable : {"USER", "LOGNAME"})
            if (const char* value = std::getenv(variable); value != nullptr && *value != '\0')
                return value;
        return std::to_string(uid);
    }

    TMemoryStatus MemoryStatus() override {
        TMemoryStatus status;
        ParseMemInfo(ReadWholeFile("/proc/meminfo"), status);
        status.TotalVirtual = UserAddressSpace;
        rlimit limit{};
        if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            status.TotalVirtual = std::min<std::uint64_t>(status.TotalVirtual, limit.rlim_cur);
        const std::uint64_t used = ProcessVirtualSize();
        status.AvailVirtual = used < status.TotalVirtual ? status.TotalVirtual - used : 0;
        return status;
    }

    TOSVersion OSVersion() override {
        TOSVersion version;
        version.Platform = VER_PLATFORM_LINUX;
        std::string osRelease = ReadWholeFile("/etc/os-release");
        if (osRelease.empty())
            osRelease = ReadWholeFile("/usr/lib/os-release");
        version.Distribution = ParseOsRelease(osRelease);
        utsname names{};
        if (uname(&names) == 0) {
            version.KernelRelease = names.release;
            ParseKernelRelease(version.KernelRelease, version.MajorVersion, version.MinorVersion,
                               version.BuildNumber);
        }
        return version;
    }
};

// The value of an os-release assignment: quotes removed, backslash escapes resolved.
std::string UnquoteValue(const std::string& ARaw) {
    std::string value;
    char quote = 0;
    for (std::size_t i = 0; i < ARaw.size(); ++i) {
        const char c = ARaw[i];
        if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (quote != 0 && c == quote) {
            quote = 0;
        } else if (c == '\\' && quote != '\'' && i + 1 < ARaw.size()) {
            value += ARaw[++i];
        } else {
            value += c;
        }
    }
    return value;
}

} // namespace

TSystemInfo& LinuxSystemInfo() {
    static TLinuxSystemInfo info;
    return info;
}

bool ParseMemInfo(const std::string& AText, TMemoryStatus& AStatus) {
    std::uint64_t total = 0, available = 0, free = 0, swapTotal = 0, swapFree = 0;
    bool haveTotal = false, haveAvailable = false;
    std::istringstream in(AText);
    std::string key;
    std::uint64_t value = 0;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (!(fields >> key >> value))
            continue;
        const std::uint64_t bytes = value * 1024;
        if (key == "MemTotal:") {
            total = bytes;
            haveTotal = true;
        } else if (key == "MemAvailable:") {
            available = bytes;
            haveAvailable = true;
        } else if (key == "MemFree:") {
            free = bytes;
        } else if (key == "SwapTotal:") {
            swapTotal = bytes;
        } else if (key == "SwapFree:") {
            swapFree = bytes;
        }
    }
    if (!haveTotal)
        return false;
    // Kernels before 3.14 have no MemAvailable; free memory is the nearest figure there.
    if (!haveAvailable)
        available = free;
    available = std::min(available, total);
    AStatus.TotalPhys = total;
    AStatus.AvailPhys = available;
    AStatus.TotalPageFile = total + swapTotal;
    AStatus.AvailPageFile = available + std::min(swapFree, swapTotal);
    AStatus.MemoryLoad =
        total == 0 ? 0 : static_cast<std::uint32_t>((total - available) * 100 / total);
    return true;
}

std::string ParseOsRelease(const std::string& AText) {
    std::string pretty, name, version;
    std::istringstream in(AText);
    std::string line;
    while (std::getline(in, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos || line.empty() || line[0] == '#')
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = UnquoteValue(line.substr(equals + 1));
        if (key == "PRETTY_NAME")
            pretty = value;
        else if (key == "NAME")
            name = value;
        else if (key == "VERSION")
            version = value;
    }
    if (!pretty.empty())
        return pretty;
    if (!name.empty())
        return version.empty() ? name : name + " " + version;
    return "Linux";
}

void ParseKernelRelease(const std::string& ARelease, int& AMajor, int& AMinor, int& ABuild) {
    int parts[3] = {0, 0, 0};
    std::size_t i = 0;
    for (int& part : parts) {
        long value = 0;
        bool digits = false;
        while (i < ARelease.size() && ARelease[i] >= '0' && ARelease[i] <= '9') {
            value = std::min(value * 10 + (ARelease[i] - '0'), 0x7FFFFFFFL);
            digits = true;
            ++i;
        }
        part = static_cast<int>(value);
        if (!digits || i >= ARelease.size() || ARelease[i] != '.')
            break;
        ++i;
    }
    AMajor = parts[0];
    AMinor = parts[1];
    ABuild = parts[2];
}

} // namespace platform
