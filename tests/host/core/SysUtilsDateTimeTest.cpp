// tests/host/core/SysUtilsDateTimeTest.cpp - TDateTime encoding and decoding, the clock, and
// FormatDateTime with every token of the pattern language under the US-English settings.
#include "host/core/SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

using namespace host;

namespace {

class DateTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSaved = FormatSettings();
        FormatSettings() = TFormatSettings();
    }

    void TearDown() override { FormatSettings() = FSaved; }

    // 2003-04-05 (a Saturday) 13:04:05.007.
    static TDateTime Sample() { return EncodeDate(2003, 4, 5) + EncodeTime(13, 4, 5, 7); }

private:
    TFormatSettings FSaved;
};

struct TFormatCase {
    const char* Pattern;
    const char* Expected;
};

void ExpectFormats(TDateTime AValue, const std::vector<TFormatCase>& ACases) {
    for (const TFormatCase& c : ACases) {
        SCOPED_TRACE(c.Pattern);
        EXPECT_EQ(FormatDateTime(c.Pattern, AValue), c.Expected);
    }
}

} // namespace

TEST_F(DateTimeTest, EncodesDaysSinceTheEndOf1899AndFractionsOfADay) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(2003, 4, 5), 37716.0);
    EXPECT_EQ(EncodeDate(1900, 3, 1), 61.0);
    EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
    EXPECT_NEAR(EncodeTime(13, 4, 5, 0), 0.5445023148, 1e-10);
    EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_EQ(EncodeTime(0, 0, 0, 1), 1.0 / 86400000.0);
}

TEST_F(DateTimeTest, EncodingRejectsImpossibleDatesAndTimes) {
    const std::vector<std::vector<int>> dates = {{0, 1, 1},     {10000, 1, 1}, {2003, 0, 1},
                                                 {2003, 13, 1}, {2003, 4, 0},  {2003, 4, 31},
                                                 {1900, 2, 29}, {2003, 2, 29}};
    for (const auto& d : dates) {
        try {
            EncodeDate(d[0], d[1], d[2]);
            ADD_FAILURE() << d[0] << "-" << d[1] << "-" << d[2] << " accepted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Invalid argument to date encode");
        }
    }
    const std::vector<std::vector<int>> times = {
        {24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}};
    for (const auto& t : times) {
        try {
            EncodeTime(t[0], t[1], t[2], t[3]);
            ADD_FAILURE() << t[0] << ":" << t[1] << ":" << t[2] << "." << t[3] << " accepted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "Invalid argument to time encode");
        }
    }
    TDateTime value = 7;
    EXPECT_FALSE(TryEncodeDate(2003, 2, 29, value));
    EXPECT_FALSE(TryEncodeTime(25, 0, 0, 0, value));
    EXPECT_EQ(value, 7);
}

TEST_F(DateTimeTest, DecodingInvertsEncodingAcrossTheCalendar) {
    for (int year : {1, 4, 100, 400, 1600, 1899, 1900, 2000, 2003, 2100, 9999}) {
        for (int month = 1; month <= 12; ++month) {
            for (int day : {1, 28, month == 2 ? (IsLeapYear(year) ? 29 : 28) : 30}) {
                int y = 0, m = 0, d = 0;
                DecodeDate(EncodeDate(year, month, day), y, m, d);
                ASSERT_EQ(y * 10000 + m * 100 + d, year * 10000 + month * 100 + day);
            }
        }
    }
    int h = 0, n = 0, s = 0, ms = 0;
    DecodeTime(EncodeTime(23, 59, 59, 999), h, n, s, ms);
    EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 235959999);
}

TEST_F(DateTimeTest, DecodingRoundsToMillisecondsAndCarriesIntoTheNextDay) {
    const TDateTime almostMidnight = EncodeDate(2003, 4, 5) + 86399999.6 / 86400000.0;
    int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
    DecodeDate(almostMidnight, y, m, d);
    DecodeTime(almostMidnight, h, n, s, ms);
    EXPECT_EQ(d, 6);
    EXPECT_EQ(h + n + s + ms, 0);
    EXPECT_EQ(DateTimeToStr(almostMidnight), "4/6/2003");
}

TEST_F(DateTimeTest, NegativeValuesCountDaysBackAndKeepTheTimeMagnitude) {
    int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
    DecodeDate(-1.25, y, m, d);
    DecodeTime(-1.25, h, n, s, ms);
    EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
    EXPECT_EQ(h, 6);
    DecodeDate(-700000.0, y, m, d);
    EXPECT_EQ(y + m + d, 0);
}

