// exceptions/LogErrorSections.cpp - the environment sections of the exception report: source
// position, application, active form and control, computer and user, operating system, memory.
//
// Each section reads what it prints at the moment it is asked and keeps nothing; the system's
// figures come through the platform's services, so tests can put recorded ones in their place.
#include "exceptions/LogError.h"
#include "exceptions/LogErrorFatal.h"
#include "host/core/SystemExcept.h"
#include "logging/LogCnst.h"
#include "mapfile/Jexmapfile.h"
#include "platform/PlatformServices.h"
#include "platform/SignalSafeText.h"
#include "platform/SystemInfo.h"

#include <cstdint>
#include <vector>

namespace jex {

using namespace host;

namespace {

std::string Trim(const std::string& AText) {
    const std::size_t first = AText.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return AText.substr(first, AText.find_last_not_of(' ') - first + 1);
}

// The name of a Windows version as the version variables give it; empty when the table has
// none.
std::string WindowsName(const platform::TOSVersion& AVersion) {
    const std::string csd = Trim(AVersion.CSDVersion);
    if (AVersion.Platform == 1) {
        if (AVersion.MinorVersion < 10)
            return csd == "B" ? "Microsoft Windows 95 OSR 2" : "Microsoft Windows 95";
        if (AVersion.MinorVersion < 90)
            return csd == "A" ? "Microsoft Windows 98 SE" : "Microsoft Windows 98";
        if (AVersion.MinorVersion == 90)
            return "Microsoft Winsows ME";
        return {};
    }
    if (AVersion.MajorVersion == 4)
        return "Microsoft Windows NT 4.0";
    if (AVersion.MajorVersion == 5 && AVersion.MinorVersion == 0)
        return "Microsoft Windows 2000";
    if (AVersion.MajorVersion == 5 && AVersion.MinorVersion == 1)
        return "Microsoft Windows XP";
    if (AVersion.MajorVersion == 5 && AVersion.MinorVersion == 2)
        return "Microsoft Windows 2003";
    return {};
}

std::string Kilobytes(std::uint64_t ABytes) {
    return std::to_string(ABytes >> 10) + " Kb";
}

} // namespace

std::string TJexExceptionLog::GetFormattedSource() const {
    if (FSourceUnreadable)
        return "\r\n";
    if (!FMapFile->DataLoaded())
        return {};
    std::string text = "\r\n";
    if (!FMapFile->UnitName().empty())
        text += "Unit: " + FMapFile->UnitName() + "\r\n";
    if (!FMapFile->ProcedureName().empty())
        text += "Procedure: " + FMapFile->ProcedureName() + "\r\n";
    if (FMapFile->LineNumber() > 0)
        text += "Line No: " + std::to_string(FMapFile->LineNumber());
    return text;
}

std::string TJexExceptionLog::GetApplicationDetails() const {
    const std::string exeName = Application != nullptr ? Application->ExeName() : ParamStr(0);
    const std::string title = Application != nullptr ? Application->Title() : std::string();
    std::string text = std::string(SectionSeparator) + "EXE file name: " + exeName + "\r\n" +
                       "Application Title" + ":" + title;
    const int count = ParamCount();
    if (count > 0) {
        text += "\r\nParameters: ";
        for (int i = 1; i <= count; ++i)
            text += "\r\n" + ParamStr(i);
    }
    return text;
}

std::string TJexExceptionLog::GetActiveControlDetails() const {
    if (Screen == nullptr)
        return {};
    std::string text;
    if (TForm* form = Screen->ActiveForm()) {
        const TCustomForm* custom = Screen->ActiveCustomForm();
        text = "Active Form: " + form->Name() + ", " +
               (custom != nullptr ? custom->Caption() : std::string());
    }
    if (TWinControl* control = Screen->ActiveControl()) {
        if (!text.empty())
            text += "\r\n";
        text += "Active Control: " + control->Name();
    }
    return text.empty() ? text : SectionSeparator + text;
}

std::string TJexExceptionLog::GetComputerInfo() const {
    platform::TSystemInfo& system = *platform::PlatformServices().SystemInfo;
    std::string text;
    if (const std::string computer = system.ComputerName(); !computer.empty())
        text += "Computer: " + computer + "\r\n";
    if (const std::string user = system.UserName(); !user.empty())
        text += "User Name: " + user;
    return text.empty() ? text : SectionSeparator + text;
}

std::string TJexExceptionLog::GetOSInfo() const {
    const platform::TOSVersion version = platform::PlatformServices().SystemInfo->OSVersion();
    std::string text;
    switch (version.Platform) {
    case 1:
        text = WindowsName(version) + "(build " +
               std::to_string(static_cast<std::uint32_t>(version.BuildNumber) & 0xFFFFu) + ")";
        break;
    case 2:
        text = WindowsName(version) + "(build " + std::to_string(version.BuildNumber) + ")";
        break;
    case platform::VER_PLATFORM_LINUX:
        // The same shape for Linux: the distribution, then the kernel release as the build.
        text = version.Distribution + "(build " + version.KernelRelease + ")";
        break;
    default:
        break;
    }
    return text.empty() ? text : SectionSeparator + text;
}

std::string TJexExceptionLog::GetMemoryInfo() const {
    const platform::TMemoryStatus status = platform::PlatformServices().SystemInfo->MemoryStatus();
    return std::string(SectionSeparator) + "Total pagefile: " + Kilobytes(status.TotalPageFile) +
           "\r\nAvailable pagefile: " + Kilobytes(status.AvailPageFile) +
           "\r\nTotal virtual memory: " + Kilobytes(status.TotalVirtual) +
           "\r\nAvailable virtual memory: " + Kilobytes(status.AvailVirtual) +
           "\r\nTotal memory: " + Kilobytes(status.TotalPhys) +
           "\r\nAvailable memory: " + Kilobytes(status.AvailPhys) +
           "\r\nMemory in use: " + std::to_string(status.MemoryLoad) + "%";
}

} // namespace jex

namespace jex {

std::string TJexExceptionLog::GetCallStack() const {
    const std::span<const std::uintptr_t> frames = ExceptFrames();
    if (frames.empty())
        return {};
    const TJexMapFile* map = nullptr;
    try {
        FMapFile->PrepareLookups();
        map = FMapFile.get();
    } catch (...) {
        // A map that cannot be read leaves the frames without positions.
    }
    std::vector<char> buffer(64 * 1024);
    platform::TSignalSafeText text(buffer.data(), buffer.size());
    AppendCallStack(text, frames, map);
    return std::string(text.View());
}

} // namespace jex
