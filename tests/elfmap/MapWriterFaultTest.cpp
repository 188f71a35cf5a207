// tests/elfmap/MapWriterFaultTest.cpp - the map's replacement under a failing disk: every call
// of reading the program and writing its map fails in turn with ENOSPC, EIO or a short write,
// and the old map stays whole with nothing left beside it.
#include "elfmap/ElfImage.h"
#include "elfmap/MapWriter.h"
#include "tests/support/FaultSweep.h"
#include "tests/support/FaultingFileOps.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sys/stat.h>

namespace {

using jex::test::ReadFileBytes;
using jex::test::WriteFileBytes;

// A made-up program with enough units that its map takes several writes.
elfmap::TElfImage LargeImage() {
    elfmap::TElfImage image;
    image.TextAddress = 0x1000;
    image.TextSize = 0x1000000;
    for (std::uint32_t i = 0; i < 6000; ++i) {
        elfmap::TCompileUnit unit;
        unit.SourcePath = "src/unit" + std::to_string(i) + ".cpp";
        unit.Ranges.push_back({i * 64, i * 64 + 64});
        for (std::uint32_t line = 0; line < 4; ++line)
            unit.Lines.push_back({i * 64 + line * 16, 10 + line});
        unit.Lines.push_back({i * 64 + 64, 0});
        image.Units.push_back(unit);
    }
    return image;
}

class MapWriterFaultTest : public testing::Test {
protected:
    void SetUpFiles() {
        for (const auto& entry : std::filesystem::directory_iterator(FDir.Path()))
            std::filesystem::remove(entry.path());
        WriteFileBytes(FMap, OldMap);
        ::chmod(FMap.c_str(), 0604);
    }

    // Sweeps AOperation (the whole job of one run): each fault raises EElfMapError naming the
    // map, or AInput when it struck the reading, and leaves the old map as it was.
    void Sweep(const std::function<void()>& AOperation, const std::string& AInput = {}) {
        SetUpFiles();
        AOperation();
        ASSERT_NE(ReadFileBytes(FMap), OldMap);
        const auto faults = jex::test::FaultsOf(
            FFiles, [&] { SetUpFiles(); }, AOperation,
            {platform::fkOpen, platform::fkRead, platform::fkWrite, platform::fkRename});
        ASSERT_FALSE(faults.empty());
        // The unwinder behind the throw hook linked in here keeps a pipe from the first
        // exception on; it is open before the count is taken.
        try {
            throw elfmap::EElfMapError("first");
        } catch (const elfmap::EElfMapError&) {
        }
        const int descriptors = jex::test::OpenDescriptorCount();
        for (const jex::test::TInjectedFault& fault : faults) {
            SCOPED_TRACE(fault.Describe());
            SetUpFiles();
            fault.Arm(FFiles);
            std::string message;
            try {
                AOperation();
                ADD_FAILURE() << "success reported";
            } catch (const elfmap::EElfMapError& error) {
                message = error.what();
            }
            FFiles.Reset();
            EXPECT_EQ(ReadFileBytes(FMap), OldMap);
            EXPECT_EQ(jex::test::EntryCount(FDir.Path()), 1u) << "a temporary file was left";
            EXPECT_EQ(jex::test::OpenDescriptorCount(), descriptors);

            struct stat info {};

            EXPECT_EQ(::stat(FMap.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0604u);
            if (message.starts_with(FMap + ": ")) {
                EXPECT_TRUE(message.ends_with(std::strerror(fault.Error))) << message;
            } else {
                EXPECT_FALSE(AInput.empty()) << message;
                EXPECT_NE(message.find(AInput), std::string::npos) << message;
            }
        }
    }

    static constexpr const char* OldMap = "the map of the previous build\r\n";
    jex::test::TFaultingFileOps FFiles;
    jex::test::TempDir FDir;
    std::string FMap = FDir.File("app.map");
};

TEST_F(MapWriterFaultTest, AFaultWhileReadingTheProgramOrWritingItsMapLeavesTheOldMapWhole) {
    // What the tool does in one run: read the program, then write its map beside the old one.
    const std::string program = ELFMAP_FIXTURE_DWARF5;
    Sweep(
        [&] {
            const elfmap::TElfImage image = elfmap::ReadElfImage(program);
            elfmap::TAtomicFileWriter writer(FMap, {program});
            elfmap::FormatMap(image, writer);
            writer.Commit();
        },
        program);
}

TEST_F(MapWriterFaultTest, AFaultAtAnyWriteOfALargeMapLeavesTheOldMapWhole) {
    const elfmap::TElfImage image = LargeImage();
    Sweep([&] {
        elfmap::TAtomicFileWriter writer(FMap);
        elfmap::FormatMap(image, writer);
        writer.Commit();
    });
    // Several pieces were written, each of them faulted in its turn.
    FFiles.Reset();
    const int before = FFiles.Count(platform::fkWrite);
    SetUpFiles();
    elfmap::WriteFileAtomically(FMap, elfmap::FormatMap(image));
    EXPECT_GE(FFiles.Count(platform::fkWrite) - before, 2);
}

} // namespace
