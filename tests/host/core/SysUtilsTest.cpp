// tests/host/core/SysUtilsTest.cpp - string helpers (Trim, case, CompareText), file-name
// helpers on real files, and the command line (ParamCount/ParamStr of System).
#include "host/core/SysUtils.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace host;

TEST(StringFunctionsTest, TrimRemovesBlanksAndControlCharactersOnly) {
    const std::string text = "\t\r\n  a b\x01  \x1F";
    EXPECT_EQ(Trim(text), "a b");
    EXPECT_EQ(TrimLeft(text), "a b\x01  \x1F");
    EXPECT_EQ(TrimRight(text), "\t\r\n  a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim(""), "");
    // Bytes above 127 are text, also a non-breaking space.
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");
    EXPECT_EQ(Trim(std::string("\0x\0", 3)), "x");
}

TEST(StringFunctionsTest, CompareTextIsOrdinalOnUpperCasedAscii) {
    EXPECT_EQ(CompareText("abc", "ABC"), 0);
    EXPECT_LT(CompareText("abc", "abd"), 0);
    EXPECT_GT(CompareText("b", "A"), 0);
    EXPECT_LT(CompareText("abc", "abcd"), 0);
    EXPECT_GT(CompareText("abcd", "ABC"), 0);
    // 'a' compares as 'A' (65), below '_' (95).
    EXPECT_LT(CompareText("a", "_"), 0);
    EXPECT_GT(CompareText("\xE4", "z"), 0);
    EXPECT_TRUE(SameText("Button1", "BUTTON1"));
    EXPECT_FALSE(SameText("Button1", "Button"));
    EXPECT_FALSE(SameText("\xC3\xA4", "\xC3\x84"));
    EXPECT_TRUE(SameText("", ""));
}

TEST(FileNameTest, ExtensionIsTakenFromTheNamePartOnly) {
    struct TCase {
        const char* Name;
        const char* NewExt;
        const char* Changed;
        const char* Ext;
    };

    const std::vector<TCase> cases = {
        {"a/b.map", ".log", "a/b.log", ".map"},
        {"/x/project1", ".map", "/x/project1.map", ""},
        {"dir.d/file", ".ext", "dir.d/file.ext", ""},
        {"file.", ".x", "file.x", "."},
        {"a.tar.gz", ".zip", "a.tar.zip", ".gz"},
        {"x.txt", "", "x", ".txt"},
        {".bashrc", ".txt", ".txt", ".bashrc"},
        {"", ".x", ".x", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ChangeFileExt(c.Name, c.NewExt), c.Changed);
        EXPECT_EQ(ExtractFileExt(c.Name), c.Ext);
    }
}

TEST(FileNameTest, NamePathAndFolder) {
    struct TCase {
        const char* Name;
        const char* FileName;
        const char* Path;
        const char* Dir;
    };

    const std::vector<TCase> cases = {
        {"/usr/lib/a.so", "a.so", "/usr/lib/", "/usr/lib"},
        {"a.so", "a.so", "", ""},
        {"/a.so", "a.so", "/", "/"},
        {"rel/dir/", "", "rel/dir/", "rel/dir"},
        {"", "", "", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ExtractFileName(c.Name), c.FileName);
        EXPECT_EQ(ExtractFilePath(c.Name), c.Path);
        EXPECT_EQ(ExtractFileDir(c.Name), c.Dir);
    }
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/"), "/tmp/");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/tmp/"), "/tmp");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(FileNameTest, ExpandFileNameResolvesDotsTextually) {
    EXPECT_EQ(ExpandFileName("/a/b/../c/./d"), "/a/c/d");
    EXPECT_EQ(ExpandFileName("/a/b/.."), "/a");
    EXPECT_EQ(ExpandFileName("/"), "/");
    EXPECT_EQ(ExpandFileName(""), "");
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(ExpandFileName("x.map"), cwd + "/x.map");
}

TEST(FileNameTest, FileExistsSeesFilesButNotFolders) {
    jex::test::TempDir dir;
    const std::string file = dir.File("report.log");
    jex::test::WriteFileBytes(file, "x");
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir.Path().string()));
    EXPECT_FALSE(FileExists(dir.File("missing")));
    EXPECT_FALSE(FileExists(""));
    std::filesystem::create_symlink(file, dir.File("link"));
    std::filesystem::create_symlink(dir.File("missing"), dir.File("dangling"));
    EXPECT_TRUE(FileExists(dir.File("link")));
    EXPECT_FALSE(FileExists(dir.File("dangling")));
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_TRUE(FileExists(dir.File("fifo")));
}

TEST(FileNameTest, DeleteFileReportsWhetherAFileWasRemoved) {
    jex::test::TempDir dir;
    const std::string file = dir.File("shot.bmp");
    jex::test::WriteFileBytes(file, "BM");
    EXPECT_TRUE(DeleteFile(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(DeleteFile(file));
    EXPECT_FALSE(DeleteFile(dir.Path().string()));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path()));
    EXPECT_FALSE(DeleteFile(""));
}

TEST(ParamStrTest, MatchesTheProgramsOwnCommandLine) {
    const std::vector<std::string> argv = ::testing::internal::GetArgvs();
    ASSERT_FALSE(argv.empty());
    EXPECT_EQ(ParamCount(), static_cast<int>(argv.size()) - 1);
    for (std::size_t i = 1; i < argv.size(); ++i)
        EXPECT_EQ(ParamStr(static_cast<int>(i)), argv[i]);
}

TEST(ParamStrTest, ZeroIsTheExecutableAndOutOfRangeIsEmpty) {
    EXPECT_EQ(ParamStr(0), std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_EQ(ExtractFileName(ParamStr(0)), "host_tests");
    EXPECT_EQ(ParamStr(ParamCount() + 1), "");
    EXPECT_EQ(ParamStr(-1), "");
}
