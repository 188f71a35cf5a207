// tests/host/core/TypInfoTest.cpp - the class registry, the member builder and the TypInfo
// calls on published properties.
#include "host/core/TypInfo.h"

#include "host/core/Classes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace host;

namespace {

enum TShade : std::uint8_t { shLight, shMedium, shDark };

enum TEdge : std::uint8_t { edLeft, edTop, edRight, edBottom };

using TEdges = TSet<TEdge>;

const TTypeInfo& ShadeType() {
    return EnumType<TShade>("TShade", {"shLight", "shMedium", "shDark"});
}

const TTypeInfo& EdgesType() {
    return SetType<TEdge>("TEdges",
                          EnumType<TEdge>("TEdge", {"edLeft", "edTop", "edRight", "edBottom"}));
}

class TPanelInfo : public TComponent {
    JEX_CLASS(TPanelInfo)

public:
    explicit TPanelInfo(TComponent* AOwner)
        : TComponent(AOwner) {}

    // By const reference and by value: the builder takes both.
    const std::string& Title() const { return FTitle; }

    void SetTitle(const std::string& AValue) { FTitle = AValue; }

    std::string Footer() const { return "footer"; }

    int Width() const { return FWidth; }

    void SetWidth(int AValue) { FWidth = AValue; }

    bool Flat() const { return FFlat; }

    void SetFlat(bool AValue) { FFlat = AValue; }

    TShade Shade() const { return FShade; }

    void SetShade(TShade AValue) { FShade = AValue; }

    const TEdges& Anchors() const { return FAnchors; }

    void SetAnchors(const TEdges& AValue) { FAnchors = AValue; }

    double Ratio() const { return FRatio; }

    void SetRatio(double AValue) { FRatio = AValue; }

    TComponent* Partner() const { return FPartner; }

    void SetPartner(TComponent* AValue) { FPartner = AValue; }

    TNotifyEvent OnResize() const { return FOnResize; }

    void SetOnResize(TNotifyEvent AValue) { FOnResize = AValue; }

    bool IsWidthStored() const { return FWidth != 17; }

    void PanelResize(TObject*) {}

private:
    std::string FTitle;
    int FWidth = 0;
    bool FFlat = false;
    TShade FShade = shLight;
    TEdges FAnchors{edLeft, edTop};
    double FRatio = 0;
    TComponent* FPartner = nullptr;
    TNotifyEvent FOnResize;
};

const TClassInfo& TPanelInfo::StaticClassInfo() {
    using T = TPanelInfo;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TPanelInfo", &TComponent::StaticClassInfo())
            .Component()
            .String("Title", &T::Title, &T::SetTitle)
            .String("Footer", &T::Footer, nullptr)
            .Integer("Width", &T::Width, &T::SetWidth, 0, Stored(&T::IsWidthStored))
            .Bool("Flat", &T::Flat, &T::SetFlat, false)
            .Enum("Shade", &T::Shade, &T::SetShade, ShadeType(), shLight)
            .Set("Anchors", &T::Anchors, &T::SetAnchors, EdgesType(), {edLeft, edTop})
            .Float("Ratio", &T::Ratio, &T::SetRatio)
            .Object("Partner", &T::Partner, &T::SetPartner)
            .Event("OnResize", &T::OnResize, &T::SetOnResize)
            .Method("PanelResize", &T::PanelResize)
            .Build();
    return info;
}

// Publishes Width again with another default and adds one property of its own.
class TWidePanelInfo : public TPanelInfo {
    JEX_CLASS(TWidePanelInfo)

public:
    using TPanelInfo::TPanelInfo;

    int Depth() const { return 3; }

