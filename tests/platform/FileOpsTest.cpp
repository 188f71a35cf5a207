// tests/platform/FileOpsTest.cpp - the tools' file library on real files, FIFOs, devices, a
// full file system of its own and signals in child processes.
#include "platform/linux/FileOps.h"

#include "tests/support/FaultSweep.h"
#include "tests/support/FaultingFileOps.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using fileops::EFileError;
using fileops::TFileErrorKind;
using jex::test::EntryCount;
using jex::test::ReadFileBytes;
using jex::test::TempDir;
using jex::test::WriteFileBytes;

constexpr int ChildSkipped = 77;

/// Runs ABody in a forked child and returns its wait status; the body's return value is the
/// child's exit code.
int RunInChild(const std::function<int()>& ABody) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        int code = 1;
        try {
            code = ABody();
        } catch (...) {
            code = 3;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

/// The EFileError that AAction raises; fails the test when it raises none.
EFileError ErrorOf(const std::function<void()>& AAction) {
    try {
        AAction();
    } catch (const EFileError& error) {
        return error;
    }
    ADD_FAILURE() << "no EFileError raised";
    return EFileError("none", "", 0);
}

mode_t ModeOf(const std::string& APath) {
    struct stat info {};

    stat(APath.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(FileOpsReadTest, ReadsAWholeFileIncludingZeroBytes) {
    TempDir dir;
    const std::string content = std::string("line 1\r\n\0binary\xff", 16) + std::string(70000, 'x');
    WriteFileBytes(dir.File("data"), content);
    EXPECT_EQ(fileops::ReadWholeFile(dir.File("data")), content);
    WriteFileBytes(dir.File("empty"), "");
    EXPECT_EQ(fileops::ReadWholeFile(dir.File("empty")), "");
}

TEST(FileOpsReadTest, NamesOperationPathAndErrnoWhenTheFileIsMissing) {
    TempDir dir;
    const EFileError error = ErrorOf([&] { fileops::ReadWholeFile(dir.File("missing")); });
    EXPECT_EQ(error.Kind(), TFileErrorKind::fekSystem);
    EXPECT_EQ(error.Operation(), "open");
    EXPECT_EQ(error.Path(), dir.File("missing"));
    EXPECT_EQ(error.Errno(), ENOENT);
    EXPECT_EQ(std::string(error.what()),
              "open " + dir.File("missing") + ": " + std::strerror(ENOENT));
}

TEST(FileOpsReadTest, RefusesAFifoWithoutWaitingForAWriter) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    // A blocking open would hang here; the alarm turns that into a failure.
    const int status = RunInChild([&] {
        alarm(10);
        try {
            fileops::ReadWholeFile(dir.File("fifo"));
        } catch (const EFileError& error) {
            return error.Kind() == TFileErrorKind::fekNotRegular &&
                           error.Reason() == "not a regular file but a FIFO"
                       ? 0
                       : 2;
        }
        return 4;
    });
    ASSERT_TRUE(WIFEXITED(status)) << "the read blocked on the FIFO";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(FileOpsReadTest, RefusesDevicesAndFoldersInsteadOfReadingWithoutEnd) {
    TempDir dir;
    const EFileError device = ErrorOf([] { fileops::ReadWholeFile("/dev/zero"); });
    EXPECT_EQ(device.Kind(), TFileErrorKind::fekNotRegular);
    EXPECT_EQ(device.Reason(), "not a regular file but a character device");
    const EFileError folder = ErrorOf([&] { fileops::ReadWholeFile(dir.Path().string()); });
    EXPECT_EQ(folder.Kind(), TFileErrorKind::fekNotRegular);
    EXPECT_EQ(folder.Errno(), EISDIR);
}

TEST(FileOpsReplaceTest, ReplacesTheContentAndLeavesOnlyTheFile) {
    TempDir dir;
    WriteFileBytes(dir.File("map"), "old");
    fileops::ReplaceFile(dir.File("map"), "new content");
    EXPECT_EQ(ReadFileBytes(dir.File("map")), "new content");
    fileops::ReplaceFile(dir.File("fresh"), "created", {{}, true});
    EXPECT_EQ(ReadFileBytes(dir.File("fresh")), "created");
    EXPECT_EQ(EntryCount(dir.Path()), 2u);
}

TEST(FileOpsReplaceTest, APathWithoutAFolderIsReplacedInTheCurrentOne) {
    TempDir dir;
    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    WriteFileBytes("here.map", "old");
    fileops::ReplaceFile("here.map", "new", {{}, true});
    fileops::ReplaceFile("made.map", "made");
    fs::current_path(before);
    EXPECT_EQ(ReadFileBytes(dir.File("here.map")), "new");
    EXPECT_EQ(ReadFileBytes(dir.File("made.map")), "made");
    EXPECT_EQ(EntryCount(dir.Path()), 2u);
}

TEST(FileOpsReplaceTest, AMissingFolderIsACreateErrorThatLeavesNothing) {
    TempDir dir;
    const EFileError missing = ErrorOf([&] {
        fileops::ReplaceFile(dir.File("none/app.map"), "x", {{}, true});
    });
    EXPECT_EQ(missing.Operation(), "create");
    EXPECT_EQ(missing.Errno(), ENOENT);
    WriteFileBytes(dir.File("plain"), "a file");
    EXPECT_EQ(ErrorOf([&] { fileops::ReplaceFile(dir.File("plain/app.map"), "x"); }).Errno(),
              ENOTDIR);
    EXPECT_EQ(EntryCount(dir.Path()), 1u);
}

TEST(FileOpsReplaceTest, KeepsAnExistingFilesModeAndGivesANewOneTheUmasks) {
    TempDir dir;
    WriteFileBytes(dir.File("kept"), "old");
    chmod(dir.File("kept").c_str(), 0604);
    fileops::ReplaceFile(dir.File("kept"), "new");
    EXPECT_EQ(ModeOf(dir.File("kept")), 0604u);

    const mode_t mask = umask(027);
    fileops::ReplaceFile(dir.File("new"), "new");
    umask(mask);
    EXPECT_EQ(ModeOf(dir.File("new")), 0640u);
}

TEST(FileOpsReplaceTest, WritesThroughSymbolicLinksToWhereTheyPoint) {
    TempDir dir;
    fs::create_directory(dir.Path() / "real");
    WriteFileBytes(dir.File("real/app.map"), "old");
    fs::create_symlink("real/app.map", dir.Path() / "link.map");
    fs::create_symlink("link.map", dir.Path() / "chain.map");
    fileops::ReplaceFile(dir.File("chain.map"), "through the chain");
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "chain.map"));
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "link.map"));
    EXPECT_EQ(ReadFileBytes(dir.File("real/app.map")), "through the chain");
    EXPECT_EQ(EntryCount(dir.Path() / "real"), 1u);

    // A link to a file not yet there creates it where the link points.
    fs::create_symlink("real/later.map", dir.Path() / "dangling.map");
    fileops::ReplaceFile(dir.File("dangling.map"), "made");
    EXPECT_EQ(ReadFileBytes(dir.File("real/later.map")), "made");

    fs::create_symlink("loop2", dir.Path() / "loop1");
    fs::create_symlink("loop1", dir.Path() / "loop2");
    EXPECT_EQ(ErrorOf([&] { fileops::ReplaceFile(dir.File("loop1"), "x"); }).Errno(), ELOOP);
}

