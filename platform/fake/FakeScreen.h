// platform/fake/FakeScreen.h - a screen service with a screen image a test provides.
#pragma once

#include "platform/Screen.h"

namespace platform {

/// A screen of the given image (0 x 0 when empty); counts its beeps.
class TFakeScreenService : public TScreenService {
public:
    TScreenImage Image;
    int Beeps = 0;

    void Size(int& AWidth, int& AHeight) override {
        AWidth = Image.Width;
        AHeight = Image.Height;
    }

    bool Capture(TScreenImage& AImage) override {
        AImage = Image;
        return Image.Width > 0 && Image.Height > 0;
    }

    void Beep() override { ++Beeps; }
};

} // namespace platform
