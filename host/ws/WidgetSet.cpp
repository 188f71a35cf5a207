// host/ws/WidgetSet.cpp - the defaults every widgetset shares: the framework's modal loop,
// the platform's screen service and the built-in error icon.
#include "host/ws/WidgetSet.h"

#include "host/forms/Forms.h"
#include "platform/PlatformServices.h"
#include "platform/Screen.h"

namespace host {

TWidgetSet* CurrentWidgetSet() {
    return Application != nullptr ? &Application->WidgetSet() : nullptr;
}

void TWidgetSet::AppWaitMessage() {
    if (Application != nullptr)
        Application->WaitForPostedMessage();
}

TModalResult TWidgetSet::ShowModal(TCustomForm* AForm) {
    for (;;) {
        Application->HandleMessage();
        if (Application->Terminated())
            AForm->SetModalResult(mrCancel);
        if (AForm->ModalResult() != mrNone && AForm->CloseModal())
            return AForm->ModalResult();
    }
}

void TWidgetSet::Beep() {
    platform::PlatformServices().Screen->Beep();
}

void TWidgetSet::MessageBeep(std::uint32_t) {
    Beep();
}

TSize TWidgetSet::ScreenSize() {
    TSize size;
    platform::PlatformServices().Screen->Size(size.Width, size.Height);
    return size;
}

bool TWidgetSet::CaptureScreen(TBitmap& ABitmap) {
    return CaptureScreenFromPlatform(ABitmap);
}

bool CaptureScreenFromPlatform(TBitmap& ABitmap) {
    platform::TScreenImage image;
    if (!platform::PlatformServices().Screen->Capture(image)) {
        ABitmap.SetSize(0, 0);
        return false;
    }
    ABitmap.SetSize(image.Width, image.Height);
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            const std::uint32_t rgb =
                image.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.Width) +
                             static_cast<std::size_t>(x)];
            // 0x00RRGGBB to the framework's 0x00BBGGRR.
            ABitmap.SetPixel(
                x, y,
                static_cast<TColor>((rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF)));
        }
    return true;
}

void TWidgetSet::LoadErrorIcon(TIcon& AIcon) {
    DrawBuiltInErrorIcon(AIcon);
}

void DrawBuiltInErrorIcon(TIcon& AIcon) {
    constexpr int size = 32;
    TBitmap image;
    image.SetSize(size, size);
    std::vector<bool> opaque(size * size, false);
    // Sample each pixel at its centre, on a grid doubled for smoother edges of disc and cross.
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double dx = x + 0.5 - size / 2.0;
            const double dy = y + 0.5 - size / 2.0;
            const double r2 = dx * dx + dy * dy;
            if (r2 > 15.0 * 15.0)
                continue;
            opaque[static_cast<std::size_t>(y * size + x)] = true;
            const bool onCross =
                (dx - dy) * (dx - dy) < 2 * 2.6 * 2.6 || (dx + dy) * (dx + dy) < 2 * 2.6 * 2.6;
            const bool inner = r2 < 9.0 * 9.0;
            if (r2 > 14.0 * 14.0)
                image.SetPixel(x, y, 0x00007F); // dark red rim
            else if (onCross && inner)
                image.SetPixel(x, y, clWhite);
            else
                image.SetPixel(x, y, 0x0000D0);
        }
    AIcon.SetImage(image, opaque);
}

} // namespace host
