// tests/elfmap/ElfmapTest.cpp - elfmap run on test programs built here: every probe and every
// throw of the program resolves to its unit, procedure and line through the map reader, and bad
// input is refused without touching the map.
#include "elfmap/ElfImage.h"
#include "elfmap/MapWriter.h"
#include "mapfile/Jexmapfile.h"
#include "tests/support/InterruptedRun.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

namespace {

struct TRun {
    int ExitCode = -1;
    std::string Output;
};

TRun RunCommand(const std::string& ACommand) {
    TRun run;
    FILE* pipe = ::popen((ACommand + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quoted(const std::string& APath) {
    return "'" + APath + "'";
}

struct TProbeRecord {
    std::string Kind, Unit, Function;
    int Line = 0;
    std::uintptr_t Address = 0;
};

std::vector<TProbeRecord> RunFixture(const std::string& AProgram) {
    const TRun run = RunCommand(Quoted(AProgram));
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    std::vector<TProbeRecord> records;
    std::istringstream lines(run.Output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        TProbeRecord record;
        std::string address;
        if (std::getline(fields, record.Kind, '\t') && std::getline(fields, record.Unit, '\t') &&
            std::getline(fields, record.Function, '\t') && (fields >> record.Line >> address)) {
            record.Address = std::stoul(address, nullptr, 16);
            records.push_back(record);
        }
    }
    return records;
}

/// A procedure name from the map matches a function name from __func__ when it is that name,
/// possibly qualified, possibly followed by its parameter list.
bool SameProcedure(const std::string& AProcedure, const std::string& AFunction) {
    const std::size_t paren = AProcedure.find('(');
    const std::string plain = AProcedure.substr(0, paren);
    return plain == AFunction || (plain.size() > AFunction.size() + 2 &&
                                  plain.compare(plain.size() - AFunction.size() - 2,
                                                std::string::npos, "::" + AFunction) == 0);
}

class ElfmapProgramTest : public testing::TestWithParam<const char*> {};

} // namespace

// Probes on known lines of five units (two of them named alike, two whose names are part of a
// third's), a header function, a loop, and three throws read back through host::ExceptAddr.
TEST_P(ElfmapProgramTest, EveryProbeAndThrowResolvesToItsUnitProcedureAndLine) {
    const std::string program = GetParam();
    const auto records = RunFixture(program);
    ASSERT_GE(records.size(), 12u);
    int throws = 0;
    jex::TJexMapFile reader;
    reader.SetMapFileName(elfmap::DefaultMapPath(program));
    for (const TProbeRecord& record : records) {
        SCOPED_TRACE(record.Kind + " " + record.Unit + " " + record.Function + ":" +
                     std::to_string(record.Line));
        reader.LoadExceptionData(reinterpret_cast<const void*>(record.Address));
        EXPECT_EQ(reader.UnitName(), record.Unit);
        EXPECT_TRUE(SameProcedure(reader.ProcedureName(), record.Function))
            << reader.ProcedureName();
        EXPECT_EQ(reader.LineNumber(), record.Line);
        throws += record.Kind == "throw";
    }
    EXPECT_EQ(throws, 3);
}

std::string BuildName(const testing::TestParamInfo<const char*>& AInfo) {
    static const char* const buildNames[] = {"Dwarf5", "Dwarf4", "SeparateDebugFile"};
    return buildNames[AInfo.index];
}

INSTANTIATE_TEST_SUITE_P(Builds, ElfmapProgramTest,
                         testing::Values(ELFMAP_FIXTURE_DWARF5, ELFMAP_FIXTURE_DWARF4,
                                         ELFMAP_FIXTURE_SPLIT),
                         BuildName);

TEST(ElfmapToolTest, WritesTheGivenMapFileAndMaplookupReadsIt) {
    jex::test::TempDir dir;
    const std::string map = dir.File("chosen.map");
    const TRun run = RunCommand(Quoted(ELFMAP_PROGRAM) + " " + Quoted(ELFMAP_FIXTURE_DWARF5) + " " +
                                Quoted(map));
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_EQ(run.Output, "");
    const auto records = RunFixture(ELFMAP_FIXTURE_DWARF5);
    ASSERT_FALSE(records.empty());
    char address[32];
    std::snprintf(address, sizeof address, "%08lX",
                  static_cast<unsigned long>(records.front().Address));
    const TRun lookup = RunCommand(Quoted(MAPLOOKUP_PROGRAM) + " " + Quoted(map) + " " + address);
    EXPECT_EQ(lookup.ExitCode, 0) << lookup.Output;
    EXPECT_NE(lookup.Output.find("\tMain\tmain\t" + std::to_string(records.front().Line)),
              std::string::npos)
        << lookup.Output;
}

TEST(ElfmapToolTest, StrippedProgramWithoutItsDebugFileIsRefused) {
    jex::test::TempDir dir;
    const std::string map = dir.File("split.map");
    const TRun run =
        RunCommand(Quoted(ELFMAP_PROGRAM) + " " + Quoted(ELFMAP_FIXTURE_SPLIT) + " " + Quoted(map));
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find(ELFMAP_FIXTURE_SPLIT), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("no DWARF"), std::string::npos) << run.Output;
    EXPECT_FALSE(std::filesystem::exists(map));
}

TEST(ElfmapToolTest, DebugFileOfAnotherBuildIsRefused) {
    jex::test::TempDir dir;
    const std::string map = dir.File("mixed.map");
    const TRun run = RunCommand(Quoted(ELFMAP_PROGRAM) + " " + Quoted(ELFMAP_FIXTURE_SPLIT) + " " +
                                Quoted(map) + " --debug-file " + Quoted(ELFMAP_FIXTURE_DWARF4));
    if (run.Output.find("build id") == std::string::npos && run.ExitCode == 0)
        GTEST_SKIP() << "the linker wrote no build ids";
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find("build id differs"), std::string::npos) << run.Output;
    EXPECT_FALSE(std::filesystem::exists(map));
}

// Each kind of bad input: a clear message naming the file, exit code 1, the old map unchanged.
TEST(ElfmapToolTest, BadInputLeavesTheMapUntouched) {
    jex::test::TempDir dir;
    const std::string good = jex::test::ReadFileBytes(ELFMAP_FIXTURE_DWARF5);
    ASSERT_GT(good.size(), 4096u);
    std::string noText = good;
    const std::size_t name = noText.find(std::string("\0.text\0", 7));
    ASSERT_NE(name, std::string::npos);
    noText[name + 5] = 'x'; // ".texx": the section table no longer names a code section

    const struct {
        const char* File;
        std::string Content;
        const char* Message;
    } cases[] = {
        {"text.txt", "not a program\n", "not an ELF file"},
        {"empty", "", "not an ELF file"},
        {"header-only", good.substr(0, 64), ""},
        {"half", good.substr(0, good.size() / 2), ""},
        {"no-text", noText, "no code section"},
    };

    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.File);
        const std::string input = dir.File(bad.File);
        jex::test::WriteFileBytes(input, bad.Content);
        const std::string map = dir.File(std::string(bad.File) + ".map");
        jex::test::WriteFileBytes(map, "previous map");
        const TRun run =
            RunCommand(Quoted(ELFMAP_PROGRAM) + " " + Quoted(input) + " " + Quoted(map));
        EXPECT_EQ(run.ExitCode, 1) << run.Output;
        EXPECT_EQ(run.Output.rfind("elfmap: " + input + ": ", 0), 0u) << run.Output;
        EXPECT_NE(run.Output.find(bad.Message), std::string::npos) << run.Output;
        EXPECT_EQ(jex::test::ReadFileBytes(map), "previous map");
    }
    const TRun missing = RunCommand(Quoted(ELFMAP_PROGRAM) + " " + Quoted(dir.File("absent")));
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Output.find("cannot open"), std::string::npos) << missing.Output;
    EXPECT_EQ(RunCommand(Quoted(ELFMAP_PROGRAM)).ExitCode, 2);
}

