// host/widgetsets/qt/QtImages.cpp - conversions between the framework's graphics and Qt's.
#include "host/widgetsets/qt/QtImages.h"

#include <cstdlib>
#include <vector>

namespace host {

namespace {

QRgb ToQRgb(TColor ARgb, int AAlpha) {
    return qRgba(ARgb & 0xFF, ARgb >> 8 & 0xFF, ARgb >> 16 & 0xFF, AAlpha);
}

TColor FromQRgb(QRgb APixel) {
    return static_cast<TColor>(qBlue(APixel) << 16 | qGreen(APixel) << 8 | qRed(APixel));
}

} // namespace

QColor ToQColor(TColor AColor) {
    const TColor rgb = ColorToRGB(AColor);
    return QColor(rgb & 0xFF, rgb >> 8 & 0xFF, rgb >> 16 & 0xFF);
}

QFont ToQFont(const TFont& AFont, const QFont& ABase) {
    QFont font = ABase;
    if (AFont.Height() != 0)
        font.setPixelSize(std::abs(AFont.Height()));
    font.setBold(AFont.Style().Contains(fsBold));
    font.setItalic(AFont.Style().Contains(fsItalic));
    font.setUnderline(AFont.Style().Contains(fsUnderline));
    font.setStrikeOut(AFont.Style().Contains(fsStrikeOut));
    return font;
}

QImage ToQImage(const TGraphic& AGraphic) {
    if (AGraphic.Empty())
        return {};
    QImage image(AGraphic.Width(), AGraphic.Height(), QImage::Format_ARGB32);
    if (const auto* icon = dynamic_cast<const TIcon*>(&AGraphic)) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y,
                               ToQRgb(icon->Image().Pixel(x, y), icon->Opaque(x, y) ? 255 : 0));
    } else if (const auto* bitmap = dynamic_cast<const TBitmap*>(&AGraphic)) {
        const bool transparent = bitmap->Transparent();
        const TColor key = transparent ? ColorToRGB(bitmap->TransparentColor()) : 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const TColor pixel = bitmap->Pixel(x, y);
                image.setPixel(x, y, ToQRgb(pixel, transparent && pixel == key ? 0 : 255));
            }
    } else {
        return {};
    }
    return image;
}

void FromQImage(const QImage& AImage, TBitmap& ABitmap) {
    const QImage rgb = AImage.convertToFormat(QImage::Format_RGB32);
    ABitmap.SetSize(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            ABitmap.SetPixel(x, y, FromQRgb(line[x]));
    }
}

void IconFromQImage(const QImage& AImage, TIcon& AIcon) {
    constexpr int size = 32;
    const QImage argb = AImage.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_ARGB32);
    TBitmap bitmap;
    bitmap.SetSize(size, size);
    std::vector<bool> opaque(static_cast<std::size_t>(size * size), false);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = argb.pixel(x, y);
            bitmap.SetPixel(x, y, FromQRgb(pixel));
            opaque[static_cast<std::size_t>(y * size + x)] = qAlpha(pixel) >= 128;
        }
    AIcon.SetImage(bitmap, opaque);
}

} // namespace host
