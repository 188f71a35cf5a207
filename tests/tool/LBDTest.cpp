// tests/tool/LBDTest.cpp - the library binding against a fake debug-symbol library module: what
// is loaded from where, the order of calls ReadTdsFile makes, and the start-up of the real tool
// binary placed beside a fake, a broken or no library.
#include "tool/LBD.h"

#include "tests/support/TempDir.h"
#include "tests/tool/ToolProcess.h"
#include "tool/VellinError.h"
#include "tool/vellin.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>

namespace vellin {
namespace {

using jex::test::ReadFileBytes;
using jex::test::TempDir;
using jex::test::WriteFileBytes;
using test::RunTool;

namespace fs = std::filesystem;

// Functions of the fake module beside the 13 entry points.
struct TFakeLog {
    explicit TFakeLog(const std::string& APath)
        : FHandle(dlopen(APath.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (FHandle != nullptr) {
            Log = reinterpret_cast<const char* (*)()>(dlsym(FHandle, "FakeBorDebugLog"));
            Reset = reinterpret_cast<void (*)()>(dlsym(FHandle, "FakeBorDebugReset"));
        }
    }

    ~TFakeLog() {
        if (FHandle != nullptr)
            dlclose(FHandle);
    }

    void* FHandle;
    const char* (*Log)() = nullptr;
    void (*Reset)() = nullptr;
};

std::string LoadError(const std::string& APath) {
    try {
        TBorDebugLibrary::Load(APath);
    } catch (const EVellinError& error) {
        return error.what();
    }
    return "loaded";
}

TEST(LBDTest, BindsAllThirteenEntryPointsOfALibrary) {
    const auto library = TBorDebugLibrary::Load(FAKE_BORDEBUG_PATH);
    EXPECT_TRUE(library->Api().Complete());
}

TEST(LBDTest, RefusesALibraryThatLacksAnEntryPoint) {
    EXPECT_EQ(LoadError(FAKE_BORDEBUG_INCOMPLETE_PATH),
              std::string("Cannot load the \"") + FAKE_BORDEBUG_INCOMPLETE_PATH + "\" library.");
}

TEST(LBDTest, RefusesAFileThatIsNoLoadableLibrary) {
    TempDir dir;
    const std::string path = dir.File("BorDebug.dll");
    WriteFileBytes(path, "MZ\x90\x00 this is a Windows library");
    EXPECT_EQ(LoadError(path), "Cannot load the \"" + path + "\" library.");
    EXPECT_EQ(LoadError(dir.File("absent.so")),
              "Cannot load the \"" + dir.File("absent.so") + "\" library.");
}

TEST(LBDTest, LooksOnlyInTheGivenFolderUnderTheTwoNames) {
    TempDir dir;
    const std::string folder = dir.Path().string() + "/";
    EXPECT_EQ(LoadBorDebugLibrary(folder), nullptr);
    EXPECT_EQ(LoadBorDebugLibrary(""), nullptr);

    fs::copy_file(FAKE_BORDEBUG_PATH, folder + "libBorDebug.so");
    auto library = LoadBorDebugLibrary(folder);
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(library->Api().Complete());
    library.reset();

    // The exact name comes first: a broken BorDebug.dll is not passed over for the .so.
    WriteFileBytes(folder + "BorDebug.dll", "not a library");
    EXPECT_THROW(LoadBorDebugLibrary(folder), EVellinError);
}

TEST(LBDTest, TheExecutableFolderEndsWithASlashAndHoldsThisTest) {
    const std::string folder = ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(fs::exists(folder + fs::path(TOOL_TESTS_NAME).string()));
}

class LBDReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        FLibrary = TBorDebugLibrary::Load(FAKE_BORDEBUG_PATH);
        ASSERT_NE(FFake.Log, nullptr);
        FFake.Reset();
    }

