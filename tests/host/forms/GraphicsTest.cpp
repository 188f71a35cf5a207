// tests/host/forms/GraphicsTest.cpp - bitmaps as Windows BMP files, icons, pictures, and a real
// screen copy from a virtual X display.
#include "host/forms/Graphics.h"

#include "host/forms/ExtCtrls.h"
#include "platform/PlatformServices.h"
#include "platform/Screen.h"
#include "platform/fake/FakeScreen.h"
#include "tests/host/forms/HeadlessFixture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace host;

extern char** environ;

namespace {

std::uint32_t LE32(const std::string& AData, std::size_t AAt) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(AData[AAt + i])) << (8 * i);
    return v;
}

std::unique_ptr<TBitmap> MakeSample() {
    auto result = std::make_unique<TBitmap>();
    TBitmap& bitmap = *result;
    bitmap.SetSize(3, 2);
    bitmap.SetPixel(0, 0, clRed);
    bitmap.SetPixel(1, 0, clLime);
    bitmap.SetPixel(2, 0, clBlue);
    bitmap.SetPixel(0, 1, clWhite);
    bitmap.SetPixel(2, 1, 0x123456);
    return result;
}

#define SampleBitmap() (*MakeSample())

} // namespace

TEST(TBitmapTest, SavesA24BitBottomUpWindowsBitmapWithPaddedRows) {
    const std::string bmp = SampleBitmap().SaveToBytes();
    ASSERT_EQ(bmp.substr(0, 2), "BM");
    const std::uint32_t stride = 12; // 3 pixels * 3 bytes = 9, padded to 12
    EXPECT_EQ(LE32(bmp, 2), 54 + stride * 2);
    EXPECT_EQ(bmp.size(), 54 + stride * 2);
    EXPECT_EQ(LE32(bmp, 10), 54u);
    EXPECT_EQ(LE32(bmp, 14), 40u);
    EXPECT_EQ(LE32(bmp, 18), 3u);
    EXPECT_EQ(LE32(bmp, 22), 2u);
    EXPECT_EQ(static_cast<unsigned char>(bmp[28]), 24);
    // The first stored row is the bottom one: white, black, 0x123456 as B, G, R.
    EXPECT_EQ(bmp.substr(54, 9), std::string("\xFF\xFF\xFF\x00\x00\x00\x12\x34\x56", 9));
    // The top row: red, lime, blue.
    EXPECT_EQ(bmp.substr(54 + 12, 9), std::string("\x00\x00\xFF\x00\xFF\x00\xFF\x00\x00", 9));
}

TEST(TBitmapTest, FileRoundTripKeepsEveryPixel) {
    jex::test::TempDir dir;
    const auto originalPtr = MakeSample();
    const TBitmap& original = *originalPtr;
    original.SaveToFile(dir.File("a.bmp"));
    TBitmap loaded;
    loaded.LoadFromFile(dir.File("a.bmp"));
    ASSERT_EQ(loaded.Width(), 3);
    ASSERT_EQ(loaded.Height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(loaded.Pixel(x, y), original.Pixel(x, y)) << x << "," << y;
}

TEST(TBitmapTest, BadFilesAndSizesAreRefusedWithoutChangingTheBitmap) {
    const auto bitmapPtr = MakeSample();
    TBitmap& bitmap = *bitmapPtr;
    EXPECT_THROW(bitmap.LoadFromBytes("BM"), EInvalidGraphic);
    std::string truncated = SampleBitmap().SaveToBytes();
    truncated.resize(60);
    EXPECT_THROW(bitmap.LoadFromBytes(truncated), EInvalidGraphic);
    std::string huge = SampleBitmap().SaveToBytes();
    huge[18] = '\xFF';
    huge[19] = '\xFF';
    huge[20] = '\xFF';
    huge[21] = '\x7F';
    EXPECT_THROW(bitmap.LoadFromBytes(huge), EInvalidGraphic);
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Pixel(0, 0), clRed);
    EXPECT_THROW(bitmap.LoadFromFile("/nonexistent/x.bmp"), EFOpenError);
    EXPECT_THROW(bitmap.SaveToFile("/nonexistent/x.bmp"), EFCreateError);
    EXPECT_THROW(bitmap.SetSize(-1, 4), EInvalidGraphicOperation);
    EXPECT_THROW(bitmap.LoadFromResourceName("NoSuchBitmap"), EResNotFound);
}

