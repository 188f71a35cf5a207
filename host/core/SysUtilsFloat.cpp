// host/core/SysUtilsFloat.cpp - float to text (FloatToStrF, FloatToStr) and back (StrToFloat).
//
// The original prints from the 18-significant-digit decimal expansion of an 80-bit extended
// value and rounds that digit string half up. x86-64 long double is the same format, so the
// expansion comes from the C library's correctly rounded "%.17Le" and the rounding is done
// here by hand. Format's e f g n m conversions land here too.
#include "host/core/SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace host {

namespace {

constexpr int MaxPrecision = 18;

// A value as 0.d1d2...dk x 10^Exponent; no digits means zero.
struct TFloatDigits {
    bool Negative = false;
    int Exponent = 0;
    std::string Digits;
};

TFloatDigits Expand(long double AValue) {
    TFloatDigits result;
    result.Negative = std::signbit(AValue);
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.*Le", MaxPrecision - 1, std::fabs(AValue));
    // buffer: "d.ddddddddddddddddde+XX"
    result.Digits.push_back(buffer[0]);
    const char* p = buffer + 2;
    while (*p >= '0' && *p <= '9')
        result.Digits.push_back(*p++);
    result.Exponent = static_cast<int>(std::strtol(p + 1, nullptr, 10)) + 1;
    return result;
}

void TrimZeros(TFloatDigits& ADigits) {
    const std::size_t last = ADigits.Digits.find_last_not_of('0');
    ADigits.Digits.resize(last == std::string::npos ? 0 : last + 1);
    if (ADigits.Digits.empty()) {
        ADigits.Exponent = 0;
        ADigits.Negative = false;
    }
}

// Keeps ACount significant digits, rounding half up; ACount may be 0 or negative (the value is
// below the last place kept).
void RoundTo(TFloatDigits& ADigits, int ACount) {
    std::string& d = ADigits.Digits;
    if (ACount < 0) {
        d.clear();
    } else if (static_cast<std::size_t>(ACount) < d.size()) {
        const bool up = d[static_cast<std::size_t>(ACount)] >= '5';
        d.resize(static_cast<std::size_t>(ACount));
        if (up) {
            std::size_t i = d.size();
            while (i > 0 && d[i - 1] == '9')
                d[--i] = '0';
            if (i == 0) {
                d.insert(d.begin(), '1');
                ++ADigits.Exponent;
            } else {
                ++d[i - 1];
            }
        }
    }
    TrimZeros(ADigits);
}

// The digits shown for APrecision significant digits, or fewer when only ADecimals places
// after the point are wanted.
TFloatDigits FloatToDecimal(long double AValue, int APrecision, int ADecimals) {
    TFloatDigits result = Expand(AValue);
    TrimZeros(result);
    if (!result.Digits.empty())
        RoundTo(result, std::min(APrecision, result.Exponent + ADecimals));
    return result;
}

std::string ExponentText(int AExponent, int AMinDigits) {
    std::string digits = std::to_string(AExponent < 0 ? -AExponent : AExponent);
    if (digits.size() < static_cast<std::size_t>(AMinDigits))
        digits.insert(0, static_cast<std::size_t>(AMinDigits) - digits.size(), '0');
    return digits;
}

std::string GeneralText(const TFloatDigits& AValue, int APrecision, int AExpDigits,
                        const TFormatSettings& ASettings) {
    if (AValue.Digits.empty())
        return "0";
    const std::string& d = AValue.Digits;
    const int e = AValue.Exponent;
    std::string text = AValue.Negative ? "-" : "";
    if (e <= APrecision && e >= -3) {
        if (e <= 0) {
            text += '0';
            text += ASettings.DecimalSeparator;
            text.append(static_cast<std::size_t>(-e), '0');
            text += d;
        } else if (d.size() <= static_cast<std::size_t>(e)) {
            text += d;
            text.append(static_cast<std::size_t>(e) - d.size(), '0');
        } else {
            text.append(d, 0, static_cast<std::size_t>(e));
            text += ASettings.DecimalSeparator;
            text.append(d, static_cast<std::size_t>(e), std::string::npos);
        }
        return text;
    }
    text += d[0];
    if (d.size() > 1) {
        text += ASettings.DecimalSeparator;
        text.append(d, 1, std::string::npos);
    }
    text += 'E';
    if (e - 1 < 0)
        text += '-';
    return text + ExponentText(e - 1, AExpDigits);
}

std::string ExponentFormText(const TFloatDigits& AValue, int APrecision, int AExpDigits,
                             const TFormatSettings& ASettings) {
    std::string mantissa = AValue.Digits;
    mantissa.resize(static_cast<std::size_t>(APrecision), '0');
    const int exponent = AValue.Digits.empty() ? 0 : AValue.Exponent - 1;
    std::string text = AValue.Negative ? "-" : "";
    text += mantissa[0];
    if (mantissa.size() > 1) {
        text += ASettings.DecimalSeparator;
        text.append(mantissa, 1, std::string::npos);
    }
    text += 'E';
    text += exponent < 0 ? '-' : '+';
    return text + ExponentText(exponent, AExpDigits);
}

// The unsigned fixed-point text: integer part (grouped when AGroup) and ADecimals places.
std::string FixedText(const TFloatDigits& AValue, int ADecimals, bool AGroup,
                      const TFormatSettings& ASettings) {
    const std::string& d = AValue.Digits;
    const int e = AValue.Exponent;
    std::string integer;
    if (e <= 0) {
        integer = "0";
    } else {
        integer = d.substr(0, static_cast<std::size_t>(e));
        integer.resize(static_cast<std::size_t>(e), '0');
    }
    std::string text;
    if (AGroup && ASettings.ThousandSeparator != '\0') {
        for (std::size_t i = 0; i < integer.size(); ++i) {
            if (i > 0 && (integer.size() - i) % 3 == 0)
                text += ASettings.ThousandSeparator;
            text += integer[i];
        }
    } else {
        text = integer;
    }
    if (ADecimals > 0) {
        text += ASettings.DecimalSeparator;
        for (int i = 0; i < ADecimals; ++i) {
            const int index = e + i;
            text += index >= 0 && static_cast<std::size_t>(index) < d.size()
                        ? d[static_cast<std::size_t>(index)]
                        : '0';
        }
    }
    return text;
}

std::string CurrencyText(const std::string& AAmount, bool ANegative,
                         const TFormatSettings& ASettings) {
    const std::string& c = ASettings.CurrencyString;
    const std::string& a = AAmount;
    if (!ANegative) {
        switch (ASettings.CurrencyFormat) {
        case 1:
            return a + c;
        case 2:
            return c + " " + a;
        case 3:
            return a + " " + c;
        default:
            return c + a;
        }
    }
    switch (ASettings.NegCurrFormat) {
    case 1:
        return "-" + c + a;
    case 2:
        return c + "-" + a;
    case 3:
        return c + a + "-";
    case 4:
        return "(" + a + c + ")";
    case 5:
        return "-" + a + c;
    case 6:
        return a + "-" + c;
    case 7:
        return a + c + "-";
    case 8:
        return "-" + a + " " + c;
    case 9:
        return "-" + c + " " + a;
    case 10:
        return a + " " + c + "-";
    case 11:
        return c + " " + a + "-";
    case 12:
        return c + " -" + a;
    case 13:
        return a + "- " + c;
    case 14:
        return "(" + c + " " + a + ")";
    case 15:
        return "(" + a + " " + c + ")";
    default:
        return "(" + c + a + ")";
    }
}

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return locale;
}

