// host/forms/Graphics.h - colours, fonts, bitmaps, icons and pictures.
//
// TBitmap keeps its pixels in memory as TColor values and writes Windows BMP files, so a
// screen copy or an icon can be attached to a report on any machine. The screen copy and the
// standard error icon come from the widgetset (or, without an application, straight from the
// platform's screen service and the built-in icon).
#pragma once

#include "host/core/Classes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

/// A colour as the framework stores it: 0x00BBGGRR, or a system colour (0x80000000 | index).
using TColor = std::int32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;
inline constexpr TColor clWindow = static_cast<TColor>(0x80000005u);
inline constexpr TColor clWindowText = static_cast<TColor>(0x80000008u);
inline constexpr TColor clBtnFace = static_cast<TColor>(0x8000000Fu);

/// AColor as an RGB value (system colours resolved to the classic Windows scheme).
TColor ColorToRGB(TColor AColor);

enum TFontStyle : std::uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };

using TFontStyles = TSet<TFontStyle>;
using TFontCharset = std::uint8_t;
inline constexpr TFontCharset ANSI_CHARSET = 0;
inline constexpr TFontCharset DEFAULT_CHARSET = 1;

class TFont : public TPersistent {
    JEX_CLASS(TFont)

public:
    TFont() = default;

    const std::string& Name() const { return FName; }

    void SetName(const std::string& AValue);

    /// Height in pixels; negative values give the character height without leading.
    int Height() const { return FHeight; }

    void SetHeight(int AValue);

    /// Size in points, from Height at PixelsPerInch.
    int Size() const;
    void SetSize(int AValue);

    int PixelsPerInch() const { return FPixelsPerInch; }

    void SetPixelsPerInch(int AValue) { FPixelsPerInch = AValue > 0 ? AValue : 96; }

    TColor Color() const { return FColor; }

    void SetColor(TColor AValue);

    TFontCharset Charset() const { return FCharset; }

    void SetCharset(TFontCharset AValue);

    TFontStyles Style() const { return FStyle; }

    void SetStyle(TFontStyles AValue);

    const TNotifyEvent& OnChange() const { return FOnChange; }

    void SetOnChange(const TNotifyEvent& AValue) { FOnChange = AValue; }

    void Assign(TPersistent* ASource) override;

private:
    void Changed();

    std::string FName = "MS Sans Serif";
    int FHeight = -11;
    int FPixelsPerInch = 96;
    TColor FColor = clWindowText;
    TFontCharset FCharset = DEFAULT_CHARSET;
    TFontStyles FStyle;
    TNotifyEvent FOnChange;
};

/// The base of pictures that know their size.
class TGraphic : public TPersistent {
    JEX_CLASS(TGraphic)

public:
    virtual int Width() const = 0;
    virtual int Height() const = 0;

    bool Empty() const { return Width() == 0 || Height() == 0; }

    bool Transparent() const { return FTransparent; }

    void SetTransparent(bool AValue);

    const TNotifyEvent& OnChange() const { return FOnChange; }

    void SetOnChange(const TNotifyEvent& AValue) { FOnChange = AValue; }

protected:
    void Changed();

private:
    bool FTransparent = false;
    TNotifyEvent FOnChange;
};

enum TTransparentMode : std::uint8_t { tmAuto, tmFixed };

class TBitmap : public TGraphic {
    JEX_CLASS(TBitmap)

public:
    TBitmap() = default;

    int Width() const override { return FWidth; }

    int Height() const override { return FHeight; }

    /// Resizes to AWidth x AHeight, keeping the pixels that still fit; new pixels are black.
    /// Raises EInvalidGraphicOperation for negative or oversized dimensions.
    void SetSize(int AWidth, int AHeight);

    void SetWidth(int AValue) { SetSize(AValue, FHeight); }

    void SetHeight(int AValue) { SetSize(FWidth, AValue); }

    /// The pixel at (AX, AY) as an RGB TColor; clNone outside the bitmap.
    TColor Pixel(int AX, int AY) const;
    /// Sets one pixel; ignored outside the bitmap (as a canvas does).
    void SetPixel(int AX, int AY, TColor AColor);