    void SetDepth(int) {}
};

const TClassInfo& TWidePanelInfo::StaticClassInfo() {
    using T = TWidePanelInfo;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TWidePanelInfo", &TPanelInfo::StaticClassInfo())
            .Component()
            .Integer("Depth", &T::Depth, &T::SetDepth)
            .Integer("Width", &T::Width, &T::SetWidth, 100)
            .Build();
    return info;
}

template <typename E, typename F>
std::string MessageOf(F AFunc) {
    try {
        AFunc();
    } catch (const E& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return std::string("wrong exception: ") + e.what();
    }
    return "no exception";
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
    RegisterClass(TPanelInfo::StaticClassInfo());
    RegisterClass(TPanelInfo::StaticClassInfo()); // again: no effect
    EXPECT_EQ(&FindClass("tpanelinfo"), &TPanelInfo::StaticClassInfo());
    EXPECT_EQ(GetClass("TPANELINFO"), &TPanelInfo::StaticClassInfo());
    EXPECT_EQ(GetClass("TNoSuchPanel"), nullptr);
    EXPECT_EQ(MessageOf<EClassNotFound>([] { FindClass("TNoSuchPanel"); }),
              "Class TNoSuchPanel not found");
    static const TClassInfo impostor{.Name = "TPanelInfo"};
    EXPECT_EQ(MessageOf<EFilerError>([] { RegisterClass(impostor); }),
              "A class named TPanelInfo already exists");
    UnRegisterClass(impostor); // not the registered one: stays
    EXPECT_NE(GetClass("TPanelInfo"), nullptr);
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
    TComponent* made = TPanelInfo::StaticClassInfo().CreateComponent(&owner);
    EXPECT_NE(dynamic_cast<TPanelInfo*>(made), nullptr);
    EXPECT_EQ(made->Owner(), &owner);
    EXPECT_TRUE(TWidePanelInfo::StaticClassInfo().InheritsFrom(TComponent::StaticClassInfo()));
}

// ---- Property lookup -----------------------------------------------------------------------

TEST(TypInfoTest, GetPropInfoIgnoresCaseWalksAncestorsAndAnswersNullWhenAbsent) {
    TPanelInfo panel(nullptr);
    const TPropInfo* title = GetPropInfo(&panel, "TITLE");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->Name, "Title");
    EXPECT_EQ(title->PropType->Kind, tkString);
    const TPropInfo* tag = GetPropInfo(&panel, "tag");
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->Default, 0);
    EXPECT_EQ(GetPropInfo(&panel, "Colour"), nullptr);
    EXPECT_EQ(GetPropInfo(static_cast<const TObject*>(nullptr), "Title"), nullptr);
    EXPECT_TRUE(IsPublishedProp(&panel, "Name"));
}

TEST(TypInfoTest, PropertiesComeAncestorsFirstAndARepublishedOneKeepsItsPlace) {
    EXPECT_EQ(Names(GetPropList(TPanelInfo::StaticClassInfo())),
              (std::vector<std::string>{"Name", "Tag", "Title", "Footer", "Width", "Flat", "Shade",
                                        "Anchors", "Ratio", "Partner", "OnResize"}));
    TWidePanelInfo wide(nullptr);
    const std::vector<const TPropInfo*> list = GetPropList(&wide);
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"Name", "Tag", "Title", "Footer", "Width", "Flat", "Shade",
                                        "Anchors", "Ratio", "Partner", "OnResize", "Depth"}));
    EXPECT_EQ(list[4]->Default, 100);
    EXPECT_EQ(GetPropInfo(&wide, "Width")->Default, 100);
}

// ---- Accessors -----------------------------------------------------------------------------

TEST(TypInfoTest, AccessorsReadAndWriteThroughThePublishedTable) {
    TPanelInfo panel(nullptr);
    SetStrProp(&panel, "Title", "Hello");
    EXPECT_EQ(panel.Title(), "Hello");
    EXPECT_EQ(GetStrProp(&panel, "title"), "Hello");
    EXPECT_EQ(GetStrProp(&panel, "Footer"), "footer");
    SetOrdProp(&panel, "Width", 250);
    EXPECT_EQ(GetOrdProp(&panel, "Width"), 250);
    SetOrdProp(&panel, "Flat", 1);
    EXPECT_TRUE(panel.Flat());
    EXPECT_EQ(GetEnumProp(&panel, "Flat"), "True");
    SetEnumProp(&panel, "Shade", "SHDARK");
    EXPECT_EQ(panel.Shade(), shDark);
    EXPECT_EQ(GetOrdProp(&panel, "Shade"), 2);
    EXPECT_EQ(GetEnumProp(&panel, "Shade"), "shDark");
    EXPECT_EQ(GetOrdProp(&panel, "Anchors"), 0b0011);
    EXPECT_EQ(GetSetProp(&panel, "Anchors"), "edLeft,edTop");
    EXPECT_EQ(GetSetProp(&panel, "Anchors", true), "[edLeft,edTop]");
    SetSetProp(&panel, "Anchors", "[edRight, edBottom]");
    EXPECT_EQ(panel.Anchors(), (TEdges{edRight, edBottom}));
    SetFloatProp(&panel, "Ratio", 1.25);
    EXPECT_DOUBLE_EQ(GetFloatProp(&panel, "Ratio"), 1.25);
    TComponent partner(nullptr);
    SetObjectProp(&panel, "Partner", &partner);
    EXPECT_EQ(GetObjectProp(&panel, "Partner"), &partner);
    SetObjectProp(&panel, "Partner", nullptr);
    EXPECT_EQ(panel.Partner(), nullptr);
}