TEST(ReadElfImageTest, ThirtyTwoBitProgramIsRead) {
    const std::string program = ELFMAP_TINY32;
    if (program.empty())
        GTEST_SKIP() << "no 32-bit compiler here";
    const elfmap::TElfImage image = elfmap::ReadElfImage(program);
    ASSERT_EQ(image.Units.size(), 1u);
    EXPECT_NE(image.Units[0].SourcePath.find("Tiny32.c"), std::string::npos);
    const auto twice = std::find_if(image.Functions.begin(), image.Functions.end(),
                                    [](const auto& f) { return f.Name == "Twice"; });
    ASSERT_NE(twice, image.Functions.end());
    const auto& lines = image.Units[0].Lines;
    const auto entry = std::find_if(lines.begin(), lines.end(),
                                    [&](const auto& e) { return e.Offset == twice->Offset; });
    ASSERT_NE(entry, lines.end());
    EXPECT_EQ(entry->Line, 3); // the line of Twice's opening brace and name
    EXPECT_EQ(lines.back().Line, 0);
    EXPECT_EQ(lines.back().Offset, image.Units[0].Ranges.back().End);
}

TEST(ReadElfImageTest, EntriesAscendAndEveryRangeEndsWithoutALine) {
    const elfmap::TElfImage image = elfmap::ReadElfImage(ELFMAP_FIXTURE_DWARF5);
    ASSERT_FALSE(image.Units.empty());
    for (const auto& unit : image.Units) {
        SCOPED_TRACE(unit.SourcePath);
        ASSERT_FALSE(unit.Lines.empty());
        for (std::size_t i = 1; i < unit.Lines.size(); ++i) {
            EXPECT_LT(unit.Lines[i - 1].Offset, unit.Lines[i].Offset);
            EXPECT_NE(unit.Lines[i - 1].Line, unit.Lines[i].Line);
        }
        for (const auto& range : unit.Ranges) {
            EXPECT_LE(range.End, image.TextSize);
            EXPECT_LT(range.Begin, range.End);
        }
    }
}

