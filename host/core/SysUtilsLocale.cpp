// host/core/SysUtilsLocale.cpp - the format settings and where they come from: the user's locale.
//
// The locale is read into a private locale object (newlocale/nl_langinfo_l), never through
// setlocale, so reading it does not change how the rest of the process parses or prints.
// strftime patterns are translated into the framework's own pattern language. The
// locale-aware case mapping (AnsiUpperCase) lives here too, as it needs the same locale.
#include "host/core/SysUtils.h"

#include <cctype>
#include <cwchar>
#include <cwctype>
#include <langinfo.h>
#include <locale.h>
#include <string_view>
#include <vector>

namespace host {

namespace {

// A locale object released on scope exit.
class TLocaleHandle {
public:
    explicit TLocaleHandle(locale_t ALocale)
        : FLocale(ALocale) {}

    TLocaleHandle(const TLocaleHandle&) = delete;
    TLocaleHandle& operator=(const TLocaleHandle&) = delete;

    ~TLocaleHandle() {
        if (FLocale != locale_t{})
            freelocale(FLocale);
    }

    locale_t Get() const { return FLocale; }

private:
    locale_t FLocale;
};

std::string Item(nl_item AItem, locale_t ALocale) {
    const char* text = nl_langinfo_l(AItem, ALocale);
    return text != nullptr ? std::string(text) : std::string();
}

int NumberItem(nl_item AItem, locale_t ALocale) {
    const char* text = nl_langinfo_l(AItem, ALocale);
    // CHAR_MAX ("not available") and missing items read as 0.
    return text != nullptr && static_cast<unsigned char>(text[0]) != 127 ? text[0] : 0;
}

bool IsPosixName(const std::string& AName) {
    return AName.empty() || AName == "C" || AName == "POSIX" || AName.rfind("C.", 0) == 0;
}

bool CategoryIsPosix(int ACategory, locale_t ALocale) {
#ifdef _NL_LOCALE_NAME
    return IsPosixName(Item(_NL_LOCALE_NAME(ACategory), ALocale));
#else
    (void)ACategory;
    (void)ALocale;
    return false;
#endif
}

// One piece of a translated strftime pattern.
struct TPiece {
    enum TKind : std::uint8_t { pkField, pkLiteral, pkSeparator } Kind;

