// tests/host/core/SysUtilsLocaleTest.cpp - format settings derived from locale facts, the
// US-English table of the C locale, and locale-aware case mapping.
//
// Real locales other than C may be missing on a build machine, so the translation is tested
// from hand-made locale facts with the values glibc's locales carry.
#include "host/core/SysUtils.h"

#include <gtest/gtest.h>

#include <langinfo.h>
#include <locale.h>
#include <string>

using namespace host;

namespace {

class FormatSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { FSaved = FormatSettings(); }

    void TearDown() override { FormatSettings() = FSaved; }

    // Facts of a locale whose categories are all real (not C/POSIX), with English names.
    static TLocaleInfo Locale(const char* ADate, const char* ATime) {
        TLocaleInfo info = ReadLocaleInfo("C");
        info.TimeIsPosix = false;
        info.NumericIsPosix = false;
        info.MonetaryIsPosix = false;
        info.DateFormat = ADate;
        info.TimeFormat = ATime;
        info.TimeFormatAmPm = "%I:%M:%S %p";
        info.DateTimeFormat = "%a %d %b %Y %r %Z";
        info.DecimalPoint = ".";
        info.ThousandsSep = ",";
        return info;
    }

    static TDateTime Sample() { return EncodeDate(2003, 4, 5) + EncodeTime(13, 4, 5, 0); }

private:
    TFormatSettings FSaved;
};

} // namespace

TEST_F(FormatSettingsTest, CLocaleGivesTheUsEnglishTable) {
    for (const char* name : {"C", "POSIX", "no_SUCH.locale"}) {
        SCOPED_TRACE(name);
        const TFormatSettings s = GetLocaleFormatSettings(name);
        EXPECT_EQ(s.DecimalSeparator, '.');
        EXPECT_EQ(s.ThousandSeparator, ',');
        EXPECT_EQ(s.DateSeparator, '/');
        EXPECT_EQ(s.TimeSeparator, ':');
        EXPECT_EQ(s.ShortDateFormat, "M/d/yyyy");
        EXPECT_EQ(s.LongDateFormat, "dddd, MMMM dd, yyyy");
        EXPECT_EQ(s.ShortTimeFormat, "h:mm AMPM");
        EXPECT_EQ(s.LongTimeFormat, "h:mm:ss AMPM");
        EXPECT_EQ(s.TimeAMString, "AM");
        EXPECT_EQ(s.TimePMString, "PM");
        EXPECT_EQ(s.CurrencyString, "$");
        EXPECT_EQ(s.CurrencyFormat, 0);
        EXPECT_EQ(s.NegCurrFormat, 0);
        EXPECT_EQ(s.CurrencyDecimals, 2);
        EXPECT_EQ(s.ListSeparator, ',');
        EXPECT_EQ(s.ShortMonthNames[0], "Jan");
        EXPECT_EQ(s.LongMonthNames[11], "December");
        EXPECT_EQ(s.ShortDayNames[0], "Sun");
        EXPECT_EQ(s.LongDayNames[6], "Saturday");
        EXPECT_EQ(s, TFormatSettings());
    }
}

TEST_F(FormatSettingsTest, GetFormatSettingsDropsAssignmentsAndRereadsTheLocale) {
    FormatSettings().DecimalSeparator = '#';
    FormatSettings().ShortDateFormat = "yyyy";
    GetFormatSettings();
    EXPECT_EQ(FormatSettings(), GetLocaleFormatSettings(""));
}

TEST_F(FormatSettingsTest, TwentyFourHourLocale) {
    const TFormatSettings s = FormatSettingsFromLocaleInfo(Locale("%d/%m/%y", "%T"));
    EXPECT_EQ(s.ShortDateFormat, "dd/mm/yy");
    EXPECT_EQ(s.DateSeparator, '/');
    EXPECT_EQ(s.LongTimeFormat, "hh:mm:ss");
    EXPECT_EQ(s.ShortTimeFormat, "hh:mm");
    EXPECT_EQ(s.TimeSeparator, ':');
    EXPECT_EQ(FormatDateTime("c", Sample(), s), "05/04/03 13:04:05");
    EXPECT_EQ(FormatDateTime("t", Sample(), s), "13:04");
}

TEST_F(FormatSettingsTest, TwelveHourLocale) {
    const TFormatSettings s = FormatSettingsFromLocaleInfo(Locale("%m/%d/%Y", "%r"));
    EXPECT_EQ(s.ShortDateFormat, "mm/dd/yyyy");
    EXPECT_EQ(s.LongTimeFormat, "h:mm:ss AMPM");
    EXPECT_EQ(s.ShortTimeFormat, "h:mm AMPM");
    EXPECT_EQ(FormatDateTime("c", Sample(), s), "04/05/2003 1:04:05 PM");
}