TEST_F(DateTimeTest, UndecodableValuesRaiseInsteadOfOverflowing) {
    int y = 0, m = 0, d = 0;
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
        EXPECT_THROW(DecodeDate(bad, y, m, d), EInvalidOp);
        EXPECT_THROW(FormatDateTime("yyyy", bad), EInvalidOp);
    }
    EXPECT_EQ(FormatDateTime("'no fields'", std::nan("")), "no fields");
}

TEST_F(DateTimeTest, DayOfWeekStartsOnSunday) {
    EXPECT_EQ(DayOfWeek(EncodeDate(2003, 4, 5)), 7);
    EXPECT_EQ(DayOfWeek(EncodeDate(2003, 4, 6)), 1);
    EXPECT_EQ(DayOfWeek(0.0), 7);
    EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);
}

TEST_F(DateTimeTest, ClockReadsLocalTimeInWholeMilliseconds) {
    const std::time_t before = std::time(nullptr);
    const TDateTime now = Now();
    const TDateTime today = Date();
    const TDateTime time = Time();
    std::tm local{};
    localtime_r(&before, &local);
    EXPECT_EQ(std::floor(today), today);
    EXPECT_GE(time, 0.0);
    EXPECT_LT(time, 1.0);
    const double ms = now * 86400000.0;
    EXPECT_NEAR(ms, std::round(ms), 0.01);
    int y = 0, m = 0, d = 0;
    DecodeDate(now, y, m, d);
    // The day may have turned between the two readings; then the next test run will agree.
    if (y == local.tm_year + 1900 && m == local.tm_mon + 1 && d == local.tm_mday) {
        EXPECT_EQ(std::floor(now), EncodeDate(y, m, d));
        int h = 0, n = 0, s = 0, msec = 0;
        DecodeTime(now, h, n, s, msec);
        const int seconds = h * 3600 + n * 60 + s;
        const int expected = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
        EXPECT_GE(seconds, expected);
        EXPECT_LE(seconds, expected + 5);
    }
}

TEST_F(DateTimeTest, DateTokens) {
    ExpectFormats(Sample(), {
                                {"d", "5"},
                                {"dd", "05"},
                                {"ddd", "Sat"},
                                {"dddd", "Saturday"},
                                {"ddddd", "4/5/2003"},
                                {"dddddd", "Saturday, April 05, 2003"},
                                {"m", "4"},
                                {"mm", "04"},
                                {"mmm", "Apr"},
                                {"mmmm", "April"},
                                {"y", "03"},
                                {"yy", "03"},
                                {"yyy", "2003"},
                                {"yyyy", "2003"},
                                {"D/M/YY", "5/4/03"},
                                {"dd/mm/yyyy", "05/04/2003"},
                            });
    ExpectFormats(EncodeDate(7, 11, 23), {{"yyyy", "0007"}, {"yy", "07"}, {"d m", "23 11"}});
}

TEST_F(DateTimeTest, TimeTokens) {
    ExpectFormats(Sample(), {
                                {"h", "13"},
                                {"hh", "13"},
                                {"n", "4"},
                                {"nn", "04"},
                                {"s", "5"},
                                {"ss", "05"},
                                {"z", "7"},
                                {"zz", "007"},
                                {"zzz", "007"},
                                {"t", "1:04 PM"},
                                {"tt", "1:04:05 PM"},
                                {"yyyy-mm-dd hh:nn:ss.zzz", "2003-04-05 13:04:05.007"},
                            });
    ExpectFormats(EncodeTime(9, 3, 0, 0), {{"h:nn", "9:03"}, {"hh:nn", "09:03"}});
}

TEST_F(DateTimeTest, MAfterAnHourTokenMeansMinutes) {
    // November, four minutes past: month and minute differ.
    ExpectFormats(EncodeDate(2003, 11, 5) + EncodeTime(13, 4, 5, 0),
                  {
                      {"h:m", "13:4"},
                      {"hh:mm", "13:04"},
                      {"hh mm", "13 04"},
                      {"hh'h'mm", "13h04"},
                      {"hh:nn d m", "13:04 5 11"},
                      {"mm hh", "11 13"},
                      {"h:m:m", "13:4:11"},
                      {"dd/mm hh:mm", "05/11 13:04"},
                  });
}

