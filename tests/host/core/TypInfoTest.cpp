// tests/host/core/TypInfoTest.cpp - the class registry, the member builder and the TypInfo
// calls on published properties.
#include "host/core/TypInfo.h"

#include "host/core/Classes.h"
#include "tests/support/Raises.h"
#include "tests/support/SampleComponents.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace host;
using namespace jex::test;

namespace {

// Publishes Tag again with another default and adds two properties of its own, one of them
// read-only and answered by value.
class TWideForm : public TTestForm {
    JEX_CLASS(TWideForm)

public:
    using TTestForm::TTestForm;

    int Depth() const { return 3; }

    void SetDepth(int) {}

    std::string Footer() const { return "footer"; }
};

const TClassInfo& TWideForm::StaticClassInfo() {
    using T = TWideForm;
    static const TClassInfo info = TClassInfoBuilder<T>("TWideForm", &TTestForm::StaticClassInfo())
                                       .Component()
                                       .Integer("Depth", &T::Depth, &T::SetDepth)
                                       .String("Footer", &T::Footer, nullptr)
                                       .Integer("Tag", &T::Tag, &T::SetTag, 100)
                                       .Build();
    return info;
}

std::vector<std::string> Names(const std::vector<const TPropInfo*>& AList) {
    std::vector<std::string> names;
    for (const TPropInfo* p : AList)
        names.push_back(p->Name);
    return names;
}

} // namespace

// ---- Class registry ------------------------------------------------------------------------

TEST(TypInfoTest, RegisteredClassesAreFoundByNameIgnoringCase) {
    RegisterClass(TTestWidget::StaticClassInfo());
    RegisterClass(TTestWidget::StaticClassInfo()); // again: no effect
    EXPECT_EQ(&FindClass("ttestwidget"), &TTestWidget::StaticClassInfo());
    EXPECT_EQ(GetClass("TTESTWIDGET"), &TTestWidget::StaticClassInfo());
    EXPECT_EQ(GetClass("TNoSuchPanel"), nullptr);
    EXPECT_EQ(MessageOf<EClassNotFound>([] { FindClass("TNoSuchPanel"); }),
              "Class TNoSuchPanel not found");
    static const TClassInfo impostor{.Name = "TTestWidget"};
    EXPECT_EQ(MessageOf<EFilerError>([] { RegisterClass(impostor); }),
              "A class named TTestWidget already exists");
    UnRegisterClass(impostor); // not the registered one: stays
    EXPECT_NE(GetClass("TTestWidget"), nullptr);
}

TEST(TypInfoTest, TheRegistryServesManyThreadsAtOnce) {
    static std::vector<TClassInfo> classes = [] {
        std::vector<TClassInfo> list;
        for (int i = 0; i < 64; ++i)
            list.push_back(TClassInfo{.Name = "TThreaded" + std::to_string(i)});
        return list;
    }();
    std::atomic<int> found{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = t; i < 64; i += 4)
                RegisterClass(classes[static_cast<std::size_t>(i)]);
            for (int i = 0; i < 64; ++i)
                if (GetClass("TThreaded" + std::to_string(i)) != nullptr)
                    ++found;
        });
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(GetClass("tthreaded" + std::to_string(i)), &classes[static_cast<std::size_t>(i)]);
    for (const TClassInfo& c : classes)
        UnRegisterClass(c);
    EXPECT_EQ(GetClass("TThreaded0"), nullptr);
    EXPECT_GT(found.load(), 0);
}

TEST(TypInfoTest, ComponentClassesCreateCompleteComponentsWithTheirOwner) {
    TComponent owner(nullptr);
    TComponent* made = TTestWidget::StaticClassInfo().CreateComponent(&owner);
    EXPECT_NE(dynamic_cast<TTestWidget*>(made), nullptr);
    EXPECT_EQ(made->Owner(), &owner);
    EXPECT_TRUE(TWideForm::StaticClassInfo().InheritsFrom(TComponent::StaticClassInfo()));
}

// ---- Property lookup -----------------------------------------------------------------------

