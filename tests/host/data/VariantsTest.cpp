// tests/host/data/VariantsTest.cpp - Variant: the loose Null comparison, conversions and text.
#include "host/data/Variants.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

using namespace host;

TEST(VariantTest, NullAndUnassignedEqualOnlyThemselves) {
    EXPECT_TRUE(Variant::Null() == Variant::Null());
    EXPECT_TRUE(Variant() == Variant());
    EXPECT_FALSE(Variant::Null() == Variant());
    EXPECT_FALSE(Variant::Null() == Variant(0));
    EXPECT_FALSE(Variant::Null() == Variant(""));
    EXPECT_TRUE(Variant::Null() != Variant(1));
    EXPECT_FALSE(Variant() == Variant(0));
}

TEST(VariantTest, ValuesCompareByValueAcrossNumberTypes) {
    EXPECT_TRUE(Variant(1) == Variant(1.0));
    EXPECT_TRUE(Variant(std::int64_t{5000000000}) == Variant(5e9));
    EXPECT_FALSE(Variant(std::int64_t{9007199254740993}) ==
                 Variant(std::int64_t{9007199254740992}));
    EXPECT_TRUE(Variant(true) == Variant(1));
    EXPECT_TRUE(Variant("12") == Variant(12));
    EXPECT_FALSE(Variant("Ann") == Variant("ann"));
    EXPECT_TRUE(Variant::FromDateTime(2.5) == Variant(2.5));
    EXPECT_THROW((void)(Variant("abc") == Variant(1)), EVariantTypeCastError);
}

TEST(VariantTest, TextIsTheFrameworksAndNullGivesEmptyText) {
    EXPECT_EQ(VarToStr(Variant::Null()), "");
    EXPECT_EQ(VarToStr(Variant()), "");
    EXPECT_EQ(VarToStr(Variant(-42)), "-42");
    EXPECT_EQ(VarToStr(Variant(std::int64_t{5000000000})), "5000000000");
    EXPECT_EQ(VarToStr(Variant(0.1)), "0.1");
    EXPECT_EQ(VarToStr(Variant(true)), "True");
    EXPECT_EQ(VarToStr(Variant("5\" pipe")), "5\" pipe");
    EXPECT_EQ(VarToStr(Variant::FromDateTime(EncodeDate(2026, 12, 8))), "12/8/2026");
}

TEST(VariantTest, ConversionsOfNullAndBadTextRaiseTheCastError) {
    try {
        (void)Variant::Null().AsString();
        FAIL() << "nothing raised";
    } catch (const EVariantTypeCastError& e) {
        EXPECT_EQ(e.Message(), "Could not convert variant of type (Null) into type (String)");
    }
    EXPECT_THROW((void)Variant::Null().AsInt64(), EVariantTypeCastError);
    EXPECT_THROW((void)Variant("x1").AsDouble(), EVariantTypeCastError);
    EXPECT_THROW((void)Variant(1e300).AsInt64(), EVariantTypeCastError);
    EXPECT_EQ(Variant().AsInt64(), 0);
    EXPECT_EQ(Variant(2.5).AsInt64(), 2); // half to even
    EXPECT_EQ(Variant(3.5).AsInt64(), 4);
    EXPECT_TRUE(Variant("TRUE").AsBoolean());
    EXPECT_EQ(Variant(std::int64_t{1} << 40).VarType(), varInt64);
    EXPECT_EQ(Variant(std::int64_t{7}).VarType(), varInteger);
}

TEST(VariantTest, NumbersConvertAcrossTypesAsAFieldReadsThem) {
    EXPECT_EQ(Variant("42").AsInt64(), 42);
    EXPECT_EQ(Variant("-9000000000").AsInt64(), -9000000000);
    EXPECT_THROW((void)Variant("4.2").AsInt64(), EVariantTypeCastError);
    EXPECT_EQ(Variant(true).AsInt64(), 1);
    EXPECT_EQ(Variant::FromDateTime(1.5).AsInt64(), 2);
    EXPECT_DOUBLE_EQ(Variant(7).AsDouble(), 7.0);
    EXPECT_DOUBLE_EQ(Variant(false).AsDouble(), 0.0);
    EXPECT_DOUBLE_EQ(Variant("2.5").AsDouble(), 2.5);
    EXPECT_DOUBLE_EQ(Variant::FromDateTime(3.25).AsDouble(), 3.25);
    EXPECT_DOUBLE_EQ(Variant().AsDouble(), 0.0);
    EXPECT_THROW((void)Variant::Null().AsDouble(), EVariantTypeCastError);
    EXPECT_TRUE(Variant(1).IsNumeric());
    EXPECT_TRUE(Variant::FromDateTime(1).IsNumeric());
    EXPECT_TRUE(Variant(false).IsNumeric());
    EXPECT_FALSE(Variant("1").IsNumeric());
    EXPECT_FALSE(Variant::Null().IsNumeric());
}

TEST(VariantTest, TruthOfNumbersAndTextAndTheCastErrorForOtherText) {
    EXPECT_FALSE(Variant().AsBoolean());
    EXPECT_FALSE(Variant(0).AsBoolean());
    EXPECT_TRUE(Variant(-1).AsBoolean());
    EXPECT_TRUE(Variant(0.5).AsBoolean());
    EXPECT_FALSE(Variant(0.0).AsBoolean());
    EXPECT_FALSE(Variant("false").AsBoolean());
    EXPECT_TRUE(Variant("2").AsBoolean());
    EXPECT_FALSE(Variant("0").AsBoolean());
    try {
        (void)Variant("yes").AsBoolean();
        FAIL() << "nothing raised";
    } catch (const EVariantTypeCastError& e) {
        EXPECT_EQ(e.Message(), "Could not convert variant of type (String) into type (Boolean)");
    }
    EXPECT_THROW((void)Variant::Null().AsBoolean(), EVariantTypeCastError);
}

TEST(VariantTest, EveryTypeHasTheNameTheMessagesUse) {
    const std::pair<Variant, const char*> cases[] = {
        {Variant(), "Empty"},
        {Variant::Null(), "Null"},
        {Variant(1), "Integer"},
        {Variant(1.0), "Double"},
        {Variant::FromDateTime(1), "Date"},
        {Variant(true), "Boolean"},
        {Variant(std::int64_t{1} << 40), "Int64"},
        {Variant("x"), "String"},
    };
    for (const auto& [value, name] : cases)
        EXPECT_EQ(VarTypeAsText(value.VarType()), name);
    EXPECT_EQ(VarTypeAsText(static_cast<TVarTypeCode>(0x4000)), "Unknown");
    EXPECT_EQ(Variant(false).AsString(), "False");
    EXPECT_EQ(Variant(std::int64_t{-7}).AsString(), "-7");
    EXPECT_EQ(Variant().AsString(), "");
}
