// host/core/SysUtils.h - exceptions, string and number conversions, dates, file-name helpers.
//
// The exception classes of the whole framework live here (also those the original declares in
// Classes, Controls, Graphics and TypInfo), so every layer shares one class tree and the
// exception logger can judge any of them by class.
#pragma once

#include "host/core/System.h"

#include <array>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace host {

/// The base of every framework exception. Message() is the text shown to the user;
/// ClassName() the class's own name ("EConvertError", or the application's own class).
class Exception : public std::exception {
public:
    explicit Exception(std::string AMessage = {})
        : FMessage(std::move(AMessage)) {}

    const std::string& Message() const { return FMessage; }

    void SetMessage(std::string AMessage) { FMessage = std::move(AMessage); }

    /// The class name of the exception; for a foreign C++ exception wrapped by the host, the
    /// demangled C++ type of the original ("std::out_of_range").
    virtual std::string ClassName() const;

    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Declares exception class Name derived from Base, with the base's constructors.
#define JEX_EXCEPTION(Name, Base)                                                                \
    class Name : public Base {                                                                   \
    public:                                                                                      \
        using Base::Base;                                                                        \
    }

// Run-time library (SysUtils).
JEX_EXCEPTION(EAbort, Exception);
JEX_EXCEPTION(EHeapException, Exception);
JEX_EXCEPTION(EOutOfMemory, EHeapException);
JEX_EXCEPTION(EInvalidPointer, EHeapException);
JEX_EXCEPTION(EInOutError, Exception);
JEX_EXCEPTION(EExternal, Exception);
JEX_EXCEPTION(EIntError, EExternal);
JEX_EXCEPTION(EDivByZero, EIntError);
JEX_EXCEPTION(ERangeError, EIntError);
JEX_EXCEPTION(EIntOverflow, EIntError);
JEX_EXCEPTION(EMathError, EExternal);
JEX_EXCEPTION(EInvalidOp, EMathError);
JEX_EXCEPTION(EZeroDivide, EMathError);
JEX_EXCEPTION(EOverflow, EMathError);
JEX_EXCEPTION(EUnderflow, EMathError);
JEX_EXCEPTION(EAccessViolation, EExternal);
JEX_EXCEPTION(EPrivilege, EExternal);
JEX_EXCEPTION(EStackOverflow, EExternal);
JEX_EXCEPTION(EControlC, EExternal);
JEX_EXCEPTION(EExternalException, EExternal);
JEX_EXCEPTION(EInvalidCast, Exception);
JEX_EXCEPTION(EConvertError, Exception);
JEX_EXCEPTION(EVariantError, Exception);
JEX_EXCEPTION(EPropReadOnly, Exception);
JEX_EXCEPTION(EPropWriteOnly, Exception);
JEX_EXCEPTION(EAssertionFailed, Exception);
JEX_EXCEPTION(EAbstractError, Exception);
JEX_EXCEPTION(EIntfCastError, Exception);
JEX_EXCEPTION(EInvalidContainer, Exception);
JEX_EXCEPTION(EInvalidInsert, Exception);
JEX_EXCEPTION(EPackageError, Exception);
JEX_EXCEPTION(EOSError, Exception);
JEX_EXCEPTION(EWin32Error, EOSError);

// Component library (Classes, Controls).
JEX_EXCEPTION(EStreamError, Exception);
JEX_EXCEPTION(EFCreateError, EStreamError);
JEX_EXCEPTION(EFOpenError, EStreamError);
JEX_EXCEPTION(EFilerError, EStreamError);
JEX_EXCEPTION(EReadError, EFilerError);
JEX_EXCEPTION(EWriteError, EFilerError);
JEX_EXCEPTION(EClassNotFound, EFilerError);
JEX_EXCEPTION(EMethodNotFound, EFilerError);
JEX_EXCEPTION(EInvalidImage, EFilerError);
JEX_EXCEPTION(EResNotFound, Exception);
JEX_EXCEPTION(EListError, Exception);
JEX_EXCEPTION(EBitsError, Exception);
JEX_EXCEPTION(EStringListError, Exception);
JEX_EXCEPTION(EComponentError, Exception);
JEX_EXCEPTION(EParserError, Exception);
JEX_EXCEPTION(EOutOfResources, EOutOfMemory);
JEX_EXCEPTION(EInvalidOperation, Exception);
JEX_EXCEPTION(EThread, Exception);

// Graphics.
JEX_EXCEPTION(EInvalidGraphic, Exception);
JEX_EXCEPTION(EInvalidGraphicOperation, Exception);

// Run-time type information.
JEX_EXCEPTION(EPropertyError, Exception);
JEX_EXCEPTION(EPropertyConvertError, Exception);

/// A C++ exception that is not a host exception (a std::exception or any other thrown
/// object), as the top-level handling presents it: ClassName() is the demangled C++ type,
/// Message() the what() text (empty for objects that have none).
class EForeignException : public Exception {
public:
    EForeignException(std::string AClassName, std::string AMessage)
        : Exception(std::move(AMessage))
        , FClassName(std::move(AClassName)) {}