TEST(TypInfoTest, AccessorsReportMissingReadOnlyAndMistypedProperties) {
    TPanelInfo panel(nullptr);
    EXPECT_EQ(MessageOf<EPropertyError>([&] { GetStrProp(&panel, "Colour"); }),
              "Property Colour does not exist");
    EXPECT_EQ(MessageOf<EPropertyError>([&] { SetOrdProp(&panel, "Colour", 1); }),
              "Property Colour does not exist");
    EXPECT_EQ(MessageOf<EPropertyError>([&] { GetSetProp(&panel, "Colour"); }),
              "Property Colour does not exist");
    EXPECT_EQ(MessageOf<EPropReadOnly>([&] { SetStrProp(&panel, "Footer", "x"); }),
              "Property is read-only");
    EXPECT_EQ(MessageOf<EPropertyError>([&] { GetOrdProp(&panel, "Title"); }),
              "Invalid property type: string");
    EXPECT_EQ(MessageOf<EPropertyConvertError>([&] { SetEnumProp(&panel, "Shade", "shPink"); }),
              "Invalid property element: shPink");
    TObject plain;
    EXPECT_EQ(MessageOf<EInvalidCast>([&] { SetObjectProp(&panel, "Partner", &plain); }),
              "Invalid class typecast");
}

TEST(TypInfoTest, StoredTestsAreEvaluated) {
    TPanelInfo panel(nullptr);
    EXPECT_TRUE(IsStoredProp(&panel, "Width"));
    panel.SetWidth(17);
    EXPECT_FALSE(IsStoredProp(&panel, "Width"));
    EXPECT_FALSE(IsStoredProp(&panel, "Name"));
    EXPECT_TRUE(IsStoredProp(&panel, "Title"));
}

TEST(TypInfoTest, EventsAreBoundAndNamedThroughPublishedMethods) {
    TPanelInfo panel(nullptr);
    const TPropInfo* onResize = GetPropInfo(&panel, "OnResize");
    ASSERT_NE(onResize, nullptr);
    EXPECT_EQ(onResize->PropType->Kind, tkMethod);
    EXPECT_TRUE(onResize->SetMethodName(&panel, &panel, "panelresize"));
    EXPECT_EQ(panel.OnResize(), TNotifyEvent(&panel, &TPanelInfo::PanelResize));
    EXPECT_EQ(onResize->GetMethodName(&panel, &panel), "PanelResize");
    TPanelInfo other(nullptr);
    // Bound to another instance's method: not a method of this root.
    EXPECT_EQ(onResize->GetMethodName(&panel, &other), "");
    EXPECT_FALSE(onResize->SetMethodName(&panel, &panel, "NoSuchMethod"));
    EXPECT_TRUE(onResize->SetMethodName(&panel, &panel, ""));
    EXPECT_FALSE(panel.OnResize().Assigned());
    EXPECT_NE(GetMethodInfo(TWidePanelInfo::StaticClassInfo(), "PANELRESIZE"), nullptr);
}

// ---- Enumeration and set names -------------------------------------------------------------

TEST(TypInfoTest, EnumNamesAndValuesConvertBothWays) {
    EXPECT_EQ(GetEnumName(BooleanTypeInfo(), 0), "False");
    EXPECT_EQ(GetEnumName(BooleanTypeInfo(), 1), "True");
    EXPECT_EQ(GetEnumName(ShadeType(), 1), "shMedium");
    EXPECT_EQ(GetEnumName(ShadeType(), 3), "");
    EXPECT_EQ(GetEnumName(ShadeType(), -1), "");
    EXPECT_EQ(GetEnumName(IntegerTypeInfo<int>(), -12), "-12");
    EXPECT_EQ(GetEnumValue(ShadeType(), "SHMEDIUM"), 1);
    EXPECT_EQ(GetEnumValue(ShadeType(), "shPink"), -1);
    EXPECT_EQ(GetEnumValue(BooleanTypeInfo(), "true"), 1);
}

TEST(TypInfoTest, SetsConvertToAndFromMemberNames) {
    EXPECT_EQ(SetToString(EdgesType(), 0b1010), "edTop,edBottom");
    EXPECT_EQ(SetToString(EdgesType(), 0b1010, true), "[edTop,edBottom]");
    EXPECT_EQ(SetToString(EdgesType(), 0), "");
    EXPECT_EQ(SetToString(EdgesType(), 0, true), "[]");
    EXPECT_EQ(StringToSet(EdgesType(), " [ edtop , EDBOTTOM ] "), 0b1010);
    EXPECT_EQ(StringToSet(EdgesType(), "[]"), 0);
    EXPECT_EQ(StringToSet(EdgesType(), "edLeft edRight"), 0b0101);
    EXPECT_EQ(
        MessageOf<EPropertyConvertError>([] { StringToSet(EdgesType(), "[edLeft,edMiddle]"); }),
        "Invalid property element: edMiddle");
    TPanelInfo panel(nullptr);
    EXPECT_EQ(SetToString(GetPropInfo(&panel, "Anchors"), 0b0100), "edRight");
}
