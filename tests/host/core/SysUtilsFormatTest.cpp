// tests/host/core/SysUtilsFormatTest.cpp - Format(): grammar, argument pointer, conversions,
// type checks and the two error texts, with the US-English settings fixed per test.
#include "host/core/SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace host;

namespace {

class FormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSaved = FormatSettings();
        FormatSettings() = TFormatSettings();
    }

    void TearDown() override { FormatSettings() = FSaved; }

    // The EConvertError message of Format, or "" when it did not raise.
    static std::string ErrorOf(const std::string& AFormat, std::vector<TVarRec> AArgs) {
        try {
            Format(AFormat, std::span<const TVarRec>(AArgs));
        } catch (const EConvertError& e) {
            return e.Message();
        }
        return {};
    }

private:
    TFormatSettings FSaved;
};

struct TCase {
    const char* Format;
    std::vector<TVarRec> Args;
    const char* Expected;
};

void ExpectAll(const std::vector<TCase>& ACases) {
    for (const TCase& c : ACases) {
        SCOPED_TRACE(c.Format);
        EXPECT_EQ(Format(c.Format, std::span<const TVarRec>(c.Args)), c.Expected);
    }
}

class TSample : public TObject {};

} // namespace

TEST_F(FormatTest, CopiesPlainTextAndCollapsesDoublePercent) {
    ExpectAll({
        {"", {}, ""},
        {"no conversions", {}, "no conversions"},
        {"100%%", {}, "100%"},
        {"%%d", {}, "%d"},
        {"a%sb", {"-"}, "a-b"},
    });
}

TEST_F(FormatTest, WidthPadsWithoutEverTruncatingAndHasNoZeroFlag) {
    ExpectAll({
        {"[%5d]", {42}, "[   42]"},
        {"[%-5d]", {42}, "[42   ]"},
        {"[%05d]", {42}, "[   42]"},
        {"[%1d]", {12345}, "[12345]"},
        {"[%6s]", {"abc"}, "[   abc]"},
        {"[%-6s]", {"abc"}, "[abc   ]"},
        {"[%*.*f]", {8, 2, 123.456}, "[  123.46]"},
        {"[%-*d]", {4, 7}, "[7   ]"},
    });
}

TEST_F(FormatTest, TypeLetterIsCaseInsensitive) {
    ExpectAll({
        {"%D", {42}, "42"},
        {"%X", {255}, "FF"},
        {"%x", {255}, "FF"},
        {"%S", {"s"}, "s"},
        {"%F", {2.5}, "2.50"},
    });
}

TEST_F(FormatTest, IndexMovesTheArgumentPointer) {
    ExpectAll({
        {"%d %d %d %0:d %d", {1, 2, 3, 4}, "1 2 3 1 2"},
        {"%1:s %0:s", {"a", "b"}, "b a"},
        {"%1:s %s", {"a", "b", "c"}, "b c"},
        {"%*:s", {1, "x"}, "x"},
        {"%0:-4s|", {"ab"}, "ab  |"},
        {"%d", {1, 2, 3}, "1"},
    });
}

TEST_F(FormatTest, IntegerConversions) {
    ExpectAll({
        {"%d", {-5}, "-5"},
        {"%.3d", {-5}, "-005"},
        {"%.3d", {12345}, "12345"},
        {"%5.3d", {7}, "  007"},
        {"%d", {std::numeric_limits<int>::min()}, "-2147483648"},
        {"%d", {std::numeric_limits<std::int64_t>::min()}, "-9223372036854775808"},
        {"%d", {std::uint32_t{4294967295u}}, "4294967295"},
        {"%u", {-1}, "4294967295"},
        {"%u", {std::int64_t{-1}}, "18446744073709551615"},
        {"%x", {255}, "FF"},
        {"%.4x", {255}, "00FF"},
        {"%x", {-1}, "FFFFFFFF"},
        {"%x", {std::int64_t{-1}}, "FFFFFFFFFFFFFFFF"},
        {"%d", {short{-3}}, "-3"},
    });
}

