// tests/host/core/ClassesStreamsTest.cpp - file streams: open modes, the sharing check within
// the process and across processes, write failures; memory and handle streams.
#include "host/core/Classes.h"
#include "tests/support/Raises.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace host;
using jex::test::MessageOf;
using jex::test::ReadFileBytes;
using jex::test::TempDir;
using jex::test::WriteFileBytes;

namespace {

void WriteText(TStream& AStream, const std::string& AText) {
    AStream.WriteBuffer(AText.data(), static_cast<std::int64_t>(AText.size()));
}

bool CanOpen(const std::string& APath, std::uint16_t AMode) {
    try {
        TFileStream stream(APath, AMode);
        return true;
    } catch (const EFOpenError&) {
        return false;
    } catch (const EFCreateError&) {
        return false;
    }
}

// The sets of the sharing rule, spelled out per mode: what a handle does, what it allows.
struct TModeSets {
    std::uint16_t Mode;
    bool Reads, Writes, SharesRead, SharesWrite;
};

const std::vector<TModeSets>& AllModes() {
    static const std::vector<TModeSets> modes = [] {
        struct Bits {
            std::uint16_t Mode;
            bool R, W;
        };
        const Bits accesses[] = {
            {fmOpenRead, true, false}, {fmOpenWrite, false, true}, {fmOpenReadWrite, true, true}};
        const Bits shares[] = {{fmShareCompat, false, false},
                               {fmShareExclusive, false, false},
                               {fmShareDenyWrite, true, false},
                               {fmShareDenyRead, false, true},
                               {fmShareDenyNone, true, true}};
        std::vector<TModeSets> result;
        for (const Bits& a : accesses)
            for (const Bits& s : shares)
                result.push_back({static_cast<std::uint16_t>(a.Mode | s.Mode), a.R, a.W, s.R, s.W});
        result.push_back({fmCreate, true, true, false, false});
        return result;
    }();
    return modes;
}

// A child process that opens APath in AMode, reports "1" (or "0" when the open failed) on
// AUp, waits for any byte on ADown, closes the stream and ends. With AWaitFirst it waits for a
// byte on ADown before it opens: a child forked before this process opened the file has no
// copy of this process's share table, so only the cross-process locks can stop it.
pid_t SpawnHolder(const std::string& APath, std::uint16_t AMode, int (&AUp)[2], int (&ADown)[2],
                  bool AWaitFirst = false) {
    if (pipe(AUp) != 0 || pipe(ADown) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(AUp[0]);
        close(ADown[1]);
        char c = '0';
        if (AWaitFirst)
            (void)!read(ADown[0], &c, 1);
        c = '0';
        std::unique_ptr<TFileStream> stream;
        try {
            stream = std::make_unique<TFileStream>(APath, AMode);
            c = '1';
        } catch (...) {
        }
        (void)!write(AUp[1], &c, 1);
        (void)!read(ADown[0], &c, 1);
        stream.reset();
        _exit(0);
    }
    close(AUp[1]);
    close(ADown[0]);
    return pid;
}

} // namespace

// ---- Open modes ---------------------------------------------------------------------------------

TEST(TFileStreamTest, CreateMakesOrTruncatesTheFile) {
    TempDir dir;
    const std::string path = dir.File("new.log");
    {
        TFileStream stream(path, fmCreate);
        WriteText(stream, "first version, long");
    }
    {
        TFileStream stream(path, fmCreate | fmShareDenyNone); // still just fmCreate
        EXPECT_EQ(stream.Size(), 0);
        WriteText(stream, "second");
    }
    EXPECT_EQ(ReadFileBytes(path), "second");
}

TEST(TFileStreamTest, OpenForWritingOverwritesWithoutTruncating) {
    TempDir dir;
    const std::string path = dir.File("data.bin");
    WriteFileBytes(path, "0123456789");
    {
        TFileStream stream(path, fmOpenWrite | fmShareDenyWrite);
        EXPECT_EQ(stream.Position(), 0);
        WriteText(stream, "ab");
        EXPECT_EQ(stream.Seek(0, soFromEnd), 10);
        WriteText(stream, "!");
    }
    EXPECT_EQ(ReadFileBytes(path), "ab23456789!");
}