    std::string ClassName() const override { return FClassName; }

private:
    std::string FClassName;
};

// ---- Conversions, dates and file names ---------------------------------------------------
//
// The run-time library's text conversions behave like the original framework's, not like the C
// library's: Format has its own grammar and errors, floats print with up to 15 significant
// digits rounded half away from zero, and dates use the framework's pattern language. All of
// them read the process-wide format settings (FormatSettings()) unless given their own.

/// The process-wide number, currency and date-time conventions. FormatSettings() is read from
/// the user's locale on first use; code may assign any field afterwards (there is no locking:
/// assign them at start-up, before other threads format text). Day and month name arrays are
/// zero-based here: ShortDayNames[0] is Sunday, ShortMonthNames[0] is January.
struct TFormatSettings {
    /// 0 = "$1", 1 = "1$", 2 = "$ 1", 3 = "1 $" (currency symbol placement).
    std::uint8_t CurrencyFormat = 0;
    /// 0..15 as in the original: 0 = "($1)", 1 = "-$1", 2 = "$-1", 3 = "$1-", 4 = "(1$)",
    /// 5 = "-1$", 6 = "1-$", 7 = "1$-", 8 = "-1 $", 9 = "-$ 1", 10 = "1 $-", 11 = "$ 1-",
    /// 12 = "$ -1", 13 = "1- $", 14 = "($ 1)", 15 = "(1 $)".
    std::uint8_t NegCurrFormat = 0;
    /// Inserted every three integer digits by %n, %m, ffNumber and ffCurrency; '\0' = none.
    char ThousandSeparator = ',';
    char DecimalSeparator = '.';
    std::uint8_t CurrencyDecimals = 2;
    /// Replaces '/' in date patterns.
    char DateSeparator = '/';
    /// Replaces ':' in time patterns.
    char TimeSeparator = ':';
    char ListSeparator = ',';
    std::string CurrencyString = "$";
    std::string ShortDateFormat = "M/d/yyyy";
    std::string LongDateFormat = "dddd, MMMM dd, yyyy";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::string ShortTimeFormat = "h:mm AMPM";
    std::string LongTimeFormat = "h:mm:ss AMPM";
    std::array<std::string, 12> ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames = {"January",   "February", "March",    "April",
                                                  "May",       "June",     "July",     "August",
                                                  "September", "October",  "November", "December"};
    std::array<std::string, 7> ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                               "Thursday", "Friday", "Saturday"};

    bool operator==(const TFormatSettings&) const = default;
};

/// The process-wide settings every conversion without an explicit TFormatSettings uses.
/// Initialised from the user's locale on first use (see GetLocaleFormatSettings).
TFormatSettings& FormatSettings();

/// Re-reads the user's locale into FormatSettings(), dropping any assignments made since.
void GetFormatSettings();