TEST_F(DateTimeTest, AmPmTokensSelectTheTwelveHourClock) {
    const TDateTime afternoon = Sample();
    const TDateTime morning = EncodeDate(2003, 4, 5) + EncodeTime(0, 0, 5, 0);
    ExpectFormats(afternoon, {
                                 {"h am/pm", "1 pm"},
                                 {"hh AM/PM", "01 PM"},
                                 {"h Am/pM", "1 pM"},
                                 {"h a/p", "1 p"},
                                 {"h A/P", "1 P"},
                                 {"h ampm", "1 PM"},
                                 {"hh:nn 'am/pm'", "13:04 am/pm"},
                                 {"ampm h", "PM 13"},
                                 {"h:nn:ss AMPM hh", "1:04:05 PM 13"},
                                 {"ax", "ax"},
                             });
    ExpectFormats(
        morning,
        {{"h am/pm", "12 am"}, {"h Am/pM", "12 Am"}, {"h a/p", "12 a"}, {"h AMPM", "12 AM"}});
    FormatSettings().TimeAMString = "vorm.";
    FormatSettings().TimePMString = "nachm.";
    EXPECT_EQ(FormatDateTime("h ampm", afternoon), "1 nachm.");
}

TEST_F(DateTimeTest, SeparatorsQuotesAndOtherCharacters) {
    FormatSettings().DateSeparator = '-';
    FormatSettings().TimeSeparator = '.';
    ExpectFormats(Sample(), {
                                {"dd/mm/yyyy hh:nn", "05-04-2003 13.04"},
                                {"'dd/mm' \"hh:nn\"", "dd/mm hh:nn"},
                                {"'unterminated", "unterminated"},
                                {"[d] #1 ;", "[5] #1 ;"},
                                {"x", "x"},
                            });
}

TEST_F(DateTimeTest, UnquotedTIsTheShortTimeToken) {
    EXPECT_EQ(FormatDateTime("yyyy-mm-ddThh:nn:ss", Sample()), "2003-04-051:04 PM13:04:05");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd'T'hh:nn:ss", Sample()), "2003-04-05T13:04:05");
}

TEST_F(DateTimeTest, CPrintsTheTimeOnlyWhenHoursMinutesOrSecondsAreSet) {
    const TDateTime day = EncodeDate(2003, 4, 5);
    const std::vector<std::pair<TDateTime, const char*>> cases = {
        {day + EncodeTime(13, 4, 5, 0), "4/5/2003 1:04:05 PM"},
        {day, "4/5/2003"},
        {day + EncodeTime(0, 0, 5, 0), "4/5/2003 12:00:05 AM"},
        {day + EncodeTime(0, 0, 0, 400), "4/5/2003"},
        {0.5, "12/30/1899 12:00:00 PM"},
        {0.0, "12/30/1899"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(DateTimeToStr(value), text);
        EXPECT_EQ(FormatDateTime("c", value), text);
        EXPECT_EQ(FormatDateTime("", value), text);
    }
}

TEST_F(DateTimeTest, DateAndTimeToStrUseTheShortDateAndLongTimeFormats) {
    const TDateTime value = Sample();
    EXPECT_EQ(DateToStr(value), "4/5/2003");
    EXPECT_EQ(TimeToStr(value), "1:04:05 PM");
    FormatSettings().ShortDateFormat = "dd/MM/yyyy";
    FormatSettings().LongTimeFormat = "hh:mm:ss";
    EXPECT_EQ(DateTimeToStr(EncodeDate(2003, 4, 5) + EncodeTime(13, 4, 5, 0)),
              "05/04/2003 13:04:05");
    EXPECT_EQ(DateToStr(value), "05/04/2003");
    EXPECT_EQ(TimeToStr(value), "13:04:05");
}

TEST_F(DateTimeTest, SelfReferringPatternsStopExpanding) {
    FormatSettings().ShortDateFormat = "c";
    FormatSettings().LongTimeFormat = "tt";
    EXPECT_EQ(FormatDateTime("c", Sample()), "  ");
    FormatSettings().ShortDateFormat = "d ddddd";
    EXPECT_EQ(FormatDateTime("ddddd", Sample()), "5 ");
}

TEST_F(DateTimeTest, NamesComeFromTheSettings) {
    FormatSettings().LongMonthNames[3] = "Avril";
    FormatSettings().ShortDayNames[6] = "sam";
    EXPECT_EQ(FormatDateTime("ddd d mmmm", Sample()), "sam 5 Avril");
    TFormatSettings own;
    own.LongDayNames[6] = "Samstag";
    EXPECT_EQ(FormatDateTime("dddd", Sample(), own), "Samstag");
}
