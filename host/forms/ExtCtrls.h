// host/forms/ExtCtrls.h - the image control, the panel and the timer.
#pragma once

#include "host/forms/Controls.h"
#include "host/forms/Graphics.h"

#include <cstdint>
#include <memory>

namespace host {

/// Shows a picture. With AutoSize the control takes the picture's size whenever it changes;
/// Center places the picture in the middle of the control instead of its top-left corner.
class TImage : public TGraphicControl {
    JEX_CLASS(TImage)

public:
    explicit TImage(TComponent* AOwner);
    ~TImage() override;

    TPicture* Picture() const { return FPicture.get(); }

    void SetPicture(TPicture* AValue) { FPicture->Assign(AValue); }

    bool Center() const { return FCenter; }

    void SetCenter(bool AValue);

    bool Stretch() const { return FStretch; }

    void SetStretch(bool AValue);

    bool Transparent() const { return FTransparent; }

    void SetTransparent(bool AValue);

    bool AutoSize() const { return FAutoSize; }

    void SetAutoSize(bool AValue);

    /// Where the picture's top-left corner lies inside the control (Center taken into
    /// account; Stretch places it at 0, 0).
    TPoint PictureOrigin() const;

private:
    void PictureChanged(TObject* ASender);

    std::unique_ptr<TPicture> FPicture;
    bool FCenter = false;
    bool FStretch = false;
    bool FTransparent = false;
    bool FAutoSize = false;
};

enum TPanelBevel : std::uint8_t { bvNone, bvLowered, bvRaised };

/// A container with a bevelled edge and a caption in its middle; controls lie on it as on a
/// form.
class TPanel : public TWinControl {
    JEX_CLASS(TPanel)

public:
    explicit TPanel(TComponent* AOwner);

    TPanelBevel BevelOuter() const { return FBevelOuter; }

    void SetBevelOuter(TPanelBevel AValue);

private:
    TPanelBevel FBevelOuter = bvRaised;
};

/// Fires OnTimer every Interval milliseconds while Enabled (and an application runs). An
/// exception raised by OnTimer goes to Application->HandleException with the timer as Sender.
class TTimer : public TComponent {
    JEX_CLASS(TTimer)

public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;

    bool Enabled() const { return FEnabled; }

    void SetEnabled(bool AValue);

    int Interval() const { return FInterval; }

    void SetInterval(int AValue);

    const TNotifyEvent& OnTimer() const { return FOnTimer; }

    void SetOnTimer(const TNotifyEvent& AValue);

    void Loaded() override;

private:
    void UpdateTimer();
    void Fire();

    bool FEnabled = true;
    int FInterval = 1000;
    THandle FTimer = 0;
    TNotifyEvent FOnTimer;
};

} // namespace host
