// exceptions/LogErrorFatal.cpp - composing and writing the fatal report, and the call-stack
// section both reports share.
//
// Everything Compose reads was made ready in Prepare, on the main thread, when the logger hooked:
// the report never allocates, locks or reads a file while it is composed.
#include "exceptions/LogErrorFatal.h"

#include "exceptions/CrashSignature.h"
#include "exceptions/LogError.h"
#include "exceptions/ReportCollector.h"
#include "host/core/SysUtilsFault.h"
#include "host/core/SystemExcept.h"
#include "mapfile/Jexmapfile.h"
#include "mapfile/MapIndex.h"
#include "platform/ProcessImage.h"
#include "platform/SignalSafeText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ctime>
#include <link.h>
#include <vector>

namespace jex {

using namespace host;
using platform::TSignalSafeText;

namespace {

bool faultHandlingEnabled = false;

constexpr std::string_view Separator = "\r\n======\r\n";

// Where the executable counts as loaded in the map address model (see ExceptionErrorMessage).
constexpr std::uintptr_t MapImageBase = 0x00400000;

void AppendPosition(TSignalSafeText& AOut, const TMapPosition& APosition) {
    if (!APosition.Unit.empty())
        AOut.Append(" ").Append(APosition.Unit);
    if (!APosition.Procedure.empty())
        AOut.Append(APosition.Unit.empty() ? " " : ", ").Append(APosition.Procedure);
    if (APosition.Line > 0)
        AOut.Append(", line ").AppendDecimal(APosition.Line);
}

std::string FileNameOf(const std::string& APath) {
    const auto slash = APath.rfind('/');
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

struct TModule {
    std::uintptr_t Begin = 0;
    std::uintptr_t End = 0;
    std::uintptr_t Base = 0;
    std::string Name;
};

} // namespace

void EnableFaultHandling() {
    faultHandlingEnabled = true;
}

bool FaultHandlingEnabled() {
    return faultHandlingEnabled;
}

void AppendCallStack(TSignalSafeText& AOut, std::span<const std::uintptr_t> AFrames,
                     const TJexMapFile* AMap) noexcept {
    AOut.Append(Separator).Append("Call stack:");
    for (const std::uintptr_t frame : AFrames) {
        const std::uintptr_t address = platform::ToMapAddress(frame);
        AOut.Append("\r\n").AppendHex(address);
        if (AMap != nullptr && platform::InMainExecutable(frame))
            AppendPosition(AOut, AMap->PositionOf(reinterpret_cast<const void*>(address)));
    }
}

// ---- What the report is composed from ------------------------------------------------------

struct TJexFatalReport::TPrepared {
    std::string Application;
    std::string Computer;
    std::string OperatingSystem;
    std::string ExecutableName;
    std::vector<TModule> Modules;
    TJexMapFile Map;
    bool MapReady = false;
    TFormatSettings Settings;
    long UtcOffset = 0; ///< seconds east of UTC when the logger hooked
    std::string Title;
    std::array<char, 64 * 1024> Buffer{};
    // What the last Compose found, for the collector's entry.
    std::array<char, 256> ClassName{};
    std::size_t ClassNameLength = 0;
    TMapPosition Position;
    std::uintptr_t Site = 0;
    /// The collector's entry: the report and the fields around it.
    std::array<char, 72 * 1024> Entry{};
};

TJexFatalReport& TJexFatalReport::Instance() {
    // Never destroyed: a fault during the process's exit must still find it.
    static TJexFatalReport* report = new TJexFatalReport();
    return *report;
}

TJexFatalReport::TJexFatalReport()
    : FPrepared(new TPrepared()) {}

namespace {

void RaiseFaultException(const platform::TFaultInfo& AFault) {
    RaiseFault(AFault);
}

void WriteFatal(const platform::TFaultInfo& AFault) noexcept {
    TJexFatalReport::Instance().Write(AFault);
}

} // namespace

void TJexFatalReport::Attach(TJexExceptionLog* ALogger) {
    FLogger = ALogger;
    Prepare();
    if (!platform::FaultHandlersInstalled())
        platform::InstallFaultHandlers({&RaiseFaultException, &WriteFatal});
}

void TJexFatalReport::Detach(TJexExceptionLog* ALogger, TJexExceptionLog* AFallback) {
    if (FLogger != ALogger)
        return;
    FLogger = nullptr;
    if (AFallback != nullptr)
        Attach(AFallback);
}

void TJexFatalReport::Prepare() {
    TPrepared& p = *FPrepared;
    if (FLogger == nullptr)
        return;
    p.Application = FLogger->GetApplicationDetails();
    p.Computer = FLogger->GetComputerInfo();
    p.OperatingSystem = FLogger->GetOSInfo();
    p.ExecutableName = FileNameOf(host::ParamStr(0));
    p.Title = Application != nullptr ? Application->Title() : std::string();
    p.Settings = FormatSettings();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    p.UtcOffset = local.tm_gmtoff;

    p.Modules.clear();
    dl_iterate_phdr(
        [](dl_phdr_info* AInfo, std::size_t, void* AData) -> int {
            auto* modules = static_cast<std::vector<TModule>*>(AData);
            for (int i = 0; i < AInfo->dlpi_phnum; ++i) {
                const ElfW(Phdr)& ph = AInfo->dlpi_phdr[i];
                if (ph.p_type != PT_LOAD || (ph.p_flags & PF_X) == 0)
                    continue;
                const std::uintptr_t begin = AInfo->dlpi_addr + ph.p_vaddr;
                modules->push_back(
                    {begin, begin + ph.p_memsz, AInfo->dlpi_addr,
                     FileNameOf(AInfo->dlpi_name != nullptr ? AInfo->dlpi_name : "")});
            }
            return 0;
        },
        &p.Modules);

    // The map is read once for its name; a map that cannot be read gives no positions.
    const std::string& mapName = FLogger->MapFile().MapFileName();
    if (!p.MapReady || p.Map.MapFileName() != mapName) {
        p.Map.SetMapFileName(mapName);
        try {
            p.Map.PrepareLookups();
            p.MapReady = true;
        } catch (...) {
            p.MapReady = false;
        }
    }
}

// ---- Composition ---------------------------------------------------------------------------

namespace {

struct TCivilTime {
    int Year, Month, Day, Hour, Minute, Second, Millisecond, WeekDay;
};

// Days since 1970-01-01 to a date of the proleptic Gregorian calendar.
TCivilTime CivilTime(long long ASeconds, int AMilliseconds) {
    long long days = ASeconds / 86400;
    long long rest = ASeconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    TCivilTime t{};
    t.WeekDay = static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    t.Day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    t.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.Year = static_cast<int>(yearOfEra + era * 400 + (t.Month <= 2 ? 1 : 0));
    t.Hour = static_cast<int>(rest / 3600);
    t.Minute = static_cast<int>(rest / 60 % 60);
    t.Second = static_cast<int>(rest % 60);
    t.Millisecond = AMilliseconds;
    return t;
}

bool StartsWithNoCase(std::string_view AText, std::string_view APrefix) {
    if (AText.size() < APrefix.size())
        return false;
    for (std::size_t i = 0; i < APrefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(AText[i])) !=
            std::tolower(static_cast<unsigned char>(APrefix[i])))
            return false;
    return true;
}

// True when an am/pm token (AM/PM, A/P, AMPM) follows APos outside quotes: the hour before it
// is on the 12-hour clock.
bool TwelveHourClockFollows(std::string_view APattern, std::size_t APos) {
    char quote = '\0';
    for (std::size_t i = APos; i < APattern.size(); ++i) {
        const char c = APattern[i];
        if (quote != '\0') {
            if (c == quote)
                quote = '\0';
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (StartsWithNoCase(APattern.substr(i), "am/pm") ||
                   StartsWithNoCase(APattern.substr(i), "a/p") ||
                   StartsWithNoCase(APattern.substr(i), "ampm")) {
            return true;
        }
    }
    return false;
}

// The date-time pattern letters of the framework's FormatDateTime, by its rules (runs of the
// same character, "m" after an hour is the minute, am/pm in the pattern's own case, nested
// patterns two levels deep), written without allocating.
void AppendDateTime(TSignalSafeText& AOut, std::string_view APattern, const TCivilTime& ATime,
                    const TFormatSettings& ASettings, int ALevel = 0) {
    if (ALevel >= 2)
        return;
    char lastToken = ' ';
    std::size_t i = 0;
    while (i < APattern.size()) {
        const char starter = APattern[i];
        char token = static_cast<char>(std::tolower(static_cast<unsigned char>(starter)));
        if (token >= 'a' && token <= 'z') {
            if (token == 'm' && lastToken == 'h')
                token = 'n';
            lastToken = token;
        }
        const std::size_t start = i++;
        while (i < APattern.size() && APattern[i] == starter && token != 'a' && token != '\'' &&
               token != '"')
            ++i;
        const std::size_t run = i - start;
        switch (token) {
        case 'y':
            AOut.AppendDecimal(run <= 2 ? ATime.Year % 100 : ATime.Year, run <= 2 ? 2 : 4);
            break;
        case 'm':
            if (run >= 4)
                AOut.Append(ASettings.LongMonthNames[static_cast<std::size_t>(ATime.Month - 1)]);
            else if (run == 3)
                AOut.Append(ASettings.ShortMonthNames[static_cast<std::size_t>(ATime.Month - 1)]);
            else
                AOut.AppendDecimal(ATime.Month, static_cast<int>(run));
            break;
        case 'd':
            if (run <= 2)
                AOut.AppendDecimal(ATime.Day, static_cast<int>(run));
            else if (run == 3)
                AOut.Append(ASettings.ShortDayNames[static_cast<std::size_t>(ATime.WeekDay)]);
            else if (run == 4)
                AOut.Append(ASettings.LongDayNames[static_cast<std::size_t>(ATime.WeekDay)]);
            else
                AppendDateTime(AOut,
                               run == 5 ? ASettings.ShortDateFormat : ASettings.LongDateFormat,
                               ATime, ASettings, ALevel + 1);
            break;
        case 'h': {
            int hour = ATime.Hour;
            if (TwelveHourClockFollows(APattern, i)) {
                hour %= 12;
                if (hour == 0)
                    hour = 12;
            }
            AOut.AppendDecimal(hour, run >= 2 ? 2 : 1);
            break;
        }
        case 'n':
            AOut.AppendDecimal(ATime.Minute, run >= 2 ? 2 : 1);
            break;
        case 's':
            AOut.AppendDecimal(ATime.Second, run >= 2 ? 2 : 1);
            break;
        case 'z':
            AOut.AppendDecimal(ATime.Millisecond, run >= 2 ? 3 : 1);
            break;
        case 't':
            AppendDateTime(AOut, run == 1 ? ASettings.ShortTimeFormat : ASettings.LongTimeFormat,
                           ATime, ASettings, ALevel + 1);
            break;
        case 'c':
            AppendDateTime(AOut, ASettings.ShortDateFormat, ATime, ASettings, ALevel + 1);
            if (ATime.Hour != 0 || ATime.Minute != 0 || ATime.Second != 0) {
                AOut.Append(" ");
                AppendDateTime(AOut, ASettings.LongTimeFormat, ATime, ASettings, ALevel + 1);
            }
            break;
        case 'a': {
            const std::string_view rest = APattern.substr(start);
            const bool pm = ATime.Hour >= 12;
            if (StartsWithNoCase(rest, "am/pm")) {
                AOut.Append(rest.substr(pm ? 3 : 0, 2));
                i = start + 5;
            } else if (StartsWithNoCase(rest, "a/p")) {
                AOut.Append(rest.substr(pm ? 2 : 0, 1));
                i = start + 3;
            } else if (StartsWithNoCase(rest, "ampm")) {
                AOut.Append(pm ? ASettings.TimePMString : ASettings.TimeAMString);
                i = start + 4;
            } else {
                AOut.Append(rest.substr(0, 1));
            }
            break;
        }
        case '\'':
        case '"': {
            const std::size_t close = APattern.find(starter, i);
            const std::size_t stop = close == std::string_view::npos ? APattern.size() : close;
            AOut.Append(APattern.substr(i, stop - i));
            i = stop == APattern.size() ? stop : stop + 1;
            break;
        }
        case '/':
            AOut.Append(std::string_view(&ASettings.DateSeparator, 1));
            break;
        case ':':
            AOut.Append(std::string_view(&ASettings.TimeSeparator, 1));
            break;
        default:
            AOut.Append(APattern.substr(start, run));
            break;
        }
    }
}

} // namespace

std::string_view TJexFatalReport::Compose(const platform::TFaultInfo& AFault) noexcept {
    TPrepared& p = *FPrepared;
    TSignalSafeText out(p.Buffer.data(), p.Buffer.size());
    const TJexLFormats formats = FLogger != nullptr ? FLogger->Formats() : DefaultFormats;

    // The exception: a fault, or what std::terminate found being handled.
    char classBuffer[256];
    TSignalSafeText className(classBuffer, sizeof classBuffer);
    char messageBuffer[512];
    const char* message = messageBuffer;
    std::span<const std::uintptr_t> frames(AFault.Frames, AFault.FrameCount);
    void* site = nullptr;
    bool described = false;
    if (AFault.Kind == platform::fkTerminate) {
        const char* thrownMessage = nullptr;
        if (DescribeCurrentException(className, thrownMessage)) {
            described = true;
            message = thrownMessage;
            const std::span<const std::uintptr_t> thrown = ExceptFrames();
            if (!thrown.empty()) {
                frames = thrown;
                site = ExceptAddr();
            }
        } else {
            message = "Terminated without an exception being handled";
        }
    }
    if (!described) {
        if (AFault.Kind != platform::fkTerminate) {
            className.Append(FaultClassName(AFault.Kind));
            FaultMessage(AFault, messageBuffer, sizeof messageBuffer);
        } else {
            className.Append("EExternalException");
        }
    }
    if (site == nullptr) {
        site = platform::InMainExecutable(AFault.Address)
                   ? reinterpret_cast<void*>(platform::ToMapAddress(AFault.Address))
                   : SiteOfFrames(frames);
        if (site == nullptr)
            site = reinterpret_cast<void*>(AFault.Address);
    }
    const auto siteValue = reinterpret_cast<std::uintptr_t>(site);
    const TJexMapFile* map = p.MapReady ? &p.Map : nullptr;
    const TMapPosition position = map != nullptr ? map->PositionOf(site) : TMapPosition{};
    {
        const std::string_view name = className.View();
        p.ClassNameLength = std::min(name.size(), p.ClassName.size());
        std::copy_n(name.data(), p.ClassNameLength, p.ClassName.data());
        p.Position = position;
        p.Site = siteValue;
    }

    struct timespec now {};

    clock_gettime(CLOCK_REALTIME, &now);
    const TCivilTime time = CivilTime(static_cast<long long>(now.tv_sec) + p.UtcOffset,
                                      static_cast<int>(now.tv_nsec / 1000000));

    if (formats.Contains(lfDate)) {
        AppendDateTime(out, p.Settings.ShortDateFormat, time, p.Settings);
        out.Append(" ");
    }
    if (formats.Contains(lfTime)) {
        AppendDateTime(out, p.Settings.LongTimeFormat, time, p.Settings);
        out.Append(" ");
    }
    if (formats.Contains(lfPhysAddress))
        out.Append("Phys.addr: ").AppendHex(siteValue).Append(" ");
    if (formats.Contains(lfExceptionClassName))
        out.Append("\r\nClassname: ").Append(className.View());
    if (formats.Contains(lfMessage)) {
        // The description ExceptionErrorMessage gives, with the module found in the table made
        // when the logger hooked.
        std::string_view module = p.ExecutableName;
        std::uintptr_t offset = siteValue - MapImageBase;
        if (platform::FromMapAddress(siteValue) == 0) {
            module = "";
            offset = siteValue - 0x1000;
            for (const TModule& m : p.Modules)
                if (siteValue >= m.Begin && siteValue < m.End) {
                    module = m.Name.empty() ? std::string_view(p.ExecutableName) : m.Name;
                    offset = siteValue - m.Base;
                    break;
                }
        }
        const std::string_view text = message;
        out.Append("\r\nMessage: Exception ")
            .Append(className.View())
            .Append(" in module ")
            .Append(module)
            .Append(" at ")
            .AppendHex(offset & 0xFFFFFFFFu)
            .Append(".\r\n")
            .Append(text);
        if (!text.empty() && text.back() != '.')
            out.Append(".");
        out.Append("\r\n");
    }
    if (formats.Contains(lfSourceLine)) {
        out.Append("\r\n");
        if (map != nullptr) {
            if (!position.Unit.empty())
                out.Append("Unit: ").Append(position.Unit).Append("\r\n");
            if (!position.Procedure.empty())
                out.Append("Procedure: ").Append(position.Procedure).Append("\r\n");
            if (position.Line > 0)
                out.Append("Line No: ").AppendDecimal(position.Line);
        }
    }
    if (formats.Contains(lfApplication))
        out.Append(p.Application);
    if (formats.Contains(lfComputerInfo))
        out.Append(p.Computer);
    if (formats.Contains(lfOSInfo))
        out.Append(p.OperatingSystem);
    if (formats.Contains(lfCallStack))
        AppendCallStack(out, frames, map);
    if (formats.Contains(lfSignature)) {
        const TCrashSignature signature =
            CrashSignature(className.View(), position.Unit, position.Procedure);
        out.Append("\r\nSignature: ").Append(SignatureText(signature));
    }
    if (formats.Contains(lfSeparator))
        out.Append(Separator);
    out.Append("?");
    return out.View();
}

void TJexFatalReport::Write(const platform::TFaultInfo& AFault) noexcept {
    if (FLogger == nullptr || FLogger->LogFile().empty())
        return;
    const std::string_view report = Compose(AFault);
    platform::AppendFatalRecord(FLogger->LogFile().c_str(), report.data(), report.size());
    // The collector's worker cannot run any more; the entry waits in the queue for the next
    // start of the program.
    if (const TJexReportCollector* collector = FLogger->ReportCollector()) {
        TPrepared& p = *FPrepared;

        struct timespec now {};

        clock_gettime(CLOCK_REALTIME, &now);
        TJexReportFields fields;
        fields.Report = report;
        fields.Program = p.ExecutableName;
        fields.Title = p.Title;
        fields.ClassName = std::string_view(p.ClassName.data(), p.ClassNameLength);
        fields.Unit = p.Position.Unit;
        fields.Procedure = p.Position.Procedure;
        fields.Line = p.Position.Line;
        fields.Address = p.Site;
        fields.Fatal = true;
        fields.Realtime = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
        TSignalSafeText entry(p.Entry.data(), p.Entry.size());
        if (ComposeReportEntry(entry, fields))
            collector->ReportQueue().PushSignalSafe(entry.Data(), entry.Length());
    }
}

} // namespace jex
