// tests/platform/JpegWriterTest.cpp - screenshots written as JPEG and decoded back.
#include "platform/JpegWriter.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio> // before jpeglib.h, which needs FILE
#include <cstdlib>
#include <filesystem>
#include <jpeglib.h>
#include <vector>

using namespace platform;

namespace {

struct TDecoded {
    int Width = 0;
    int Height = 0;
    int Components = 0;
    std::vector<unsigned char> Rgb;
};

TDecoded Decode(const std::string& APath) {
    TDecoded result;
    FILE* file = std::fopen(APath.c_str(), "rb");
    if (file == nullptr)
        return result;
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    result.Width = static_cast<int>(info.output_width);
    result.Height = static_cast<int>(info.output_height);
    result.Components = info.output_components;
    result.Rgb.resize(static_cast<std::size_t>(result.Width) * result.Height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.Rgb.data() + static_cast<std::size_t>(info.output_scanline) *
                                               static_cast<std::size_t>(result.Width) * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return result;
}

// Left half pure red, right half pure blue, in the bitmap's B, G, R order.
std::vector<unsigned char> Picture(int AWidth, int AHeight, int ABytes, std::size_t AStride) {
    std::vector<unsigned char> pixels(AStride * static_cast<std::size_t>(AHeight), 0x55);
    for (int y = 0; y < AHeight; ++y)
        for (int x = 0; x < AWidth; ++x) {
            unsigned char* p = &pixels[y * AStride + static_cast<std::size_t>(x) * ABytes];
            const bool red = x < AWidth / 2;
            p[0] = red ? 0 : 255;
            p[1] = 0;
            p[2] = red ? 255 : 0;
        }
    return pixels;
}

void ExpectRedLeftBlueRight(const TDecoded& AImage) {
    const auto at = [&](int x, int y) { return &AImage.Rgb[(y * AImage.Width + x) * 3]; };
    const unsigned char* left = at(2, AImage.Height / 2);
    const unsigned char* right = at(AImage.Width - 3, AImage.Height / 2);
    EXPECT_GT(left[0], 200);
    EXPECT_LT(left[2], 60);
    EXPECT_LT(right[0], 60);
    EXPECT_GT(right[2], 200);
}

} // namespace

TEST(JpegWriterTest, WritesBgrxAndBgrRowsThatDecodeToTheSamePicture) {
    jex::test::TempDir dir;
    const int width = 67, height = 41; // not multiples of the 8x8 blocks
    for (int bits : {32, 24}) {
        const std::size_t stride = static_cast<std::size_t>(width) * (bits / 8) + 5; // padded
        const std::vector<unsigned char> pixels = Picture(width, height, bits / 8, stride);
        const std::string path = dir.File("shot" + std::to_string(bits) + ".jpg");
        std::string error;
        ASSERT_TRUE(WriteJpegFile(path, {pixels.data(), width, height, bits, stride}, 90, &error))
            << error;
        const std::string bytes = jex::test::ReadFileBytes(path);
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(bytes.substr(0, 3), "\xFF\xD8\xFF"); // SOI marker
        const TDecoded decoded = Decode(path);
        EXPECT_EQ(decoded.Width, width);
        EXPECT_EQ(decoded.Height, height);
        EXPECT_EQ(decoded.Components, 3);
        ExpectRedLeftBlueRight(decoded);
    }
}

TEST(JpegWriterTest, ReplacesAnExistingFileAndLeavesNothingElseBehind) {
    jex::test::TempDir dir;
    const std::string path = dir.File("shot.jpg");
    jex::test::WriteFileBytes(path, "old");
    const std::vector<unsigned char> pixels = Picture(8, 8, 4, 32);
    ASSERT_TRUE(WriteJpegFile(path, {pixels.data(), 8, 8, 32, 0}));
    EXPECT_EQ(Decode(path).Width, 8);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(JpegWriterTest, RefusesWhatItCannotWriteWithAReason) {
    jex::test::TempDir dir;
    const std::vector<unsigned char> pixels = Picture(8, 8, 4, 32);
    std::string error;
    EXPECT_FALSE(WriteJpegFile(dir.File("no/such/folder/shot.jpg"), {pixels.data(), 8, 8, 32, 0},
                               90, &error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;

    const TJpegImage bad[] = {{nullptr, 8, 8, 32, 0},        {pixels.data(), 0, 8, 32, 0},
                              {pixels.data(), 8, -1, 32, 0}, {pixels.data(), 8, 8, 16, 0},
                              {pixels.data(), 8, 8, 32, 16}, {pixels.data(), 70000, 1, 32, 0}};
    for (const TJpegImage& image : bad) {
        error.clear();
        EXPECT_FALSE(WriteJpegFile(dir.File("bad.jpg"), image, 90, &error));
        EXPECT_FALSE(error.empty());
        std::string bytes = "stale";
        error.clear();
        EXPECT_FALSE(EncodeJpeg(image, 90, bytes, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(bytes.empty());
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(JpegWriterTest, AFolderInTheTargetsPlaceIsLeftAloneAndNoTemporaryStays) {
    jex::test::TempDir dir;
    const std::string path = dir.File("shot.jpg");
    std::filesystem::create_directory(path);
    jex::test::WriteFileBytes(path + "/inside.txt", "kept");
    const std::vector<unsigned char> pixels = Picture(8, 8, 4, 32);
    std::string error;
    EXPECT_FALSE(WriteJpegFile(path, {pixels.data(), 8, 8, 32, 0}, 90, &error));
    EXPECT_EQ(error, "cannot create " + path);
    EXPECT_EQ(jex::test::ReadFileBytes(path + "/inside.txt"), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(JpegWriterTest, EncodedBytesAreTheFileTheWriterWrites) {
    jex::test::TempDir dir;
    const std::vector<unsigned char> pixels = Picture(40, 24, 3, 120);
    const TJpegImage image{pixels.data(), 40, 24, 24, 0};
    ASSERT_TRUE(WriteJpegFile(dir.File("shot.jpg"), image, 75));
    std::string bytes;
    ASSERT_TRUE(EncodeJpeg(image, 75, bytes));
    EXPECT_EQ(bytes, jex::test::ReadFileBytes(dir.File("shot.jpg")));
}
