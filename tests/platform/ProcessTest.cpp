// tests/platform/ProcessTest.cpp - helper programs started without a shell: their exit codes,
// their output and input, programs that are not there, and the search along a path.
#include "platform/linux/Process.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace process = platform::process;
using process::TExitStatus;
namespace fs = std::filesystem;

TEST(ProcessTest, AProgramThatIsNotThereIsReportedAsNotStarted) {
    std::string output = "left over";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{""},
          std::vector<std::string>{"jex-no-such-program"},
          std::vector<std::string>{"/nonexistent/jex-tool", "-x"}}) {
        const std::string name = args.empty() ? "(no arguments)" : args[0];
        TExitStatus status = process::Run(args);
        EXPECT_FALSE(status.Started) << name;
        EXPECT_EQ(status.SpawnError, ENOENT) << name;
        const std::string input = "text";
        status = process::Run(args, &input);
        EXPECT_FALSE(status.Started) << name;
        EXPECT_EQ(status.SpawnError, ENOENT) << name;
        status = process::RunCapture(args, output);
        EXPECT_FALSE(status.Started) << name;
        EXPECT_EQ(status.SpawnError, ENOENT) << name;
        EXPECT_EQ(output, "") << name;
        EXPECT_EQ(process::StartDetached(args), ENOENT) << name;
    }
}

TEST(ProcessTest, ArgumentsReachTheProgramUnparsedAndItsExitCodeAndOutputComeBack) {
    std::string output;
    // A text a shell would expand, split or run stays one argument as it is.
    const std::string tricky = "a b; $(echo no) `x` *";
    const TExitStatus status =
        process::RunCapture({"/bin/sh", "-c", "printf '%s|' \"$0\"; exit 3", tricky}, output);
    EXPECT_TRUE(status.Started);
    EXPECT_TRUE(status.Exited);
    EXPECT_EQ(status.ExitCode, 3);
    EXPECT_EQ(output, tricky + "|");

    const jex::test::TempDir dir;
    const std::string file = dir.File("in.txt");
    const std::string input(200000, 'm'); // more than a pipe holds at once
    const TExitStatus fed = process::Run({"/bin/sh", "-c", "cat > \"$0\"", file}, &input);
    EXPECT_TRUE(fed.Exited);
    EXPECT_EQ(fed.ExitCode, 0);
    EXPECT_EQ(jex::test::ReadFileBytes(file), input);
}

TEST(ProcessTest, AProgramThatStopsReadingEarlyHasNotTakenTheInput) {
    const std::string input(1 << 20, 'm');
    const TExitStatus status = process::Run({"/bin/sh", "-c", "exit 0"}, &input);
    EXPECT_TRUE(status.Exited);
    EXPECT_EQ(status.ExitCode, 74); // EX_IOERR: the message did not go out
    const TExitStatus killed = process::Run({"/bin/sh", "-c", "kill -9 $$"});
    EXPECT_TRUE(killed.Started);
    EXPECT_FALSE(killed.Exited);
}

TEST(ProcessTest, ProgramsAreFoundOnlyAsExecutableFilesAlongThePath) {
    const jex::test::TempDir dir;
    const std::string bin = dir.File("bin");
    fs::create_directories(bin + "/tool-folder");
    jex::test::WriteFileBytes(bin + "/plain", "#!/bin/sh\n");
    jex::test::WriteFileBytes(bin + "/tool", "#!/bin/sh\n");
    ::chmod((bin + "/tool").c_str(), 0755);
    EXPECT_EQ(process::FindOnPath("tool", "/nonexistent:" + bin), bin + "/tool");
    EXPECT_EQ(process::FindOnPath("plain", bin), "");       // not executable
    EXPECT_EQ(process::FindOnPath("tool-folder", bin), ""); // a folder
    EXPECT_EQ(process::ProgramIn("tool", ""), "tool");      // left to the system's own PATH
    EXPECT_EQ(process::ProgramIn("tool", bin), bin + "/tool");
    EXPECT_EQ(process::ProgramIn("missing", bin), "");
    // The process's own PATH finds the shell.
    const std::string sh = process::FindOnPath("sh");
    ASSERT_FALSE(sh.empty());
    EXPECT_EQ(sh.substr(sh.size() - 3), "/sh");
    EXPECT_EQ(process::FindOnPath("jex-no-such-program"), "");
}