TEST(TBitmapTest, LoadsTopDownAnd32BitFilesAndEmbeddedResources) {
    std::string bmp = SampleBitmap().SaveToBytes();
    static std::string resource;
    resource = bmp;
    RegisterBitmapResource("SAMPLE", resource);
    TBitmap fromResource;
    fromResource.LoadFromResourceName("sample");
    EXPECT_EQ(fromResource.Pixel(2, 1), 0x123456);

    // The same picture stored top-down with 32 bits per pixel.
    std::string topDown = bmp.substr(0, 54);
    const std::int32_t height = -2;
    std::memcpy(&topDown[22], &height, 4);
    topDown[28] = 32;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const TColor c = SampleBitmap().Pixel(x, y);
            topDown += static_cast<char>(c >> 16 & 0xFF);
            topDown += static_cast<char>(c >> 8 & 0xFF);
            topDown += static_cast<char>(c & 0xFF);
            topDown += '\0';
        }
    TBitmap loaded;
    loaded.LoadFromBytes(topDown);
    EXPECT_EQ(loaded.Pixel(0, 0), clRed);
    EXPECT_EQ(loaded.Pixel(2, 1), 0x123456);
}

TEST(TBitmapTest, TransparentColorIsTheBottomLeftPixelUnlessFixed) {
    const auto bitmapPtr = MakeSample();
    TBitmap& bitmap = *bitmapPtr;
    EXPECT_EQ(bitmap.TransparentColor(), clWhite);
    bitmap.SetTransparentColor(clBlue);
    EXPECT_EQ(bitmap.TransparentMode(), tmFixed);
    EXPECT_EQ(bitmap.TransparentColor(), clBlue);
}

TEST(TIconTest, StandardErrorIconIs32By32WithATransparentCorner) {
    TIcon icon;
    icon.LoadStandardErrorIcon();
    EXPECT_EQ(icon.Width(), 32);
    EXPECT_EQ(icon.Height(), 32);
    EXPECT_FALSE(icon.Opaque(0, 0));
    EXPECT_TRUE(icon.Opaque(16, 16));
    EXPECT_EQ(icon.Image().Pixel(16, 16), clWhite); // the cross
    EXPECT_EQ(icon.Image().Pixel(16, 6), 0x0000D0); // the disc
}

TEST(TPictureTest, HoldsACopyOfTheAssignedGraphicAndResizesAnAutoSizeImage) {
    TIcon icon;
    icon.LoadStandardErrorIcon();
    TImage image(nullptr);
    image.SetAutoSize(true);
    image.Picture()->Assign(&icon);
    ASSERT_NE(dynamic_cast<TIcon*>(image.Picture()->Graphic()), nullptr);
    EXPECT_NE(image.Picture()->Graphic(), &icon);
    EXPECT_EQ(image.Width(), 32);
    EXPECT_EQ(image.Height(), 32);
    image.SetAutoSize(false);
    image.SetBounds(0, 0, 40, 50);
    image.SetCenter(true);
    EXPECT_EQ(image.PictureOrigin().X, 4);
    EXPECT_EQ(image.PictureOrigin().Y, 9);
    image.Picture()->Assign(nullptr);
    EXPECT_EQ(image.Picture()->Graphic(), nullptr);
}

TEST(TBitmapTest, ScreenCopyComesFromThePlatformsScreenService) {
    platform::TFakeScreenService fake;
    fake.Image = {2, 1, {0x00FF0000u, 0x000000FFu}};
    platform::TScopedPlatformServices scope({nullptr, &fake});
    TBitmap bitmap;
    ASSERT_TRUE(bitmap.CaptureScreen());
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.Pixel(0, 0), clRed);
    EXPECT_EQ(bitmap.Pixel(1, 0), clBlue);
    fake.Image = {};
    EXPECT_FALSE(bitmap.CaptureScreen());
    EXPECT_EQ(bitmap.Width(), 0);
}