/// The raw locale facts the settings are derived from: nl_langinfo items of LC_TIME
/// (D_FMT, T_FMT, T_FMT_AMPM, D_T_FMT, AM_STR, PM_STR, ABDAY_n, DAY_n, ABMON_n, MON_n),
/// LC_NUMERIC (RADIXCHAR, THOUSEP) and LC_MONETARY. A C/POSIX category is flagged instead
/// and keeps the US-English defaults of TFormatSettings.
struct TLocaleInfo {
    bool TimeIsPosix = true;
    bool NumericIsPosix = true;
    bool MonetaryIsPosix = true;
    std::string DateFormat;     ///< D_FMT, e.g. "%d/%m/%Y"
    std::string TimeFormat;     ///< T_FMT, e.g. "%H:%M:%S" or "%r"
    std::string TimeFormatAmPm; ///< T_FMT_AMPM, what "%r" stands for
    std::string DateTimeFormat; ///< D_T_FMT, the source of the long date format
    std::string AmString;
    std::string PmString;
    std::array<std::string, 7> ShortDayNames;
    std::array<std::string, 7> LongDayNames;
    std::array<std::string, 12> ShortMonthNames;
    std::array<std::string, 12> LongMonthNames;
    std::string DecimalPoint;   ///< RADIXCHAR (may be several bytes in UTF-8 locales)
    std::string ThousandsSep;   ///< THOUSEP (may be empty or several bytes)
    std::string CurrencySymbol; ///< CURRENCY_SYMBOL
    int FracDigits = 2;         ///< FRAC_DIGITS
    int CsPrecedes = 1;         ///< P_CS_PRECEDES
    int SepBySpace = 0;         ///< P_SEP_BY_SPACE
    int NegCsPrecedes = 1;      ///< N_CS_PRECEDES
    int NegSepBySpace = 0;      ///< N_SEP_BY_SPACE
    int NegSignPosn = 0;        ///< N_SIGN_POSN
};

/// Reads the locale facts of the named locale ("" = the user's environment, LANG/LC_*),
/// without touching the process's global locale. A locale that cannot be loaded reads as
/// C/POSIX.
TLocaleInfo ReadLocaleInfo(const std::string& ALocaleName);

/// Converts locale facts into settings: strftime patterns become framework patterns
/// ("%d/%m/%Y" -> "dd/mm/yyyy" with DateSeparator '/', "%H:%M:%S" -> "hh:mm:ss",
/// "%I:%M:%S %p" -> "h:mm:ss AMPM"); ShortTimeFormat is LongTimeFormat without its seconds.
/// Categories flagged as C/POSIX keep the US-English values.
TFormatSettings FormatSettingsFromLocaleInfo(const TLocaleInfo& AInfo);

/// FormatSettingsFromLocaleInfo(ReadLocaleInfo(ALocaleName)); "C" gives the US-English table.
TFormatSettings GetLocaleFormatSettings(const std::string& ALocaleName);

/// Type tags of a TVarRec, with the original's ordinal values.
enum TVarType : std::uint8_t {
    vtInteger = 0,
    vtBoolean = 1,
    vtChar = 2,
    vtExtended = 3,
    vtPointer = 5,
    vtPChar = 6,
    vtObject = 7,
    vtAnsiString = 11,
    vtInt64 = 16
};

/// One element of an "array of const": a value with its type tag. Built implicitly from the
/// C++ value so that calls read Format("%s: %d", {name, 42}):
/// - signed integers up to 32 bits and unsigned ones below 32 bits -> vtInteger;
///   64-bit integers and unsigned 32-bit ones (so they keep their value) -> vtInt64;
/// - float, double, long double -> vtExtended;
/// - std::string, std::string_view -> vtAnsiString; const char* -> vtPChar (nullptr = "");
/// - char -> vtChar; bool -> vtBoolean;
/// - a pointer to a TObject descendant -> vtObject; any other pointer or nullptr -> vtPointer.
/// Text is copied, so a TVarRec may outlive the string it was made from.
class TVarRec {
public:
    TVarRec(bool AValue)
        : FType(vtBoolean)
        , FInt(AValue ? 1 : 0) {}

    TVarRec(char AValue)
        : FType(vtChar)
        , FInt(static_cast<unsigned char>(AValue)) {}

    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                               !std::is_same_v<T, char>,
                                           int> = 0>
    TVarRec(T AValue)
        : FType(IsInteger<T>() ? vtInteger : vtInt64)
        , FInt(static_cast<std::int64_t>(AValue)) {}

    template <typename T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
    TVarRec(T AValue)
        : FType(vtExtended)
        , FFloat(AValue) {}

    TVarRec(const std::string& AValue)
        : FType(vtAnsiString)
        , FText(AValue) {}

    TVarRec(std::string_view AValue)
        : FType(vtAnsiString)
        , FText(AValue) {}

    TVarRec(const char* AValue)
        : FType(vtPChar)
        , FText(AValue != nullptr ? AValue : "")
        , FPointer(AValue) {}

    TVarRec(std::nullptr_t)
        : FType(vtPointer) {}

    TVarRec(char* AValue)
        : TVarRec(static_cast<const char*>(AValue)) {}

