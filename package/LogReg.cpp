// package/LogReg.cpp - the package's registration with the designer and its palette images.
#include "package/LogReg.h"

#include "checks/JexLChecks.h"
#include "exceptions/LogError.h"
#include "host/core/SysUtils.h"
#include "host/forms/DesignIntf.h"
#include "host/forms/Graphics.h"
#include "monitors/LogApp.h"
#include "monitors/LogDS.h"
#include "monitors/LogFile.h"
#include "monitors/LogNT.h"
#include "monitors/LogRegistry.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <span>
#include <vector>

namespace jex {

namespace {

using host::TBitmap;
using host::TColor;

constexpr TColor Rgb(int ARed, int AGreen, int ABlue) {
    return ARed | (AGreen << 8) | (ABlue << 16);
}

// The classic 16-colour palette; the images of the monitors and loggers use only these.
constexpr TColor Black = Rgb(0, 0, 0);
constexpr TColor Maroon = Rgb(128, 0, 0);
constexpr TColor Green = Rgb(0, 128, 0);
constexpr TColor Olive = Rgb(128, 128, 0);
constexpr TColor Navy = Rgb(0, 0, 128);
constexpr TColor Teal = Rgb(0, 128, 128);
constexpr TColor Gray = Rgb(128, 128, 128);
constexpr TColor Silver = Rgb(192, 192, 192);
constexpr TColor Red = Rgb(255, 0, 0);
constexpr TColor Lime = Rgb(0, 255, 0);
constexpr TColor Yellow = Rgb(255, 255, 0);
constexpr TColor Blue = Rgb(0, 0, 255);
constexpr TColor Aqua = Rgb(0, 255, 255);
constexpr TColor White = Rgb(255, 255, 255);
// The background the designer shows as transparent (the bottom-left pixel).
constexpr TColor Background = Rgb(255, 0, 255);

constexpr int ImageSize = 24;

// A few drawing strokes over a palette image.
class TSketch {
public:
    TSketch() {
        FImage.SetSize(ImageSize, ImageSize);
        Fill(0, 0, ImageSize - 1, ImageSize - 1, Background);
    }

    void Fill(int ALeft, int ATop, int ARight, int ABottom, TColor AColor) {
        for (int y = ATop; y <= ABottom; ++y)
            for (int x = ALeft; x <= ARight; ++x)
                FImage.SetPixel(x, y, AColor);
    }

    void Frame(int ALeft, int ATop, int ARight, int ABottom, TColor AColor) {
        Line(ALeft, ATop, ARight, ATop, AColor);
        Line(ALeft, ABottom, ARight, ABottom, AColor);
        Line(ALeft, ATop, ALeft, ABottom, AColor);
        Line(ARight, ATop, ARight, ABottom, AColor);
    }

    // A box with a frame.
    void Box(int ALeft, int ATop, int ARight, int ABottom, TColor AFill, TColor AEdge) {
        Fill(ALeft, ATop, ARight, ABottom, AFill);
        Frame(ALeft, ATop, ARight, ABottom, AEdge);
    }

    void Line(int AX1, int AY1, int AX2, int AY2, TColor AColor) {
        const int steps = std::max(std::abs(AX2 - AX1), std::abs(AY2 - AY1));
        for (int i = 0; i <= steps; ++i) {
            const int x = steps == 0 ? AX1 : AX1 + (AX2 - AX1) * i / steps;
            const int y = steps == 0 ? AY1 : AY1 + (AY2 - AY1) * i / steps;
            FImage.SetPixel(x, y, AColor);
        }
    }

    void Disc(int ACenterX, int ACenterY, int ARadius, TColor AColor) {
        for (int y = -ARadius; y <= ARadius; ++y)
            for (int x = -ARadius; x <= ARadius; ++x)
                if (x * x + y * y <= ARadius * ARadius + ARadius / 2)
                    FImage.SetPixel(ACenterX + x, ACenterY + y, AColor);
    }

    // A sheet of paper with ALines lines of text.
    void Sheet(int ALeft, int ATop, int ARight, int ABottom, int ALines) {
        Box(ALeft, ATop, ARight, ABottom, White, Gray);
        for (int i = 0; i < ALines; ++i)
            Line(ALeft + 2, ATop + 3 + 3 * i, ARight - 2, ATop + 3 + 3 * i, Silver);
    }

