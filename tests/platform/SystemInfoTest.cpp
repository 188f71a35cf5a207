// tests/platform/SystemInfoTest.cpp - identity, memory and version: the parsers on recorded
// inputs, the Linux service on this machine, and the service seam swapping in fakes.
#include "platform/SystemInfo.h"

#include "platform/PlatformServices.h"
#include "platform/fake/FakeScreen.h"
#include "platform/fake/FakeSystemInfo.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace platform;

TEST(SystemInfoTest, MemInfoGivesPhysicalAndPageFileFiguresInBytes) {
    const std::string text = "MemTotal:       24683748 kB\n"
                             "MemFree:        20000000 kB\n"
                             "MemAvailable:   24265404 kB\n"
                             "SwapTotal:       1000000 kB\n"
                             "SwapFree:         400000 kB\n";
    TMemoryStatus status;
    ASSERT_TRUE(ParseMemInfo(text, status));
    EXPECT_EQ(status.TotalPhys, 24683748ULL * 1024);
    EXPECT_EQ(status.AvailPhys, 24265404ULL * 1024);
    EXPECT_EQ(status.TotalPageFile, (24683748ULL + 1000000) * 1024);
    EXPECT_EQ(status.AvailPageFile, (24265404ULL + 400000) * 1024);
    EXPECT_EQ(status.MemoryLoad, 1u); // 1.69 % in use, rounded down
}

TEST(SystemInfoTest, MemInfoWithoutAvailableFallsBackToFreeAndRejectsMissingTotal) {
    TMemoryStatus status;
    ASSERT_TRUE(ParseMemInfo("MemTotal: 1000 kB\nMemFree: 250 kB\n", status));
    EXPECT_EQ(status.AvailPhys, 250u * 1024);
    EXPECT_EQ(status.MemoryLoad, 75u);
    EXPECT_FALSE(ParseMemInfo("MemFree: 250 kB\n", status));
    EXPECT_FALSE(ParseMemInfo("", status));
}

TEST(SystemInfoTest, OsReleasePrefersPrettyNameAndUnquotes) {
    EXPECT_EQ(ParseOsRelease("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                             "(bookworm)\"\nVERSION=\"12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(ParseOsRelease("NAME='Alpine'\nVERSION=3.19\n"), "Alpine 3.19");
    EXPECT_EQ(ParseOsRelease("PRETTY_NAME=\"Say \\\"hi\\\"\"\n"), "Say \"hi\"");
    EXPECT_EQ(ParseOsRelease("# nothing useful\n"), "Linux");
}

TEST(SystemInfoTest, KernelReleaseGivesMajorMinorBuild) {
    int major = -1, minor = -1, build = -1;
    ParseKernelRelease("6.18.44-fc-v1272", major, minor, build);
    EXPECT_EQ(major, 6);
    EXPECT_EQ(minor, 18);
    EXPECT_EQ(build, 44);
    ParseKernelRelease("5.10", major, minor, build);
    EXPECT_EQ(build, 0);
    ParseKernelRelease("garbage", major, minor, build);
    EXPECT_EQ(major, 0);
}

TEST(SystemInfoTest, LinuxServiceAnswersForThisMachine) {
    TSystemInfo& info = LinuxSystemInfo();
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string shortHost = std::string(host).substr(0, std::string(host).find('.'));
    EXPECT_EQ(info.ComputerName(), shortHost);
    EXPECT_FALSE(info.UserName().empty());
    const TMemoryStatus memory = info.MemoryStatus();
    EXPECT_GT(memory.TotalPhys, 0u);
    EXPECT_LE(memory.AvailPhys, memory.TotalPhys);
    EXPECT_LE(memory.MemoryLoad, 100u);
    EXPECT_GT(memory.TotalVirtual, memory.AvailVirtual);
    const TOSVersion version = info.OSVersion();
    EXPECT_EQ(version.Platform, VER_PLATFORM_LINUX);
    EXPECT_FALSE(version.KernelRelease.empty());
    EXPECT_FALSE(version.Distribution.empty());
    EXPECT_GT(version.MajorVersion, 0);
}

TEST(SystemInfoTest, AnIdWithoutAPasswordEntryIsNamedByTheEnvironmentOrItsNumber) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can take on an id that has no password entry";
    // As in a container that runs an arbitrary id: each case in a child that becomes it.
    const auto nameAs = [](const char* AUser, const char* ALogName) {
        return jex::test::RunInChild([&] {
            AUser != nullptr ? setenv("USER", AUser, 1) : unsetenv("USER");
            ALogName != nullptr ? setenv("LOGNAME", ALogName, 1) : unsetenv("LOGNAME");
            if (setuid(54321) != 0)
                return 2;
            const std::string name = LinuxSystemInfo().UserName();
            const std::string expected = AUser != nullptr && *AUser != '\0' ? AUser
                                         : ALogName != nullptr              ? ALogName
                                                                            : "54321";
            return name == expected ? 0 : 1;
        });
    };
    EXPECT_EQ(nameAs(nullptr, nullptr), 0);
    EXPECT_EQ(nameAs("builder", "other"), 0);
    EXPECT_EQ(nameAs("", "fromlogin"), 0);
}

TEST(SystemInfoTest, TheVirtualMemoryTotalIsTheProcesssAddressSpaceLimit) {
    EXPECT_EQ(jex::test::RunInChild([] {
                  // Below the 128 TiB a process may address, above what a sanitizer reserves.
                  const rlimit limit{std::uint64_t{1} << 46, std::uint64_t{1} << 46};
                  if (setrlimit(RLIMIT_AS, &limit) != 0)
                      return 2;
                  const TMemoryStatus status = LinuxSystemInfo().MemoryStatus();
                  return status.TotalVirtual == limit.rlim_cur &&
                                 status.AvailVirtual < status.TotalVirtual &&
                                 status.AvailVirtual > 0
                             ? 0
                             : 1;
              }),
              0);
}

TEST(PlatformServicesTest, ScopedServicesSwapInAndRestoreNesting) {
    TSystemInfo* linux = PlatformServices().SystemInfo;
    TScreenService* screen = PlatformServices().Screen;
    TFakeSystemInfo fake;
    fake.Computer = "FAKEPC";
    {
        TScopedPlatformServices scope({&fake, nullptr});
        EXPECT_EQ(PlatformServices().SystemInfo->ComputerName(), "FAKEPC");
        EXPECT_EQ(PlatformServices().Screen, screen); // not given: kept
        TFakeScreenService fakeScreen;
        {
            TScopedPlatformServices inner({nullptr, &fakeScreen});
            EXPECT_EQ(PlatformServices().SystemInfo, &fake);
            EXPECT_EQ(PlatformServices().Screen, &fakeScreen);
        }
        EXPECT_EQ(PlatformServices().Screen, screen);
    }
    EXPECT_EQ(PlatformServices().SystemInfo, linux);
}