    std::unique_ptr<TBorDebugLibrary> FLibrary;
    TFakeLog FFake{FAKE_BORDEBUG_PATH}; // the same module: dlopen hands out the loaded one
};

TEST_F(LBDReadTest, CallsTheLibraryInTheDocumentedOrder) {
    std::vector<std::string> tail;
    ReadTdsFile("fake.tds", tail, FLibrary->Api());
    EXPECT_STREQ(FFake.Log(),
                 "RegisterFile SubSectionCount SubSection(0) "
                 "SubSection(1) SrcModule SrcModuleSources "
                 "NameIndexToName(1) SrcModuleSourceRanges(0) SrcModuleLineNumbers(0,0) "
                 "SrcModuleLineNumbers(0,1) "
                 "NameIndexToName(2) SrcModuleSourceRanges(1) SrcModuleLineNumbers(1,0) "
                 "SubSection(2) StartSymbols NextSymbol SymbolGPROC32(1000,0,0) NameIndexToName(3) "
                 "NextSymbol NextSymbol "
                 "SubSection(3) StartSymbols NextSymbol SymbolGPROCREF(2000) NameIndexToName(5) "
                 "NextSymbol NextSymbol NextSymbol "
                 "UnregisterFile");
    const std::vector<std::string> expected = {
        "  Address         Publics by Value",
        "",
        " 0001:00000010       Fake.Run",
        " 0001:00000040       Helper",
        "",
        "Line numbers for Fake(Fake.cpp) segment .text",
        "",
        "    10 0001:00000010    12 0001:00000014    20 0001:00000020",
        "",
    };
    EXPECT_EQ(tail, expected);
}

TEST_F(LBDReadTest, AFailedRegistrationIsTheOnlyCall) {
    std::vector<std::string> tail;
    try {
        ReadTdsFile("missing.tds", tail, FLibrary->Api());
        ADD_FAILURE() << "no error";
    } catch (const EVellinError& error) {
        EXPECT_STREQ(error.what(), "Cannot open the debug file: missing.tds.");
    }
    EXPECT_STREQ(FFake.Log(), "RegisterFile");
}

// The real tool binary, copied into a folder of its own so that what lies beside it is the
// test's choice.
class LBDStartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        FTool = FDir.File("vellin");
        fs::copy_file(VELLIN_PATH, FTool);
        WriteFileBytes(FDir.File("app.map"), "head\r\n  Address         Publics by Name\r\n");
    }

    TempDir FDir;
    std::string FTool;
};

TEST_F(LBDStartupTest, WithoutALibraryTheBuiltInReaderServes) {
    const auto usage = RunTool({FTool});
    EXPECT_EQ(usage.ExitCode, 0);
    EXPECT_EQ(usage.Output, UsageText);
}

TEST_F(LBDStartupTest, ALibraryThatCannotBeLoadedStopsTheToolBeforeTheUsageText) {
    WriteFileBytes(FDir.File("BorDebug.dll"), "MZ\x90\x00 a Windows library");
    const std::string expected =
        "Exception EVellinError: Cannot load the \"" + FDir.File("BorDebug.dll") + "\" library.\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{FTool}, {FTool, "x.tds", FDir.File("app.map")}}) {
        const auto result = RunTool(args);
        EXPECT_EQ(result.ExitCode, 1);
        EXPECT_EQ(result.Output, expected);
    }
    EXPECT_EQ(ReadFileBytes(FDir.File("app.map")), "head\r\n  Address         Publics by Name\r\n");
}

TEST_F(LBDStartupTest, ALibraryBesideTheToolIsUsedUnderEitherName) {
    for (const char* name : {"BorDebug.dll", "libBorDebug.so"}) {
        SCOPED_TRACE(name);
        fs::copy_file(FAKE_BORDEBUG_PATH, FDir.File(name));
        WriteFileBytes(FDir.File("app.map"), "head\r\n  Address         Publics by Name\r\n");
        const auto result = RunTool({FTool, "any.tds", "app.map"}, FDir.Path().string());
        EXPECT_EQ(result.ExitCode, 0);
        EXPECT_EQ(result.Output, "");
        EXPECT_EQ(ReadFileBytes(FDir.File("app.map")),
                  "head\r\n  Address         Publics by Value\r\n\r\n"
                  " 0001:00000010       Fake.Run\r\n 0001:00000040       Helper\r\n\r\n"
                  "Line numbers for Fake(Fake.cpp) segment .text\r\n\r\n"
                  "    10 0001:00000010    12 0001:00000014    20 0001:00000020\r\n\r\n");
        fs::remove(FDir.File(name));
    }
}

TEST_F(LBDStartupTest, TheLibraryIsNotTakenFromTheCurrentFolder) {
    const fs::path elsewhere = FDir.Path() / "work";
    fs::create_directory(elsewhere);
    WriteFileBytes((elsewhere / "BorDebug.dll").string(), "not a library");
    const auto result = RunTool({FTool}, elsewhere.string());
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Output, UsageText);
}

} // namespace
} // namespace vellin