TEST(ReadElfImageTest, MemoryImageOfGarbageIsRefusedWithItsName) {
    std::string bytes = "\x7f"
                        "ELF garbage";
    EXPECT_THROW(
        {
            try {
                elfmap::ReadElfImageFromMemory(bytes.data(), bytes.size(), "in-memory");
            } catch (const elfmap::EElfMapError& error) {
                EXPECT_EQ(std::string(error.what()).rfind("in-memory: ", 0), 0u);
                throw;
            }
        },
        elfmap::EElfMapError);
}

namespace {

namespace fs = std::filesystem;
using jex::test::EntryCount;
using jex::test::ReadFileBytes;
using jex::test::RunShell;
using jex::test::ShellQuote;
using jex::test::WriteFileBytes;

/// elfmap with the given arguments (each quoted) under a time limit, so that a run that blocks
/// fails the test instead of hanging it.
jex::test::TShellRun RunElfmap(const std::vector<std::string>& AArgs, const std::string& AFolder,
                               const std::string& ARedirect = {}) {
    std::string command = "timeout 20 " + ShellQuote(ELFMAP_PROGRAM);
    for (const std::string& arg : AArgs)
        command += " " + ShellQuote(arg);
    return RunShell(command + " " + ARedirect, AFolder);
}

} // namespace

// An executable named like its map, the same path twice, the debug file as the map, a hard link
// of the executable: each is refused and stays byte for byte what it was.
TEST(ElfmapOutputTest, TheMapNeverReplacesTheProgramOrItsDebugFile) {
    jex::test::TempDir dir;
    const std::string program = ReadFileBytes(ELFMAP_FIXTURE_DWARF5);
    const std::string debug = ReadFileBytes(std::string(ELFMAP_FIXTURE_SPLIT) + ".debug");
    WriteFileBytes(dir.File("app.map"), program);
    WriteFileBytes(dir.File("prog"), program);
    WriteFileBytes(dir.File("split"), ReadFileBytes(ELFMAP_FIXTURE_SPLIT));
    WriteFileBytes(dir.File("split.debug"), debug);
    fs::create_hard_link(dir.Path() / "prog", dir.Path() / "prog.link");

    const std::vector<std::vector<std::string>> runs = {
        {dir.File("app.map")},
        {dir.File("prog"), dir.File("prog")},
        {dir.File("prog"), dir.File("prog.link")},
        {dir.File("split"), dir.File("split.debug"), "--debug-file", dir.File("split.debug")},
    };
    for (const auto& args : runs) {
        const auto run = RunElfmap(args, dir.Path().string());
        const std::string map = args.size() == 1 ? args[0] : args[1];
        EXPECT_EQ(run.ExitCode, 1) << map;
        EXPECT_EQ(
            run.Err.rfind("elfmap: " + map + ": cannot replace: is one of the input files", 0), 0u)
            << run.Err;
    }
    EXPECT_EQ(ReadFileBytes(dir.File("app.map")), program);
    EXPECT_EQ(ReadFileBytes(dir.File("prog")), program);
    EXPECT_EQ(ReadFileBytes(dir.File("split.debug")), debug);
    EXPECT_EQ(EntryCount(dir.Path()), 5u);
}