TEST_F(FormatTest, FloatConversions) {
    ExpectAll({
        {"%e", {1.0}, "1.00000000000000E+000"},
        {"%.2e", {1234.5}, "1.2E+003"},
        {"%.3e", {-0.0009765625}, "-9.77E-004"},
        {"%e", {0.0}, "0.00000000000000E+000"},
        {"%f", {2.5}, "2.50"},
        {"%.0f", {2.5}, "3"},
        {"%.0f", {0.5}, "1"},
        {"%.0f", {-2.5}, "-3"},
        {"%.2f", {0.125}, "0.13"},
        {"%.2f", {-0.001}, "0.00"},
        {"%f", {1e20}, "1E20"},
        {"%g", {0.1}, "0.1"},
        {"%g", {1e20}, "1E20"},
        {"%.3g", {12345.0}, "1.23E4"},
        {"%g", {2.0 / 3.0}, "0.666666666666667"},
        {"%n", {1234567.891}, "1,234,567.89"},
        {"%n", {-1234567.891}, "-1,234,567.89"},
        {"%.0n", {999.5}, "1,000"},
        {"%n", {12.3}, "12.30"},
        {"%m", {-1234.5}, "($1,234.50)"},
        {"%m", {1234.5}, "$1,234.50"},
        {"%.0m", {1234.5}, "$1,235"},
        {"%f", {1.5f}, "1.50"},
        {"%f", {2.25L}, "2.25"},
    });
}

TEST_F(FormatTest, MoneyFollowsTheCurrencySettings) {
    FormatSettings().CurrencyString = "EUR";
    FormatSettings().CurrencyFormat = 3;
    FormatSettings().NegCurrFormat = 8;
    FormatSettings().CurrencyDecimals = 1;
    FormatSettings().ThousandSeparator = '.';
    FormatSettings().DecimalSeparator = ',';
    EXPECT_EQ(Format("%m", {1234.56}), "1.234,6 EUR");
    EXPECT_EQ(Format("%m", {-1234.56}), "-1.234,6 EUR");
    EXPECT_EQ(Format("%.2m", {-1.0}), "-1,00 EUR");
}

TEST_F(FormatTest, SpecialFloatValuesPrintInUpperCase) {
    const double inf = std::numeric_limits<double>::infinity();
    ExpectAll({
        {"%f", {std::nan("")}, "NAN"},
        {"%e", {inf}, "INF"},
        {"%g", {-inf}, "-INF"},
        {"%6n", {inf}, "   INF"},
    });
}

TEST_F(FormatTest, PointerPrintsEightUpperCaseHexDigits) {
    int local = 0;
    const auto low = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&local));
    ExpectAll({
        {"%p", {nullptr}, "00000000"},
        {"%p", {reinterpret_cast<void*>(std::uintptr_t{0x0012FF40})}, "0012FF40"},
        {"%10p", {reinterpret_cast<void*>(std::uintptr_t{0xABCDEF})}, "  00ABCDEF"},
    });
    EXPECT_EQ(Format("%p", {&local}), IntToHex(static_cast<int>(low), 8));
}

TEST_F(FormatTest, StringConversionTakesTextCharactersAndNullPChar) {
    const std::string owned = "owned";
    const char* none = nullptr;
    char buffer[] = "buf";
    ExpectAll({
        {"%.2s", {"abc"}, "ab"},
        {"%.0s", {"abc"}, ""},
        {"%s", {owned}, "owned"},
        {"%s", {std::string_view("view")}, "view"},
        {"%s", {none}, ""},
        {"%s", {buffer}, "buf"},
        {"%s%s", {'x', 'y'}, "xy"},
        {"%3s", {'c'}, "  c"},
    });
}