TEST(TypInfoTest, GetPropInfoIgnoresCaseWalksAncestorsAndAnswersNullWhenAbsent) {
    TTestWidget widget(nullptr);
    const TPropInfo* title = GetPropInfo(&widget, "CAPTION");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->Name, "Caption");
    EXPECT_EQ(title->PropType->Kind, tkString);
    const TPropInfo* tag = GetPropInfo(&widget, "tag");
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->Default, 0);
    EXPECT_EQ(GetPropInfo(&widget, "Colour"), nullptr);
    EXPECT_EQ(GetPropInfo(static_cast<const TObject*>(nullptr), "Caption"), nullptr);
    EXPECT_TRUE(IsPublishedProp(&widget, "Name"));
}

TEST(TypInfoTest, PropertiesComeAncestorsFirstAndARepublishedOneKeepsItsPlace) {
    EXPECT_EQ(Names(GetPropList(TTestWidget::StaticClassInfo())),
              (std::vector<std::string>{"Name",    "Tag",   "Caption", "Count",  "Enabled",
                                        "Visible", "Kind",  "Options", "Ratio",  "Scale",
                                        "Big",     "Stamp", "Price",   "Handle", "Hidden",
                                        "SendTo",  "Lines", "Items",   "Buddy",  "OnClick"}));
    TWideForm wide(nullptr);
    const std::vector<const TPropInfo*> list = GetPropList(&wide);
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"Name", "Tag", "Caption", "OnCreate", "Depth", "Footer"}));
    EXPECT_EQ(list[1]->Default, 100);
    EXPECT_EQ(GetPropInfo(&wide, "Tag")->Default, 100);
}

// ---- Accessors -----------------------------------------------------------------------------

TEST(TypInfoTest, AccessorsReadAndWriteThroughThePublishedTable) {
    TTestWidget widget(nullptr);
    SetStrProp(&widget, "Caption", "Hello");
    EXPECT_EQ(widget.Caption(), "Hello");
    EXPECT_EQ(GetStrProp(&widget, "caption"), "Hello");
    TWideForm wide(nullptr);
    EXPECT_EQ(GetStrProp(&wide, "Footer"), "footer");
    SetOrdProp(&widget, "Count", 250);
    EXPECT_EQ(GetOrdProp(&widget, "Count"), 250);
    SetOrdProp(&widget, "Visible", 1);
    EXPECT_TRUE(widget.Visible());
    EXPECT_EQ(GetEnumProp(&widget, "Visible"), "True");
    SetEnumProp(&widget, "Kind", "WKLARGE");
    EXPECT_EQ(widget.Kind(), wkLarge);
    EXPECT_EQ(GetOrdProp(&widget, "Kind"), 2);
    EXPECT_EQ(GetEnumProp(&widget, "Kind"), "wkLarge");
    widget.SetOptions({woBold, woItalic});
    EXPECT_EQ(GetOrdProp(&widget, "Options"), 0b0011);
    EXPECT_EQ(GetSetProp(&widget, "Options"), "woBold,woItalic");
    EXPECT_EQ(GetSetProp(&widget, "Options", true), "[woBold,woItalic]");
    SetSetProp(&widget, "Options", "[woUnder]");
    EXPECT_EQ(widget.Options(), (TWidgetOptions{woUnder}));
    SetFloatProp(&widget, "Ratio", 1.25);
    EXPECT_DOUBLE_EQ(GetFloatProp(&widget, "Ratio"), 1.25);
    TComponent partner(nullptr);
    SetObjectProp(&widget, "Buddy", &partner);
    EXPECT_EQ(GetObjectProp(&widget, "Buddy"), &partner);
    SetObjectProp(&widget, "Buddy", nullptr);
    EXPECT_EQ(widget.Buddy(), nullptr);
}

TEST(TypInfoTest, AccessorsReportMissingReadOnlyAndMistypedProperties) {
    TTestWidget widget(nullptr);
    EXPECT_EQ(MessageOf<EPropertyError>([&] { GetStrProp(&widget, "Colour"); }),
              "Property Colour does not exist");
    EXPECT_EQ(MessageOf<EPropertyError>([&] { SetOrdProp(&widget, "Colour", 1); }),
              "Property Colour does not exist");
    EXPECT_EQ(MessageOf<EPropertyError>([&] { GetSetProp(&widget, "Colour"); }),
              "Property Colour does not exist");
    TWideForm wide(nullptr);
    EXPECT_EQ(MessageOf<EPropReadOnly>([&] { SetStrProp(&wide, "Footer", "x"); }),
              "Property is read-only");
    EXPECT_EQ(MessageOf<EPropertyError>([&] { GetOrdProp(&widget, "Caption"); }),
              "Invalid property type: string");
    EXPECT_EQ(MessageOf<EPropertyConvertError>([&] { SetEnumProp(&widget, "Kind", "wkHuge"); }),
              "Invalid property element: wkHuge");
    TObject plain;
    EXPECT_EQ(MessageOf<EInvalidCast>([&] { SetObjectProp(&widget, "Buddy", &plain); }),
              "Invalid class typecast");
}

