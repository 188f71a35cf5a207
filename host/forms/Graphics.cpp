// host/forms/Graphics.cpp - fonts, bitmaps (with BMP reading and writing), icons, pictures.
#include "host/forms/Graphics.h"

#include "host/ws/WidgetSet.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

namespace host {

#define JEX_PLAIN_CLASS_INFO(Class_, Parent_)                                                      \
    const TClassInfo& Class_::StaticClassInfo() {                                                  \
        static const TClassInfo info{.Name = #Class_, .Parent = &Parent_::StaticClassInfo()};      \
        return info;                                                                               \
    }

const TClassInfo& TFont::StaticClassInfo() {
    using T = TFont;
    static const TClassInfo info =
        TClassInfoBuilder<T>("TFont", &TPersistent::StaticClassInfo())
            .Persistent()
            .Integer("Charset", &T::Charset, &T::SetCharset, DEFAULT_CHARSET)
            .Integer("Color", &T::Color, &T::SetColor, clWindowText)
            .Integer("Height", &T::Height, &T::SetHeight)
            .String("Name", &T::Name, &T::SetName)
            .Set("Style", &T::Style, &T::SetStyle,
                 SetType<TFontStyle>(
                     "TFontStyles",
                     EnumType<TFontStyle>("TFontStyle",
                                          {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"})),
                 TFontStyles{})
            .Build();
    return info;
}

JEX_PLAIN_CLASS_INFO(TGraphic, TPersistent)
JEX_PLAIN_CLASS_INFO(TBitmap, TGraphic)
JEX_PLAIN_CLASS_INFO(TIcon, TGraphic)
JEX_PLAIN_CLASS_INFO(TPicture, TPersistent)

TColor ColorToRGB(TColor AColor) {
    if (AColor >= 0)
        return AColor;
    // The classic Windows scheme for the system colours the forms use.
    switch (static_cast<std::uint32_t>(AColor) & 0xFF) {
    case 5:
        return clWhite; // clWindow
    case 8:
        return clBlack; // clWindowText
    case 15:
        return 0xC8D0D4; // clBtnFace
    case 0x18:
        return 0xE1FFFF; // clInfoBk
    default:
        return clSilver;
    }
}

// ---- TFont ----------------------------------------------------------------------------------

void TFont::Changed() {
    if (FOnChange.Assigned())
        FOnChange(this);
}

void TFont::SetName(const std::string& AValue) {
    if (AValue.empty() || AValue == FName)
        return;
    FName = AValue;
    Changed();
}

void TFont::SetHeight(int AValue) {
    if (AValue == FHeight)
        return;
    FHeight = AValue;
    Changed();
}

int TFont::Size() const {
    // Points from pixels, rounded as the framework does (MulDiv).
    const int pixels = -FHeight;
    const long long scaled = static_cast<long long>(pixels) * 72;
    const long long half = FPixelsPerInch / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / FPixelsPerInch
                                        : (scaled - half) / FPixelsPerInch);
}

void TFont::SetSize(int AValue) {
    const long long scaled = static_cast<long long>(AValue) * FPixelsPerInch;
    SetHeight(-static_cast<int>(scaled >= 0 ? (scaled + 36) / 72 : (scaled - 36) / 72));
}

void TFont::SetColor(TColor AValue) {
    if (AValue == FColor)
        return;
    FColor = AValue;
    Changed();
}

void TFont::SetCharset(TFontCharset AValue) {
    if (AValue == FCharset)
        return;
    FCharset = AValue;
    Changed();
}

void TFont::SetStyle(TFontStyles AValue) {
    if (AValue == FStyle)
        return;
    FStyle = AValue;
    Changed();
}

void TFont::Assign(TPersistent* ASource) {
    if (auto* font = dynamic_cast<TFont*>(ASource)) {
        FName = font->FName;
        FHeight = font->FHeight;
        FPixelsPerInch = font->FPixelsPerInch;
        FColor = font->FColor;
        FCharset = font->FCharset;
        FStyle = font->FStyle;
        Changed();
        return;
    }
    TPersistent::Assign(ASource);
}

// ---- TGraphic -------------------------------------------------------------------------------

void TGraphic::SetTransparent(bool AValue) {
    if (AValue == FTransparent)
        return;
    FTransparent = AValue;
    Changed();
}

void TGraphic::Changed() {
    if (FOnChange.Assigned())
        FOnChange(this);
}

// ---- TBitmap --------------------------------------------------------------------------------

namespace {

// Large enough for any screen, small enough that width * height * 4 cannot overflow.
constexpr int MaxBitmapSide = 32768;

void PutLE(std::string& AOut, std::uint32_t AValue, int ABytes) {
    for (int i = 0; i < ABytes; ++i)
        AOut += static_cast<char>((AValue >> (8 * i)) & 0xFF);
}

std::uint32_t GetLE(std::string_view AData, std::size_t AOffset, int ABytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < ABytes; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(AData[AOffset + i]))
                 << (8 * i);
    return value;
}

[[noreturn]] void InvalidBitmap() {
    throw EInvalidGraphic("Bitmap image is not valid");
}

} // namespace

void TBitmap::SetSize(int AWidth, int AHeight) {
    if (AWidth < 0 || AHeight < 0 || AWidth > MaxBitmapSide || AHeight > MaxBitmapSide)
        throw EInvalidGraphicOperation("Invalid bitmap size " + std::to_string(AWidth) + " x " +
                                       std::to_string(AHeight));
    if (AWidth == FWidth && AHeight == FHeight)
        return;
    std::vector<TColor> pixels(static_cast<std::size_t>(AWidth) * static_cast<std::size_t>(AHeight),
                               clBlack);
    for (int y = 0; y < std::min(AHeight, FHeight); ++y)
        for (int x = 0; x < std::min(AWidth, FWidth); ++x)
            pixels[static_cast<std::size_t>(y) * AWidth + x] =
                FPixels[static_cast<std::size_t>(y) * FWidth + x];
    FPixels.swap(pixels);
    FWidth = AWidth;
    FHeight = AHeight;
    Changed();
}

TColor TBitmap::Pixel(int AX, int AY) const {
    if (AX < 0 || AY < 0 || AX >= FWidth || AY >= FHeight)
        return clNone;
    return FPixels[static_cast<std::size_t>(AY) * FWidth + AX];
}

void TBitmap::SetPixel(int AX, int AY, TColor AColor) {
    if (AX < 0 || AY < 0 || AX >= FWidth || AY >= FHeight)
        return;
    FPixels[static_cast<std::size_t>(AY) * FWidth + AX] = ColorToRGB(AColor) & 0xFFFFFF;
}

TColor TBitmap::TransparentColor() const {
    if (FTransparentMode == tmFixed && FTransparentColor != clDefault)
        return FTransparentColor;
    return FHeight > 0 && FWidth > 0 ? Pixel(0, FHeight - 1) : clNone;
}

void TBitmap::SetTransparentColor(TColor AValue) {
    FTransparentColor = AValue;
    FTransparentMode = AValue == clDefault ? tmAuto : tmFixed;
}

std::string TBitmap::SaveToBytes() const {
    const std::uint32_t stride = ((static_cast<std::uint32_t>(FWidth) * 24 + 31) / 32) * 4;
    const std::uint32_t imageSize = stride * static_cast<std::uint32_t>(FHeight);
    std::string out;
    out.reserve(54 + imageSize);
    out += "BM";
    PutLE(out, 54 + imageSize, 4);
    PutLE(out, 0, 4);
    PutLE(out, 54, 4);
    PutLE(out, 40, 4);
    PutLE(out, static_cast<std::uint32_t>(FWidth), 4);
    PutLE(out, static_cast<std::uint32_t>(FHeight), 4);
    PutLE(out, 1, 2);
    PutLE(out, 24, 2);
    PutLE(out, 0, 4); // BI_RGB
    PutLE(out, imageSize, 4);
    PutLE(out, 3780, 4); // 96 dpi
    PutLE(out, 3780, 4);
    PutLE(out, 0, 4);
    PutLE(out, 0, 4);
    for (int y = FHeight - 1; y >= 0; --y) {
        std::size_t written = 0;
        for (int x = 0; x < FWidth; ++x) {
            const TColor c = FPixels[static_cast<std::size_t>(y) * FWidth + x];
            out += static_cast<char>((c >> 16) & 0xFF); // blue
            out += static_cast<char>((c >> 8) & 0xFF);  // green
            out += static_cast<char>(c & 0xFF);         // red
            written += 3;
        }
        out.append(stride - written, '\0');
    }
    return out;
}

void TBitmap::SaveToFile(const std::string& APath) const {
    const std::string bytes = SaveToBytes();
    TFileStream out(APath, fmCreate);
    out.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void TBitmap::LoadFromBytes(std::string_view AData) {
    if (AData.size() < 54 || AData[0] != 'B' || AData[1] != 'M')
        InvalidBitmap();
    const std::uint32_t dataOffset = GetLE(AData, 10, 4);
    const std::uint32_t headerSize = GetLE(AData, 14, 4);
    if (headerSize < 40 || 14 + static_cast<std::uint64_t>(headerSize) > AData.size())
        InvalidBitmap();
    const auto width = static_cast<std::int32_t>(GetLE(AData, 18, 4));
    const auto rawHeight = static_cast<std::int32_t>(GetLE(AData, 22, 4));
    const std::uint32_t bits = GetLE(AData, 28, 2);
    const std::uint32_t compression = GetLE(AData, 30, 4);
    std::uint32_t colorsUsed = GetLE(AData, 46, 4);
    const bool topDown = rawHeight < 0;
    const std::int64_t height = topDown ? -static_cast<std::int64_t>(rawHeight) : rawHeight;
    if (width <= 0 || height <= 0 || width > MaxBitmapSide || height > MaxBitmapSide ||
        compression != 0 || (bits != 8 && bits != 24 && bits != 32))
        InvalidBitmap();
    std::vector<TColor> palette;
    if (bits == 8) {
        if (colorsUsed == 0 || colorsUsed > 256)
            colorsUsed = 256;
        const std::size_t paletteAt = 14 + headerSize;
        if (paletteAt + colorsUsed * 4ULL > AData.size())
            InvalidBitmap();
        for (std::uint32_t i = 0; i < colorsUsed; ++i) {
            const std::size_t at = paletteAt + i * 4;
            palette.push_back(static_cast<TColor>(GetLE(AData, at + 2, 1) |
                                                  GetLE(AData, at + 1, 1) << 8 |
                                                  GetLE(AData, at, 1) << 16));
        }
    }
    const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
    if (dataOffset + stride * static_cast<std::uint64_t>(height) > AData.size())
        InvalidBitmap();
    std::vector<TColor> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (std::int64_t row = 0; row < height; ++row) {
        const std::int64_t y = topDown ? row : height - 1 - row;
        const std::size_t rowAt = dataOffset + static_cast<std::size_t>(row * stride);
        for (std::int32_t x = 0; x < width; ++x) {
            TColor color = clBlack;
            if (bits == 8) {
                const std::uint32_t index = GetLE(AData, rowAt + x, 1);
                if (index >= palette.size())
                    InvalidBitmap();
                color = palette[index];
            } else {
                const std::size_t at = rowAt + static_cast<std::size_t>(x) * (bits / 8);
                color = static_cast<TColor>(GetLE(AData, at + 2, 1) | GetLE(AData, at + 1, 1) << 8 |
                                            GetLE(AData, at, 1) << 16);
            }
            pixels[static_cast<std::size_t>(y) * width + x] = color;
        }
    }
    FPixels.swap(pixels);
    FWidth = width;
    FHeight = static_cast<int>(height);
    Changed();
}

void TBitmap::LoadFromFile(const std::string& APath) {
    TMemoryStream bytes;
    bytes.LoadFromFile(APath);
    LoadFromBytes(std::string_view(bytes.Memory(), static_cast<std::size_t>(bytes.Size())));
}

void TBitmap::LoadFromResourceName(const std::string& AName) {
    const std::string_view data = FindBitmapResource(AName);
    if (data.empty())
        throw EResNotFound("Resource " + AName + " not found");
    LoadFromBytes(data);
}

bool TBitmap::CaptureScreen() {
    if (TWidgetSet* ws = CurrentWidgetSet())
        return ws->CaptureScreen(*this);
    return CaptureScreenFromPlatform(*this);
}

void TBitmap::Assign(TPersistent* ASource) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(ASource)) {
        FWidth = bitmap->FWidth;
        FHeight = bitmap->FHeight;
        FPixels = bitmap->FPixels;
        FTransparentColor = bitmap->FTransparentColor;
        FTransparentMode = bitmap->FTransparentMode;
        SetTransparent(bitmap->Transparent());
        Changed();
        return;
    }
    if (auto* icon = dynamic_cast<TIcon*>(ASource)) {
        Assign(const_cast<TBitmap*>(&icon->Image()));
        return;
    }
    TGraphic::Assign(ASource);
}

// ---- TIcon ----------------------------------------------------------------------------------

TIcon::TIcon() {
    SetTransparent(true);
}

bool TIcon::Opaque(int AX, int AY) const {
    if (AX < 0 || AY < 0 || AX >= Width() || AY >= Height())
        return false;
    return FOpaque.empty() || FOpaque[static_cast<std::size_t>(AY) * Width() + AX];
}

void TIcon::SetImage(const TBitmap& ABitmap, const std::vector<bool>& AOpaque) {
    if (!AOpaque.empty() && AOpaque.size() != static_cast<std::size_t>(ABitmap.Width()) *
                                                  static_cast<std::size_t>(ABitmap.Height()))
        throw EInvalidGraphicOperation("Icon mask does not match the image size");
    FImage.Assign(const_cast<TBitmap*>(&ABitmap));
    FOpaque = AOpaque;
    Changed();
}

void TIcon::LoadStandardErrorIcon() {
    if (TWidgetSet* ws = CurrentWidgetSet())
        ws->LoadErrorIcon(*this);
    else
        DrawBuiltInErrorIcon(*this);
}

void TIcon::Assign(TPersistent* ASource) {
    if (auto* icon = dynamic_cast<TIcon*>(ASource)) {
        SetImage(icon->FImage, icon->FOpaque);
        return;
    }
    if (auto* bitmap = dynamic_cast<TBitmap*>(ASource)) {
        SetImage(*bitmap);
        return;
    }
    TGraphic::Assign(ASource);
}

// ---- TPicture -------------------------------------------------------------------------------

TPicture::TPicture() = default;

TPicture::~TPicture() = default;

void TPicture::SetGraphic(std::unique_ptr<TGraphic> AGraphic) {
    FGraphic = std::move(AGraphic);
    if (FGraphic)
        FGraphic->SetOnChange(TNotifyEvent(this, &TPicture::GraphicChanged));
    GraphicChanged(this);
}

void TPicture::GraphicChanged(TObject*) {
    if (FOnChange.Assigned())
        FOnChange(this);
}

TBitmap* TPicture::Bitmap() {
    if (auto* bitmap = dynamic_cast<TBitmap*>(FGraphic.get()))
        return bitmap;
    SetGraphic(std::make_unique<TBitmap>());
    return static_cast<TBitmap*>(FGraphic.get());
}

TIcon* TPicture::Icon() {
    if (auto* icon = dynamic_cast<TIcon*>(FGraphic.get()))
        return icon;
    SetGraphic(std::make_unique<TIcon>());
    return static_cast<TIcon*>(FGraphic.get());
}

void TPicture::Assign(TPersistent* ASource) {
    if (ASource == nullptr) {
        SetGraphic(nullptr);
        return;
    }
    if (auto* picture = dynamic_cast<TPicture*>(ASource)) {
        Assign(picture->Graphic());
        return;
    }
    if (dynamic_cast<TIcon*>(ASource) != nullptr) {
        auto icon = std::make_unique<TIcon>();
        icon->Assign(ASource);
        SetGraphic(std::move(icon));
        return;
    }
    if (dynamic_cast<TBitmap*>(ASource) != nullptr) {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->Assign(ASource);
        SetGraphic(std::move(bitmap));
        return;
    }
    TPersistent::Assign(ASource);
}

// ---- bitmap resources -----------------------------------------------------------------------

namespace {

std::map<std::string, std::string_view, TTextLess>& BitmapResources() {
    static std::map<std::string, std::string_view, TTextLess> resources;
    return resources;
}

} // namespace

void RegisterBitmapResource(const std::string& AName, std::string_view ABmpFile) {
    BitmapResources()[AName] = ABmpFile;
}

std::string_view FindBitmapResource(const std::string& AName) {
    const auto& resources = BitmapResources();
    const auto it = resources.find(AName);
    return it != resources.end() ? it->second : std::string_view();
}

} // namespace host