TEST(TFileStreamTest, AppendModeWritesAtTheEndWhateverThePosition) {
    TempDir dir;
    const std::string path = dir.File("append.log");
    WriteFileBytes(path, "one\r\n");
    {
        TFileStream stream(path, fmOpenReadWrite | fmShareDenyWrite | fmAppend);
        WriteText(stream, "two\r\n");
        stream.SetPosition(0);
        char first[3] = {};
        stream.ReadBuffer(first, 3); // reads still follow the position
        EXPECT_EQ(std::string(first, 3), "one");
        WriteText(stream, "three\r\n");
    }
    EXPECT_EQ(ReadFileBytes(path), "one\r\ntwo\r\nthree\r\n");
}

TEST(TFileStreamTest, CreateIfMissingCreatesButNeverTruncates) {
    TempDir dir;
    const std::string path = dir.File("started.log");
    const std::uint16_t mode = fmOpenReadWrite | fmShareDenyWrite | fmAppend | fmCreateIfMissing;
    {
        TFileStream stream(path, mode);
        WriteText(stream, "first\r\n");
    }
    {
        TFileStream stream(path, mode); // another writer that also found the file missing
        WriteText(stream, "second\r\n");
    }
    EXPECT_EQ(ReadFileBytes(path), "first\r\nsecond\r\n");

    const std::string noFolder = dir.File("no/such/folder.log");
    EXPECT_EQ(MessageOf<EFCreateError>([&] { TFileStream s(noFolder, mode); }),
              "Cannot create file " + noFolder);
    TFileStream holder(path, fmOpenRead | fmShareExclusive);
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream s(path, mode); }),
              "Cannot open file " + path);
    EXPECT_EQ(ReadFileBytes(path), "first\r\nsecond\r\n");
}

TEST(TFileStreamTest, DevicesAreSharedFreely) {
    if (access("/dev/null", W_OK) != 0)
        GTEST_SKIP() << "/dev/null is not available";
    TFileStream first("/dev/null", fmOpenReadWrite | fmShareDenyWrite);
    TFileStream second("/dev/null", fmOpenReadWrite | fmShareExclusive);
    EXPECT_TRUE(CanOpen("/dev/null", fmOpenWrite | fmShareDenyWrite));
    WriteText(second, "gone");
}

TEST(TFileStreamTest, FailuresNameTheFileAsPassed) {
    TempDir dir;
    const std::string missing = dir.File("nothere.txt");
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream s(missing, fmOpenRead); }),
              "Cannot open file " + missing);
    const std::string noFolder = dir.File("no/such/folder.txt");
    EXPECT_EQ(MessageOf<EFCreateError>([&] { TFileStream s(noFolder, fmCreate); }),
              "Cannot create file " + noFolder);
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream s(dir.Path().string(), fmOpenRead); }),
              "Cannot open file " + dir.Path().string());
    EXPECT_EQ(MessageOf<EFCreateError>([&] { TFileStream s(dir.Path().string(), fmCreate); }),
              "Cannot create file " + dir.Path().string());
}

TEST(TFileStreamTest, RefusesInvalidModeBits) {
    TempDir dir;
    const std::string path = dir.File("modes.txt");
    WriteFileBytes(path, "x");
    EXPECT_THROW(TFileStream(path, 0x0003), EFOpenError);
    EXPECT_THROW(TFileStream(path, fmOpenRead | 0x0050), EFOpenError);
    EXPECT_TRUE(CanOpen(path, fmOpenReadWrite | fmShareDenyNone));
}

TEST(TFileStreamTest, ReadingPastTheEndIsAReadError) {
    TempDir dir;
    const std::string path = dir.File("short.bin");
    WriteFileBytes(path, "abc");
    TFileStream stream(path, fmOpenRead);
    char buffer[8] = {};
    EXPECT_EQ(stream.Read(buffer, 8), 3);
    stream.SetPosition(1);
    EXPECT_EQ(MessageOf<EReadError>([&] { stream.ReadBuffer(buffer, 3); }), "Stream read error");
    EXPECT_EQ(MessageOf<EWriteError>([&] { WriteText(stream, "no"); }), "Stream write error");
}

TEST(TFileStreamTest, SetSizeTruncatesAndMovesThePosition) {
    TempDir dir;
    const std::string path = dir.File("size.bin");
    TFileStream stream(path, fmCreate);
    WriteText(stream, "0123456789");
    stream.SetSize(4);
    EXPECT_EQ(stream.Size(), 4);
    EXPECT_EQ(stream.Position(), 4);
    EXPECT_THROW(stream.SetSize(-1), EOSError);
}