bool IsDigit(char AChar) {
    return AChar >= '0' && AChar <= '9';
}

// Checks the framework's number syntax and hands a normalised copy to the C library, which
// then never sees a locale-dependent separator.
bool ParseFloat(const std::string& AText, long double& AValue, const TFormatSettings& ASettings) {
    std::string normal;
    std::size_t i = 0;
    const std::size_t n = AText.size();
    while (i < n && AText[i] == ' ')
        ++i;
    if (i < n && (AText[i] == '+' || AText[i] == '-'))
        normal += AText[i++];
    std::size_t mantissaDigits = 0;
    while (i < n && IsDigit(AText[i])) {
        normal += AText[i++];
        ++mantissaDigits;
    }
    if (i < n && AText[i] == ASettings.DecimalSeparator) {
        normal += '.';
        ++i;
        while (i < n && IsDigit(AText[i])) {
            normal += AText[i++];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (i < n && (AText[i] == 'e' || AText[i] == 'E')) {
        normal += 'e';
        ++i;
        if (i < n && (AText[i] == '+' || AText[i] == '-'))
            normal += AText[i++];
        if (i >= n || !IsDigit(AText[i]))
            return false;
        while (i < n && IsDigit(AText[i]))
            normal += AText[i++];
    }
    while (i < n && AText[i] == ' ')
        ++i;
    if (i != n)
        return false;
    errno = 0;
    const locale_t c = CLocale();
    const long double value = c != locale_t{} ? strtold_l(normal.c_str(), nullptr, c)
                                              : std::strtold(normal.c_str(), nullptr);
    // Too large for the type is an error; too small quietly becomes (nearly) zero.
    if (errno == ERANGE && std::isinf(value))
        return false;
    AValue = value;
    return true;
}

} // namespace

std::string FloatToStrF(long double AValue, TFloatFormat AFormat, int APrecision, int ADigits,
                        const TFormatSettings& ASettings) {
    if (std::isnan(AValue))
        return "NAN";
    if (std::isinf(AValue))
        return AValue < 0 ? "-INF" : "INF";
    const int precision = std::clamp(APrecision, 1, MaxPrecision);
    switch (AFormat) {
    case ffExponent:
        return ExponentFormText(FloatToDecimal(AValue, precision, MaxPrecision * 1000), precision,
                                std::clamp(ADigits, 0, 4), ASettings);
    case ffFixed:
    case ffNumber:
    case ffCurrency: {
        const int decimals = std::clamp(ADigits, 0, MaxPrecision);
        const TFloatDigits digits = FloatToDecimal(AValue, precision, decimals);
        // More integer digits than the precision holds: the original switches to general.
        if (digits.Exponent > precision)
            return GeneralText(digits, precision, 0, ASettings);
        std::string amount = FixedText(digits, decimals, AFormat != ffFixed, ASettings);
        if (AFormat == ffCurrency)
            return CurrencyText(amount, digits.Negative, ASettings);
        return digits.Negative ? "-" + amount : amount;
    }
    default:
        return GeneralText(FloatToDecimal(AValue, precision, MaxPrecision * 1000), precision,
                           std::clamp(ADigits, 0, 4), ASettings);
    }
}

std::string FloatToStrF(long double AValue, TFloatFormat AFormat, int APrecision, int ADigits) {
    return FloatToStrF(AValue, AFormat, APrecision, ADigits, FormatSettings());
}

std::string FloatToStr(long double AValue) {
    return FloatToStrF(AValue, ffGeneral, 15, 0, FormatSettings());
}

std::string FloatToStr(long double AValue, const TFormatSettings& ASettings) {
    return FloatToStrF(AValue, ffGeneral, 15, 0, ASettings);
}

bool TryStrToFloat(const std::string& AText, long double& AValue,
                   const TFormatSettings& ASettings) {
    return ParseFloat(AText, AValue, ASettings);
}

bool TryStrToFloat(const std::string& AText, long double& AValue) {
    return ParseFloat(AText, AValue, FormatSettings());
}

long double StrToFloat(const std::string& AText, const TFormatSettings& ASettings) {
    long double value = 0;
    if (!ParseFloat(AText, value, ASettings))
        throw EConvertError("'" + AText + "' is not a valid floating point value");
    return value;
}

long double StrToFloat(const std::string& AText) {
    return StrToFloat(AText, FormatSettings());
}

} // namespace host
