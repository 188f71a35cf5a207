// tests/support/SampleComponents.cpp - the published tables of the sample components.
#include "tests/support/SampleComponents.h"

namespace jex::test {

using namespace host;

std::vector<std::string>& LoadLog() {
    static std::vector<std::string> log;
    return log;
}

const TTypeInfo& WidgetKindType() {
    return EnumType<TWidgetKind>("TWidgetKind", {"wkNone", "wkSmall", "wkLarge"});
}

const TTypeInfo& WidgetOptionsType() {
    return SetType<TWidgetOption>(
        "TWidgetOptions",
        EnumType<TWidgetOption>("TWidgetOption", {"woBold", "woItalic", "woUnder"}));
}

void TTestSendTo::CopyFrom(const TTestSendTo& AOther) {
    FEMail = AOther.FEMail;
    FAttach = AOther.FAttach;
    FFormat = AOther.FFormat;
    FOptions = AOther.FOptions;
}

const TClassInfo& TTestSendTo::StaticClassInfo() {
    using T = TTestSendTo;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TTestSendTo", &TPersistent::StaticClassInfo())
            .String("EMail", &T::EMail, &T::SetEMail)
            .Bool("Attach", &T::Attach, &T::SetAttach, false)
            .Enum("Format", &T::Format, &T::SetFormat,
                  EnumType<TSendFormat>("TSendFormat", {"sfBitmap", "sfJpeg"}), sfBitmap)
            .Set("Options", &T::Options, &T::SetOptions, WidgetOptionsType())
            .Build();
    return info;
}

TTestItem::TTestItem()
    : FChildren(std::make_unique<TTestItems>()) {}

TTestItem::~TTestItem() = default;

bool TTestItem::HasChildren() const {
    return FChildren->Count() > 0;
}

const TClassInfo& TTestItem::StaticClassInfo() {
    using T = TTestItem;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TTestItem", &TPersistent::StaticClassInfo())
            .String("Caption", &T::Caption, &T::SetCaption)
            .Integer("Width", &T::Width, &T::SetWidth, 0)
            .Object("Link", &T::Link, &T::SetLink)
            .Collection("Children", &T::Children, &T::SetChildren, Stored(&T::HasChildren))
            .Build();
    return info;
}

void TTestWidget::SetBuddy(TComponent* AValue) {
    FBuddy = AValue;
    if (AValue != nullptr)
        AValue->FreeNotification(this);
}

void TTestWidget::Loaded() {
    TComponent::Loaded();
    LoadLog().push_back(Name());
}

void TTestWidget::Notification(TComponent* AComponent, TOperation AOperation) {
    TComponent::Notification(AComponent, AOperation);
    if (AOperation == opRemove && AComponent == FBuddy)
        FBuddy = nullptr;
}

const TClassInfo& TTestWidget::StaticClassInfo() {
    using T = TTestWidget;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TTestWidget", &TComponent::StaticClassInfo())
            .Component()
            .String("Caption", &T::Caption, &T::SetCaption)
            .Integer("Count", &T::Count, &T::SetCount)
            .Bool("Enabled", &T::Enabled, &T::SetEnabled, true)
            .Bool("Visible", &T::Visible, &T::SetVisible)
            .Enum("Kind", &T::Kind, &T::SetKind, WidgetKindType(), wkNone)
            .Set("Options", &T::Options, &T::SetOptions, WidgetOptionsType(), {woBold})
            .Float("Ratio", &T::Ratio, &T::SetRatio)
            .Float("Scale", &T::Scale, &T::SetScale, ftSingle)
            .Int64("Big", &T::Big, &T::SetBig)
            .DateTime("Stamp", &T::Stamp, &T::SetStamp)
            .Float("Price", &T::Price, &T::SetPrice, ftCurr)
            .Integer("Handle", &T::Handle, &T::SetHandle, 0)
            .String("Hidden", &T::Hidden, &T::SetHidden, Stored(&T::IsHiddenStored))
            .Object("SendTo", &T::SendTo, &T::SetSendTo)
            .Strings("Lines", &T::Lines, &T::SetLines)
            .Collection("Items", &T::Items, &T::SetItems)
            .Object("Buddy", &T::Buddy, &T::SetBuddy)
            .Event("OnClick", &T::OnClick, &T::SetOnClick)
            .Build();
    return info;
}

void TTestForm::Loaded() {
    TComponent::Loaded();
    LoadLog().push_back(Name());
}

const TClassInfo& TTestForm::StaticClassInfo() {
    using T = TTestForm;
    static const TClassInfo info = TClassInfoBuilder<T>("TTestForm", &TComponent::StaticClassInfo())
                                       .Component()
                                       .String("Caption", &T::Caption, &T::SetCaption)
                                       .Event("OnCreate", &T::OnCreate, &T::SetOnCreate)
                                       .Method("WidgetClick", &T::WidgetClick)
                                       .Method("FormCreate", &T::FormCreate)
                                       .Method("KeyPressed", &T::KeyPressed)
                                       .Build();
    return info;
}

void RegisterSampleComponents() {
    RegisterClasses({&TTestForm::StaticClassInfo(), &TTestWidget::StaticClassInfo()});
}

} // namespace jex::test
