// tests/platform/FileContract.h - what every file service must do, as one typed test suite.
//
// Instantiated for the Linux service and for the faulting fake with no fault armed, so the
// fake the suite's fault tests rely on cannot drift away from the real thing. A type used here
// is default-constructible and gives its service through Service().
#pragma once

#include "platform/File.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::test {

template <typename T>
class FileContract : public ::testing::Test {
protected:
    TFileService& Files() { return FServices.Service(); }

    std::unique_ptr<TFileHandle> Open(const std::string& APath, TFileShareBits AAccess,
                                      TFileShareBits AShare,
                                      TFileCreation ACreation = fcOpenExisting,
                                      bool AAppend = false) {
        TFileOpenMode mode;
        mode.Access = AAccess;
        mode.Share = AShare;
        mode.Creation = ACreation;
        mode.Append = AAppend;
        FLastError = -1;
        return Files().Open(APath, mode, FLastError);
    }

    static void Write(TFileHandle& AFile, const std::string& AText) {
        int error = -1;
        ASSERT_EQ(AFile.Write(AText.data(), static_cast<std::int64_t>(AText.size()), error),
                  static_cast<std::int64_t>(AText.size()));
        ASSERT_EQ(error, 0);
    }

    /// The names in the test's folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(FDir.Path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    T FServices;
    jex::test::TempDir FDir;
    int FLastError = 0;
};

TYPED_TEST_SUITE_P(FileContract);

TYPED_TEST_P(FileContract, ReadFileGivesTheExactBytesAndRefusesWhatIsNoRegularFile) {
    const std::string path = this->FDir.File("data.bin");
    const std::string bytes = std::string("line\r\n\0after nul\xff", 18);
    jex::test::WriteFileBytes(path, bytes);
    std::string read = "stale";
    EXPECT_EQ(this->Files().ReadFile(path, read), 0);
    EXPECT_EQ(read, bytes);

    EXPECT_EQ(this->Files().ReadFile(this->FDir.File("absent"), read), ENOENT);
    EXPECT_EQ(read, "");
    EXPECT_EQ(this->Files().ReadFile(this->FDir.Path().string(), read), EISDIR);
    // A FIFO nobody writes would block a plain open; it is refused at once.
    const std::string fifo = this->FDir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(this->Files().ReadFile(fifo, read), EINVAL);
    if (::access("/dev/zero", R_OK) == 0) {
        EXPECT_EQ(this->Files().ReadFile("/dev/zero", read), EINVAL);
    }
    // Files of /proc claim a size of 0 and are read to their end all the same.
    EXPECT_EQ(this->Files().ReadFile("/proc/self/cmdline", read), 0);
    EXPECT_FALSE(read.empty());
}

TYPED_TEST_P(FileContract, ReplaceFileLeavesTheWholeNewContentTheModeAndNoTemporary) {
    const std::string path = this->FDir.File("map.txt");
    EXPECT_EQ(this->Files().ReplaceFile(path, "first"), 0);
    EXPECT_EQ(jex::test::ReadFileBytes(path), "first");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    EXPECT_EQ(this->Files().ReplaceFile(path, std::string(100000, 'x')), 0);
    EXPECT_EQ(jex::test::ReadFileBytes(path), std::string(100000, 'x'));

    struct stat info {};

    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(this->Names(), std::vector<std::string>{"map.txt"});

    EXPECT_NE(this->Files().ReplaceFile(this->FDir.File("no/folder/map.txt"), "x"), 0);
    EXPECT_EQ(this->Names(), std::vector<std::string>{"map.txt"});

    // A link is written through; a FIFO is refused, not replaced by a regular file.
    const std::string link = this->FDir.File("link.txt");
    ASSERT_EQ(::symlink("map.txt", link.c_str()), 0);
    EXPECT_EQ(this->Files().ReplaceFile(link, "through"), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(jex::test::ReadFileBytes(path), "through");
    const std::string fifo = this->FDir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(this->Files().ReplaceFile(fifo, "x"), EINVAL);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_EQ(this->Names(), (std::vector<std::string>{"link.txt", "map.txt", "pipe"}));
}

TYPED_TEST_P(FileContract, OpenCreatesTruncatesAndAppendsAsAsked) {
    const std::string path = this->FDir.File("log.txt");
    EXPECT_EQ(this->Open(path, fsReadWrite, fsRead), nullptr);
    EXPECT_EQ(this->FLastError, ENOENT);
    {
        auto file = this->Open(path, fsReadWrite, fsRead, fcCreateIfMissing, true);
        ASSERT_NE(file, nullptr);
        this->Write(*file, "one");
    }
    {
        // Created before, kept now; appends land at the end wherever the position is.
        auto file = this->Open(path, fsReadWrite, fsRead, fcCreateIfMissing, true);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->Seek(0, SEEK_SET), 0);
        this->Write(*file, "two");
        EXPECT_EQ(file->Seek(0, SEEK_END), 6);
    }
    EXPECT_EQ(jex::test::ReadFileBytes(path), "onetwo");
    {
        auto file = this->Open(path, fsReadWrite, fsNone, fcCreateOrTruncate);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->Seek(0, SEEK_END), 0);
        this->Write(*file, "abcdef");
        EXPECT_EQ(file->Truncate(2), 0);
    }
    EXPECT_EQ(jex::test::ReadFileBytes(path), "ab");
    // Creating needs write access; a folder is not a file.
    EXPECT_EQ(this->Open(path, fsRead, fsReadWrite, fcCreateIfMissing), nullptr);
    EXPECT_EQ(this->FLastError, EINVAL);
    EXPECT_EQ(this->Open(this->FDir.Path().string(), fsRead, fsReadWrite), nullptr);
    EXPECT_EQ(this->FLastError, EISDIR);
}