TEST_F(FormatTest, ArgumentTypesAreKeptApart) {
    TSample object;
    int value = 0;
    EXPECT_EQ(TVarRec(true).VType(), vtBoolean);
    EXPECT_EQ(TVarRec('c').VType(), vtChar);
    EXPECT_EQ(TVarRec(1).VType(), vtInteger);
    EXPECT_EQ(TVarRec(std::uint16_t{1}).VType(), vtInteger);
    EXPECT_EQ(TVarRec(1u).VType(), vtInt64);
    EXPECT_EQ(TVarRec(std::int64_t{1}).VType(), vtInt64);
    EXPECT_EQ(TVarRec(std::size_t{1}).VType(), vtInt64);
    EXPECT_EQ(TVarRec(1.0).VType(), vtExtended);
    EXPECT_EQ(TVarRec("a").VType(), vtPChar);
    EXPECT_EQ(TVarRec(std::string("a")).VType(), vtAnsiString);
    EXPECT_EQ(TVarRec(&object).VType(), vtObject);
    EXPECT_EQ(TVarRec(&value).VType(), vtPointer);
    EXPECT_EQ(TVarRec(nullptr).VType(), vtPointer);
}

TEST_F(FormatTest, ConversionsRefuseArgumentsOfAnotherKind) {
    TSample object;
    const std::string invalid = "invalid or incompatible with argument";
    const std::vector<TCase> refused = {
        {"%f", {1}, ""},          {"%e", {std::int64_t{1}}, ""},
        {"%d", {1.5}, ""},        {"%x", {2.0}, ""},
        {"%d", {true}, ""},       {"%s", {true}, ""},
        {"%f", {true}, ""},       {"%p", {true}, ""},
        {"%d", {'c'}, ""},        {"%s", {1}, ""},
        {"%s", {&object}, ""},    {"%p", {&object}, ""},
        {"%p", {1}, ""},          {"%*d", {1.5, 3}, ""},
        {"%.*f", {"2", 1.0}, ""}, {"%*:d", {"0", 1}, ""},
    };
    for (const TCase& c : refused) {
        SCOPED_TRACE(c.Format);
        EXPECT_EQ(ErrorOf(c.Format, c.Args), "Format '" + std::string(c.Format) + "' " + invalid);
    }
}

TEST_F(FormatTest, MalformedSpecifiersAreInvalid) {
    for (const char* format : {"%z", "%", "abc%", "%5", "%-", "%1:", "%.", "%99999999999d"}) {
        SCOPED_TRACE(format);
        EXPECT_EQ(ErrorOf(format, {1}),
                  "Format '" + std::string(format) + "' invalid or incompatible with argument");
    }
}

TEST_F(FormatTest, MissingArgumentsAreReportedAsSuch) {
    const std::vector<TCase> missing = {
        {"%d", {}, ""},  {"%5:d", {1}, ""}, {"%d %d", {1}, ""},
        {"%*d", {}, ""}, {"%*d", {5}, ""},  {"%z", {}, ""},
    };
    for (const TCase& c : missing) {
        SCOPED_TRACE(c.Format);
        EXPECT_EQ(ErrorOf(c.Format, c.Args),
                  "No argument for format '" + std::string(c.Format) + "'");
    }
}

TEST_F(FormatTest, ErrorTextQuotesTheWholeFormatCutToThirtyOneCharacters) {
    EXPECT_EQ(ErrorOf("Value of item number %d is %s", {1, 2}),
              "Format 'Value of item number %d is %s' invalid or incompatible with argument");
    EXPECT_EQ(ErrorOf("The value of item number %d is %s", {1, 2}),
              "Format 'The value of item number %d is ' invalid or incompatible with argument");
    EXPECT_EQ(ErrorOf("The value of item number %d is %s", {}),
              "No argument for format 'The value of item number %d is '");
}

TEST_F(FormatTest, RunTimeArgumentListsAndExplicitSettings) {
    std::vector<TVarRec> args;
    args.emplace_back(std::string("x"));
    args.emplace_back(0);
    EXPECT_EQ(Format("%s=%d", std::span<const TVarRec>(args)), "x=0");
    EXPECT_EQ(Format("%d %d", {0, 2}), "0 2");
    TFormatSettings german;
    german.DecimalSeparator = ',';
    german.ThousandSeparator = '.';
    EXPECT_EQ(Format("%n", std::vector<TVarRec>{1234.5}, german), "1.234,50");
    EXPECT_EQ(Format("%n", {1234.5}), "1,234.50");
}