    /// The colour treated as transparent: the fixed one (tmFixed) or the bottom-left pixel.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor AValue);

    TTransparentMode TransparentMode() const { return FTransparentMode; }

    void SetTransparentMode(TTransparentMode AValue) { FTransparentMode = AValue; }

    /// The bitmap as a Windows BMP file: 24 bits per pixel, rows bottom-up, 96 dpi.
    std::string SaveToBytes() const;
    /// Writes SaveToBytes to APath; raises EFCreateError "Cannot create file <path>" when it
    /// cannot be created, EWriteError when the bytes do not all reach it (a full disk).
    void SaveToFile(const std::string& APath) const;

    /// Reads a Windows BMP (uncompressed 24 or 32 bits, or 8-bit with palette; rows
    /// bottom-up or top-down). Raises EInvalidGraphic "Bitmap image is not valid" for
    /// anything else; the bitmap is unchanged then.
    void LoadFromBytes(std::string_view AData);
    /// Raises EFOpenError "Cannot open file <path>" when the file cannot be read.
    void LoadFromFile(const std::string& APath);
    /// Loads the bitmap resource AName (see RegisterBitmapResource); raises EResNotFound
    /// "Resource <name> not found" when there is none.
    void LoadFromResourceName(const std::string& AName);

    /// Replaces the contents with a copy of the screen; false (and an empty bitmap) when no
    /// screen can be read.
    bool CaptureScreen();

    void Assign(TPersistent* ASource) override;

private:
    int FWidth = 0;
    int FHeight = 0;
    std::vector<TColor> FPixels;
    TColor FTransparentColor = clDefault;
    TTransparentMode FTransparentMode = tmAuto;
};

/// An icon: an image with a mask (pixels outside the mask are transparent).
class TIcon : public TGraphic {
    JEX_CLASS(TIcon)

public:
    TIcon();

    int Width() const override { return FImage.Width(); }

    int Height() const override { return FImage.Height(); }

    /// The icon's pixels; Opaque tells which of them belong to the picture.
    const TBitmap& Image() const { return FImage; }

    bool Opaque(int AX, int AY) const;

    /// Takes ABitmap's pixels; AOpaque (row by row) marks the visible ones, all when empty.
    void SetImage(const TBitmap& ABitmap, const std::vector<bool>& AOpaque = {});

    /// Makes this the system's standard error icon (32 x 32).
    void LoadStandardErrorIcon();

    void Assign(TPersistent* ASource) override;

private:
    TBitmap FImage;
    std::vector<bool> FOpaque;
};

/// Holds one graphic of any kind (a bitmap or an icon) for an image control.
class TPicture : public TPersistent {
    JEX_CLASS(TPicture)

public:
    TPicture();
    ~TPicture() override;

    /// The held graphic; nullptr when empty.
    TGraphic* Graphic() const { return FGraphic.get(); }

    /// The held bitmap; an empty bitmap replaces another kind of graphic first.
    TBitmap* Bitmap();
    /// The held icon; an empty icon replaces another kind of graphic first.
    TIcon* Icon();

    int Width() const { return FGraphic ? FGraphic->Width() : 0; }

    int Height() const { return FGraphic ? FGraphic->Height() : 0; }

    /// Accepts a TPicture, TBitmap or TIcon (a copy is kept) or nullptr (empties it).
    void Assign(TPersistent* ASource) override;

    const TNotifyEvent& OnChange() const { return FOnChange; }

    void SetOnChange(const TNotifyEvent& AValue) { FOnChange = AValue; }

private:
    void SetGraphic(std::unique_ptr<TGraphic> AGraphic);
    void GraphicChanged(TObject* ASender);

    std::unique_ptr<TGraphic> FGraphic;
    TNotifyEvent FOnChange;
};

/// Makes ABmpFile (a whole BMP file) loadable as bitmap resource AName; a later registration
/// of the same name replaces it. The data must stay valid for the life of the process
/// (embedded resources are static arrays).
void RegisterBitmapResource(const std::string& AName, std::string_view ABmpFile);

/// The registered bitmap resource AName (names compare ignoring case); empty when none.
std::string_view FindBitmapResource(const std::string& AName);

} // namespace host
