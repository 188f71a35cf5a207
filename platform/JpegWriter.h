// platform/JpegWriter.h - writing captured pixels as a baseline JPEG file.
//
// Screenshots are kept in the bitmap's own pixel order (blue, green, red as in a Windows
// bitmap, 24 or 32 bits, rows top-down) and compressed without converting them first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

/// Pixel rows to compress.
struct TJpegImage {
    const std::uint8_t* Pixels = nullptr; ///< first byte of the top row
    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 32;  ///< 32: B, G, R, unused; 24: B, G, R
    std::size_t Stride = 0; ///< bytes from one row to the next; 0 = Width * bytes per pixel
};

/// AImage compressed as WriteJpegFile would write it, into ABytes: for callers that write the
/// file through the file service. Returns false and sets AError (when given) for an image that
/// is not valid.
bool EncodeJpeg(const TJpegImage& AImage, int AQuality, std::string& ABytes,
                std::string* AError = nullptr);

/// Writes AImage to APath as a baseline JPEG of quality AQuality (1..100), replacing the file.
/// Returns false and sets AError (when given) when the image is not valid (no pixels, a size
/// of zero or above 65500, bits other than 24 or 32) or the file cannot be written; a failed
/// write leaves no partial file behind. The new file is readable by its owner only.
bool WriteJpegFile(const std::string& APath, const TJpegImage& AImage, int AQuality = 90,
                   std::string* AError = nullptr);

} // namespace platform