namespace {

// A virtual X server on a free display number, stopped by its process id.
class TXvfb {
public:
    bool Start() {
        const char* candidates[] = {"/usr/bin/Xvfb", "/usr/local/bin/Xvfb"};
        std::string exe;
        for (const char* c : candidates)
            if (access(c, X_OK) == 0)
                exe = c;
        if (exe.empty())
            return false;
        for (int n = 90; n < 140; ++n) {
            if (std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock") ||
                std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)))
                continue;
            FDisplay = ":" + std::to_string(n);
            std::string display = FDisplay;
            std::string screen = "0";
            std::string geometry = "320x200x24";
            char* argv[] = {exe.data(),
                            display.data(),
                            const_cast<char*>("-screen"),
                            screen.data(),
                            geometry.data(),
                            const_cast<char*>("-nolisten"),
                            const_cast<char*>("tcp"),
                            nullptr};
            if (posix_spawn(&FPid, exe.c_str(), nullptr, nullptr, argv, environ) != 0)
                return false;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (std::chrono::steady_clock::now() < deadline) {
                if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)))
                    return true;
                int status = 0;
                if (waitpid(FPid, &status, WNOHANG) == FPid) {
                    FPid = 0;
                    break; // this number was taken after all; try the next
                }
                std::this_thread::yield();
            }
            Stop();
        }
        return false;
    }

    void Stop() {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            waitpid(FPid, nullptr, 0);
            FPid = 0;
        }
    }

    ~TXvfb() { Stop(); }

    const std::string& Display() const { return FDisplay; }

private:
    pid_t FPid = 0;
    std::string FDisplay;
};

} // namespace

TEST(TBitmapTest, CopiesARealScreenFromAVirtualDisplay) {
    TXvfb xvfb;
    if (!xvfb.Start())
        GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old != nullptr ? old : "";
    setenv("DISPLAY", xvfb.Display().c_str(), 1);
    int width = 0, height = 0;
    platform::LinuxScreenService().Size(width, height);
    platform::TScreenImage image;
    const bool captured = platform::LinuxScreenService().Capture(image);
    platform::LinuxScreenService().Beep();
    TBitmap bitmap;
    const bool viaBitmap = bitmap.CaptureScreen();
    if (old != nullptr)
        setenv("DISPLAY", saved.c_str(), 1);
    else
        unsetenv("DISPLAY");
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 200);
    ASSERT_TRUE(captured);
    EXPECT_EQ(image.Pixels.size(), 320u * 200u);
    ASSERT_TRUE(viaBitmap);
    EXPECT_EQ(bitmap.Width(), 320);
    const std::string bmp = bitmap.SaveToBytes();
    EXPECT_EQ(bmp.size(), 54u + 320 * 3 * 200);
}

TEST(TBitmapTest, NoDisplayMeansNoScreen) {
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old != nullptr ? old : "";
    unsetenv("DISPLAY");
    int width = -1, height = -1;
    platform::LinuxScreenService().Size(width, height);
    platform::TScreenImage image;
    const bool captured = platform::LinuxScreenService().Capture(image);
    if (old != nullptr)
        setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    EXPECT_FALSE(captured);
}

// ---- fonts, colours and conversions between graphics ----------------------------------------