TYPED_TEST_P(FileContract, HandlesReportShortReadsAndRefusedWrites) {
    const std::string path = this->FDir.File("short.txt");
    jex::test::WriteFileBytes(path, "abc");
    auto file = this->Open(path, fsRead, fsReadWrite);
    ASSERT_NE(file, nullptr);
    char buffer[8] = {};
    int error = -1;
    EXPECT_EQ(file->Read(buffer, 8, error), 3);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(file->Write("x", 1, error), 0);
    EXPECT_EQ(error, EBADF);
    EXPECT_EQ(jex::test::ReadFileBytes(path), "abc");
}

TYPED_TEST_P(FileContract, ConflictingOpensFailWithBusyAndEndWithTheHandle) {
    const std::string path = this->FDir.File("shared.txt");
    jex::test::WriteFileBytes(path, "x");
    auto writer = this->Open(path, fsReadWrite, fsRead);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(this->Open(path, fsReadWrite, fsRead), nullptr);
    EXPECT_EQ(this->FLastError, EBUSY);
    EXPECT_EQ(this->Open(path, fsRead, fsRead), nullptr); // will not share with a writer
    EXPECT_NE(this->Open(path, fsRead, fsReadWrite), nullptr);
    writer.reset();
    EXPECT_NE(this->Open(path, fsReadWrite, fsRead), nullptr);
}

TYPED_TEST_P(FileContract, ExistsDeleteAndRenameWorkOnFilesNotFolders) {
    const std::string path = this->FDir.File("a.txt");
    EXPECT_FALSE(this->Files().Exists(path));
    EXPECT_FALSE(this->Files().Exists(""));
    EXPECT_FALSE(this->Files().Exists(this->FDir.Path().string()));
    jex::test::WriteFileBytes(path, "a");
    jex::test::WriteFileBytes(this->FDir.File("b.txt"), "b");
    EXPECT_TRUE(this->Files().Exists(path));

    EXPECT_EQ(this->Files().Rename(path, this->FDir.File("b.txt")), 0);
    EXPECT_EQ(jex::test::ReadFileBytes(this->FDir.File("b.txt")), "a");
    EXPECT_EQ(this->Files().Rename(path, this->FDir.File("c.txt")), ENOENT);

    EXPECT_EQ(this->Files().Delete(this->FDir.File("b.txt")), 0);
    EXPECT_EQ(this->Files().Delete(this->FDir.File("b.txt")), ENOENT);
    EXPECT_NE(this->Files().Delete(this->FDir.Path().string()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(this->FDir.Path()));
}

TYPED_TEST_P(FileContract, ExecutablePathNamesThisProgram) {
    const std::string path = this->Files().ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_TRUE(std::filesystem::equivalent(path, "/proc/self/exe"));
}

REGISTER_TYPED_TEST_SUITE_P(FileContract, ReadFileGivesTheExactBytesAndRefusesWhatIsNoRegularFile,
                            ReplaceFileLeavesTheWholeNewContentTheModeAndNoTemporary,
                            OpenCreatesTruncatesAndAppendsAsAsked,
                            HandlesReportShortReadsAndRefusedWrites,
                            ConflictingOpensFailWithBusyAndEndWithTheHandle,
                            ExistsDeleteAndRenameWorkOnFilesNotFolders,
                            ExecutablePathNamesThisProgram);

} // namespace platform::test
