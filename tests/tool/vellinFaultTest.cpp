// tests/tool/vellinFaultTest.cpp - the merge under a failing disk: every call of the map's
// reading and replacement fails in turn with ENOSPC, EIO or a short write, and the old map
// stays whole.
#include "tests/support/FaultSweep.h"
#include "tests/support/FaultingFileOps.h"
#include "tests/support/TempDir.h"
#include "tests/tool/TdsBuilder.h"
#include "tool/TdsReader.h"
#include "tool/VellinError.h"
#include "tool/vellin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace vellin {
namespace {

using jex::test::ReadFileBytes;
using jex::test::TempDir;
using jex::test::WriteFileBytes;

const std::string OldMap = "\r\n Start         Length     Name                   Class\r\n"
                           "\r\nDetailed map of segments\r\n\r\n"
                           " 0001:00000000 00001000 C=CODE S=.text G=(none) M=Unit1 ACBP=A9\r\n"
                           "\r\n\r\n  Address         Publics by Name\r\n\r\n"
                           " 0001:00000010       Old\r\n";

class VellinFaultTest : public testing::Test {
protected:
    void SetUp() override {
        test::TTdsBuilder tds;
        tds.AddModule({{"Unit1.cpp", {{{7, 0x10}, {9, 0x20}}}}, {"Unit2.cpp", {{{3, 0x40}}}}},
                      {{0x10, "@Unit1@Start$qv"}, {0x40, "@Unit2@Stop$qv"}});
        WriteFileBytes(FTds, tds.Build());
        // A map a few times larger than one write, so that the replacement takes several.
        std::string map = OldMap;
        for (int i = 0; i < 2000; ++i)
            map += " 0001:00000010       Old" + std::to_string(i) + "\r\n";
        FOldMap = map;
    }

    // The map as it was before each run, with its permissions, and nothing else beside it.
    void SetUpFiles() {
        for (const auto& entry : std::filesystem::directory_iterator(FDir.Path()))
            if (entry.path() != FTds)
                std::filesystem::remove(entry.path());
        WriteFileBytes(FMap, FOldMap);
        ::chmod(FMap.c_str(), 0640);
    }

    void Merge() { MergeIntoMapFile(FTds, FMap, BuiltInBorDebugApi()); }

    TempDir FDir;
    std::string FTds = FDir.File("app.tds");
    std::string FMap = FDir.File("app.map");
    std::string FOldMap;
};

TEST_F(VellinFaultTest, AFaultAtAnyFileCallReportsTheFileAndLeavesTheOldMapWhole) {
    jex::test::TFaultingFileOps files;
    SetUpFiles();
    Merge();
    const std::string merged = ReadFileBytes(FMap);
    ASSERT_NE(merged, FOldMap);

    const auto faults = jex::test::FaultsOf(
        files, [&] { SetUpFiles(); }, [&] { Merge(); },
        {platform::fkOpen, platform::fkRead, platform::fkWrite, platform::fkRename});
    ASSERT_GE(faults.size(), 15u);
    int reported = 0;
    const int descriptors = jex::test::OpenDescriptorCount();
    for (const jex::test::TInjectedFault& fault : faults) {
        SCOPED_TRACE(fault.Describe());
        SetUpFiles();
        fault.Arm(files);
        std::string report;
        try {
            Merge();
        } catch (...) {
            report = UnhandledErrorReport(std::current_exception());
        }
        files.Reset();
        EXPECT_EQ(jex::test::OpenDescriptorCount(), descriptors);
        EXPECT_EQ(jex::test::EntryCount(FDir.Path()), 2u) << "a temporary file was left";

        struct stat info {};

        ASSERT_EQ(::stat(FMap.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0640u);
        if (report.empty()) {
            // Only a fault the tool may step over ends in success: the first open, the look
            // at the debug file before the library opens it. The new map is then whole.
            EXPECT_TRUE(fault.Call == platform::fkOpen && fault.Nth == 1);
            EXPECT_EQ(ReadFileBytes(FMap), merged) << "success reported for a damaged map";
            continue;
        }
        ++reported;
        EXPECT_EQ(ReadFileBytes(FMap), FOldMap);
        // One line naming the class and the file; a failing system call also says why.
        EXPECT_EQ(report.find('\n'), std::string::npos) << report;
        EXPECT_TRUE(report.find(FMap) != std::string::npos ||
                    report.find(FTds) != std::string::npos)
            << report;
        if (report.find(FMap) != std::string::npos) {
            EXPECT_NE(report.find(std::strerror(fault.Error)), std::string::npos) << report;
        }
    }
    EXPECT_EQ(reported, static_cast<int>(faults.size()) - 2); // all but the look's two
}

TEST_F(VellinFaultTest, TheReportOfAFullDiskNamesTheMapAndTheReason) {
    jex::test::TFaultingFileOps files;
    SetUpFiles();
    files.Fail(platform::fkWrite, 1, ENOSPC, 1);
    try {
        Merge();
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(UnhandledErrorReport(std::current_exception()),
                  "Exception EFCreateError: Cannot create file \"" + FMap +
                      "\". No space left on device");
        EXPECT_EQ(ReportUnhandledError(std::current_exception()), 1);
    }
    EXPECT_EQ(ReadFileBytes(FMap), FOldMap);
    EXPECT_EQ(jex::test::EntryCount(FDir.Path()), 2u);
}

} // namespace
} // namespace vellin
