// host/data/Variants.cpp - Variant: conversions, comparison and text.
#include "host/data/Variants.h"

#include <cmath>
#include <limits>

namespace host {

Variant Variant::Null() {
    Variant v;
    v.FType = varNull;
    return v;
}

Variant Variant::FromDateTime(TDateTime AValue) {
    Variant v;
    v.FType = varDate;
    v.FFloat = AValue;
    return v;
}

bool Variant::IsNumeric() const {
    switch (FType) {
    case varInteger:
    case varInt64:
    case varDouble:
    case varDate:
    case varBoolean:
        return true;
    default:
        return false;
    }
}

void Variant::CastError(const char* ATarget) const {
    throw EVariantTypeCastError("Could not convert variant of type (" + VarTypeAsText(FType) +
                                ") into type (" + ATarget + ")");
}

std::int64_t Variant::AsInt64() const {
    switch (FType) {
    case varEmpty:
        return 0;
    case varInteger:
    case varInt64:
    case varBoolean:
        return FInt;
    case varDouble:
    case varDate: {
        // The framework rounds half to even, which is the default rounding mode.
        const double r = std::nearbyint(FFloat);
        if (!(r >= -9.2233720368547758e18 && r < 9.2233720368547758e18))
            CastError("Int64");
        return static_cast<std::int64_t>(r);
    }
    case varString: {
        try {
            return StrToInt64(FText);
        } catch (const EConvertError&) {
            CastError("Int64");
        }
    }
    default:
        CastError("Int64");
    }
}

double Variant::AsDouble() const {
    switch (FType) {
    case varEmpty:
        return 0;
    case varInteger:
    case varInt64:
    case varBoolean:
        return static_cast<double>(FInt);
    case varDouble:
    case varDate:
        return FFloat;
    case varString: {
        long double value = 0;
        if (!TryStrToFloat(FText, value))
            CastError("Double");
        return static_cast<double>(value);
    }
    default:
        CastError("Double");
    }
}

bool Variant::AsBoolean() const {
    switch (FType) {
    case varEmpty:
        return false;
    case varInteger:
    case varInt64:
    case varBoolean:
        return FInt != 0;
    case varDouble:
    case varDate:
        return FFloat != 0;
    case varString: {
        if (SameText(FText, "True"))
            return true;
        if (SameText(FText, "False"))
            return false;
        long double value = 0;
        if (!TryStrToFloat(FText, value))
            CastError("Boolean");
        return value != 0;
    }
    default:
        CastError("Boolean");
    }
}

std::string Variant::AsString() const {
    if (FType == varNull)
        CastError("String");
    if (FType == varString)
        return FText;
    return VarToStr(*this);
}

bool Variant::operator==(const Variant& AOther) const {
    if (IsAbsent() || AOther.IsAbsent())
        return FType == AOther.FType;
    if (FType == varString && AOther.FType == varString)
        return FText == AOther.FText;
    // Two integers compare exactly; anything involving a float or text compares as doubles.
    const bool leftInt = FType == varInteger || FType == varInt64 || FType == varBoolean;
    const bool rightInt =
        AOther.FType == varInteger || AOther.FType == varInt64 || AOther.FType == varBoolean;
    if (leftInt && rightInt)
        return FInt == AOther.FInt;
    return AsDouble() == AOther.AsDouble();
}

std::string VarToStr(const Variant& AValue) {
    switch (AValue.VarType()) {
    case varEmpty:
    case varNull:
        return std::string();
    case varInteger:
    case varInt64:
        return IntToStr(AValue.AsInt64());
    case varDouble:
        return FloatToStr(AValue.AsDouble());
    case varDate:
        return DateTimeToStr(AValue.AsDouble());
    case varBoolean:
        return AValue.AsBoolean() ? "True" : "False";
    case varString:
        break;
    }
    return AValue.AsString();
}

std::string VarTypeAsText(TVarTypeCode AType) {
    switch (AType) {
    case varEmpty:
        return "Empty";
    case varNull:
        return "Null";
    case varInteger:
        return "Integer";
    case varDouble:
        return "Double";
    case varDate:
        return "Date";
    case varBoolean:
        return "Boolean";
    case varInt64:
        return "Int64";
    case varString:
        return "String";
    }
    return "Unknown";
}

} // namespace host
