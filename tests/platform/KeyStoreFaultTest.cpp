// tests/platform/KeyStoreFaultTest.cpp - every write of the key store under ENOSPC, EIO and a
// short write at each file call in turn: the errno comes back, nothing of the failed change
// is left, everything written before reads as it was, and the same change then succeeds.
#include "platform/KeyStore.h"
#include "platform/PlatformServices.h"
#include "platform/fake/File.h"
#include "tests/support/FaultSweep.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr const char* HKLM = "HKEY_LOCAL_MACHINE";

class TKeyStoreFaultTest : public ::testing::Test {
protected:
    void SetUp() override { FStore.SetRoot(FRoot.Path().string()); }

    void TearDown() override { FStore.SetRoot({}); }

    // The state every attempt starts from: a key with a value and a subkey with one.
    void Seed() {
        FStore.SetRoot({});
        fs::remove_all(FRoot.Path() / HKLM);
        FStore.SetRoot(FRoot.Path().string());
        ASSERT_EQ(FStore.CreateKey(HKLM, "App\\Old"), 0);
        ASSERT_EQ(FStore.WriteValue(HKLM, "App", "Kept", kvString, "before"), 0);
        ASSERT_EQ(FStore.WriteValue(HKLM, "App\\Old", "Gone", kvBinary, "bytes"), 0);
    }

    // Every key and value below the hive, with the data, as one text.
    std::string Contents(const std::string& APath = "") {
        std::string text;
        std::vector<std::string> names;
        EXPECT_EQ(FStore.ValueNames(HKLM, APath, names), 0) << APath;
        for (const std::string& name : names) {
            TKeyValue value;
            EXPECT_EQ(FStore.ReadValue(HKLM, APath, name, value), 0) << APath << "\\" << name;
            text += APath + "\\" + name + "=" + value.Data + ";";
        }
        EXPECT_EQ(FStore.SubKeyNames(HKLM, APath, names), 0) << APath;
        for (const std::string& name : names)
            text += "[" + name + "]" + Contents(APath.empty() ? name : APath + "\\" + name);
        return text;
    }

    // Files and folders below the hive apart from its lock: a temporary file left shows here.
    std::size_t Entries() {
        std::size_t count = 0;
        for (auto it = fs::recursive_directory_iterator(FRoot.Path() / HKLM);
             it != fs::recursive_directory_iterator(); ++it)
            ++count;
        return count;
    }

    // Sweeps AChange: each fault gives its errno and leaves the store as Seed made it; the
    // change then succeeds and gives AAfter.
    void Sweep(const std::function<int()>& AChange, const std::string& AAfter) {
        TFakeFileService files;
        const TScopedPlatformServices scope({.Files = &files});
        const auto faults = jex::test::FaultsOf(
            files, [this] { Seed(); }, [&] { ASSERT_EQ(AChange(), 0); });
        ASSERT_EQ(Contents(), AAfter);
        ASSERT_FALSE(faults.empty());
        for (const jex::test::TInjectedFault& fault : faults) {
            SCOPED_TRACE(fault.Describe());
            Seed();
            const std::string before = Contents();
            const std::size_t entries = Entries();
            fault.Arm(files);
            EXPECT_EQ(AChange(), fault.Error);
            files.Reset();
            EXPECT_EQ(Contents(), before);
            EXPECT_EQ(Entries(), entries);
            EXPECT_EQ(AChange(), 0);
            EXPECT_EQ(Contents(), AAfter);
        }
    }

    jex::test::TempDir FRoot;
    TKeyStore& FStore = LinuxKeyStore();
};

} // namespace

TEST_F(TKeyStoreFaultTest, AValueWriteThatFailsKeepsTheOldValueOrNone) {
    Sweep([this] { return FStore.WriteValue(HKLM, "App", "Kept", kvString, "after"); },
          "[App]App\\Kept=after;[Old]App\\Old\\Gone=bytes;");
    Sweep([this] { return FStore.WriteValue(HKLM, "App", "New", kvString, "x"); },
          "[App]App\\Kept=before;App\\New=x;[Old]App\\Old\\Gone=bytes;");
}

TEST_F(TKeyStoreFaultTest, AKeyCreationThatFailsLeavesNoneOfTheNewKeys) {
    Sweep([this] { return FStore.CreateKey(HKLM, "App\\New\\Deeper"); },
          "[App]App\\Kept=before;[New][Deeper][Old]App\\Old\\Gone=bytes;");
}

TEST_F(TKeyStoreFaultTest, AKeyOrValueDeletionThatFailsKeepsItWhole) {
    Sweep([this] { return FStore.DeleteValue(HKLM, "App\\Old", "Gone"); },
          "[App]App\\Kept=before;[Old]");
    Sweep([this] { return FStore.DeleteKey(HKLM, "App\\Old"); }, "[App]App\\Kept=before;");
}