TEST(TFontTest, EveryRealChangeFiresOnChangeOnceAndSizeAndHeightConvertAtTheScreensResolution) {
    TFont font;
    int changes = 0;
    font.SetOnChange(TNotifyEvent::FromCallable([&](TObject* ASender) {
        EXPECT_EQ(ASender, &font);
        ++changes;
    }));
    font.SetName("Arial");
    font.SetColor(clRed);
    font.SetColor(clRed); // unchanged: no event
    font.SetCharset(204);
    font.SetStyle({fsBold});
    font.SetStyle({fsBold});
    EXPECT_EQ(changes, 4);

    // Character height (negative) to points, rounded half away from zero, and back.
    font.SetHeight(-11);
    EXPECT_EQ(font.Size(), 8);
    font.SetSize(12);
    EXPECT_EQ(font.Height(), -16);
    font.SetHeight(16); // a cell height gives a negative size
    EXPECT_EQ(font.Size(), -12);
    font.SetPixelsPerInch(120);
    font.SetSize(10);
    EXPECT_EQ(font.Height(), -17);

    TFont copy;
    int copyChanges = 0;
    copy.SetOnChange(TNotifyEvent::FromCallable([&](TObject*) { ++copyChanges; }));
    copy.Assign(&font);
    EXPECT_EQ(copyChanges, 1);
    EXPECT_EQ(copy.Name(), "Arial");
    EXPECT_EQ(copy.Color(), clRed);
    EXPECT_EQ(copy.Charset(), 204);
    EXPECT_EQ(copy.Style(), TFontStyles{fsBold});
    EXPECT_EQ(copy.Size(), 10);
    TBitmap notAFont;
    EXPECT_THROW(copy.Assign(&notAFont), EConvertError);
}

TEST(TColorTest, SystemColoursResolveToTheClassicSchemeAndPlainColoursStay) {
    EXPECT_EQ(ColorToRGB(clWindow), clWhite);
    EXPECT_EQ(ColorToRGB(clBtnFace), 0xC8D0D4);
    EXPECT_EQ(ColorToRGB(static_cast<TColor>(0x80000018u)), 0xE1FFFF);
    // A system colour the scheme does not know is a neutral grey.
    EXPECT_EQ(ColorToRGB(static_cast<TColor>(0x80000001u)), clSilver);
    EXPECT_EQ(ColorToRGB(0x123456), 0x123456);

    TBitmap bitmap;
    bitmap.SetSize(2, 1);
    bitmap.SetPixel(0, 0, clBtnFace);
    bitmap.SetPixel(5, 0, clRed); // outside: ignored
    EXPECT_EQ(bitmap.Pixel(0, 0), 0xC8D0D4);
    EXPECT_EQ(bitmap.Pixel(-1, 0), clNone);
    EXPECT_EQ(bitmap.Pixel(0, 1), clNone);
}

TEST(TIconTest, IconAndBitmapConvertIntoEachOtherAndAMaskMustFitTheImage) {
    TBitmap image;
    image.SetSize(2, 2);
    image.SetPixel(1, 1, clRed);
    TIcon icon;
    EXPECT_THROW(icon.SetImage(image, std::vector<bool>(3, true)), EInvalidGraphicOperation);
    icon.SetImage(image, {true, false, true, true});
    EXPECT_FALSE(icon.Opaque(1, 0));
    EXPECT_TRUE(icon.Opaque(1, 1));
    EXPECT_FALSE(icon.Opaque(2, 0));

    TBitmap fromIcon;
    fromIcon.Assign(&icon);
    EXPECT_EQ(fromIcon.Width(), 2);
    EXPECT_EQ(fromIcon.Pixel(1, 1), clRed);

    TIcon fromBitmap;
    fromBitmap.Assign(&fromIcon);
    EXPECT_EQ(fromBitmap.Width(), 2);
    EXPECT_EQ(fromBitmap.Image().Pixel(1, 1), clRed);
    EXPECT_TRUE(fromBitmap.Opaque(1, 0)); // no mask: every pixel shows

    TFont font;
    EXPECT_THROW(fromBitmap.Assign(&font), EConvertError);
    EXPECT_THROW(fromIcon.Assign(&font), EConvertError);
}

TEST(TPictureTest, IconAccessorReplacesOtherGraphicsAndForeignSourcesAreRefused) {
    TPicture picture;
    picture.Bitmap()->SetSize(3, 3);
    TIcon* icon = picture.Icon();
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(picture.Graphic(), icon);
    EXPECT_EQ(icon->Width(), 0);
    EXPECT_EQ(picture.Icon(), icon); // asked again: the same icon

    TPicture copy;
    copy.Assign(&picture);
    EXPECT_NE(dynamic_cast<TIcon*>(copy.Graphic()), nullptr);
    TFont font;
    EXPECT_THROW(copy.Assign(&font), EConvertError);
}
