// tests/platform/TempFilesTest.cpp - the private temporary folder: exclusive names, cleanup at
// exit, and removal of what crashed processes left behind.
#include "platform/TempFiles.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Linux temporary files under a private test folder, so that the folder of this process is
// created there.
class TempFilesTest : public ::testing::Test {
protected:
    jex::test::TempDir FBase;
    std::unique_ptr<TTempFiles> FFiles = NewLinuxTempFiles(FBase.Path().string());
};

} // namespace

TEST_F(TempFilesTest, TempPathIsTheGivenFolderOrTmpDirAndEndsWithASlash) {
    EXPECT_EQ(FFiles->TempPath(), FBase.Path().string() + "/");
    EXPECT_EQ(NewLinuxTempFiles(FBase.Path().string() + "/")->TempPath(),
              FBase.Path().string() + "/");

    // Without a folder of its own the service reads TMPDIR at each use.
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old != nullptr ? old : "";
    const auto fromEnvironment = NewLinuxTempFiles("");
    setenv("TMPDIR", FBase.Path().c_str(), 1);
    EXPECT_EQ(fromEnvironment->TempPath(), FBase.Path().string() + "/");
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(fromEnvironment->TempPath(), "/tmp/");
    if (old != nullptr)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST_F(TempFilesTest, DestroyingTheServiceRemovesItsFolderAndNoOtherOne) {
    const auto other = NewLinuxTempFiles(FBase.Path().string());
    const std::string kept = other->CreateTempFile(".bmp");
    const std::string folder = FFiles->PrivateTempFolder();
    FFiles->CreateTempFile(".jpg");
    EXPECT_NE(fs::path(kept).parent_path().string() + "/", folder);
    FFiles.reset();
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::exists(kept));
}

TEST_F(TempFilesTest, FilesAreNewUniqueAndInsideAFolderOnlyTheUserCanEnter) {
    const std::string folder = FFiles->PrivateTempFolder();
    EXPECT_EQ(folder.rfind(FFiles->TempPath() + "Jex-" + std::to_string(getpid()) + "-", 0), 0u)
        << folder;

    struct stat st {};

    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        const std::string path = FFiles->CreateTempFile(i % 2 == 0 ? ".bmp" : ".jpg");
        EXPECT_TRUE(names.insert(path).second) << "name handed out twice: " << path;
        const fs::path p(path);
        EXPECT_EQ(p.parent_path().string() + "/", folder);
        EXPECT_EQ(p.filename().string().rfind("Jex", 0), 0u);
        EXPECT_EQ(p.extension(), i % 2 == 0 ? ".bmp" : ".jpg");
        EXPECT_EQ(p.filename().string().size(), 13u); // "Jex" + 6 + ".bmp"
        ASSERT_TRUE(fs::is_regular_file(p));
        EXPECT_EQ(fs::file_size(p), 0u);
    }
    EXPECT_THROW(FFiles->CreateTempFile("/../escape.bmp"), std::invalid_argument);
}

TEST_F(TempFilesTest, CleanupRemovesTheFolderAndTheNextUseMakesANewOne) {
    const std::string first = FFiles->CreateTempFile(".bmp");
    const std::string folder = FFiles->PrivateTempFolder();
    FFiles->CleanupTempFolder();
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(fs::exists(first));
    const std::string second = FFiles->CreateTempFile(".bmp");
    EXPECT_TRUE(fs::exists(second));
    EXPECT_NE(FFiles->PrivateTempFolder(), folder);
}

TEST_F(TempFilesTest, ExitRemovesTheProcessFolderButNotTheParentOne) {
    const std::string parentFolder = FFiles->PrivateTempFolder();
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    jex::test::TChildProcess child([&] {
        close(channel[0]);
        const std::string path = FFiles->CreateTempFile(".jpg");
        const bool written =
            write(channel[1], path.data(), path.size()) == static_cast<ssize_t>(path.size());
        close(channel[1]);
        std::exit(written ? 0 : 1); // runs the exit hook
        return 1;
    });
    close(channel[1]);
    std::string childPath;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        childPath.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    ASSERT_EQ(child.Wait(), 0);
    ASSERT_FALSE(childPath.empty());
    EXPECT_NE(fs::path(childPath).parent_path().string() + "/", parentFolder);
    EXPECT_FALSE(fs::exists(fs::path(childPath).parent_path())) << childPath;
    EXPECT_TRUE(fs::exists(parentFolder));
}

TEST_F(TempFilesTest, StaleFoldersOfEndedProcessesAreRemovedAndNothingElse) {
    const fs::path base = FBase.Path();
    const std::string self = std::to_string(getpid());
    fs::create_directories(base / "Jex-999999999-AbCdEf" / "inner"); // no such process
    jex::test::WriteFileBytes((base / "Jex-999999999-AbCdEf" / "Jex123456.bmp").string(), "x");
    fs::create_directory(base / "Jex-1-AbCdEf");              // a running process
    fs::create_directory(base / ("Jex-" + self + "-AbCdEf")); // this process
    fs::create_directory(base / "Jex-999999999-toolongname"); // not one of ours
    fs::create_directory(base / "Jex-12ab-AbCdEf");           // not one of ours
    fs::create_directory(base / "outside");
    jex::test::WriteFileBytes((base / "outside" / "keep").string(), "x");
    fs::create_directory_symlink(base / "outside", base / "Jex-999999998-AbCdEf");

    EXPECT_EQ(FFiles->RemoveStaleTempFolders(), 1);
    EXPECT_FALSE(fs::exists(base / "Jex-999999999-AbCdEf"));
    EXPECT_TRUE(fs::exists(base / "Jex-1-AbCdEf"));
    EXPECT_TRUE(fs::exists(base / ("Jex-" + self + "-AbCdEf")));
    EXPECT_TRUE(fs::exists(base / "Jex-999999999-toolongname"));
    EXPECT_TRUE(fs::exists(base / "Jex-12ab-AbCdEf"));
    EXPECT_TRUE(fs::exists(base / "outside" / "keep")); // a planted link is never followed
}

TEST_F(TempFilesTest, AMissingBaseFolderGivesAClearErrorAndCreatesNothing) {
    const std::string missing = FBase.File("gone");
    const auto files = NewLinuxTempFiles(missing);
    EXPECT_EQ(files->RemoveStaleTempFolders(), 0);
    try {
        (void)files->CreateTempFile(".bmp");
        FAIL() << "nothing raised";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
        EXPECT_NE(
            std::string(e.what()).find("cannot create a temporary folder in " + missing + "/"),
            std::string::npos)
            << e.what();
    }
    EXPECT_THROW((void)files->PrivateTempFolder(), std::system_error);
    EXPECT_FALSE(fs::exists(missing));
    // Once the folder is there, the same service works.
    fs::create_directory(missing);
    EXPECT_TRUE(fs::exists(files->CreateTempFile(".bmp")));
}
