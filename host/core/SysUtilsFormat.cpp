// host/core/SysUtilsFormat.cpp - Format(): the framework's "array of const" formatter.
//
// The grammar, the argument pointer and both error texts follow the original run-time library,
// not printf: no zero flag, upper-case hex, typed arguments that are refused by conversions of
// another kind. Float conversions hand over to FloatToStrF (SysUtilsFloat.cpp).
#include "host/core/SysUtils.h"

#include <climits>
#include <cstddef>
#include <cstdint>

namespace host {

namespace {

// The original copies the format into a 31-character buffer for its messages, so longer
// formats appear cut in the error text.
constexpr std::size_t MaxFormatInMessage = 31;

[[noreturn]] void RaiseInvalidFormat(const std::string& AFormat) {
    throw EConvertError("Format '" + AFormat.substr(0, MaxFormatInMessage) +
                        "' invalid or incompatible with argument");
}

[[noreturn]] void RaiseArgumentMissing(const std::string& AFormat) {
    throw EConvertError("No argument for format '" + AFormat.substr(0, MaxFormatInMessage) + "'");
}

class TFormatter {
public:
    TFormatter(const std::string& AFormat, std::span<const TVarRec> AArgs,
               const TFormatSettings& ASettings)
        : FFormat(AFormat)
        , FArgs(AArgs)
        , FSettings(ASettings) {}

    std::string Run() {
        std::string result;
        result.reserve(FFormat.size() + 16);
        std::size_t pos = 0;
        while (pos < FFormat.size()) {
            const std::size_t percent = FFormat.find('%', pos);
            if (percent == std::string::npos) {
                result.append(FFormat, pos, std::string::npos);
                break;
            }
            result.append(FFormat, pos, percent - pos);
            pos = percent + 1;
            if (pos < FFormat.size() && FFormat[pos] == '%') {
                result += '%';
                ++pos;
                continue;
            }
            pos = Conversion(pos, result);
        }
        return result;
    }

private:
    // A number of the specifier: digits or '*'. Returns -1 when neither is present.
    long long Number(std::size_t& APos) {
        if (APos < FFormat.size() && FFormat[APos] == '*') {
            ++APos;
            const TVarRec& arg = NextArgument();
            if (arg.VType() != vtInteger)
                RaiseInvalidFormat(FFormat);
            return arg.VInteger();
        }
        if (APos >= FFormat.size() || FFormat[APos] < '0' || FFormat[APos] > '9')
            return -1;
        long long value = 0;
        while (APos < FFormat.size() && FFormat[APos] >= '0' && FFormat[APos] <= '9') {
            value = value * 10 + (FFormat[APos] - '0');
            if (value > INT_MAX)
                RaiseInvalidFormat(FFormat);
            ++APos;
        }
        return value;
    }

    const TVarRec& NextArgument() {
        if (FArgIndex < 0 || static_cast<std::size_t>(FArgIndex) >= FArgs.size())
            RaiseArgumentMissing(FFormat);
        return FArgs[static_cast<std::size_t>(FArgIndex++)];
    }

    std::size_t Conversion(std::size_t APos, std::string& AResult) {
        long long first = Number(APos);
        if (APos < FFormat.size() && FFormat[APos] == ':') {
            ++APos;
            FArgIndex = first < 0 ? 0 : first;
            first = -1;
        }
        bool leftAlign = false;
        if (first < 0 && APos < FFormat.size() && FFormat[APos] == '-') {
            leftAlign = true;
            ++APos;
        }
        long long width = first >= 0 ? first : Number(APos);
        long long precision = -1;
        if (APos < FFormat.size() && FFormat[APos] == '.') {
            ++APos;
            // "%.f" means precision 0; a negative one from '*' means the default.
            const bool star = APos < FFormat.size() && FFormat[APos] == '*';
            precision = Number(APos);
            if (precision < 0 && !star)
                precision = 0;
        }
        if (APos >= FFormat.size())
            RaiseInvalidFormat(FFormat);
        const char type = static_cast<char>(FFormat[APos] | 0x20);
        ++APos;

        const TVarRec& arg = NextArgument();
        std::string text = Convert(type, arg, precision);
        if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
            const std::size_t pad = static_cast<std::size_t>(width) - text.size();
            if (leftAlign)
                text.append(pad, ' ');
            else
                text.insert(0, pad, ' ');
        }
        AResult += text;
        return APos;
    }

