// tests/tool/VellinMainTest.cpp - the vellin command line run as a child process on inputs that
// are not regular files, on standard output that cannot be written, on a full file system and
// under SIGINT/SIGTERM while it writes the new map.
#include "tests/support/InterruptedRun.h"
#include "tests/support/TempDir.h"
#include "tests/tool/ToolProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using jex::test::EntryCount;
using jex::test::ReadFileBytes;
using jex::test::RunShell;
using jex::test::ShellQuote;
using jex::test::TempDir;
using jex::test::WriteFileBytes;

const std::string Vellin = VELLIN_PATH;

std::string RealTds() {
    return vellin::test::TestDataPath("tds/udpserveur/Project1.tds");
}

// A map that vellin accepts: a segment table and the publics-by-name header.
const std::string OldMap = "\r\n Start         Length     Name                   Class\r\n"
                           "\r\nDetailed map of segments\r\n\r\n"
                           " 0001:00000000 00031B44 C=CODE     S=.text    G=(none)   M=File1"
                           "    ACBP=A9\r\n\r\n\r\n  Address         Publics by Name\r\n\r\n"
                           " 0001:000001F4       main\r\n";

class VellinMainTest : public testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(RealTds()))
            GTEST_SKIP() << "real TDS files missing: " << RealTds();
    }

    // vellin with the given arguments (already quoted) under a time limit, so that a tool that
    // blocks fails the test instead of hanging it.
    jex::test::TShellRun Run(const std::string& AArguments, const std::string& ARedirect = {}) {
        return RunShell("timeout 20 " + ShellQuote(Vellin) + " " + AArguments + " " + ARedirect,
                        FDir.Path().string());
    }

    TempDir FDir;
};

TEST_F(VellinMainTest, FifosDevicesAndFoldersAreRefusedWithoutBlocking) {
    const std::string fifo = FDir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string map = FDir.File("app.map");
    WriteFileBytes(map, OldMap);

    struct TCase {
        std::string Tds, Map, Report;
    };

    const TCase cases[] = {
        {fifo, map, "Exception EVellinError: Cannot open the debug file: " + fifo + ".\n"},
        {"/dev/zero", map, "Exception EVellinError: Cannot open the debug file: /dev/zero.\n"},
        {RealTds(), fifo,
         "Exception EFOpenError: Cannot open file \"" + fifo +
             "\". not a regular file but a FIFO\n"},
        {RealTds(), "/dev/zero",
         "Exception EFOpenError: Cannot open file \"/dev/zero\". not a regular file but a "
         "character device\n"},
        {RealTds(), FDir.Path().string(),
         "Exception EFOpenError: Cannot open file \"" + FDir.Path().string() +
             "\". not a regular file but a folder\n"},
    };
    for (const TCase& c : cases) {
        const auto run = Run(ShellQuote(c.Tds) + " " + ShellQuote(c.Map));
        EXPECT_EQ(run.ExitCode, 1) << c.Tds << " " << c.Map;
        EXPECT_EQ(run.Out, c.Report);
    }
    EXPECT_EQ(ReadFileBytes(map), OldMap);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(VellinMainTest, StandardOutputThatCannotBeWrittenEndsWithExitCodeOneAndAMessage) {
    // The usage text to a full disk and to a closed descriptor.
    const auto full = Run("", ">/dev/full");
    EXPECT_EQ(full.ExitCode, 1);
    EXPECT_EQ(full.Err, "Exception EInOutError: Cannot write to standard output. " +
                            std::string(std::strerror(ENOSPC)) + "\n");
    const auto closed = Run("", ">&-");
    EXPECT_EQ(closed.ExitCode, 1);
    EXPECT_EQ(closed.Err, "Exception EInOutError: Cannot write to standard output. " +
                              std::string(std::strerror(EBADF)) + "\n");

    // An error report that standard output cannot take goes to standard error.
    const auto report = Run(ShellQuote(FDir.File("missing.tds")), ">/dev/full");
    EXPECT_EQ(report.ExitCode, 1);
    EXPECT_EQ(report.Err, "Exception EVellinError: Cannot open the debug file: " +
                              FDir.File("missing.tds") + ".\n");

    // With standard output closed, no file opened later may take its place and the map is
    // still written whole.
    const std::string map = FDir.File("app.map");
    WriteFileBytes(map, OldMap);
    const auto merged = Run(ShellQuote(RealTds()) + " " + ShellQuote(map), ">&-");
    EXPECT_EQ(merged.ExitCode, 0) << merged.Err;
    EXPECT_NE(ReadFileBytes(map).find("Publics by Value"), std::string::npos);
}

TEST_F(VellinMainTest, AFullFileSystemLeavesTheOldMapByteForByte) {
    if (!jex::test::CanMountPrivateTmpfs())
        GTEST_SKIP() << "no private tmpfs can be mounted here";
    const std::string small = FDir.File("small");
    fs::create_directory(small);
    WriteFileBytes(FDir.File("old.map"), OldMap);
    // The new map (90 KB) cannot fit into 64 KB; what is left of the tmpfs is copied out
    // before the private namespace goes.
    const auto run = RunShell(
        "unshare -m sh -c " +
            ShellQuote("mount -t tmpfs -o size=64k tmpfs " + ShellQuote(small) + " && cp " +
                       ShellQuote(FDir.File("old.map")) + " " + ShellQuote(small + "/app.map") +
                       " && { " + ShellQuote(Vellin) + " " + ShellQuote(RealTds()) + " " +
                       ShellQuote(small + "/app.map") + "; echo $? >" +
                       ShellQuote(FDir.File("rc")) + "; } && cp " + ShellQuote(small + "/app.map") +
                       " " + ShellQuote(FDir.File("after.map")) + " && ls -A " + ShellQuote(small) +
                       " >" + ShellQuote(FDir.File("ls"))),
        FDir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(ReadFileBytes(FDir.File("rc")), "1\n");
    EXPECT_EQ(run.Out, "Exception EFCreateError: Cannot create file \"" + small + "/app.map\". " +
                           std::strerror(ENOSPC) + "\n");
    EXPECT_EQ(ReadFileBytes(FDir.File("after.map")), OldMap);
    EXPECT_EQ(ReadFileBytes(FDir.File("ls")), "app.map\n");
}

TEST_F(VellinMainTest, AnInterruptedRunLeavesTheOldMapAndNoTemporaryFile) {
    const std::string map = FDir.File("app.map");
    for (int signal : {SIGINT, SIGTERM}) {
        WriteFileBytes(map, OldMap);
        const auto run = jex::test::InterruptWhileWriting({Vellin, RealTds(), map},
                                                          FDir.Path().string(), signal);
        ASSERT_TRUE(run.SignalledWhileWriting) << "vellin wrote no new file";
        ASSERT_TRUE(WIFSIGNALED(run.Status)) << signal;
        EXPECT_EQ(WTERMSIG(run.Status), signal);
        EXPECT_EQ(ReadFileBytes(map), OldMap);
        EXPECT_EQ(EntryCount(FDir.Path()), 1u) << run.CreatedName << " left after " << signal;
    }
}

} // namespace
