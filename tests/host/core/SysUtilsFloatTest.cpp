// tests/host/core/SysUtilsFloatTest.cpp - number conversions both ways: IntToStr, IntToHex,
// StrToInt, FloatToStr, FloatToStrF and StrToFloat, including their exact error texts.
#include "host/core/SysUtils.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace host;

namespace {

class NumberConversionTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSaved = FormatSettings();
        FormatSettings() = TFormatSettings();
    }

    void TearDown() override { FormatSettings() = FSaved; }

private:
    TFormatSettings FSaved;
};

template <typename F>
std::string ErrorOf(F AAction) {
    try {
        AAction();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return {};
}

} // namespace

TEST_F(NumberConversionTest, IntToStrPrintsPlainDecimal) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_EQ(IntToStr(std::numeric_limits<int>::min()), "-2147483648");
    EXPECT_EQ(IntToStr(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(IntToStr(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
    EXPECT_EQ(IntToStr(std::uint16_t{65535}), "65535");
    EXPECT_EQ(IntToStr(4294967295u), "4294967295");
}

TEST_F(NumberConversionTest, IntToHexPadsButNeverTruncates) {
    EXPECT_EQ(IntToHex(255, 4), "00FF");
    EXPECT_EQ(IntToHex(0, 0), "0");
    EXPECT_EQ(IntToHex(0x1234, 2), "1234");
    EXPECT_EQ(IntToHex(-1, 0), "FFFFFFFF");
    EXPECT_EQ(IntToHex(std::int64_t{-1}, 1), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(IntToHex(std::int64_t{0xABC}, 8), "00000ABC");
    EXPECT_EQ(IntToHex(1, 40).size(), 32u);
}

TEST_F(NumberConversionTest, StrToIntAcceptsPascalIntegerSyntax) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"42", 42},
        {"  42", 42},
        {"-42", -42},
        {"+42", 42},
        {"007", 7},
        {"$FF", 255},
        {"$ff", 255},
        {"-$10", -16},
        {"$FFFFFFFF", -1},
        {"$7FFFFFFF", 2147483647},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<int>::min()},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(StrToInt(text), value);
    }
}

TEST_F(NumberConversionTest, StrToIntRejectsEverythingElseQuotingTheTextAsPassed) {
    for (const char* text : {"", " ", "12a", "42 ", "2147483648", "-2147483649", "$", "$1FFFFFFFF",
                             "1.0", "\t1", "0x10", "- 1", "--1", "1e3"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ErrorOf([&] { StrToInt(text); }),
                  "'" + std::string(text) + "' is not a valid integer value");
    }
}

TEST_F(NumberConversionTest, IntegerParsingVariants) {
    EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(StrToInt64("4294967296"), 4294967296LL);
    EXPECT_EQ(ErrorOf([] { StrToInt64("9223372036854775808"); }),
              "'9223372036854775808' is not a valid integer value");
    EXPECT_EQ(StrToIntDef("x", 7), 7);
    EXPECT_EQ(StrToIntDef("8", 7), 8);
    int value = 5;
    EXPECT_FALSE(TryStrToInt("five", value));
    EXPECT_EQ(value, 5);
    EXPECT_TRUE(TryStrToInt("6", value));
    EXPECT_EQ(value, 6);
}