TEST(FileOpsReplaceTest, RefusesATargetThatIsNotARegularFile) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    fs::create_directory(dir.Path() / "folder");
    fs::create_symlink("fifo", dir.Path() / "to-fifo");
    for (const char* name : {"fifo", "folder", "to-fifo"}) {
        const EFileError error = ErrorOf([&] { fileops::ReplaceFile(dir.File(name), "x"); });
        EXPECT_EQ(error.Kind(), TFileErrorKind::fekNotRegular) << name;
        EXPECT_EQ(error.Path(), dir.File(name));
    }
    EXPECT_TRUE(fs::is_fifo(dir.Path() / "fifo"));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "folder"));
    EXPECT_EQ(EntryCount(dir.Path()), 3u);
}

TEST(FileOpsReplaceTest, RefusesAnInputUnderAnyOfItsNames) {
    TempDir dir;
    WriteFileBytes(dir.File("app"), "executable");
    fs::create_hard_link(dir.Path() / "app", dir.Path() / "app.map");
    fs::create_symlink("app", dir.Path() / "alias");
    for (const char* name : {"app", "app.map", "alias"}) {
        const EFileError error =
            ErrorOf([&] { fileops::ReplaceFile(dir.File(name), "map", {{dir.File("app")}}); });
        EXPECT_EQ(error.Kind(), TFileErrorKind::fekSameAsInput) << name;
    }
    EXPECT_EQ(ReadFileBytes(dir.File("app")), "executable");
    EXPECT_EQ(EntryCount(dir.Path()), 3u);
    // Inputs that do not exist are no reason to refuse.
    fileops::ReplaceFile(dir.File("other"), "map", {{dir.File("app"), dir.File("nothing")}});
    EXPECT_EQ(ReadFileBytes(dir.File("other")), "map");
}

TEST(FileOpsReplaceTest, AReplacementNotCommittedLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    WriteFileBytes(dir.File("map"), "old");
    {
        fileops::TFileReplacement replacement(dir.File("map"));
        replacement.Write("half of the new");
        EXPECT_TRUE(fs::exists(replacement.TemporaryPath()));
        EXPECT_EQ(fs::path(replacement.TemporaryPath()).parent_path(), dir.Path());
    }
    EXPECT_EQ(ReadFileBytes(dir.File("map")), "old");
    EXPECT_EQ(EntryCount(dir.Path()), 1u);
}

TEST(FileOpsReplaceTest, AFailedRenameRemovesTheTemporary) {
    TempDir dir;
    WriteFileBytes(dir.File("map"), "old");
    fileops::TFileReplacement replacement(dir.File("map"));
    replacement.Write("new");
    // The target turns into a folder with content meanwhile: rename cannot replace it.
    fs::remove(dir.Path() / "map");
    fs::create_directories(dir.Path() / "map" / "inside");
    const EFileError error = ErrorOf([&] { replacement.Commit(); });
    EXPECT_EQ(error.Operation(), "rename");
    EXPECT_EQ(EntryCount(dir.Path()), 1u);
}

