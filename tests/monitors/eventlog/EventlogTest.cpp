// tests/monitors/eventlog/EventlogTest.cpp - the eventlog program, run as a child process on a
// temporary store (the user's XDG folders pointed at a temporary folder).
#include "platform/EventLog.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct RunResult {
    int Code = -1;
    std::string Out;
    std::string Err;
};

std::string Quote(const std::string& AText) {
    std::string quoted = "'";
    for (char c : AText)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ProgramPath() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "eventlog").string();
}

class EventlogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_STATE_HOME", FDir.File("state").c_str(), 1);
        ::setenv("XDG_DATA_HOME", FDir.File("data").c_str(), 1);
    }

    void TearDown() override {
        ::unsetenv("XDG_STATE_HOME");
        ::unsetenv("XDG_DATA_HOME");
    }

    // Runs eventlog under a time limit; ABackground runs another command line beside it.
    RunResult Run(const std::vector<std::string>& AArgs, const std::string& ABackground = {}) {
        std::string command = "timeout 20 " + Quote(ProgramPath());
        for (const std::string& arg : AArgs)
            command += " " + Quote(arg);
        command += " >" + Quote(FDir.File("out")) + " 2>" + Quote(FDir.File("err"));
        if (!ABackground.empty())
            command = "(" + ABackground + ") & " + command + "; code=$?; wait; exit $code";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                jex::test::ReadFileBytes(FDir.File("out")),
                jex::test::ReadFileBytes(FDir.File("err"))};
    }

    // The lines of AText without their time column.
    static std::vector<std::string> WithoutTimes(const std::string& AText) {
        std::vector<std::string> lines;
        std::size_t at = 0;
        while (at < AText.size()) {
            const std::size_t end = AText.find('\n', at);
            std::string line = AText.substr(at, end - at);
            const std::size_t first = line.find('\t');
            const std::size_t second = line.find('\t', first + 1);
            if (first != std::string::npos && second != std::string::npos)
                line.erase(first + 1, second - first - 1);
            lines.push_back(line);
            at = end == std::string::npos ? AText.size() : end + 1;
        }
        return lines;
    }

    jex::test::TempDir FDir;
};

TEST_F(EventlogTest, ListsWrittenEventsWithTheirMessageTexts) {
    jex::test::WriteFileBytes(FDir.File("app.mc"), "MessageId=100\nSeverity=Warning\n"
                                                   "Language=English\nCopied %1\nto %2.\n.\n");
    ASSERT_EQ(Run({"register", "Demo", FDir.File("missing.mc") + ";" + FDir.File("app.mc")}).Code,
              0);
    ASSERT_EQ(Run({"write", "Demo", "a.txt", "--type", "warning", "--id", "0x8FFF0064"}).Code, 0);
    ASSERT_EQ(Run({"write", "Unknown", "no catalogue", "--type", "error"}).Code, 0);
    const RunResult r = Run({"list"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(WithoutTimes(r.Out),
              (std::vector<std::string>{"1\t\twarning\tDemo\t0x8FFF0064\tCopied a.txt", "\tto %2.",
                                        "2\t\terror\tUnknown\t0x00000000\tno catalogue"}));
    EXPECT_EQ(r.Err, "");
}

TEST_F(EventlogTest, SourcesOfAnotherLogAreListedThere) {
    ASSERT_EQ(Run({"register", "Svc", "/none.mc", "--log", "System"}).Code, 0);
    ASSERT_EQ(Run({"write", "Svc", "to system"}).Code, 0);
    EXPECT_EQ(Run({"list"}).Out, "");
    EXPECT_NE(Run({"list", "--log", "system"}).Out.find("\tSvc\t0x00000000\tto system\n"),
              std::string::npos);
}

TEST_F(EventlogTest, FollowPrintsRecordsAsTheyAreWritten) {
    ASSERT_EQ(Run({"write", "Demo", "before"}).Code, 0);
    const std::string writer = "sleep 0.3; " + Quote(ProgramPath()) + " write Demo first; " +
                               Quote(ProgramPath()) + " write Demo second";
    const RunResult r = Run({"follow", "--count", "2"}, writer);
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(WithoutTimes(r.Out),
              (std::vector<std::string>{"2\t\tinformation\tDemo\t0x00000000\tfirst",
                                        "3\t\tinformation\tDemo\t0x00000000\tsecond"}));
}

TEST_F(EventlogTest, BadUsageAndFailuresEndWithCodeOneAndAReason) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"dance"},
                                               {"list", "extra"},
                                               {"write", "Demo"},
                                               {"list", "--log"},
                                               {"write", "Demo", "x", "--id", "-1"},
                                               {"follow", "--count", "many"},
                                               {"register", "Demo"},
                                               {"list", "--type", "error"}}) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.Code, 1);
        EXPECT_TRUE(r.Err.starts_with("Usage: eventlog")) << r.Err;
    }
    RunResult r = Run({"write", "Demo", "x", "--type", "fatal"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "eventlog: unknown event type: fatal\n");
    r = Run({"register", "Bad\\Name", "x.mc"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "eventlog: not a name a source can have: Bad\\Name\n");

    // A damaged log is named, and left as it is.
    ASSERT_EQ(Run({"write", "Demo", "x"}).Code, 0);
    const std::string path = FDir.File("state") + "/jexlogger/eventlog/application.evt8";
    const std::string damaged = jex::test::ReadFileBytes(path).substr(0, 60);
    jex::test::WriteFileBytes(path, damaged);
    r = Run({"list"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "eventlog: cannot read the log Application: the log file is damaged\n");
    r = Run({"write", "Demo", "more"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "eventlog: cannot write the event: the log file is damaged\n");
    EXPECT_EQ(jex::test::ReadFileBytes(path), damaged);

    r = Run({"--help"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_TRUE(r.Out.starts_with("Usage: eventlog"));
}

} // namespace