    template <typename T, std::enable_if_t<!std::is_same_v<std::remove_cv_t<T>, char>, int> = 0>
    TVarRec(T* AValue)
        : FType(std::is_base_of_v<TObject, std::remove_cv_t<T>> ? vtObject : vtPointer)
        , FPointer(static_cast<const void*>(AValue)) {}

    TVarType VType() const { return FType; }

    /// The integer of vtInteger (32-bit), vtInt64, vtBoolean (0/1) and vtChar (its code).
    std::int64_t VInteger() const { return FInt; }

    long double VExtended() const { return FFloat; }

    /// The text of vtAnsiString and vtPChar.
    const std::string& VString() const { return FText; }

    /// The address of vtPointer, vtObject and vtPChar.
    const void* VPointer() const { return FPointer; }

private:
    template <typename T>
    static constexpr bool IsInteger() {
        return std::is_signed_v<T> ? sizeof(T) <= 4 : sizeof(T) < 4;
    }

    TVarType FType;
    std::int64_t FInt = 0;
    long double FFloat = 0;
    std::string FText;
    const void* FPointer = nullptr;
};

/// Formats AArgs into AFormat: "%" [index ":"] ["-"] [width] ["." prec] type, where index,
/// width and prec are digits or "*" (taken from the next vtInteger argument), and type is one
/// of d u x e f g n m p s (any case); "%%" is a percent sign. There is no zero flag: "%05d"
/// pads with spaces, zeros come from the precision ("%.5d"). Each conversion takes the next
/// argument; an index moves that pointer. Extra arguments are ignored.
/// d, u, x take vtInteger/vtInt64; e f g n m take vtExtended; p takes vtPointer/vtPChar (the
/// low 32 bits as 8 upper-case hex digits); s takes vtAnsiString/vtPChar/vtChar.
/// Raises EConvertError "Format '<fmt>' invalid or incompatible with argument" for an unknown
/// type letter, an argument of the wrong type or an incomplete specifier, and "No argument for
/// format '<fmt>'" when the argument pointer runs past the arguments; <fmt> is the whole format
/// cut to its first 31 characters.
std::string Format(const std::string& AFormat, std::initializer_list<TVarRec> AArgs);

/// Format over an argument list built at run time.
std::string Format(const std::string& AFormat, std::span<const TVarRec> AArgs);

/// Format with explicit settings instead of FormatSettings().
std::string Format(const std::string& AFormat, std::initializer_list<TVarRec> AArgs,
                   const TFormatSettings& ASettings);
std::string Format(const std::string& AFormat, std::span<const TVarRec> AArgs,
                   const TFormatSettings& ASettings);

/// Decimal text, a leading "-" for negatives, no padding or grouping.
std::string IntToStr(int AValue);
std::string IntToStr(std::int64_t AValue);

/// Other integer types print their own value (an unsigned 64-bit value stays unsigned).
template <typename T,
          std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                               !std::is_same_v<T, int> && !std::is_same_v<T, std::int64_t>,
                           int> = 0>
std::string IntToStr(T AValue) {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) == 8)
        return std::to_string(AValue);
    else
        return IntToStr(static_cast<std::int64_t>(AValue));
}

/// Upper-case hexadecimal of the 32-bit value, zero-padded to at least ADigits (at most 32).
std::string IntToHex(int AValue, int ADigits);

/// Upper-case hexadecimal of the 64-bit value, zero-padded to at least ADigits (at most 32).
std::string IntToHex(std::int64_t AValue, int ADigits);

/// Parses leading spaces, an optional sign, then decimal digits or "$" and hex digits; nothing
/// may follow. Hex literals may use all 32 bits ("$FFFFFFFF" = -1). Raises EConvertError
/// "'<s>' is not a valid integer value" with AText as passed.
int StrToInt(const std::string& AText);

/// StrToInt over the 64-bit range.
std::int64_t StrToInt64(const std::string& AText);

/// StrToInt, or ADefault instead of the error.
int StrToIntDef(const std::string& AText, int ADefault);

/// StrToInt without the exception: false (AValue untouched) when the text is not an integer.
bool TryStrToInt(const std::string& AText, int& AValue);

