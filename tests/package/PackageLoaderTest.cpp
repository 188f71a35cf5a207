// tests/package/PackageLoaderTest.cpp - loading the package at run time: unit order, write
// lock and identity.
//
// This program links only the host run-time, so libJexLogC6 arrives only through LoadPackage.
#include "host/core/SysUtils.h"
#include "host/core/SysUtilsPackage.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace host;

const std::string PackageFile = JEX_PACKAGE_FILE;

// The package's units in initialisation order, as the package declares them.
const std::vector<std::string> FullUnitOrder = {
    "Jexlogc6", "LogCnst", "JexLChecks", "LogBase",  "LogRegistry", "LogNT",  "LogFile",
    "LogDS",    "LogDlg",  "Jexmapfile", "LogError", "LogApp",      "LogReg",
};

std::vector<std::string> started;
std::vector<std::string> stopped;

void RecordUnit(const char* AUnitName, bool AStarting) {
    (AStarting ? started : stopped).emplace_back(AUnitName);
}

class PackageLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        started.clear();
        stopped.clear();
        SetPackageUnitHook(&RecordUnit);
    }

    void TearDown() override { SetPackageUnitHook(nullptr); }

    // The package's own answer to whether LogBase's write lock exists.
    static bool WriteLockExists(HModule AModule) {
        // jex::LogBaseWriteLockExists(), by its exported name.
        auto query = reinterpret_cast<bool (*)()>(
            GetProcAddress(AModule, "_ZN3jex22LogBaseWriteLockExistsEv"));
        EXPECT_NE(query, nullptr);
        return query != nullptr && query();
    }
};

TEST_F(PackageLoaderTest, EachLoadCreatesTheWriteLockOnceAndEachUnloadDeletesIt) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("load " + std::to_string(round + 1));
        HModule module = LoadPackage(PackageFile);
        ASSERT_NE(module, nullptr);
        EXPECT_TRUE(WriteLockExists(module));
        // A second Initialize inside the same load only counts.
        auto initialize = reinterpret_cast<void (*)()>(GetProcAddress(module, "Initialize"));
        auto finalize = reinterpret_cast<void (*)()>(GetProcAddress(module, "Finalize"));
        initialize();
        finalize();
        EXPECT_TRUE(WriteLockExists(module));

        auto query = reinterpret_cast<bool (*)()>(
            GetProcAddress(module, "_ZN3jex22LogBaseWriteLockExistsEv"));
        UnloadPackage(module);
        // The library stays mapped (it has process-unique symbols), so its answer can be read.
        EXPECT_FALSE(query());
    }
}

TEST_F(PackageLoaderTest, UnitsStartInPackageOrderAndStopInReverse) {
    HModule module = LoadPackage(PackageFile);
    UnloadPackage(module);

    // Every unit the package holds, in the listed order, nothing else and nothing twice.
    std::vector<std::string> expected;
    std::ranges::copy_if(FullUnitOrder, std::back_inserter(expected), [](const std::string& AName) {
        return std::ranges::find(started, AName) != started.end();
    });
    EXPECT_EQ(started, expected);
    EXPECT_GE(started.size(), 11U);
    EXPECT_EQ(started.front(), "Jexlogc6");
    EXPECT_EQ(started.back(), "LogReg");
    std::vector<std::string> reversed(started.rbegin(), started.rend());
    EXPECT_EQ(stopped, reversed);
}

TEST_F(PackageLoaderTest, IdentityIsReadableFromTheFileAndFromTheLoadedModule) {
    const TPackageInfo fromFile = ReadPackageInfo(PackageFile);
    EXPECT_EQ(fromFile.at("FileVersion"), "1.5.0.0");
    EXPECT_EQ(fromFile.at("ProductVersion"), "1.5.0.0");
    EXPECT_EQ(fromFile.at("FileDescription"), "JexLogger components");
    EXPECT_EQ(fromFile.at("InternalName"), "JexLogger");
    EXPECT_EQ(fromFile.at("OriginalFilename"), "JexLogger");
    EXPECT_EQ(fromFile.at("ProductName"), "JexLogger suite");
    EXPECT_TRUE(fromFile.at("Description").starts_with("JexLogger: log component suite."));
    EXPECT_TRUE(started.empty()) << "reading the identity must not load the package";

    HModule module = LoadPackage(PackageFile);
    EXPECT_EQ(GetPackageInfo(module), fromFile);
    UnloadPackage(module);
}

TEST_F(PackageLoaderTest, FilesThatAreNoPackageAreRefusedWithAClearError) {
    jex::test::TempDir dir;
    const std::string text = dir.File("notes.so");
    jex::test::WriteFileBytes(text, "not an ELF file at all");

    EXPECT_THROW(LoadPackage(dir.File("missing.so")), EPackageError);
    EXPECT_THROW(LoadPackage(text), EPackageError);
    EXPECT_THROW(ReadPackageInfo(text), EPackageError);
    EXPECT_THROW(ReadPackageInfo(dir.File("missing.so")), EFOpenError);
    // A shared library without the entry points is released again and refused.
    EXPECT_THROW(LoadPackage(JEX_PLAIN_LIBRARY), EPackageError);
    EXPECT_THROW(ReadPackageInfo(JEX_PLAIN_LIBRARY), EPackageError);
    EXPECT_TRUE(started.empty());
}

TEST(PackageInfoTextTest, ParsesKeyValueLinesAndSkipsTheRest) {
    constexpr char text[] = "A=1\nnoise\n=x\nB=two = 2\0C=3";
    const TPackageInfo info = ParsePackageInfo(std::string_view(text, sizeof text - 1));
    EXPECT_EQ(info, (TPackageInfo{{"A", "1"}, {"B", "two = 2"}}));
}

} // namespace
