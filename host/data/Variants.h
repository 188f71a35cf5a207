// host/data/Variants.h - Variant: a value of one of a few types, or Null, or Unassigned.
//
// Fields of a data set hand their values out as variants, so code that compares an old value
// with a new one or prints a value does not need to know the field's type. Comparison follows
// the framework's loose rule for Null; conversion to text never fails.
#pragma once

#include "host/core/SysUtils.h"
#include "host/core/System.h"

#include <cstdint>
#include <string>

namespace host {

/// The type codes of a variant, with the framework's values.
enum TVarTypeCode : std::uint16_t {
    varEmpty = 0x0000,
    varNull = 0x0001,
    varInteger = 0x0003,
    varDouble = 0x0005,
    varDate = 0x0007,
    varBoolean = 0x000B,
    varInt64 = 0x0014,
    varString = 0x0100,
};

/// Raised when a variant cannot be converted to the type asked for: "Could not convert variant
/// of type (Null) into type (Integer)".
JEX_EXCEPTION(EVariantTypeCastError, EVariantError);

/// A tagged value. A default-constructed variant is Unassigned ("no value at all"); Null()
/// stands for an SQL NULL. Integers are kept as 64-bit values (varInt64 for those beyond 32
/// bits), floats as doubles, text as 8-bit strings passed through unchanged.
class Variant {
public:
    /// Unassigned.
    Variant() = default;

    Variant(int AValue)
        : FType(varInteger)
        , FInt(AValue) {}

    Variant(std::int64_t AValue)
        : FType(AValue >= INT32_MIN && AValue <= INT32_MAX ? varInteger : varInt64)
        , FInt(AValue) {}

    Variant(double AValue)
        : FType(varDouble)
        , FFloat(AValue) {}

    Variant(bool AValue)
        : FType(varBoolean)
        , FInt(AValue ? 1 : 0) {}

    Variant(std::string AValue)
        : FType(varString)
        , FText(std::move(AValue)) {}

    Variant(const char* AValue)
        : FType(varString)
        , FText(AValue != nullptr ? AValue : "") {}

    /// The SQL NULL.
    static Variant Null();

    /// A date-time value (varDate); TDateTime is a double, so it needs its own constructor.
    static Variant FromDateTime(TDateTime AValue);

    TVarTypeCode VarType() const { return FType; }

    bool IsNull() const { return FType == varNull; }

    bool IsEmpty() const { return FType == varEmpty; }

    /// Null or Unassigned: no value to convert.
    bool IsAbsent() const { return FType == varEmpty || FType == varNull; }

    /// True for varInteger, varInt64, varDouble, varDate and varBoolean.
    bool IsNumeric() const;

    /// The value as an integer: floats and dates rounded half to even, booleans 0/1 (True is
    /// -1 in the original, but 1 is what SQL stores), text through StrToInt64. Unassigned
    /// gives 0. Raises EVariantTypeCastError for Null, for text that is no integer and for a
    /// float out of range.
    std::int64_t AsInt64() const;

    /// The value as a double: text through StrToFloat. Unassigned gives 0; raises
    /// EVariantTypeCastError for Null and for text that is no number.
    double AsDouble() const;

    /// Numbers are true unless 0; text "True"/"False" ignoring case or a number. Unassigned
    /// gives false; raises EVariantTypeCastError for Null and other text.
    bool AsBoolean() const;

    /// The value as text (VarToStr), except that Null raises EVariantTypeCastError as a
    /// direct string conversion does.
    std::string AsString() const;

    /// Equality by the default loose Null rule: Null equals only Null, Unassigned only
    /// Unassigned; numbers compare by value across integer, float, date and boolean; text
    /// compares byte for byte; text against a number compares as numbers (the text converted,
    /// EVariantTypeCastError when it is no number).
    bool operator==(const Variant& AOther) const;

    bool operator!=(const Variant& AOther) const { return !(*this == AOther); }

private:
    [[noreturn]] void CastError(const char* ATarget) const;

    TVarTypeCode FType = varEmpty;
    std::int64_t FInt = 0;
    double FFloat = 0;
    std::string FText;
};

/// The text of a variant as the framework writes it: "" for Null and Unassigned, IntToStr,
/// FloatToStr, DateTimeToStr, "True"/"False", text unchanged.
std::string VarToStr(const Variant& AValue);

/// The name of a type code as the framework's messages write it: "Empty", "Null", "Integer",
/// "Double", "Date", "Boolean", "Int64", "String".
std::string VarTypeAsText(TVarTypeCode AType);

inline bool VarIsNull(const Variant& AValue) {
    return AValue.IsNull();
}

inline bool VarIsEmpty(const Variant& AValue) {
    return AValue.IsEmpty();
}

} // namespace host
