// tests/platform/ShellTest.cpp - opening the support page with a recording fake xdg-open.
#include "platform/Shell.h"

#include "tests/support/FakeTools.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using namespace platform;

TEST(TShellTest, PassesTheAddressAsOneArgumentWithoutAShell) {
    jex::test::FakeTools tools;
    const std::string planted = tools.Folder().string() + "/planted";
    const std::string url =
        "https://example.com/support?a=1&b=$(touch " + planted + "); touch " + planted + " 'q'";
    ASSERT_TRUE(tools.Shell().Open(url));
    ASSERT_TRUE(tools.WaitFor("xdg-open"));
    EXPECT_EQ(tools.Args("xdg-open"), std::vector<std::string>{url});
    EXPECT_FALSE(std::filesystem::exists(planted));
}

TEST(TShellTest, DoesNotWaitForTheOpenerToEnd) {
    jex::test::FakeTools tools;
    // An opener that blocks like a browser started in the foreground, until the test lets it
    // go (or ten seconds have passed).
    const std::string dir = tools.Folder().string();
    tools.Replace("xdg-open", "printf '%s\\0' \"$@\" > '" + dir +
                                  "/xdg-open.args'\n"
                                  "i=0; while [ -d '" +
                                  dir + "' ] && [ ! -f '" + dir +
                                  "/release' ] &&"
                                  " [ $i -lt 200 ]; "
                                  "do sleep 0.05; i=$((i+1)); done\n");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(tools.Shell().Open("https://example.com"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(tools.WaitFor("xdg-open"));
    jex::test::WriteFileBytes(dir + "/release", "");
}

TEST(TShellTest, RefusesWhatTheOpenerWouldMisreadOrCannotStart) {
    jex::test::FakeTools tools;
    EXPECT_FALSE(tools.Shell().Open(""));
    EXPECT_FALSE(tools.Shell().Open("--help"));
    tools.Remove("xdg-open");
    EXPECT_FALSE(tools.Shell().Open("https://example.com"));
    EXPECT_FALSE(tools.Ran("xdg-open"));
}
