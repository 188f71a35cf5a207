// platform/linux/JpegWriter.cpp - JPEG compression with libjpeg-turbo.
//
// libjpeg reports errors through a callback that must not return; the default one calls
// exit(). We jump back out of the compressor instead, so the application survives a full disk.
// Everything between setjmp and longjmp is plain data (no C++ objects with destructors).
#include "platform/JpegWriter.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE declared first
#include <cstdlib>
#include <jpeglib.h>
#include <unistd.h>

namespace platform {

namespace {

struct TErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr AInfo) {
    auto* errors = reinterpret_cast<TErrorManager*>(AInfo->err);
    (*AInfo->err->format_message)(AInfo, errors->Message);
    std::longjmp(errors->Jump, 1);
}

// Returns an empty text on success, else what went wrong. Kept free of C++ objects because
// of the longjmp.
// Writes to AFile, or without one into a buffer libjpeg allocates (*ABuffer, *ASize; the
// caller frees it, also after a failure).
const char* Compress(FILE* AFile, unsigned char** ABuffer, unsigned long* ASize,
                     const TJpegImage& AImage, std::size_t AStride, int AQuality,
                     TErrorManager& AErrors) {
    jpeg_compress_struct info;
    info.err = jpeg_std_error(&AErrors.Base);
    AErrors.Base.error_exit = OnError;
    AErrors.Message[0] = '\0';
    if (setjmp(AErrors.Jump) != 0) {
        jpeg_destroy_compress(&info);
        return AErrors.Message;
    }
    jpeg_create_compress(&info);
    if (AFile != nullptr)
        jpeg_stdio_dest(&info, AFile);
    else
        jpeg_mem_dest(&info, ABuffer, ASize);
    info.image_width = static_cast<JDIMENSION>(AImage.Width);
    info.image_height = static_cast<JDIMENSION>(AImage.Height);
    info.input_components = AImage.BitsPerPixel / 8;
    info.in_color_space = AImage.BitsPerPixel == 32 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, AQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(AImage.Pixels + AStride * info.next_scanline);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return "";
}

bool Fail(std::string* AError, const std::string& AText) {
    if (AError != nullptr)
        *AError = AText;
    return false;
}

// Checks AImage and works out its stride and the quality to use; false with AError set for an
// image that cannot be compressed.
bool Prepare(const TJpegImage& AImage, int AQuality, std::size_t& AStride, int& AUsedQuality,
             std::string* AError) {
    if (AImage.Pixels == nullptr || AImage.Width <= 0 || AImage.Height <= 0 ||
        AImage.Width > JPEG_MAX_DIMENSION || AImage.Height > JPEG_MAX_DIMENSION)
        return Fail(AError, "no image to write");
    if (AImage.BitsPerPixel != 24 && AImage.BitsPerPixel != 32)
        return Fail(AError, "unsupported pixel format: " + std::to_string(AImage.BitsPerPixel) +
                                " bits per pixel");
    const std::size_t minStride =
        static_cast<std::size_t>(AImage.Width) * static_cast<std::size_t>(AImage.BitsPerPixel / 8);
    AStride = AImage.Stride == 0 ? minStride : AImage.Stride;
    if (AStride < minStride)
        return Fail(AError, "row stride is shorter than a row");
    AUsedQuality = AQuality < 1 ? 1 : (AQuality > 100 ? 100 : AQuality);
    return true;
}

} // namespace

bool EncodeJpeg(const TJpegImage& AImage, int AQuality, std::string& ABytes, std::string* AError) {
    ABytes.clear();
    std::size_t stride = 0;
    int quality = 0;
    if (!Prepare(AImage, AQuality, stride, quality, AError))
        return false;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    TErrorManager errors;
    const std::string problem = Compress(nullptr, &buffer, &size, AImage, stride, quality, errors);
    if (problem.empty() && buffer != nullptr)
        ABytes.assign(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return problem.empty() ? true : Fail(AError, problem);
}

bool WriteJpegFile(const std::string& APath, const TJpegImage& AImage, int AQuality,
                   std::string* AError) {
    std::size_t stride = 0;
    int quality = 0;
    if (!Prepare(AImage, AQuality, stride, quality, AError))
        return false;

    // Written beside the target and renamed over it once complete, so that a reader never
    // sees half an image and a failure leaves the old file (or none) in place.
    std::string temp = APath + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return Fail(AError, "cannot create " + APath);
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        unlink(temp.c_str());
        return Fail(AError, "cannot create " + APath);
    }
    TErrorManager errors;
    std::string problem = Compress(file, nullptr, nullptr, AImage, stride, quality, errors);
    const bool closed = std::fclose(file) == 0;
    if (problem.empty() && !closed)
        problem = "cannot write " + APath;
    if (problem.empty() && std::rename(temp.c_str(), APath.c_str()) != 0)
        problem = "cannot create " + APath;
    if (!problem.empty()) {
        unlink(temp.c_str());
        return Fail(AError, problem);
    }
    return true;
}

} // namespace platform