    std::string Text;
    char Field = '\0'; // the strftime letter of a field
};

// Splits a strftime pattern into fields and literal text, expanding the composite conversions.
void Split(std::string_view APattern, const TLocaleInfo& AInfo, std::vector<TPiece>& APieces,
           int ADepth = 0) {
    std::size_t i = 0;
    while (i < APattern.size()) {
        const char c = APattern[i];
        if (c != '%' || i + 1 >= APattern.size()) {
            if (!APieces.empty() && APieces.back().Kind == TPiece::pkLiteral)
                APieces.back().Text += c;
            else
                APieces.push_back({TPiece::pkLiteral, std::string(1, c)});
            ++i;
            continue;
        }
        ++i;
        // glibc flags, field widths and the E/O modifiers change nothing we can express.
        while (i < APattern.size() &&
               std::string_view("-_0^#EO123456789").find(APattern[i]) != std::string_view::npos)
            ++i;
        if (i >= APattern.size())
            break;
        const char conversion = APattern[i++];
        std::string_view expansion;
        switch (conversion) {
        case 'D':
            expansion = "%m/%d/%y";
            break;
        case 'F':
            expansion = "%Y-%m-%d";
            break;
        case 'T':
            expansion = "%H:%M:%S";
            break;
        case 'R':
            expansion = "%H:%M";
            break;
        case 'r':
            expansion = AInfo.TimeFormatAmPm.empty() ? std::string_view("%I:%M:%S %p")
                                                     : std::string_view(AInfo.TimeFormatAmPm);
            break;
        case 'x':
            expansion = AInfo.DateFormat;
            break;
        case 'X':
            expansion = AInfo.TimeFormat;
            break;
        case 'n':
        case 't':
            APieces.push_back({TPiece::pkLiteral, " "});
            continue;
        case '%':
            APieces.push_back({TPiece::pkLiteral, "%"});
            continue;
        default:
            APieces.push_back({TPiece::pkField, {}, conversion});
            continue;
        }
        if (ADepth < 3)
            Split(expansion, AInfo, APieces, ADepth + 1);
    }
}

// A literal of the framework's pattern: letters and the characters the pattern language gives
// a meaning to are quoted, plain punctuation and spaces are not.
std::string QuoteLiteral(const std::string& AText) {
    std::string plain;
    std::string quoted;
    std::string result;
    auto flush = [&]() {
        if (!quoted.empty()) {
            const char quote = quoted.find('"') == std::string::npos ? '"' : '\'';
            result += quote + quoted + quote;
            quoted.clear();
        }
    };
    for (char c : AText) {
        const auto u = static_cast<unsigned char>(c);
        const bool special = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u >= 0x80 ||
                             c == '/' || c == ':' || c == '"' || c == '\'';
        if (special) {
            quoted += c;
        } else {
            flush();
            result += c;
        }
    }
    flush();
    return result;
}

// The separator of a pattern: the first single punctuation character standing between two
// fields.
char FindSeparator(const std::vector<TPiece>& APieces, char ADefault) {
    for (std::size_t i = 1; i + 1 < APieces.size(); ++i)
        if (APieces[i].Kind == TPiece::pkLiteral && APieces[i].Text.size() == 1 &&
            APieces[i - 1].Kind == TPiece::pkField && APieces[i + 1].Kind == TPiece::pkField &&
            std::ispunct(static_cast<unsigned char>(APieces[i].Text[0])) != 0)
            return APieces[i].Text[0];
    return ADefault;
}

// Translates a pattern into the framework's language. ASeparator/ASeparatorToken: the literal
// that becomes the '/' or ':' token. AWithSeconds false drops the seconds and the literal in
// front of them (the short time format). ALongNames turns abbreviated names into full ones.
std::string Translate(std::vector<TPiece> APieces, char ASeparator, char ASeparatorToken,
                      bool AWithSeconds, bool ALongNames, bool ADateOnly) {
    if (!AWithSeconds) {
        for (std::size_t i = 0; i < APieces.size(); ++i) {
            if (APieces[i].Kind == TPiece::pkField && APieces[i].Field == 'S') {
                const std::size_t from =
                    i > 0 && APieces[i - 1].Kind == TPiece::pkLiteral ? i - 1 : i;
                APieces.erase(APieces.begin() + static_cast<std::ptrdiff_t>(from),
                              APieces.begin() + static_cast<std::ptrdiff_t>(i + 1));
                break;
            }
        }
    }
    std::string result;
    bool afterHour = false;
    for (const TPiece& piece : APieces) {
        if (piece.Kind == TPiece::pkLiteral) {
            std::string run;
            for (char c : piece.Text) {
                if (c == ASeparator && ASeparator != '\0') {
                    result += QuoteLiteral(run) + ASeparatorToken;
                    run.clear();
                } else {
                    run += c;
                }
            }
            result += QuoteLiteral(run);
            continue;
        }
        std::string token;
        switch (piece.Field) {
        case 'd':
            token = "dd";
            break;
        case 'e':
            token = "d";
            break;
        case 'm':
            token = "mm";
            break;
        case 'b':
        case 'h':
            token = ALongNames ? "mmmm" : "mmm";
            break;
        case 'B':
            token = "mmmm";
            break;
        case 'a':
            token = ALongNames ? "dddd" : "ddd";
            break;
        case 'A':
            token = "dddd";
            break;
        case 'y':
            token = "yy";
            break;
        case 'Y':
        case 'G':
            token = "yyyy";
            break;
        case 'H':
            token = "hh";
            break;
        case 'I':
        case 'k':
        case 'l':
            // The US time shows no leading zero, as the original's does.
            token = "h";
            break;
        case 'M':
            // "mm" is minutes only right after an hour; elsewhere it would be the month.
            token = afterHour ? "mm" : "nn";
            break;
        case 'S':
            token = "ss";
            break;
        case 'p':
        case 'P':
            token = "AMPM";
            break;
        default:
            break;
        }
        if (ADateOnly && std::string_view("HIklMSpPZzs").find(piece.Field) != std::string::npos)
            token.clear();
        afterHour = !token.empty() ? (token[0] == 'h') : afterHour;
        result += token;
    }
    return result;
}

// The long date from the locale's date-and-time pattern: its date fields with full names.
std::string LongDateFrom(const std::string& APattern, const TLocaleInfo& AInfo, char ASeparator) {
    std::vector<TPiece> pieces;
    Split(APattern, AInfo, pieces);
    // Drop the time fields and the literal after each of them (their separators).
    std::vector<TPiece> dateOnly;
    bool afterTime = false;
    for (const TPiece& piece : pieces) {
        if (piece.Kind == TPiece::pkField) {
            afterTime = std::string_view("HIklMSpPZzs").find(piece.Field) != std::string_view::npos;
            if (!afterTime)
                dateOnly.push_back(piece);
        } else if (!afterTime) {
            dateOnly.push_back(piece);
        }
    }
    std::string text = Translate(dateOnly, ASeparator, '/', true, true, true);
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t last = text.find_last_not_of(' ');
    if (first == std::string::npos)
        return {};
    text = text.substr(first, last - first + 1);
    // Collapse the blanks left where time fields were removed.
    std::string collapsed;
    for (char c : text)
        if (c != ' ' || collapsed.empty() || collapsed.back() != ' ')
            collapsed += c;
    return collapsed;
}

// A separator character from a locale text: one byte as is; a UTF-8 space of any width as a
// blank; anything else as ADefault.
char SeparatorChar(const std::string& AText, char ADefault) {
    if (AText.size() == 1)
        return AText[0];
    if (AText == "\xC2\xA0" || AText == "\xE2\x80\xAF" || AText == "\xE2\x80\x89")
        return ' ';
    return ADefault;
}

std::uint8_t NegativeCurrencyFormat(const TLocaleInfo& AInfo) {
    const bool before = AInfo.NegCsPrecedes != 0;
    const bool space = AInfo.NegSepBySpace != 0;
    switch (AInfo.NegSignPosn) {
    case 0: // parentheses
        return before ? (space ? 14 : 0) : (space ? 15 : 4);
    case 2: // sign after the amount and symbol
        return before ? (space ? 11 : 3) : (space ? 10 : 7);
    case 3: // sign right before the symbol
        return before ? (space ? 9 : 1) : (space ? 13 : 6);
    case 4: // sign right after the symbol
        return before ? (space ? 12 : 2) : (space ? 10 : 7);
    default: // sign before amount and symbol
        return before ? (space ? 9 : 1) : (space ? 8 : 5);
    }
}

struct TCaseLocale {
    locale_t Locale = locale_t{};
    bool Utf8 = false;
};

// The user's character classification for AnsiUpperCase; a C/POSIX user locale still maps
// UTF-8 text when the system has C.UTF-8.
const TCaseLocale& CaseLocale() {
    static const TCaseLocale locale = []() {
        TCaseLocale result;
        result.Locale = newlocale(LC_CTYPE_MASK, "", locale_t{});
        if (result.Locale == locale_t{})
            result.Locale = newlocale(LC_CTYPE_MASK, "C", locale_t{});
        if (result.Locale == locale_t{})
            return result;
        const std::string codeset = Item(CODESET, result.Locale);
        result.Utf8 = codeset == "UTF-8";
        if (!result.Utf8 && codeset == "ANSI_X3.4-1968") {
            const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
            if (utf8 != locale_t{}) {
                freelocale(result.Locale);
                result.Locale = utf8;
                result.Utf8 = true;
            }
        }
        return result;
    }();
    return locale;
}

// Decodes one UTF-8 character at APos; 0 bytes when the sequence is invalid.
std::size_t DecodeUtf8(const std::string& AText, std::size_t APos, char32_t& ACode) {
    const auto b0 = static_cast<unsigned char>(AText[APos]);
    std::size_t length = b0 < 0x80         ? 1
                         : (b0 >> 5) == 6  ? 2
                         : (b0 >> 4) == 14 ? 3
                         : (b0 >> 3) == 30 ? 4
                                           : 0;
    if (length == 0 || APos + length > AText.size())
        return 0;
    char32_t code = length == 1 ? b0 : b0 & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(AText[APos + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (b & 0x3F);
    }
    static const char32_t Minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < Minimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    ACode = code;
    return length;
}

void EncodeUtf8(char32_t ACode, std::string& AText) {
    if (ACode < 0x80) {
        AText += static_cast<char>(ACode);
    } else if (ACode < 0x800) {
        AText += static_cast<char>(0xC0 | (ACode >> 6));
        AText += static_cast<char>(0x80 | (ACode & 0x3F));
    } else if (ACode < 0x10000) {
        AText += static_cast<char>(0xE0 | (ACode >> 12));
        AText += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
        AText += static_cast<char>(0x80 | (ACode & 0x3F));
    } else {
        AText += static_cast<char>(0xF0 | (ACode >> 18));
        AText += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
        AText += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
        AText += static_cast<char>(0x80 | (ACode & 0x3F));
    }
}

std::string MapCase(const std::string& AText, bool AUpper) {
    const TCaseLocale& cl = CaseLocale();
    if (cl.Locale == locale_t{})
        return AUpper ? UpperCase(AText) : LowerCase(AText);
    std::string result;
    result.reserve(AText.size());
    if (!cl.Utf8) {
        for (char c : AText) {
            const int u = static_cast<unsigned char>(c);
            result += static_cast<char>(AUpper ? toupper_l(u, cl.Locale) : tolower_l(u, cl.Locale));
        }
        return result;
    }
    std::size_t i = 0;
    while (i < AText.size()) {
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(AText, i, code);
        if (length == 0) {
            result += AText[i++];
            continue;
        }
        const wint_t wide = static_cast<wint_t>(code);
        const wint_t mapped = AUpper ? towupper_l(wide, cl.Locale) : towlower_l(wide, cl.Locale);
        EncodeUtf8(static_cast<char32_t>(mapped), result);
        i += length;
    }
    return result;
}

} // namespace

TLocaleInfo ReadLocaleInfo(const std::string& ALocaleName) {
    TLocaleInfo info;
    TLocaleHandle locale(newlocale(LC_ALL_MASK, ALocaleName.c_str(), locale_t{}));
    if (locale.Get() == locale_t{})
        return info;
    const locale_t l = locale.Get();
    info.TimeIsPosix = CategoryIsPosix(LC_TIME, l);
    info.NumericIsPosix = CategoryIsPosix(LC_NUMERIC, l);
    info.MonetaryIsPosix = CategoryIsPosix(LC_MONETARY, l);
    info.DateFormat = Item(D_FMT, l);
    info.TimeFormat = Item(T_FMT, l);
    info.TimeFormatAmPm = Item(T_FMT_AMPM, l);
    info.DateTimeFormat = Item(D_T_FMT, l);
    info.AmString = Item(AM_STR, l);
    info.PmString = Item(PM_STR, l);
    for (int i = 0; i < 7; ++i) {
        info.ShortDayNames[static_cast<std::size_t>(i)] = Item(ABDAY_1 + i, l);
        info.LongDayNames[static_cast<std::size_t>(i)] = Item(DAY_1 + i, l);
    }
    for (int i = 0; i < 12; ++i) {
        info.ShortMonthNames[static_cast<std::size_t>(i)] = Item(ABMON_1 + i, l);
        info.LongMonthNames[static_cast<std::size_t>(i)] = Item(MON_1 + i, l);
    }
    info.DecimalPoint = Item(RADIXCHAR, l);
    info.ThousandsSep = Item(THOUSEP, l);
    info.CurrencySymbol = Item(CURRENCY_SYMBOL, l);
    info.FracDigits = NumberItem(FRAC_DIGITS, l);
    info.CsPrecedes = NumberItem(P_CS_PRECEDES, l);
    info.SepBySpace = NumberItem(P_SEP_BY_SPACE, l);
    info.NegCsPrecedes = NumberItem(N_CS_PRECEDES, l);
    info.NegSepBySpace = NumberItem(N_SEP_BY_SPACE, l);
    info.NegSignPosn = NumberItem(N_SIGN_POSN, l);
    return info;
}

TFormatSettings FormatSettingsFromLocaleInfo(const TLocaleInfo& AInfo) {
    TFormatSettings settings;
    if (!AInfo.TimeIsPosix && !AInfo.DateFormat.empty()) {
        std::vector<TPiece> date;
        Split(AInfo.DateFormat, AInfo, date);
        settings.DateSeparator = FindSeparator(date, settings.DateSeparator);
        settings.ShortDateFormat = Translate(date, settings.DateSeparator, '/', true, false, true);
        const std::string longDate =
            LongDateFrom(AInfo.DateTimeFormat, AInfo, settings.DateSeparator);
        settings.LongDateFormat = longDate.empty() ? settings.ShortDateFormat : longDate;
    }
    if (!AInfo.TimeIsPosix && !AInfo.TimeFormat.empty()) {
        std::vector<TPiece> time;
        Split(AInfo.TimeFormat, AInfo, time);
        settings.TimeSeparator = FindSeparator(time, settings.TimeSeparator);
        settings.LongTimeFormat = Translate(time, settings.TimeSeparator, ':', true, false, false);
        settings.ShortTimeFormat =
            Translate(time, settings.TimeSeparator, ':', false, false, false);
    }
    if (!AInfo.TimeIsPosix) {
        settings.TimeAMString = AInfo.AmString;
        settings.TimePMString = AInfo.PmString;
        for (std::size_t i = 0; i < 7; ++i) {
            if (!AInfo.ShortDayNames[i].empty())
                settings.ShortDayNames[i] = AInfo.ShortDayNames[i];
            if (!AInfo.LongDayNames[i].empty())
                settings.LongDayNames[i] = AInfo.LongDayNames[i];
        }
        for (std::size_t i = 0; i < 12; ++i) {
            if (!AInfo.ShortMonthNames[i].empty())
                settings.ShortMonthNames[i] = AInfo.ShortMonthNames[i];
            if (!AInfo.LongMonthNames[i].empty())
                settings.LongMonthNames[i] = AInfo.LongMonthNames[i];
        }
    }
    if (!AInfo.NumericIsPosix) {
        settings.DecimalSeparator = SeparatorChar(AInfo.DecimalPoint, '.');
        settings.ThousandSeparator = SeparatorChar(AInfo.ThousandsSep, '\0');
        // Lists are separated by ';' where the comma is the decimal separator.
        settings.ListSeparator = settings.DecimalSeparator == ',' ? ';' : ',';
    }
    if (!AInfo.MonetaryIsPosix && !AInfo.CurrencySymbol.empty()) {
        settings.CurrencyString = AInfo.CurrencySymbol;
        settings.CurrencyDecimals = static_cast<std::uint8_t>(
            AInfo.FracDigits >= 0 && AInfo.FracDigits <= 18 ? AInfo.FracDigits : 2);
        settings.CurrencyFormat = static_cast<std::uint8_t>((AInfo.CsPrecedes != 0 ? 0 : 1) +
                                                            (AInfo.SepBySpace != 0 ? 2 : 0));
        settings.NegCurrFormat = NegativeCurrencyFormat(AInfo);
    }
    return settings;
}

TFormatSettings GetLocaleFormatSettings(const std::string& ALocaleName) {
    return FormatSettingsFromLocaleInfo(ReadLocaleInfo(ALocaleName));
}

TFormatSettings& FormatSettings() {
    static TFormatSettings settings = GetLocaleFormatSettings("");
    return settings;
}

void GetFormatSettings() {
    FormatSettings() = GetLocaleFormatSettings("");
}

std::string AnsiUpperCase(const std::string& AText) {
    return MapCase(AText, true);
}

std::string AnsiLowerCase(const std::string& AText) {
    return MapCase(AText, false);
}

} // namespace host