    std::string Bytes() const { return FImage.SaveToBytes(); }

private:
    TBitmap FImage;
};

// The exception logger: a log sheet with a red stop mark.
std::string DrawExceptionLog() {
    TSketch s;
    s.Sheet(2, 1, 17, 21, 6);
    s.Disc(15, 15, 6, Maroon);
    s.Disc(15, 15, 5, Red);
    s.Fill(14, 11, 16, 16, White);
    s.Fill(14, 18, 16, 19, White);
    return s.Bytes();
}

// The application event logger: a window whose title bar sends events to a sheet.
std::string DrawAppLog() {
    TSketch s;
    s.Box(1, 2, 15, 14, Silver, Black);
    s.Fill(2, 3, 14, 5, Navy);
    s.Fill(12, 3, 13, 4, White);
    s.Line(3, 8, 12, 8, Gray);
    s.Line(3, 11, 9, 11, Gray);
    s.Sheet(11, 10, 22, 22, 3);
    s.Line(6, 15, 6, 17, Teal);
    s.Line(6, 17, 10, 17, Teal);
    return s.Bytes();
}

// The dataset change logger: a database drum writing to a sheet.
std::string DrawDatasetLog() {
    TSketch s;
    s.Fill(2, 5, 12, 17, Teal);
    s.Disc(7, 17, 5, Teal);
    s.Disc(7, 5, 5, Aqua);
    s.Frame(2, 5, 12, 17, Teal);
    s.Line(2, 10, 12, 10, Aqua);
    s.Line(2, 14, 12, 14, Aqua);
    s.Sheet(13, 8, 22, 22, 4);
    return s.Bytes();
}

// The folder change monitor: a yellow folder with a change star.
std::string DrawFileLog() {
    TSketch s;
    s.Box(1, 5, 9, 8, Yellow, Olive);
    s.Box(1, 7, 20, 20, Yellow, Olive);
    s.Line(2, 10, 19, 10, White);
    s.Line(16, 1, 22, 7, Red);
    s.Line(22, 1, 16, 7, Red);
    s.Line(19, 0, 19, 8, Red);
    s.Line(15, 4, 23, 4, Red);
    return s.Bytes();
}

// The system event log: a ledger with information, warning and error marks.
std::string DrawNTEventLog() {
    TSketch s;
    s.Box(3, 1, 20, 22, White, Navy);
    s.Fill(3, 1, 5, 22, Navy);
    const std::array<TColor, 3> kinds{Blue, Yellow, Red};
    for (int i = 0; i < 3; ++i) {
        s.Disc(9, 5 + 6 * i, 2, kinds[static_cast<std::size_t>(i)]);
        s.Line(13, 5 + 6 * i, 18, 5 + 6 * i, Gray);
    }
    return s.Bytes();
}

// The registry change monitor: the key blocks of a registry tree.
std::string DrawRegistryLog() {
    TSketch s;
    s.Box(2, 2, 9, 9, Blue, Navy);
    s.Box(9, 9, 16, 16, Lime, Green);
    s.Box(14, 14, 21, 21, Red, Maroon);
    s.Line(5, 10, 5, 19, Black);
    s.Line(5, 19, 13, 19, Black);
    return s.Bytes();
}

// The validation processor: an edit box with a green tick over a shaded ground (256 colours).
std::string DrawCheckProcessor() {
    TSketch s;
    for (int y = 2; y <= 21; ++y)
        s.Fill(1, y, 22, y, Rgb(200 - 4 * y, 220 - 3 * y, 255));
    s.Frame(1, 2, 22, 21, Navy);
    s.Box(3, 13, 20, 19, White, Gray);
    s.Line(5, 16, 12, 16, Silver);
    for (int w = 0; w < 3; ++w) {
        s.Line(5, 7 + w, 9, 11 + w, Rgb(0, 150 + 30 * w, 0));
        s.Line(9, 11 + w, 18, 2 + w, Rgb(0, 150 + 30 * w, 0));
    }
    return s.Bytes();
}

struct TPaletteImage {
    const char* ResourceName;
    std::string (*Draw)();
};

// Every palette image of the package, named after its class in upper case.
constexpr TPaletteImage PaletteImages[] = {
    {"TJEXEXCEPTIONLOG", &DrawExceptionLog},      {"TJEXAPPLOG", &DrawAppLog},
    {"TJEXDATASETLOG", &DrawDatasetLog},          {"TJEXFILELOG", &DrawFileLog},
    {"TJEXNTEVENTLOG", &DrawNTEventLog},          {"TJEXREGISTRYLOG", &DrawRegistryLog},
    {"TJEXLCHECKPROCESSOR", &DrawCheckProcessor},
};

// The images, drawn once; resources stay valid while the library is loaded.
const std::map<std::string, std::string>& DrawnImages() {
    static const std::map<std::string, std::string> images = [] {
        std::map<std::string, std::string> drawn;
        for (const TPaletteImage& image : PaletteImages)
            drawn.emplace(image.ResourceName, image.Draw());
        return drawn;
    }();
    return images;
}

int& LogRegInitCount() {
    static int count = 0;
    return count;
}

// The component classes on the palette, in palette order. A plain array: the unit's
// finalisation reads it when the library unloads, after its static objects are destroyed.
std::span<const host::TClassInfo* const> ComponentClasses() {
    static const std::array classes{
        &TJexExceptionLog::StaticClassInfo(),    &TJexAppLog::StaticClassInfo(),
        &TJexDatasetLog::StaticClassInfo(),      &TJexFileLog::StaticClassInfo(),
        &TJexNTEventLog::StaticClassInfo(),      &TJexRegistryLog::StaticClassInfo(),
        &TJexLCheckProcessor::StaticClassInfo(),
    };
    return classes;
}

} // namespace

void Register() {
    host::RegisterComponents(PalettePage, ComponentClasses());
}

std::string_view PaletteImage(const std::string& AClassName) {
    const auto& images = DrawnImages();
    const auto it = images.find(host::UpperCase(AClassName));
    return it != images.end() ? std::string_view(it->second) : std::string_view();
}

void LogRegInitialization() {
    if (LogRegInitCount()-- == 0)
        for (const auto& [name, bytes] : DrawnImages())
            host::RegisterBitmapResource(name, bytes);
}

void LogRegFinalization() {
    if (++LogRegInitCount() == 0)
        host::UnRegisterComponents(ComponentClasses());
}

} // namespace jex