TEST(TypInfoTest, StoredTestsAreEvaluated) {
    TTestWidget widget(nullptr);
    EXPECT_FALSE(IsStoredProp(&widget, "Hidden"));
    widget.FStoreHidden = true;
    EXPECT_TRUE(IsStoredProp(&widget, "Hidden"));
    EXPECT_FALSE(IsStoredProp(&widget, "Name"));
    EXPECT_TRUE(IsStoredProp(&widget, "Caption"));
}

TEST(TypInfoTest, EventsAreBoundAndNamedThroughPublishedMethods) {
    TTestForm form(nullptr);
    const TPropInfo* onCreate = GetPropInfo(&form, "OnCreate");
    ASSERT_NE(onCreate, nullptr);
    EXPECT_EQ(onCreate->PropType->Kind, tkMethod);
    EXPECT_TRUE(onCreate->SetMethodName(&form, &form, "formcreate"));
    EXPECT_EQ(form.OnCreate(), TNotifyEvent(&form, &TTestForm::FormCreate));
    EXPECT_EQ(onCreate->GetMethodName(&form, &form), "FormCreate");
    TTestForm other(nullptr);
    // Bound to another instance's method: not a method of this root.
    EXPECT_EQ(onCreate->GetMethodName(&form, &other), "");
    EXPECT_FALSE(onCreate->SetMethodName(&form, &form, "NoSuchMethod"));
    EXPECT_TRUE(onCreate->SetMethodName(&form, &form, ""));
    EXPECT_FALSE(form.OnCreate().Assigned());
    EXPECT_NE(GetMethodInfo(TWideForm::StaticClassInfo(), "FORMCREATE"), nullptr);
}

// ---- Enumeration and set names -------------------------------------------------------------

TEST(TypInfoTest, EnumNamesAndValuesConvertBothWays) {
    EXPECT_EQ(GetEnumName(BooleanTypeInfo(), 0), "False");
    EXPECT_EQ(GetEnumName(BooleanTypeInfo(), 1), "True");
    EXPECT_EQ(GetEnumName(WidgetKindType(), 1), "wkSmall");
    EXPECT_EQ(GetEnumName(WidgetKindType(), 3), "");
    EXPECT_EQ(GetEnumName(WidgetKindType(), -1), "");
    EXPECT_EQ(GetEnumName(IntegerTypeInfo<int>(), -12), "-12");
    EXPECT_EQ(GetEnumValue(WidgetKindType(), "WKSMALL"), 1);
    EXPECT_EQ(GetEnumValue(WidgetKindType(), "wkHuge"), -1);
    EXPECT_EQ(GetEnumValue(BooleanTypeInfo(), "true"), 1);
}

TEST(TypInfoTest, SetsConvertToAndFromMemberNames) {
    EXPECT_EQ(SetToString(WidgetOptionsType(), 0b101), "woBold,woUnder");
    EXPECT_EQ(SetToString(WidgetOptionsType(), 0b101, true), "[woBold,woUnder]");
    EXPECT_EQ(SetToString(WidgetOptionsType(), 0), "");
    EXPECT_EQ(SetToString(WidgetOptionsType(), 0, true), "[]");
    EXPECT_EQ(StringToSet(WidgetOptionsType(), " [ wobold , WOUNDER ] "), 0b101);
    EXPECT_EQ(StringToSet(WidgetOptionsType(), "[]"), 0);
    EXPECT_EQ(StringToSet(WidgetOptionsType(), "woBold woItalic"), 0b011);
    EXPECT_EQ(MessageOf<EPropertyConvertError>(
                  [] { StringToSet(WidgetOptionsType(), "[woBold,woMiddle]"); }),
              "Invalid property element: woMiddle");
    TTestWidget widget(nullptr);
    EXPECT_EQ(SetToString(GetPropInfo(&widget, "Options"), 0b100), "woUnder");
}