TEST_F(NumberConversionTest, FloatToStrUsesFifteenSignificantDigitsAndSwitchesAtTheLimits) {
    const std::vector<std::pair<long double, const char*>> cases = {
        {0.0, "0"},
        {100.0, "100"},
        {12.5, "12.5"},
        {0.1, "0.1"},
        {1.0 / 3.0, "0.333333333333333"},
        {2.0 / 3.0, "0.666666666666667"},
        {0.0001, "0.0001"},
        {0.0000999, "9.99E-5"},
        {1.5E-5, "1.5E-5"},
        {-1.5E-10, "-1.5E-10"},
        {1E14, "100000000000000"},
        {123456789012345.0, "123456789012345"},
        {999999999999999.9, "1E15"},
        {1E15, "1E15"},
        {1234567890123456.0, "1.23456789012346E15"},
        {1E20, "1E20"},
        {1E100, "1E100"},
        {1234567890.123456789, "1234567890.12346"},
        {-0.0, "0"},
        {0.1 + 0.2, "0.3"},
        {LDBL_MAX, "1.18973149535723E4932"},
        {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(FloatToStr(value), text);
    }
}

TEST_F(NumberConversionTest, FloatToStrPrintsSpecialValuesAndTheCurrentSeparator) {
    EXPECT_EQ(FloatToStr(std::nan("")), "NAN");
    EXPECT_EQ(FloatToStr(std::numeric_limits<double>::infinity()), "INF");
    EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
    FormatSettings().DecimalSeparator = ',';
    FormatSettings().ThousandSeparator = '.';
    EXPECT_EQ(FloatToStr(12345.5), "12345,5");
    EXPECT_EQ(FloatToStr(1.5E-5), "1,5E-5");
    TFormatSettings us;
    EXPECT_EQ(FloatToStr(12345.5, us), "12345.5");
}

TEST_F(NumberConversionTest, FloatToStrFFormats) {
    struct TCase {
        long double Value;
        TFloatFormat Format;
        int Precision, Digits;
        const char* Expected;
    };

    const std::vector<TCase> cases = {
        {12345, ffGeneral, 3, 0, "1.23E4"},
        {1.5E-5, ffGeneral, 15, 3, "1.5E-005"},
        {1E20, ffGeneral, 15, 4, "1E0020"},
        {123, ffGeneral, 3, 0, "123"},
        {1234.5, ffExponent, 4, 2, "1.235E+03"},
        {-0.5, ffExponent, 2, 0, "-5.0E-1"},
        {7, ffExponent, 1, 3, "7E+000"},
        {1234.5678, ffFixed, 15, 2, "1234.57"},
        {0.004, ffFixed, 15, 2, "0.00"},
        {0.005, ffFixed, 15, 2, "0.01"},
        {-3, ffFixed, 15, 0, "-3"},
        {1E20, ffFixed, 15, 2, "1E20"},
        {1234567.891, ffNumber, 15, 2, "1,234,567.89"},
        {123, ffNumber, 15, 0, "123"},
        {123456, ffNumber, 15, 1, "123,456.0"},
        {1.5, ffCurrency, 15, 2, "$1.50"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Expected);
        EXPECT_EQ(FloatToStrF(c.Value, c.Format, c.Precision, c.Digits), c.Expected);
    }
}

TEST_F(NumberConversionTest, CurrencyLayoutsFollowTheSettings) {
    const char* positive[] = {"$1.50", "1.50$", "$ 1.50", "1.50 $"};
    for (std::uint8_t f = 0; f < 4; ++f) {
        FormatSettings().CurrencyFormat = f;
        EXPECT_EQ(FloatToStrF(1.5, ffCurrency, 15, 2), positive[f]);
    }
    const char* negative[] = {"($1.50)", "-$1.50",  "$-1.50",   "$1.50-",  "(1.50$)", "-1.50$",
                              "1.50-$",  "1.50$-",  "-1.50 $",  "-$ 1.50", "1.50 $-", "$ 1.50-",
                              "$ -1.50", "1.50- $", "($ 1.50)", "(1.50 $)"};
    for (std::uint8_t f = 0; f < 16; ++f) {
        FormatSettings().NegCurrFormat = f;
        EXPECT_EQ(FloatToStrF(-1.5, ffCurrency, 15, 2), negative[f]) << int(f);
    }
}

TEST_F(NumberConversionTest, StrToFloatAcceptsTheFrameworkSyntax) {
    const std::vector<std::pair<const char*, long double>> cases = {
        {"1.5", 1.5L},       {" 1.5 ", 1.5L},        {"-2", -2.0L},    {"+3", 3.0L},
        {".5", 0.5L},        {"5.", 5.0L},           {"1e3", 1000.0L}, {"1E+3", 1000.0L},
        {"1.5e-2", 0.015L},  {"  -0.25e1  ", -2.5L}, {"0", 0.0L},      {"1e-5000", 0.0L},
        {"1e4000", 1e4000L},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(StrToFloat(text), value);
    }
}

TEST_F(NumberConversionTest, StrToFloatRejectsOtherTextQuotingItAsPassed) {
    for (const char* text :
         {"", " ", ".", "1,5", "\t1.5", "1.5\t", "INF", "NAN", "0x10", "$1", "1e", "1e+", "1.5.2",
          "1 5", "- 1", "1,000.5", "e5", "1e99999", "--1"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ErrorOf([&] { StrToFloat(text); }),
                  "'" + std::string(text) + "' is not a valid floating point value");
    }
}

TEST_F(NumberConversionTest, StrToFloatAcceptsOnlyTheCurrentDecimalSeparator) {
    FormatSettings().DecimalSeparator = ',';
    EXPECT_EQ(StrToFloat("1,5"), 1.5L);
    EXPECT_EQ(ErrorOf([] { StrToFloat("1.5"); }), "'1.5' is not a valid floating point value");
    long double value = 9;
    EXPECT_FALSE(TryStrToFloat("1.5", value));
    EXPECT_EQ(value, 9);
    TFormatSettings us;
    EXPECT_TRUE(TryStrToFloat("1.5", value, us));
    EXPECT_EQ(value, 1.5L);
}

TEST_F(NumberConversionTest, TextRoundTripsThroughFloatToStr) {
    for (double v : {0.1, 2.0 / 3.0, 123456.789, 1e-7, -9.87654321e12}) {
        SCOPED_TRACE(v);
        const long double back = StrToFloat(FloatToStr(v));
        EXPECT_NEAR(static_cast<double>(back), v, std::fabs(v) * 1e-14);
    }
}
