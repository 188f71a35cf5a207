// tests/mapfile/maplookup/MaplookupTest.cpp - the maplookup program, run as a child process.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct RunResult {
    int ExitCode;
    std::string Out;
    std::string Err;
};

std::string ProgramPath() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "maplookup").string();
}

std::string Quote(const std::string& AText) {
    std::string quoted = "'";
    for (char c : AText)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class MaplookupTest : public ::testing::Test {
protected:
    // Runs maplookup under a time limit (a run that blocks fails instead of hanging the test),
    // its standard output to a file or as AOutput redirects it.
    RunResult Run(const std::vector<std::string>& AArgs, const std::string& AOutput = {}) {
        std::string command = "timeout 20 " + Quote(ProgramPath());
        for (const std::string& arg : AArgs)
            command += " " + Quote(arg);
        command += (AOutput.empty() ? " >" + Quote(FDir.File("out")) : " " + AOutput) + " 2>" +
                   Quote(FDir.File("err"));
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                jex::test::ReadFileBytes(FDir.File("out")),
                jex::test::ReadFileBytes(FDir.File("err"))};
    }

    std::string SampleMap() {
        const std::string path = FDir.File("app.map");
        jex::test::WriteFileBytes(
            path, "Detailed map of segments\r\n\r\n"
                  " 0001:00000000 00000100 C=CODE     S=.text    G=(none)   M=System   ACBP=A9\r\n"
                  " 0001:00000100 00000100 C=CODE     S=.text    G=(none)   M=Unit1    ACBP=A9\r\n"
                  "\r\n  Address             Publics by Value\r\n\r\n"
                  " 0001:00000010       Alpha\r\n"
                  " 0001:00000100       TForm1.Click\r\n"
                  " 0001:00000180       TForm1.Close\r\n\r\n"
                  "Line numbers for Unit1(Unit1.pas) segment .text\r\n\r\n"
                  "    30 0001:00000100    31 0001:00000110\r\n\r\n");
        return path;
    }

    jex::test::TempDir FDir;
};

} // namespace

TEST_F(MaplookupTest, PrintsOneTabSeparatedLinePerAddress) {
    const RunResult r = Run({SampleMap(), "0x00401110", "00401010", "401000", "0X00402000"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "0x00401110\tUnit1\tTForm1.Click\t31\n"
                     "00401010\tSystem\tAlpha\t0\n"
                     "401000\tSystem\t\t0\n"
                     "0X00402000\tUnit1\t\t0\n");
    EXPECT_EQ(r.Err, "");
}

TEST_F(MaplookupTest, UnitsListsEverySegmentsModule) {
    const RunResult r = Run({"--units", SampleMap()});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "System\nUnit1\n");
}

TEST_F(MaplookupTest, MalformedAddressFailsBeforeAnyOutput) {
    for (const char* bad : {"0x", "12345678A", "00401G00", "-1", ""}) {
        const RunResult r = Run({SampleMap(), "00401010", bad});
        EXPECT_EQ(r.ExitCode, 1) << bad;
        EXPECT_EQ(r.Out, "") << bad;
        EXPECT_NE(r.Err.find("malformed address"), std::string::npos) << r.Err;
    }
}

TEST_F(MaplookupTest, MissingOrUnreadableMapIsNamedOnStandardError) {
    const RunResult missing = Run({FDir.File("none.map"), "00401010"});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Err.find(FDir.File("none.map")), std::string::npos) << missing.Err;
    const RunResult folder = Run({"--units", FDir.Path().string()});
    EXPECT_EQ(folder.ExitCode, 1);
    EXPECT_NE(folder.Err.find(FDir.Path().string()), std::string::npos) << folder.Err;
    const RunResult unreadable = Run({"/proc/self/mem", "00401010"});
    EXPECT_EQ(unreadable.ExitCode, 1);
    EXPECT_NE(unreadable.Err.find("maplookup: "), std::string::npos) << unreadable.Err;
}

TEST_F(MaplookupTest, WrongArgumentsShowTheUsage) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"only.map"}, {"--units"}, {"--units", "a.map", "b.map"}}) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_NE(r.Err.find("Usage: maplookup"), std::string::npos);
    }
}

TEST_F(MaplookupTest, FifosAndDevicesAreRefusedWithoutBlocking) {
    const std::string fifo = FDir.File("fifo.map");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const RunResult fromFifo = Run({fifo, "00401010"});
    EXPECT_EQ(fromFifo.ExitCode, 1);
    EXPECT_EQ(fromFifo.Err,
              "maplookup: cannot read the map file " + fifo + ": not a regular file but a FIFO\n");
    const RunResult fromDevice = Run({"--units", "/dev/zero"});
    EXPECT_EQ(fromDevice.ExitCode, 1);
    EXPECT_EQ(fromDevice.Err, "maplookup: cannot read the map file /dev/zero: not a regular file "
                              "but a character device\n");
}

TEST_F(MaplookupTest, AnAnswerThatCannotBeWrittenIsAnErrorWithExitCodeOne) {
    const std::string map = SampleMap();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{map, "0x00401110"}, {"--units", map}, {"--help"}}) {
        const RunResult full = Run(args, ">/dev/full");
        EXPECT_EQ(full.ExitCode, 1) << args[0];
        EXPECT_EQ(full.Err, "maplookup: cannot write to standard output: " +
                                std::string(std::strerror(ENOSPC)) + "\n");
        const RunResult closed = Run(args, ">&-");
        EXPECT_EQ(closed.ExitCode, 1) << args[0];
        EXPECT_EQ(closed.Err, "maplookup: cannot write to standard output: " +
                                  std::string(std::strerror(EBADF)) + "\n");
    }
}
