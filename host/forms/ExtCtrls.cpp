// host/forms/ExtCtrls.cpp - TImage, TPanel and TTimer.
#include "host/forms/ExtCtrls.h"

#include "host/forms/Forms.h"
#include "host/ws/WidgetSet.h"

namespace host {

const TClassInfo& TImage::StaticClassInfo() {
    using T = TImage;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TImage", &TGraphicControl::StaticClassInfo())
            .Component()
            .Bool("AutoSize", &T::AutoSize, &T::SetAutoSize, false)
            .Bool("Center", &T::Center, &T::SetCenter, false)
            .Bool("Stretch", &T::Stretch, &T::SetStretch, false)
            .Bool("Transparent", &T::Transparent, &T::SetTransparent, false)
            .Event("OnClick", &T::OnClick, &T::SetOnClick)
            .Build();
    return info;
}

const TClassInfo& TPanel::StaticClassInfo() {
    using T = TPanel;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TPanel", &TWinControl::StaticClassInfo())
            .Component()
            .Enum("BevelOuter", &T::BevelOuter, &T::SetBevelOuter,
                  EnumType<TPanelBevel>("TPanelBevel", {"bvNone", "bvLowered", "bvRaised"}),
                  bvRaised)
            .String("Caption", &T::Caption, &T::SetCaption)
            .Event("OnClick", &T::OnClick, &T::SetOnClick)
            .Build();
    return info;
}

const TClassInfo& TTimer::StaticClassInfo() {
    using T = TTimer;
    static const TClassInfo info = TClassInfoBuilder<T>("TTimer", &TComponent::StaticClassInfo())
                                       .Component()
                                       .Bool("Enabled", &T::Enabled, &T::SetEnabled, true)
                                       .Integer("Interval", &T::Interval, &T::SetInterval, 1000)
                                       .Event("OnTimer", &T::OnTimer, &T::SetOnTimer)
                                       .Build();
    return info;
}

// ---- TImage ---------------------------------------------------------------------------------

TImage::TImage(TComponent* AOwner)
    : TGraphicControl(AOwner)
    , FPicture(std::make_unique<TPicture>()) {
    SetBounds(0, 0, 105, 105);
    FPicture->SetOnChange(TNotifyEvent(this, &TImage::PictureChanged));
}

TImage::~TImage() = default;

void TImage::PictureChanged(TObject*) {
    if (FAutoSize && FPicture->Width() > 0 && FPicture->Height() > 0)
        SetBounds(Left(), Top(), FPicture->Width(), FPicture->Height());
    if (TGraphic* graphic = FPicture->Graphic(); graphic != nullptr && FTransparent)
        graphic->SetTransparent(true);
    StateChanged();
}

void TImage::SetCenter(bool AValue) {
    FCenter = AValue;
    StateChanged();
}

void TImage::SetStretch(bool AValue) {
    FStretch = AValue;
    StateChanged();
}

void TImage::SetTransparent(bool AValue) {
    FTransparent = AValue;
    if (TGraphic* graphic = FPicture->Graphic())
        graphic->SetTransparent(AValue);
    StateChanged();
}

void TImage::SetAutoSize(bool AValue) {
    FAutoSize = AValue;
    PictureChanged(this);
}

TPoint TImage::PictureOrigin() const {
    if (FStretch || !FCenter)
        return {0, 0};
    return {(Width() - FPicture->Width()) / 2, (Height() - FPicture->Height()) / 2};
}

// ---- TPanel ---------------------------------------------------------------------------------

TPanel::TPanel(TComponent* AOwner)
    : TWinControl(AOwner) {
    SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelOuter(TPanelBevel AValue) {
    if (AValue == FBevelOuter)
        return;
    FBevelOuter = AValue;
    StateChanged();
}

// ---- TTimer ---------------------------------------------------------------------------------

TTimer::TTimer(TComponent* AOwner)
    : TComponent(AOwner) {}

TTimer::~TTimer() {
    FEnabled = false;
    UpdateTimer();
}

void TTimer::SetEnabled(bool AValue) {
    FEnabled = AValue;
    UpdateTimer();
}

void TTimer::SetInterval(int AValue) {
    FInterval = AValue < 0 ? 0 : AValue;
    UpdateTimer();
}

void TTimer::SetOnTimer(const TNotifyEvent& AValue) {
    FOnTimer = AValue;
    UpdateTimer();
}

void TTimer::Loaded() {
    TComponent::Loaded();
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    TWidgetSet* ws = CurrentWidgetSet();
    if (FTimer != 0 && ws != nullptr)
        ws->DestroyTimer(FTimer);
    FTimer = 0;
    if (ws == nullptr || !FEnabled || FInterval == 0 || !FOnTimer.Assigned() ||
        ComponentState().Contains(csLoading) || ComponentState().Contains(csDesigning))
        return;
    FTimer = ws->CreateTimer(FInterval, TTimerProc(this, &TTimer::Fire));
}

void TTimer::Fire() {
    try {
        if (FOnTimer.Assigned())
            FOnTimer(this);
    } catch (...) {
        if (Application == nullptr)
            throw;
        Application->HandleException(this);
    }
}

} // namespace host