TEST_F(FormatSettingsTest, GermanStyleLocale) {
    TLocaleInfo info = Locale("%d.%m.%Y", "%T");
    info.DateTimeFormat = "%a %d %b %Y %T %Z";
    info.DecimalPoint = ",";
    info.ThousandsSep = ".";
    info.AmString = "";
    info.PmString = "";
    info.LongDayNames[6] = "Samstag";
    info.ShortDayNames[6] = "Sa";
    info.LongMonthNames[3] = "April";
    info.CurrencySymbol = "\xE2\x82\xAC";
    info.FracDigits = 2;
    info.CsPrecedes = 0;
    info.SepBySpace = 1;
    info.NegCsPrecedes = 0;
    info.NegSepBySpace = 1;
    info.NegSignPosn = 1;
    const TFormatSettings s = FormatSettingsFromLocaleInfo(info);
    EXPECT_EQ(s.DateSeparator, '.');
    EXPECT_EQ(s.ShortDateFormat, "dd/mm/yyyy");
    EXPECT_EQ(s.LongDateFormat, "dddd dd mmmm yyyy");
    EXPECT_EQ(s.DecimalSeparator, ',');
    EXPECT_EQ(s.ThousandSeparator, '.');
    EXPECT_EQ(s.ListSeparator, ';');
    EXPECT_EQ(s.TimeAMString, "");
    EXPECT_EQ(s.CurrencyFormat, 3);
    EXPECT_EQ(s.NegCurrFormat, 8);
    EXPECT_EQ(FormatDateTime("c", Sample(), s), "05.04.2003 13:04:05");
    EXPECT_EQ(FormatDateTime("dddddd", Sample(), s), "Samstag 05 April 2003");
    EXPECT_EQ(FloatToStr(1234.5, s), "1234,5");
    EXPECT_EQ(Format("%m", {-1234.5}, s), "-1.234,50 \xE2\x82\xAC");
}

TEST_F(FormatSettingsTest, LiteralLettersInLocalePatternsAreQuoted) {
    TLocaleInfo info = Locale("%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", "%Hh%M");
    const TFormatSettings s = FormatSettingsFromLocaleInfo(info);
    EXPECT_EQ(s.DateSeparator, '/');
    EXPECT_EQ(FormatDateTime("ddddd", Sample(), s), "2003\xE5\xB9\xB4"
                                                    "04\xE6\x9C\x88"
                                                    "05\xE6\x97\xA5");
    EXPECT_EQ(FormatDateTime("tt", Sample(), s), "13h04");
}

TEST_F(FormatSettingsTest, MinutesWithoutAnHourBecomeN) {
    TLocaleInfo info = Locale("%d-%m-%Y", "%M:%S");
    const TFormatSettings s = FormatSettingsFromLocaleInfo(info);
    EXPECT_EQ(s.LongTimeFormat, "nn:ss");
    EXPECT_EQ(s.DateSeparator, '-');
    EXPECT_EQ(FormatDateTime("tt", Sample(), s), "04:05");
}

TEST_F(FormatSettingsTest, WideSpacesAndMissingSeparators) {
    TLocaleInfo info = Locale("%d/%m/%Y", "%T");
    info.DecimalPoint = ",";
    info.ThousandsSep = "\xE2\x80\xAF";
    EXPECT_EQ(FormatSettingsFromLocaleInfo(info).ThousandSeparator, ' ');
    info.ThousandsSep = "";
    const TFormatSettings s = FormatSettingsFromLocaleInfo(info);
    EXPECT_EQ(s.ThousandSeparator, '\0');
    EXPECT_EQ(Format("%n", {1234567.5}, s), "1234567,50");
}

TEST_F(FormatSettingsTest, CategoriesInTheCLocaleKeepTheirUsValues) {
    TLocaleInfo info = Locale("%d.%m.%Y", "%T");
    info.DecimalPoint = ",";
    info.NumericIsPosix = true;
    TFormatSettings s = FormatSettingsFromLocaleInfo(info);
    EXPECT_EQ(s.DecimalSeparator, '.');
    EXPECT_EQ(s.ShortDateFormat, "dd/mm/yyyy");
    info.NumericIsPosix = false;
    info.TimeIsPosix = true;
    s = FormatSettingsFromLocaleInfo(info);
    EXPECT_EQ(s.DecimalSeparator, ',');
    EXPECT_EQ(s.ShortDateFormat, "M/d/yyyy");
}

TEST(CaseMappingTest, AsciiFunctionsTouchOnlyAsciiLetters) {
    EXPECT_EQ(UpperCase("abc-XYZ \xC3\xBC"), "ABC-XYZ \xC3\xBC");
    EXPECT_EQ(LowerCase("ABC-xyz \xC3\x9C"), "abc-xyz \xC3\x9C");
}

TEST(CaseMappingTest, AnsiUpperCaseMapsUtf8TextPerCharacter) {
    const locale_t user = newlocale(LC_CTYPE_MASK, "", locale_t{});
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    // An unusable user locale falls back to C.
    const std::string codeset =
        user != locale_t{} ? nl_langinfo_l(CODESET, user) : "ANSI_X3.4-1968";
    if (user != locale_t{})
        freelocale(user);
    if (utf8 != locale_t{})
        freelocale(utf8);
    if (codeset != "UTF-8" && !(codeset == "ANSI_X3.4-1968" && utf8 != locale_t{}))
        GTEST_SKIP() << "the user's locale is neither UTF-8 nor C with C.UTF-8 installed";
    EXPECT_EQ(AnsiUpperCase("m\xC3\xBCller"), "M\xC3\x9CLLER");
    EXPECT_EQ(AnsiLowerCase("M\xC3\x9CLLER"), "m\xC3\xBCller");
    EXPECT_EQ(AnsiUpperCase("abc"), "ABC");
    // Broken sequences are passed through untouched.
    EXPECT_EQ(AnsiUpperCase("a\xFF\xC3z"), "A\xFF\xC3Z");
    EXPECT_EQ(AnsiUpperCase(""), "");
}
