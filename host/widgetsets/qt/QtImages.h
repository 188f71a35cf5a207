// host/widgetsets/qt/QtImages.h - the framework's colours, fonts and pictures as Qt's.
#pragma once

#include "host/forms/Graphics.h"

#include <QColor>
#include <QFont>
#include <QImage>

namespace host {

/// AColor (a framework colour, system colours resolved) as a Qt colour.
QColor ToQColor(TColor AColor);

/// AFont as a Qt font: its pixel height and styles on the desktop's family (the framework's
/// Windows faces are rarely installed).
QFont ToQFont(const TFont& AFont, const QFont& ABase);

/// AGraphic as a 32-bit image with alpha: an icon's mask and a transparent bitmap's
/// transparent colour become transparent pixels. A null image for an empty graphic.
QImage ToQImage(const TGraphic& AGraphic);

/// Copies AImage into ABitmap (alpha dropped).
void FromQImage(const QImage& AImage, TBitmap& ABitmap);

/// Makes AIcon the picture of AImage, scaled to 32 x 32; pixels at least half opaque belong to
/// the icon.
void IconFromQImage(const QImage& AImage, TIcon& AIcon);

} // namespace host
