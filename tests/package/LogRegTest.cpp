// tests/package/LogRegTest.cpp - the palette after Register, its images, and the start-up a
// program linked with the package gets.
#include "package/LogReg.h"

#include "host/core/SysUtils.h"
#include "host/forms/DesignIntf.h"
#include "logging/LogBase.h"
#include "package/Jexlogc6.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace host;

// The palette order of every component class of the suite.
const std::vector<std::string> FullPaletteOrder = {
    "TJexExceptionLog", "TJexAppLog",      "TJexDatasetLog",      "TJexFileLog",
    "TJexNTEventLog",   "TJexRegistryLog", "TJexLCheckProcessor",
};

// FNV-1a over the image's pixels, row by row.
std::uint32_t PixelChecksum(const TBitmap& AImage) {
    std::uint32_t hash = 2166136261U;
    for (int y = 0; y < AImage.Height(); ++y)
        for (int x = 0; x < AImage.Width(); ++x) {
            const auto pixel = static_cast<std::uint32_t>(AImage.Pixel(x, y));
            for (int shift = 0; shift < 32; shift += 8) {
                hash ^= (pixel >> shift) & 0xFFU;
                hash *= 16777619U;
            }
        }
    return hash;
}

std::size_t ColourCount(const TBitmap& AImage) {
    std::set<TColor> colours;
    for (int y = 0; y < AImage.Height(); ++y)
        for (int x = 0; x < AImage.Width(); ++x)
            colours.insert(AImage.Pixel(x, y));
    return colours.size();
}

std::vector<std::string> PaletteNames() {
    std::vector<std::string> names;
    for (const TClassInfo* info : PaletteClasses(jex::PalettePage))
        names.push_back(info->Name);
    return names;
}

TEST(LogRegTest, RegisterListsTheSuitesClassesInPaletteOrderOnce) {
    jex::Register();
    jex::Register();

    const std::vector<std::string> names = PaletteNames();
    std::vector<std::string> expected;
    std::ranges::copy_if(
        FullPaletteOrder, std::back_inserter(expected),
        [&](const std::string& AName) { return std::ranges::find(names, AName) != names.end(); });
    EXPECT_EQ(names, expected);
    EXPECT_EQ(names, FullPaletteOrder); // all seven classes are built now
    // Each class on the palette is the one stored forms create by that name.
    for (const TClassInfo* info : PaletteClasses("jexlogger"))
        EXPECT_EQ(&FindClass(info->Name), info);
    EXPECT_EQ(std::ranges::count(PalettePages(), std::string(jex::PalettePage)), 1);
}

TEST(LogRegTest, EveryClassHasItsOwnDrawnImageOfTwentyFourPixels) {
    // Pixel checksums of the images as drawn; a change to a drawing shows here.
    const std::map<std::string, std::uint32_t> checksums = {
        {"TJexExceptionLog", 2122927303U},    {"TJexAppLog", 3106995373U},
        {"TJexDatasetLog", 4147743915U},      {"TJexFileLog", 1396496002U},
        {"TJexNTEventLog", 4257267394U},      {"TJexRegistryLog", 3886567109U},
        {"TJexLCheckProcessor", 1662047277U},
    };
    std::set<std::uint32_t> distinct;
    for (const std::string& name : FullPaletteOrder) {
        SCOPED_TRACE(name);
        std::unique_ptr<TBitmap> image = FindPaletteImage(name);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->Width(), 24);
        EXPECT_EQ(image->Height(), 24);
        EXPECT_EQ(PixelChecksum(*image), checksums.at(name)) << std::hex << PixelChecksum(*image);
        EXPECT_LE(ColourCount(*image), name == "TJexLCheckProcessor" ? 256U : 16U);
        EXPECT_GT(ColourCount(*image), 3U);
        distinct.insert(PixelChecksum(*image));
        // The designer's lookup and the library's resource are the same picture.
        EXPECT_EQ(image->SaveToBytes(), jex::PaletteImage(name));
    }
    EXPECT_EQ(distinct.size(), FullPaletteOrder.size());
    EXPECT_NE(FindPaletteImage("tjexexceptionlog"), nullptr);
    EXPECT_EQ(FindPaletteImage("TJexUnknownLog"), nullptr);
}

TEST(LogRegTest, ALinkedProgramHasTheUnitsStartedAndNestedCallsOnlyCount) {
    EXPECT_TRUE(jex::LogBaseWriteLockExists());
    jex::Initialize();
    jex::Finalize();
    EXPECT_TRUE(jex::LogBaseWriteLockExists());
    EXPECT_GE(jex::PackageUnits().size(), 11U);
}

TEST(DesignIntfTest, UnregisteringTakesClassesOffAndDropsEmptyPages) {
    static const TClassInfo first{.Name = "TFirstSample"};
    static const TClassInfo second{.Name = "TSecondSample"};
    const std::vector<const TClassInfo*> both{&first, &second};
    RegisterComponents("Samples", both);
    const std::vector<const TClassInfo*> onlySecond{&second};
    RegisterComponents("samples", onlySecond);
    EXPECT_EQ(PaletteClasses("Samples"), both);

    const std::vector<const TClassInfo*> onlyFirst{&first};
    UnRegisterComponents(onlyFirst);
    EXPECT_EQ(PaletteClasses("Samples"), onlySecond);
    UnRegisterComponents(onlySecond);
    EXPECT_TRUE(PaletteClasses("Samples").empty());
    EXPECT_EQ(std::ranges::count(PalettePages(), std::string("Samples")), 0);
}

} // namespace