TEST(TFileStreamTest, FullDeviceMakesWriteBufferFail) {
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not available";
    TFileStream stream("/dev/full", fmOpenWrite);
    const std::string text = "record";
    EXPECT_EQ(stream.Write(text.data(), 6), 0);
    EXPECT_EQ(MessageOf<EWriteError>([&] { WriteText(stream, text); }), "Stream write error");
}

// ---- Sharing within the process
// -------------------------------------------------------------------

TEST(TFileStreamTest, SharingFollowsTheWindowsRuleForEveryPairOfModes) {
    TempDir dir;
    const std::string path = dir.File("shared.txt");
    for (const TModeSets& held : AllModes()) {
        WriteFileBytes(path, "content");
        TFileStream holder(path, held.Mode);
        for (const TModeSets& wanted : AllModes()) {
            const bool expected =
                (!wanted.Reads || held.SharesRead) && (!wanted.Writes || held.SharesWrite) &&
                (!held.Reads || wanted.SharesRead) && (!held.Writes || wanted.SharesWrite);
            EXPECT_EQ(CanOpen(path, wanted.Mode), expected)
                << "held 0x" << std::hex << held.Mode << ", wanted 0x" << wanted.Mode;
        }
        // Every create was refused, and none truncated the file on its way to the refusal.
        if (held.Mode != fmCreate) {
            EXPECT_EQ(ReadFileBytes(path), "content") << "held 0x" << std::hex << held.Mode;
        }
    }
}