TEST(FileOpsReplaceTest, AFaultAtAnyCallOfAFlushedReplacementIsReportedAndLeavesOneWholeFile) {
    TempDir dir;
    const std::string path = dir.File("store");
    const std::string content(100000, 'n');
    jex::test::TFaultingFileOps files;
    const auto seed = [&] { WriteFileBytes(path, "old"); };
    const auto replace = [&] { fileops::ReplaceFile(path, content, {{}, true}); };
    const auto faults = jex::test::FaultsOf(files, seed, replace);
    ASSERT_GE(faults.size(), 12u); // opens, the write, both flushes, the close and the rename
    for (const jex::test::TInjectedFault& fault : faults) {
        SCOPED_TRACE(fault.Describe());
        seed();
        fault.Arm(files);
        const EFileError error = ErrorOf(replace);
        files.Reset();
        EXPECT_EQ(error.Errno(), fault.Error);
        EXPECT_EQ(EntryCount(dir.Path()), 1u);
        // The fourth write-kind call, the folder's flush, comes after the rename: the new file
        // is in place then but not known to be on the disk, and the caller hears of it.
        const bool afterRename = fault.Call == platform::fkWrite && fault.Nth == 4;
        EXPECT_EQ(ReadFileBytes(path), afterRename ? content : "old");
    }
}

TEST(FileOpsReplaceTest, AFullFileSystemLeavesTheOldFileByteForByte) {
    TempDir dir;
    const std::string mountPoint = dir.File("small");
    fs::create_directory(mountPoint);
    const int status = RunInChild([&] {
        // A private mount namespace keeps the small file system out of everyone else's sight.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
            return ChildSkipped;
        const std::string target = mountPoint + "/app.map";
        const std::string old(20000, 'o');
        WriteFileBytes(target, old);
        int code = 2;
        try {
            fileops::ReplaceFile(target, std::string(200000, 'n'));
        } catch (const EFileError& error) {
            code = error.Errno() == ENOSPC && error.Operation() == "write" ? 0 : 4;
        }
        if (ReadFileBytes(target) != old || EntryCount(mountPoint) != 1)
            code = 5;
        return code;
    });
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == ChildSkipped)
        GTEST_SKIP() << "no private tmpfs can be mounted here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(FileOpsSignalTest, TerminationRemovesTheTemporaryAndKeepsTheOldFile) {
    TempDir dir;
    WriteFileBytes(dir.File("map"), "old map");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int status = RunInChild([&] {
            fileops::RemoveTemporariesOnSignals();
            fileops::TFileReplacement first(dir.File("map"));
            fileops::TFileReplacement second(dir.File("other"));
            first.Write("part of the new map");
            raise(signal);
            return 2; // not reached: the handler ends the program by the signal
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << signal;
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(ReadFileBytes(dir.File("map")), "old map");
        EXPECT_EQ(EntryCount(dir.Path()), 1u) << "temporary left after signal " << signal;
    }
}

TEST(FileOpsSignalTest, AnIgnoredSignalStaysIgnored) {
    TempDir dir;
    const int status = RunInChild([&] {
        signal(SIGHUP, SIG_IGN);
        fileops::RemoveTemporariesOnSignals();
        fileops::TFileReplacement replacement(dir.File("map"));
        replacement.Write("new");
        raise(SIGHUP);
        replacement.Commit();
        return 0;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("map")), "new");
}

TEST(FileOpsStandardOutputTest, ALostWriteIsReportedForAFullDiskAndAClosedOutput) {
    const int full = RunInChild([] {
        const int fd = open("/dev/full", O_WRONLY);
        if (fd < 0)
            return ChildSkipped;
        dup2(fd, STDOUT_FILENO);
        std::printf("an answer\n");
        try {
            fileops::FlushStandardOutput();
        } catch (const EFileError& error) {
            return error.Errno() == ENOSPC && error.Path() == "standard output" ? 0 : 4;
        }
        return 2;
    });
    ASSERT_TRUE(WIFEXITED(full));
    EXPECT_TRUE(WEXITSTATUS(full) == 0 || WEXITSTATUS(full) == ChildSkipped);

    TempDir dir;
    const int closed = RunInChild([&] {
        close(STDOUT_FILENO);
        fileops::ReserveStandardStreams();
        // A file opened now must not take the place of standard output.
        const int fd = open(dir.File("file").c_str(), O_WRONLY | O_CREAT, 0600);
        if (fd == STDOUT_FILENO)
            return 5;
        std::printf("an answer\n");
        try {
            fileops::FlushStandardOutput();
        } catch (const EFileError& error) {
            return error.Errno() == EBADF ? 0 : 4;
        }
        return 2;
    });
    ASSERT_TRUE(WIFEXITED(closed));
    EXPECT_EQ(WEXITSTATUS(closed), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("file")), "");
}

TEST(FileOpsExecutablePathTest, NamesTheRunningProgram) {
    const std::string path = fileops::ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
}

} // namespace