    std::string Convert(char AType, const TVarRec& AArg, long long APrecision) {
        switch (AType) {
        case 'd':
        case 'u':
        case 'x':
            return IntegerConversion(AType, AArg, APrecision);
        case 'e':
        case 'f':
        case 'g':
        case 'n':
        case 'm':
            return FloatConversion(AType, AArg, APrecision);
        case 'p': {
            if (AArg.VType() != vtPointer && AArg.VType() != vtPChar)
                RaiseInvalidFormat(FFormat);
            // The framework models 32-bit pointers: eight digits, the low half of the address.
            const auto address = reinterpret_cast<std::uintptr_t>(AArg.VPointer());
            return IntToHex(static_cast<int>(static_cast<std::uint32_t>(address)), 8);
        }
        case 's': {
            std::string text;
            if (AArg.VType() == vtAnsiString || AArg.VType() == vtPChar)
                text = AArg.VString();
            else if (AArg.VType() == vtChar)
                text.assign(1, static_cast<char>(AArg.VInteger()));
            else
                RaiseInvalidFormat(FFormat);
            if (APrecision >= 0 && text.size() > static_cast<std::size_t>(APrecision))
                text.resize(static_cast<std::size_t>(APrecision));
            return text;
        }
        default:
            RaiseInvalidFormat(FFormat);
        }
    }

    std::string IntegerConversion(char AType, const TVarRec& AArg, long long APrecision) {
        if (AArg.VType() != vtInteger && AArg.VType() != vtInt64)
            RaiseInvalidFormat(FFormat);
        const bool is64 = AArg.VType() == vtInt64;
        const std::int64_t value = AArg.VInteger();
        std::string digits;
        bool negative = false;
        if (AType == 'x') {
            digits = is64 ? IntToHex(value, 0) : IntToHex(static_cast<int>(value), 0);
        } else if (AType == 'u') {
            const std::uint64_t bits =
                is64 ? static_cast<std::uint64_t>(value) : static_cast<std::uint32_t>(value);
            digits = std::to_string(bits);
        } else {
            negative = value < 0;
            // Magnitude through unsigned arithmetic so the most negative value has one too.
            const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value)
                                                     : static_cast<std::uint64_t>(value);
            digits = std::to_string(magnitude);
        }
        if (APrecision > 0 && digits.size() < static_cast<std::size_t>(APrecision))
            digits.insert(0, static_cast<std::size_t>(APrecision) - digits.size(), '0');
        return negative ? "-" + digits : digits;
    }

    std::string FloatConversion(char AType, const TVarRec& AArg, long long APrecision) {
        if (AArg.VType() != vtExtended)
            RaiseInvalidFormat(FFormat);
        const long double value = AArg.VExtended();
        const bool given = APrecision >= 0;
        const int precision = APrecision > 99 ? 99 : static_cast<int>(APrecision);
        switch (AType) {
        case 'e':
            return FloatToStrF(value, ffExponent, given ? precision : 15, 3, FSettings);
        case 'f':
            return FloatToStrF(value, ffFixed, 18, given ? precision : 2, FSettings);
        case 'g':
            return FloatToStrF(value, ffGeneral, given ? precision : 15, 0, FSettings);
        case 'n':
            return FloatToStrF(value, ffNumber, 18, given ? precision : 2, FSettings);
        default:
            return FloatToStrF(value, ffCurrency, 18,
                               given ? precision : FSettings.CurrencyDecimals, FSettings);
        }
    }

    const std::string& FFormat;
    std::span<const TVarRec> FArgs;
    const TFormatSettings& FSettings;
    long long FArgIndex = 0;
};

} // namespace

std::string Format(const std::string& AFormat, std::initializer_list<TVarRec> AArgs) {
    return Format(AFormat, std::span<const TVarRec>(AArgs.begin(), AArgs.size()), FormatSettings());
}

std::string Format(const std::string& AFormat, std::initializer_list<TVarRec> AArgs,
                   const TFormatSettings& ASettings) {
    return Format(AFormat, std::span<const TVarRec>(AArgs.begin(), AArgs.size()), ASettings);
}

std::string Format(const std::string& AFormat, std::span<const TVarRec> AArgs) {
    return Format(AFormat, AArgs, FormatSettings());
}

std::string Format(const std::string& AFormat, std::span<const TVarRec> AArgs,
                   const TFormatSettings& ASettings) {
    return TFormatter(AFormat, AArgs, ASettings).Run();
}

} // namespace host