TEST(ElfmapOutputTest, AMapThatIsADeviceFifoOrFolderIsRefusedAndLeftAsItWas) {
    jex::test::TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo.map").c_str(), 0600), 0);
    fs::create_directory(dir.Path() / "folder.map");
    // A device node of its own (as root), never a system one: the numbers of /dev/null.
    const bool device = mknod(dir.File("device.map").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    for (const char* name : {"fifo.map", "folder.map", "device.map"}) {
        if (std::string(name) == "device.map" && !device)
            continue;
        const auto run = RunElfmap({ELFMAP_FIXTURE_DWARF5, dir.File(name)}, dir.Path().string());
        EXPECT_EQ(run.ExitCode, 1) << name;
        EXPECT_NE(run.Err.find(": cannot replace: not a regular file"), std::string::npos)
            << run.Err;
    }
    EXPECT_TRUE(fs::is_fifo(dir.Path() / "fifo.map"));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "folder.map"));
    EXPECT_TRUE(!device || fs::is_character_file(dir.Path() / "device.map"));
    EXPECT_EQ(EntryCount(dir.Path()), device ? 3u : 2u);
}

TEST(ElfmapOutputTest, AMapBehindALinkIsWrittenWhereItPointsAndKeepsItsMode) {
    jex::test::TempDir dir;
    fs::create_directory(dir.Path() / "maps");
    WriteFileBytes(dir.File("maps/real.map"), "previous map");
    chmod(dir.File("maps/real.map").c_str(), 0640);
    fs::create_symlink("maps/real.map", dir.Path() / "link.map");
    const auto run = RunElfmap({ELFMAP_FIXTURE_DWARF5, dir.File("link.map")}, dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "link.map"));
    EXPECT_EQ(ReadFileBytes(dir.File("maps/real.map")),
              ReadFileBytes(elfmap::DefaultMapPath(ELFMAP_FIXTURE_DWARF5)));

    struct stat info {};

    stat(dir.File("maps/real.map").c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(EntryCount(dir.Path() / "maps"), 1u);
}

TEST(ElfmapInputTest, FifosAndDevicesAreRefusedWithoutBlocking) {
    jex::test::TempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::vector<std::string>> runs = {
        {fifo, dir.File("a.map")},
        {"/dev/zero", dir.File("a.map")},
        {ELFMAP_FIXTURE_SPLIT, dir.File("a.map"), "--debug-file", fifo},
    };
    for (const auto& args : runs) {
        const auto run = RunElfmap(args, dir.Path().string());
        EXPECT_EQ(run.ExitCode, 1) << args[0];
        EXPECT_NE(run.Err.find(": not a regular file"), std::string::npos) << run.Err;
    }
    EXPECT_EQ(EntryCount(dir.Path()), 1u);
}

TEST(ElfmapInputTest, TruncatedAndDamagedFilesAreNamedAsSuchWithWhere) {
    jex::test::TempDir dir;
    const std::string good = ReadFileBytes(ELFMAP_FIXTURE_DWARF5);
    for (std::size_t eighth = 1; eighth < 8; ++eighth) {
        const std::string cut = dir.File("cut" + std::to_string(eighth));
        WriteFileBytes(cut, good.substr(0, good.size() * eighth / 8));
        const auto run = RunElfmap({cut, dir.File("cut.map")}, dir.Path().string());
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(run.Err.rfind("elfmap: " + cut + ": truncated: ", 0), 0u) << run.Err;
        EXPECT_NE(run.Err.find(", the file at byte " + std::to_string(good.size() * eighth / 8)),
                  std::string::npos)
            << run.Err;
    }

    // The version of the first compilation unit overwritten.
    std::string damaged = ReadFileBytes(std::string(ELFMAP_FIXTURE_SPLIT) + ".debug");
    const auto run =
        RunShell("readelf -SW " + ShellQuote(std::string(ELFMAP_FIXTURE_SPLIT) + ".debug") +
                     " | sed -n 's/.*\\.debug_info *[A-Z]* *[0-9a-f]* *\\([0-9a-f]*\\).*/\\1/p'",
                 dir.Path().string());
    ASSERT_FALSE(run.Out.empty()) << run.Err;
    const std::size_t info = std::stoul(run.Out, nullptr, 16);
    damaged.replace(info + 4, 2, "\xff\xff");
    WriteFileBytes(dir.File("damaged.debug"), damaged);
    const auto refused = RunElfmap(
        {ELFMAP_FIXTURE_SPLIT, dir.File("d.map"), "--debug-file", dir.File("damaged.debug")},
        dir.Path().string());
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_EQ(refused.Err.rfind("elfmap: " + dir.File("damaged.debug") +
                                    ": damaged debug information: compilation unit 1 in "
                                    ".debug_info cannot be read",
                                0),
              0u)
        << refused.Err;
    EXPECT_EQ(refused.Err.find("no error"), std::string::npos) << refused.Err;
}

