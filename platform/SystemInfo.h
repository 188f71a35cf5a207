// platform/SystemInfo.h - who and where the program runs: computer, user, memory, system.
//
// The figures the exception report's environment sections print: names, the memory status
// (as 64-bit byte counts, which the report prints in full, in kilobytes; nothing is clamped to
// 32 bits) and the operating system's version in the framework's variables plus the Linux
// distribution and kernel release.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// The memory status: the load in percent and six byte counts.
struct TMemoryStatus {
    std::uint32_t MemoryLoad = 0; ///< 0..100: share of physical memory in use
    std::uint64_t TotalPhys = 0;
    std::uint64_t AvailPhys = 0;
    std::uint64_t TotalPageFile = 0; ///< physical memory plus swap
    std::uint64_t AvailPageFile = 0;
    std::uint64_t TotalVirtual = 0; ///< the process's address space (or its limit)
    std::uint64_t AvailVirtual = 0;
};

/// The framework's operating-system version variables, plus what Linux adds.
struct TOSVersion {
    int Platform = 0; ///< Win32Platform: 1 Windows 95 family, 2 NT family; 3 here for Linux
    int MajorVersion = 0;
    int MinorVersion = 0;
    int BuildNumber = 0;
    std::string CSDVersion;   ///< service-pack text
    std::string Distribution; ///< e.g. "Debian GNU/Linux 12 (bookworm)"
    std::string KernelRelease;
};

/// Value of Win32Platform for Linux: outside the Windows values 0..2, so the Windows naming
/// table of the report does not apply to it.
inline constexpr int VER_PLATFORM_LINUX = 3;

class TSystemInfo {
public:
    virtual ~TSystemInfo() = default;

    /// The computer's short name (up to the first '.'); empty when unknown.
    virtual std::string ComputerName() = 0;
    /// The logged-on user's name; empty when unknown.
    virtual std::string UserName() = 0;
    virtual TMemoryStatus MemoryStatus() = 0;
    virtual TOSVersion OSVersion() = 0;
};

/// The Linux implementation: gethostname, the password database, /proc/meminfo and the
/// process's limits, /etc/os-release and uname.
TSystemInfo& LinuxSystemInfo();

// Parsers the Linux implementation is built from, open for tests with recorded inputs.

/// Fills the physical and page-file figures and the load from /proc/meminfo text (kB lines).
/// False when MemTotal is missing.
bool ParseMemInfo(const std::string& AText, TMemoryStatus& AStatus);

/// The display name in os-release text: PRETTY_NAME, else NAME and VERSION, else "Linux".
/// Values may be quoted with " or ' and use backslash escapes.
std::string ParseOsRelease(const std::string& AText);

/// Major, minor and build ("6.18.44-x" -> 6, 18, 44) from a kernel release.
void ParseKernelRelease(const std::string& ARelease, int& AMajor, int& AMinor, int& ABuild);

} // namespace platform