enum TFloatFormat : std::uint8_t { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

/// Text of AValue in the given format, digits rounded half away from zero from the value's
/// 18-digit decimal expansion. NaN, +Inf, -Inf print "NAN", "INF", "-INF".
/// - ffGeneral: APrecision (1..18) significant digits, trailing zeros removed, fixed notation
///   when 1E-4 <= |x| < 10^APrecision after rounding, else "d.dddE[-]x" with at least ADigits
///   (0..4) exponent digits;
/// - ffExponent: "d.ddd" with APrecision digits in all, "E", a sign, >= ADigits exponent digits;
/// - ffFixed: ADigits (0..18) decimals; values with more than APrecision integer digits fall
///   back to ffGeneral;
/// - ffNumber: ffFixed with ThousandSeparator; ffCurrency: ffNumber wrapped by CurrencyString,
///   CurrencyFormat and NegCurrFormat.
std::string FloatToStrF(long double AValue, TFloatFormat AFormat, int APrecision, int ADigits);
std::string FloatToStrF(long double AValue, TFloatFormat AFormat, int APrecision, int ADigits,
                        const TFormatSettings& ASettings);

/// FloatToStrF(AValue, ffGeneral, 15, 0): "0.1", "1E15", "9.99E-5", "0.666666666666667".
std::string FloatToStr(long double AValue);
std::string FloatToStr(long double AValue, const TFormatSettings& ASettings);

/// Parses spaces (only ' '), an optional sign, digits with at most one DecimalSeparator (at
/// least one digit in all), an optional exponent ("E"/"e", optional sign, digits), spaces.
/// No other separator, "INF", "NAN" or hex. Raises EConvertError
/// "'<s>' is not a valid floating point value" with AText as passed, also on overflow.
long double StrToFloat(const std::string& AText);
long double StrToFloat(const std::string& AText, const TFormatSettings& ASettings);

/// StrToFloat without the exception: false (AValue untouched) when the text is not a number.
bool TryStrToFloat(const std::string& AText, long double& AValue);
bool TryStrToFloat(const std::string& AText, long double& AValue, const TFormatSettings& ASettings);

/// AText without leading and trailing spaces and control characters (bytes <= ' ').
std::string Trim(const std::string& AText);
std::string TrimLeft(const std::string& AText);
std::string TrimRight(const std::string& AText);

/// AText between two AQuote characters, each AQuote inside it doubled, so the text cannot end
/// the quotes early: it's with ' gives 'it''s'.
std::string AnsiQuotedStr(const std::string& AText, char AQuote);

/// ASCII case mapping; other bytes are kept.
std::string UpperCase(const std::string& AText);
std::string LowerCase(const std::string& AText);

/// Case mapping in the user's locale; UTF-8 text is mapped per character (invalid sequences
/// are kept as they are).
std::string AnsiUpperCase(const std::string& AText);
std::string AnsiLowerCase(const std::string& AText);

/// Ordinal comparison after mapping 'a'..'z' to upper case: < 0, 0 or > 0.
int CompareText(const std::string& AText1, const std::string& AText2);

/// CompareText(AText1, AText2) == 0.
bool SameText(const std::string& AText1, const std::string& AText2);

/// Orders texts by CompareText: the key order of maps and sets of names that ignore ASCII case.
struct TTextLess {
    bool operator()(const std::string& AText1, const std::string& AText2) const {
        return CompareText(AText1, AText2) < 0;
    }
};

/// Days since 1899-12-30 of the date. Raises EConvertError "Invalid argument to date encode"
/// outside 1..9999 / 1..12 / the days of the month.
TDateTime EncodeDate(int AYear, int AMonth, int ADay);

/// Fraction of a day. Raises EConvertError "Invalid argument to time encode" unless
/// hour < 24, minute < 60, second < 60 and millisecond < 1000.
TDateTime EncodeTime(int AHour, int AMin, int ASec, int AMSec);

bool TryEncodeDate(int AYear, int AMonth, int ADay, TDateTime& ADate);
bool TryEncodeTime(int AHour, int AMin, int ASec, int AMSec, TDateTime& ATime);

/// Splits the date part. The value is first rounded to whole milliseconds, so a time just
/// before midnight belongs to the next day. Dates before 0001-01-01 decode as 0/0/0. Raises
/// EInvalidOp for NaN, infinities and values beyond +-2^31 days.
void DecodeDate(TDateTime ADate, int& AYear, int& AMonth, int& ADay);

/// Splits the time part, rounded to whole milliseconds (raises as DecodeDate).
void DecodeTime(TDateTime ATime, int& AHour, int& AMin, int& ASec, int& AMSec);

/// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime ADate);

bool IsLeapYear(int AYear);

/// Today in local time, fraction 0.
TDateTime Date();

/// The local time of day, integer part 0, whole milliseconds.
TDateTime Time();

/// Date() + Time(), read from one clock sample.
TDateTime Now();

/// Formats ADateTime by the framework's pattern language (letters case-insensitive): c, d, dd,
/// ddd, dddd, ddddd (ShortDateFormat), dddddd (LongDateFormat), m, mm (minutes right after an
/// h token), mmm, mmmm, yy, yyyy, h, hh (12-hour when an am/pm token follows anywhere later),
/// n, nn, s, ss, z, zzz, t (ShortTimeFormat), tt (LongTimeFormat), am/pm, a/p, ampm, "/"
/// (DateSeparator), ":" (TimeSeparator), '...' and "..." literals; other characters are copied.
/// An empty pattern is "c". Raises as DecodeDate for values that cannot be decoded.
std::string FormatDateTime(const std::string& AFormat, TDateTime ADateTime);
std::string FormatDateTime(const std::string& AFormat, TDateTime ADateTime,
                           const TFormatSettings& ASettings);

/// FormatDateTime("c", ...): the short date, and the long time unless it is exactly midnight.
std::string DateTimeToStr(TDateTime ADateTime);

/// FormatDateTime(ShortDateFormat, ...).
std::string DateToStr(TDateTime ADateTime);

/// FormatDateTime(LongTimeFormat, ...).
std::string TimeToStr(TDateTime ADateTime);

/// AFileName with its extension (from the last '.' of the name part) replaced by AExtension,
/// or AExtension appended when the name has none: ChangeFileExt("a/b.map", ".log").
std::string ChangeFileExt(const std::string& AFileName, const std::string& AExtension);

/// The name part after the last '/'.
std::string ExtractFileName(const std::string& AFileName);

/// Everything up to and including the last '/'; "" when there is none.
std::string ExtractFilePath(const std::string& AFileName);

/// The folder without the trailing '/' (kept for the root, "/x" -> "/"); "" when none.
std::string ExtractFileDir(const std::string& AFileName);

/// The extension including its '.', from the last '.' of the name part; "" when none.
std::string ExtractFileExt(const std::string& AFileName);

/// An absolute name: relative names are taken from the current folder, "." and ".." parts are
/// resolved by text (links are not followed). "" stays "".
std::string ExpandFileName(const std::string& AFileName);

/// APath with one trailing '/' (added when missing).
std::string IncludeTrailingPathDelimiter(const std::string& APath);

/// APath without its trailing '/' (the root "/" stays).
std::string ExcludeTrailingPathDelimiter(const std::string& APath);

/// True when AFileName exists and is not a folder (links are followed).
bool FileExists(const std::string& AFileName);

/// Removes the file; false when it did not exist, is a folder or could not be removed.
bool DeleteFile(const std::string& AFileName);

// ---- Exception descriptions ---------------------------------------------------------------

/// The one-paragraph description of an exception, at most ASize characters (the rest cut off):
/// "Exception <ClassName> in module <ModuleFile> at <Offset8>." CRLF "<Message><Dot>" CRLF.
/// ModuleFile is the file name (no folder) of the module that contains AExceptAddr; Offset8
/// the address relative to that module as eight upper-case hex digits. Map-model addresses of
/// the executable count as loaded at 0x00400000 (so a map address 0x0040A4F3 is at 0000A4F3);
/// an address in no module is reported in the module of this library, minus 0x1000. Message
/// stops at an embedded NUL (empty when AExceptObject is null); Dot is "." unless the message
/// is empty or already ends with one. Writes into ABuffer (NUL-terminated when ASize > 0 and
/// the buffer has room for it: ABuffer must hold ASize + 1 characters) and returns the length.
int ExceptionErrorMessage(const Exception* AExceptObject, const void* AExceptAddr, char* ABuffer,
                          int ASize);

/// ExceptionErrorMessage as a string, of any length.
std::string ExceptionErrorMessage(const Exception* AExceptObject, const void* AExceptAddr);

/// The console presentation of an exception nobody handled: the first 1024 characters of its
/// ExceptionErrorMessage, written to standard error.
void ShowException(const Exception* AExceptObject, const void* AExceptAddr);

} // namespace host