TEST(ElfmapOutputTest, StandardOutputThatCannotBeWrittenEndsWithExitCodeOne) {
    jex::test::TempDir dir;
    const auto full = RunElfmap({"--help"}, dir.Path().string(), ">/dev/full");
    EXPECT_EQ(full.ExitCode, 1);
    EXPECT_EQ(full.Err, "elfmap: cannot write to standard output: " +
                            std::string(std::strerror(ENOSPC)) + "\n");
    const auto closed = RunElfmap({"--help"}, dir.Path().string(), ">&-");
    EXPECT_EQ(closed.ExitCode, 1);
    EXPECT_EQ(closed.Err, "elfmap: cannot write to standard output: " +
                              std::string(std::strerror(EBADF)) + "\n");
}

TEST(ElfmapOutputTest, AFullFileSystemLeavesTheOldMapByteForByte) {
    if (!jex::test::CanMountPrivateTmpfs())
        GTEST_SKIP() << "no private tmpfs can be mounted here";
    jex::test::TempDir dir;
    const std::string small = dir.File("small");
    fs::create_directory(small);
    const std::string old(30000, 'o');
    WriteFileBytes(dir.File("old.map"), old);
    // The old map and the new one (35 KB) do not both fit into 64 KB.
    const std::string map = small + "/app.map";
    const auto run = RunShell(
        "unshare -m sh -c " +
            ShellQuote("mount -t tmpfs -o size=64k tmpfs " + ShellQuote(small) + " && cp " +
                       ShellQuote(dir.File("old.map")) + " " + ShellQuote(map) + " && { " +
                       ShellQuote(ELFMAP_PROGRAM) + " " + ShellQuote(ELFMAP_FIXTURE_DWARF5) + " " +
                       ShellQuote(map) + "; echo $? >" + ShellQuote(dir.File("rc")) + "; } && cp " +
                       ShellQuote(map) + " " + ShellQuote(dir.File("after.map")) + " && ls -A " +
                       ShellQuote(small) + " >" + ShellQuote(dir.File("ls"))),
        dir.Path().string());
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(ReadFileBytes(dir.File("rc")), "1\n");
    EXPECT_EQ(run.Err, "elfmap: " + map + ": cannot write: " + std::strerror(ENOSPC) + "\n");
    EXPECT_EQ(ReadFileBytes(dir.File("after.map")), old);
    EXPECT_EQ(ReadFileBytes(dir.File("ls")), "app.map\n");
}

TEST(ElfmapOutputTest, AnInterruptedRunLeavesTheOldMapAndNoTemporaryFile) {
    jex::test::TempDir dir;
    const std::string map = dir.File("app.map");
    for (int signal : {SIGINT, SIGTERM}) {
        WriteFileBytes(map, "previous map");
        const auto run = jex::test::InterruptWhileWriting(
            {ELFMAP_PROGRAM, ELFMAP_FIXTURE_DWARF5, map}, dir.Path().string(), signal);
        ASSERT_TRUE(run.SignalledWhileWriting) << "elfmap wrote no new file";
        ASSERT_TRUE(WIFSIGNALED(run.Status)) << signal;
        EXPECT_EQ(WTERMSIG(run.Status), signal);
        EXPECT_EQ(ReadFileBytes(map), "previous map");
        EXPECT_EQ(EntryCount(dir.Path()), 1u) << run.CreatedName << " left after " << signal;
    }
}