TEST(TFileStreamTest, LoggerHoldingReadWriteDenyWriteAdmitsOnlySharingReaders) {
    TempDir dir;
    const std::string path = dir.File("app.log");
    WriteFileBytes(path, "");
    auto logger = std::make_unique<TFileStream>(path, fmOpenReadWrite | fmShareDenyWrite);
    EXPECT_TRUE(CanOpen(path, fmOpenRead | fmShareDenyNone));
    EXPECT_FALSE(CanOpen(path, fmOpenRead | fmShareDenyWrite));
    EXPECT_FALSE(CanOpen(path, fmOpenWrite | fmShareDenyNone));
    EXPECT_FALSE(CanOpen(path, fmCreate));
    logger.reset();
    EXPECT_TRUE(CanOpen(path, fmOpenWrite | fmShareDenyNone));

    TFileStream reader1(path, fmOpenRead | fmShareDenyWrite);
    TFileStream reader2(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_FALSE(CanOpen(path, fmOpenReadWrite | fmShareDenyNone));
}

TEST(TFileStreamTest, SharingFollowsTheFileNotItsName) {
    TempDir dir;
    const std::string path = dir.File("real.txt");
    const std::string hardLink = dir.File("hard.txt");
    const std::string symLink = dir.File("soft.txt");
    WriteFileBytes(path, "x");
    ASSERT_EQ(link(path.c_str(), hardLink.c_str()), 0);
    ASSERT_EQ(symlink(path.c_str(), symLink.c_str()), 0);
    TFileStream holder(path, fmCreate);
    EXPECT_FALSE(CanOpen(hardLink, fmOpenRead | fmShareDenyNone));
    EXPECT_FALSE(CanOpen(symLink, fmOpenRead | fmShareDenyNone));
}

TEST(TFileStreamTest, ThreadsNeverHoldAnExclusiveFileTogether) {
    TempDir dir;
    const std::string path = dir.File("contended.txt");
    WriteFileBytes(path, "");
    std::atomic<int> holders{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> opened{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                try {
                    TFileStream stream(path, fmOpenReadWrite | fmShareExclusive);
                    if (holders.fetch_add(1) != 0)
                        overlaps.fetch_add(1);
                    opened.fetch_add(1);
                    holders.fetch_sub(1);
                } catch (const EFOpenError&) {
                }
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(opened.load(), 0);
}

// ---- Sharing across processes
// --------------------------------------------------------------------

TEST(TFileStreamTest, OtherProcessWritingWithDenyWriteKeepsWritersOut) {
    TempDir dir;
    const std::string path = dir.File("cross.log");
    WriteFileBytes(path, "kept");
    int up[2];
    int down[2];
    const pid_t child = SpawnHolder(path, fmOpenReadWrite | fmShareDenyWrite, up, down);
    ASSERT_GT(child, 0);
    char state = 0;
    ASSERT_EQ(read(up[0], &state, 1), 1);
    ASSERT_EQ(state, '1') << "the child could not open the file";

    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream s(path, fmOpenWrite | fmShareDenyNone); }),
              "Cannot open file " + path);
    EXPECT_THROW(TFileStream(path, fmCreate), EFCreateError);
    TStringList lines;
    EXPECT_THROW(lines.LoadFromFile(path), EFOpenError);
    EXPECT_TRUE(CanOpen(path, fmOpenRead | fmShareDenyNone));
    EXPECT_EQ(ReadFileBytes(path), "kept");

    ASSERT_EQ(write(down[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(up[0]);
    close(down[1]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    TFileStream writer(path, fmOpenWrite | fmShareDenyWrite);
    WriteText(writer, "K");
    EXPECT_EQ(ReadFileBytes(path), "Kept");
}

TEST(TFileStreamTest, ProcessesHoldingReadersDenyingWriteCoexist) {
    TempDir dir;
    const std::string path = dir.File("readers.txt");
    WriteFileBytes(path, "x");
    TFileStream mine(path, fmOpenRead | fmShareDenyWrite);
    int up[2];
    int down[2];
    const pid_t child = SpawnHolder(path, fmOpenRead | fmShareDenyWrite, up, down);
    ASSERT_GT(child, 0);
    char state = 0;
    ASSERT_EQ(read(up[0], &state, 1), 1);
    EXPECT_EQ(state, '1');
    ASSERT_EQ(write(down[1], "x", 1), 1);
    waitpid(child, nullptr, 0);
    close(up[0]);
    close(down[1]);

    // And a child is refused while this process writes with deny-write.
    TempDir dir2;
    const std::string held = dir2.File("held.txt");
    WriteFileBytes(held, "y");
    const pid_t refused = SpawnHolder(held, fmOpenWrite | fmShareDenyNone, up, down, true);
    ASSERT_GT(refused, 0);
    TFileStream writer(held, fmOpenReadWrite | fmShareDenyWrite);
    ASSERT_EQ(write(down[1], "g", 1), 1);
    ASSERT_EQ(read(up[0], &state, 1), 1);
    EXPECT_EQ(state, '0');
    ASSERT_EQ(write(down[1], "x", 1), 1);
    waitpid(refused, nullptr, 0);
    close(up[0]);
    close(down[1]);
}

// ---- Other streams
// ----------------------------------------------------------------------------------

TEST(TMemoryStreamTest, ReadsWritesAndFillsGapsWithZeros) {
    TMemoryStream stream;
    WriteText(stream, "abc");
    EXPECT_EQ(stream.Seek(5, soFromBeginning), 5);
    WriteText(stream, "z");
    EXPECT_EQ(stream.DataString(), std::string("abc\0\0z", 6));
    EXPECT_EQ(stream.Seek(-2, soFromEnd), 4);
    char buffer[4] = {};
    EXPECT_EQ(stream.Read(buffer, 4), 2);
    EXPECT_EQ(stream.Seek(-1, soFromBeginning), -1);
    EXPECT_EQ(stream.Position(), 6);
    stream.SetSize(2);
    EXPECT_EQ(stream.Position(), 2);
    EXPECT_EQ(stream.DataString(), "ab");
}

TEST(TMemoryStreamTest, CopiesToAndFromFiles) {
    TempDir dir;
    const std::string path = dir.File("copy.bin");
    TMemoryStream out;
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    WriteText(out, big);
    out.SaveToFile(path);
    TMemoryStream in;
    in.LoadFromFile(path);
    EXPECT_EQ(in.DataString(), big);

    TFileStream file(path, fmOpenRead);
    TMemoryStream copy;
    EXPECT_EQ(copy.CopyFrom(file, 0), static_cast<std::int64_t>(big.size()));
    EXPECT_EQ(copy.DataString(), big);
    file.SetPosition(file.Size() - 10);
    EXPECT_THROW(copy.CopyFrom(file, 11), EReadError);
}

TEST(THandleStreamTest, ReadsWholeCountsFromAPipe) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        for (char c : std::string("piecewise")) {
            (void)!write(fds[1], &c, 1);
        }
        close(fds[1]);
    });
    THandleStream stream(fds[0]);
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, 9), 9);
    EXPECT_EQ(std::string(buffer, 9), "piecewise");
    EXPECT_EQ(stream.Read(buffer, 4), 0);
    writer.join();
    close(fds[0]);
}
