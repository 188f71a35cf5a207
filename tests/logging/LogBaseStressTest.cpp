// tests/logging/LogBaseStressTest.cpp - many programs and threads appending to one log at once:
// every record arrives exactly once and whole, with no retry by the caller.
#include "logging/LogBase.h"
#include "tests/support/Stress.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace host;
using namespace jex;

namespace {

constexpr int kProcesses = 4;
constexpr int kThreads = 8;
const int kRecordsPerProcess = 20000 * jex::test::StressScale();
const int kRecordsPerThread = kRecordsPerProcess / kThreads;
constexpr std::size_t kRecordLength = 64;

// "P1 T5 N01234 " padded with dots to the fixed length, then CR LF.
std::string Record(int AProcess, int AThread, int ANumber) {
    char head[32];
    std::snprintf(head, sizeof head, "P%d T%d N%05d ", AProcess, AThread, ANumber);
    std::string record(head);
    record.append(kRecordLength - 2 - record.size(), '.');
    return record + "\r\n";
}

// One program: eight threads, each with its own component on the shared log.
int WriteAll(const std::string& APath, int AProcess) {
    std::vector<std::thread> threads;
    std::atomic<bool> failed = false;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::unique_ptr<TJexLogBase> log(Create<TJexLogBase>(nullptr));
            log->SetLogFile(APath);
            try {
                for (int n = 0; n < kRecordsPerThread; ++n)
                    log->WriteAsString(Record(AProcess, t, n));
            } catch (...) {
                failed = true;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    return failed ? 1 : 0;
}

} // namespace

TEST(TJexLogBaseStressTest, FourProgramsOfEightThreadsLoseAndTearNoRecord) {
    jex::test::TempDir dir;
    const std::string path = dir.File("stress.log");
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0)
            _exit(WriteAll(path, p));
        children.push_back(child);
    }
    // Bounded: a writer that hangs fails the test instead of the run.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(90 * jex::test::StressScale());
    for (const pid_t child : children) {
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (done != child) {
            for (const pid_t other : children)
                kill(other, SIGKILL);
            while (waitpid(-1, nullptr, 0) > 0) {
            }
            FAIL() << "the writers did not finish in time";
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed";
    }

    const std::string text = jex::test::ReadFileBytes(path);
    ASSERT_EQ(text.size(),
              static_cast<std::size_t>(kProcesses * kRecordsPerProcess) * kRecordLength);
    std::set<std::tuple<int, int, int>> seen;
    for (std::size_t at = 0; at < text.size(); at += kRecordLength) {
        int p = -1;
        int t = -1;
        int n = -1;
        const std::string record = text.substr(at, kRecordLength);
        ASSERT_EQ(std::sscanf(record.c_str(), "P%d T%d N%d ", &p, &t, &n), 3)
            << "torn record at " << at;
        ASSERT_EQ(record, Record(p, t, n)) << "torn record at " << at;
        ASSERT_TRUE(seen.emplace(p, t, n).second) << "record written twice: " << record;
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kProcesses * kRecordsPerProcess));
}
