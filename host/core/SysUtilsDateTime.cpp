// host/core/SysUtilsDateTime.cpp - TDateTime encoding, decoding, the clock and FormatDateTime.
//
// A TDateTime counts days since 1899-12-30; decoding goes through whole milliseconds (rounded)
// like the original, so a carry from 23:59:59.9996 moves to the next day. Negative values keep
// the original's reading: the integer part is the day, the fraction's magnitude the time.
#include "host/core/SysUtils.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <string_view>

namespace host {

namespace {

constexpr std::int64_t MSecsPerDay = 86400000;
// Days from 0001-01-01 (day 1) to 1899-12-30 (TDateTime 0).
constexpr std::int64_t DateDelta = 693594;

const int DaysInMonth[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

struct TTimeStamp {
    std::int64_t Time; // milliseconds since midnight
    std::int64_t Date; // days since 0001-01-01, that day being 1
};

TTimeStamp DateTimeToTimeStamp(TDateTime AValue) {
    // Beyond 2^31 days the calendar arithmetic below has no meaning (the original overflows).
    if (!std::isfinite(AValue) || std::fabs(AValue) > 2147483647.0)
        throw EInvalidOp("Invalid floating point operation");
    const auto ms = static_cast<std::int64_t>(
        std::nearbyint(static_cast<long double>(AValue) * static_cast<long double>(MSecsPerDay)));
    const std::int64_t rest = ms % MSecsPerDay;
    return {rest < 0 ? -rest : rest, DateDelta + ms / MSecsPerDay};
}

struct TDecoded {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Min = 0, Sec = 0, MSec = 0;
    int DayOfWeek = 1;
};

TDecoded Decode(TDateTime AValue) {
    const TTimeStamp stamp = DateTimeToTimeStamp(AValue);
    TDecoded d;
    std::int64_t t = stamp.Time;
    d.Hour = static_cast<int>(t / 3600000);
    t %= 3600000;
    d.Min = static_cast<int>(t / 60000);
    t %= 60000;
    d.Sec = static_cast<int>(t / 1000);
    d.MSec = static_cast<int>(t % 1000);
    d.DayOfWeek = static_cast<int>((stamp.Date % 7 + 7) % 7) + 1;
    if (stamp.Date <= 0)
        return d;
    constexpr std::int64_t D1 = 365, D4 = D1 * 4 + 1, D100 = D4 * 25 - 1, D400 = D100 * 4 + 1;
    std::int64_t days = stamp.Date - 1;
    std::int64_t year = 1 + days / D400 * 400;
    days %= D400;
    std::int64_t i = days / D100;
    days %= D100;
    if (i == 4) {
        --i;
        days += D100;
    }
    year += i * 100;
    year += days / D4 * 4;
    days %= D4;
    i = days / D1;
    days %= D1;
    if (i == 4) {
        --i;
        days += D1;
    }
    year += i;
    const int(&months)[12] = DaysInMonth[IsLeapYear(static_cast<int>(year)) ? 1 : 0];
    int month = 0;
    while (days >= months[month]) {
        days -= months[month];
        ++month;
    }
    d.Year = static_cast<int>(year);
    d.Month = month + 1;
    d.Day = static_cast<int>(days) + 1;
    return d;
}

char Upper(char AChar) {
    return AChar >= 'a' && AChar <= 'z' ? static_cast<char>(AChar - 'a' + 'A') : AChar;
}

bool StartsWithNoCase(std::string_view AText, std::size_t APos, std::string_view APrefix) {
    if (AText.size() - APos < APrefix.size())
        return false;
    for (std::size_t i = 0; i < APrefix.size(); ++i)
        if (Upper(AText[APos + i]) != APrefix[i])
            return false;
    return true;
}

std::string Padded(int AValue, std::size_t AWidth) {
    std::string text = std::to_string(AValue);
    if (text.size() < AWidth)
        text.insert(0, AWidth - text.size(), '0');
    return text;
}

class TDateTimeFormatter {
public:
    TDateTimeFormatter(TDateTime AValue, const TFormatSettings& ASettings)
        : FValue(AValue)
        , FSettings(ASettings) {}

    // The original expands nested patterns (c, ddddd, t, ...) only two levels deep, which also
    // stops a pattern that names itself from recursing.
    void Append(std::string_view AFormat, int ALevel) {
        if (ALevel >= 2)
            return;
        char lastToken = ' ';
        std::size_t p = 0;
        const std::size_t n = AFormat.size();
        while (p < n) {
            const char starter = AFormat[p];
            char token = Upper(starter);
            if (token >= 'A' && token <= 'Z') {
                if (token == 'M' && lastToken == 'H')
                    token = 'N';
                lastToken = token;
            }
            const std::size_t start = p++;
            // Runs count the same character only, as the original does.
            auto count = [&]() {
                while (p < n && AFormat[p] == starter)
                    ++p;
                return p - start;
            };
            switch (token) {
            case 'Y':
                FText += count() <= 2 ? Padded(Decoded().Year % 100, 2) : Padded(Decoded().Year, 4);
                break;
            case 'M': {
                const std::size_t c = count();
                const int month = Decoded().Month;
                if (c <= 2)
                    FText += Padded(month, c);
                else if (month >= 1)
                    FText +=
                        (c == 3 ? FSettings.ShortMonthNames
                                : FSettings.LongMonthNames)[static_cast<std::size_t>(month - 1)];
                break;
            }
            case 'D': {
                const std::size_t c = count();
                if (c <= 2)
                    FText += Padded(Decoded().Day, c);
                else if (c == 3)
                    FText +=
                        FSettings.ShortDayNames[static_cast<std::size_t>(Decoded().DayOfWeek - 1)];
                else if (c == 4)
                    FText +=
                        FSettings.LongDayNames[static_cast<std::size_t>(Decoded().DayOfWeek - 1)];
                else if (c == 5)
                    Append(FSettings.ShortDateFormat, ALevel + 1);
                else
                    Append(FSettings.LongDateFormat, ALevel + 1);
                break;
            }
            case 'H': {
                const std::size_t c = count();
                int hour = Decoded().Hour;
                if (TwelveHourClockFollows(AFormat, p)) {
                    hour %= 12;
                    if (hour == 0)
                        hour = 12;
                }
                FText += Padded(hour, c <= 1 ? 1 : 2);
                break;
            }
            case 'N':
                FText += Padded(Decoded().Min, count() <= 1 ? 1 : 2);
                break;
            case 'S':
                FText += Padded(Decoded().Sec, count() <= 1 ? 1 : 2);
                break;
            case 'Z':
                FText += Padded(Decoded().MSec, count() <= 1 ? 1 : 3);
                break;
            case 'T':
                Append(count() == 1 ? FSettings.ShortTimeFormat : FSettings.LongTimeFormat,
                       ALevel + 1);
                break;
            case 'C': {
                count();
                Append(FSettings.ShortDateFormat, ALevel + 1);
                const TDecoded& d = Decoded();
                // Milliseconds alone do not make a time worth showing.
                if (d.Hour != 0 || d.Min != 0 || d.Sec != 0) {
                    FText += ' ';
                    Append(FSettings.LongTimeFormat, ALevel + 1);
                }
                break;
            }
            case 'A': {
                const bool pm = Decoded().Hour >= 12;
                if (StartsWithNoCase(AFormat, start, "AM/PM")) {
                    FText.append(AFormat.substr(start + (pm ? 3 : 0), 2));
                    p = start + 5;
                } else if (StartsWithNoCase(AFormat, start, "A/P")) {
                    FText += AFormat[start + (pm ? 2 : 0)];
                    p = start + 3;
                } else if (StartsWithNoCase(AFormat, start, "AMPM")) {
                    FText += pm ? FSettings.TimePMString : FSettings.TimeAMString;
                    p = start + 4;
                } else {
                    FText += starter;
                }
                break;
            }
            case '/':
                FText += FSettings.DateSeparator;
                break;
            case ':':
                FText += FSettings.TimeSeparator;
                break;
            case '\'':
            case '"': {
                const std::size_t close = AFormat.find(starter, p);
                const std::size_t end = close == std::string_view::npos ? n : close;
                FText.append(AFormat.substr(p, end - p));
                p = end == n ? n : end + 1;
                break;
            }
            default:
                FText += starter;
                break;
            }
        }
    }

    const std::string& Text() const { return FText; }

private:
    const TDecoded& Decoded() {
        if (!FDecodedReady) {
            FDecoded = Decode(FValue);
            FDecodedReady = true;
        }
        return FDecoded;
    }

    // True when an am/pm token (AM/PM, A/P, AMPM) occurs at or after APos outside quotes.
    static bool TwelveHourClockFollows(std::string_view AFormat, std::size_t APos) {
        char quote = '\0';
        for (std::size_t i = APos; i < AFormat.size(); ++i) {
            const char c = AFormat[i];
            if (quote != '\0') {
                if (c == quote)
                    quote = '\0';
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if ((c == 'a' || c == 'A') && (StartsWithNoCase(AFormat, i, "AM/PM") ||
                                                  StartsWithNoCase(AFormat, i, "A/P") ||
                                                  StartsWithNoCase(AFormat, i, "AMPM"))) {
                return true;
            }
        }
        return false;
    }

    TDateTime FValue;
    const TFormatSettings& FSettings;
    TDecoded FDecoded;
    bool FDecodedReady = false;
    std::string FText;
};

struct TClockSample {
    TDateTime Date;
    TDateTime Time;
};

TClockSample ReadClock() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    // A leap second (tm_sec 60) is shown as the last second of its minute.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    return {
        EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
        EncodeTime(local.tm_hour, local.tm_min, second, static_cast<int>(now.tv_nsec / 1000000))};
}

} // namespace

bool IsLeapYear(int AYear) {
    return AYear % 4 == 0 && (AYear % 100 != 0 || AYear % 400 == 0);
}

bool TryEncodeDate(int AYear, int AMonth, int ADay, TDateTime& ADate) {
    if (AYear < 1 || AYear > 9999 || AMonth < 1 || AMonth > 12 || ADay < 1)
        return false;
    const int(&months)[12] = DaysInMonth[IsLeapYear(AYear) ? 1 : 0];
    if (ADay > months[AMonth - 1])
        return false;
    std::int64_t days = ADay;
    for (int m = 0; m < AMonth - 1; ++m)
        days += months[m];
    const std::int64_t y = AYear - 1;
    days += y * 365 + y / 4 - y / 100 + y / 400;
    ADate = static_cast<TDateTime>(days - DateDelta);
    return true;
}

bool TryEncodeTime(int AHour, int AMin, int ASec, int AMSec, TDateTime& ATime) {
    if (AHour < 0 || AHour >= 24 || AMin < 0 || AMin >= 60 || ASec < 0 || ASec >= 60 || AMSec < 0 ||
        AMSec >= 1000)
        return false;
    ATime = static_cast<TDateTime>(AHour * 3600000 + AMin * 60000 + ASec * 1000 + AMSec) /
            static_cast<TDateTime>(MSecsPerDay);
    return true;
}

TDateTime EncodeDate(int AYear, int AMonth, int ADay) {
    TDateTime result = 0;
    if (!TryEncodeDate(AYear, AMonth, ADay, result))
        throw EConvertError("Invalid argument to date encode");
    return result;
}

TDateTime EncodeTime(int AHour, int AMin, int ASec, int AMSec) {
    TDateTime result = 0;
    if (!TryEncodeTime(AHour, AMin, ASec, AMSec, result))
        throw EConvertError("Invalid argument to time encode");
    return result;
}

void DecodeDate(TDateTime ADate, int& AYear, int& AMonth, int& ADay) {
    const TDecoded d = Decode(ADate);
    AYear = d.Year;
    AMonth = d.Month;
    ADay = d.Day;
}

void DecodeTime(TDateTime ATime, int& AHour, int& AMin, int& ASec, int& AMSec) {
    const TDecoded d = Decode(ATime);
    AHour = d.Hour;
    AMin = d.Min;
    ASec = d.Sec;
    AMSec = d.MSec;
}

int DayOfWeek(TDateTime ADate) {
    return Decode(ADate).DayOfWeek;
}

TDateTime Date() {
    return ReadClock().Date;
}

TDateTime Time() {
    return ReadClock().Time;
}

TDateTime Now() {
    const TClockSample sample = ReadClock();
    return sample.Date + sample.Time;
}

std::string FormatDateTime(const std::string& AFormat, TDateTime ADateTime,
                           const TFormatSettings& ASettings) {
    TDateTimeFormatter formatter(ADateTime, ASettings);
    formatter.Append(AFormat.empty() ? std::string_view("c") : std::string_view(AFormat), 0);
    return formatter.Text();
}

std::string FormatDateTime(const std::string& AFormat, TDateTime ADateTime) {
    return FormatDateTime(AFormat, ADateTime, FormatSettings());
}

std::string DateTimeToStr(TDateTime ADateTime) {
    return FormatDateTime("c", ADateTime);
}

std::string DateToStr(TDateTime ADateTime) {
    return FormatDateTime(FormatSettings().ShortDateFormat, ADateTime);
}

std::string TimeToStr(TDateTime ADateTime) {
    return FormatDateTime(FormatSettings().LongTimeFormat, ADateTime);
}

} // namespace host
