// tests/platform/KeyStoreTest.cpp - the key store on a temporary root: names, values, bad
// input, damaged files, failed writes and the notifications of each filter.
#include "platform/KeyStore.h"

#include "platform/FolderNotifications.h"
#include "platform/PlatformServices.h"
#include "platform/fake/File.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr const char* HKLM = "HKEY_LOCAL_MACHINE";

class TKeyStoreTest : public ::testing::Test {
protected:
    void SetUp() override { FStore.SetRoot(FRoot.Path().string()); }

    void TearDown() override { FStore.SetRoot({}); }

    std::string ReadData(const std::string& APath, std::string_view AName) {
        TKeyValue value;
        EXPECT_EQ(FStore.ReadValue(HKLM, APath, AName, value), 0) << AName;
        return value.Data;
    }

    /// Every entry below the root, to show that a refused call left nothing behind.
    std::size_t EntriesBelowRoot() {
        std::size_t count = 0;
        for (auto it = fs::recursive_directory_iterator(FRoot.Path());
             it != fs::recursive_directory_iterator(); ++it)
            ++count;
        return count;
    }

    jex::test::TempDir FRoot;
    TKeyStore& FStore = LinuxKeyStore();
};

TEST_F(TKeyStoreTest, NamesMatchWithoutRegardToCaseAndKeepTheirFirstSpelling) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "Software\\Velmora"), 0);
    EXPECT_TRUE(FStore.KeyExists(HKLM, "SOFTWARE\\velmora"));
    EXPECT_EQ(FStore.CreateKey(HKLM, "SOFTWARE\\VELMORA\\Ärger"), 0);
    EXPECT_TRUE(FStore.KeyExists(HKLM, "software\\velmora\\ärger"));

    std::vector<std::string> names;
    ASSERT_EQ(FStore.SubKeyNames(HKLM, "", names), 0);
    EXPECT_EQ(names, std::vector<std::string>{"Software"});
    ASSERT_EQ(FStore.SubKeyNames(HKLM, "software", names), 0);
    EXPECT_EQ(names, std::vector<std::string>{"Velmora"});

    ASSERT_EQ(FStore.WriteValue(HKLM, "Software\\Velmora", "Path", kvString, "a"), 0);
    ASSERT_EQ(FStore.WriteValue(HKLM, "Software\\Velmora", "PATH", kvString, "b"), 0);
    ASSERT_EQ(FStore.WriteValue(HKLM, "Software\\Velmora", "beta", kvString, "c"), 0);
    ASSERT_EQ(FStore.ValueNames(HKLM, "Software\\Velmora", names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"beta", "PATH"}));
    EXPECT_EQ(ReadData("software\\velmora", "path"), "b");
}

TEST_F(TKeyStoreTest, KeysInOtherHivesAndMissingKeysStaySeparate) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "Software"), 0);
    EXPECT_FALSE(FStore.KeyExists("HKEY_CURRENT_USER", "Software"));
    EXPECT_FALSE(FStore.KeyExists(HKLM, "Software\\Missing"));
    EXPECT_EQ(FStore.WriteValue(HKLM, "Software\\Missing", "v", kvString, "x"), ENOENT);
    EXPECT_FALSE(FStore.KeyExists(HKLM, "Software\\Missing"));
    EXPECT_EQ(FStore.CreateKey("HKEY_NOWHERE", "Software"), EINVAL);
    TKeyValue value;
    EXPECT_EQ(FStore.ReadValue(HKLM, "Software", "absent", value), ENOENT);
}

TEST_F(TKeyStoreTest, AValueWriteToAKeyThatIsGoneCreatesNothing) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "Gone"), 0);
    ASSERT_EQ(FStore.DeleteKey(HKLM, "Gone"), 0);
    EXPECT_EQ(FStore.WriteValue(HKLM, "Gone", "v", kvString, "x"), ENOENT);
    EXPECT_EQ(FStore.WriteValue(HKLM, "Gone\\Below", "v", kvString, "x"), ENOENT);
    EXPECT_FALSE(FStore.KeyExists(HKLM, "Gone"));
    // A key folder replaced by a plain file by hand reads as missing too.
    jex::test::WriteFileBytes((FRoot.Path() / HKLM / "FILE").string(), "not a key");
    EXPECT_EQ(FStore.WriteValue(HKLM, "File", "v", kvString, "x"), ENOENT);
    EXPECT_EQ(FStore.WriteValue(HKLM, "File\\Below", "v", kvString, "x"), ENOENT);
    EXPECT_EQ(jex::test::ReadFileBytes((FRoot.Path() / HKLM / "FILE").string()), "not a key");
    EXPECT_EQ(jex::test::EntryCount(FRoot.Path() / HKLM), 2u); // the lock and the file
}

TEST_F(TKeyStoreTest, BadKeyPathsAreRefusedAndTouchNothing) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "Keep"), 0);
    const std::size_t before = EntriesBelowRoot();
    const std::string deep = [] {
        std::string path = "k";
        for (int i = 0; i < 512; ++i)
            path += "\\k";
        return path;
    }();
    for (const std::string& path :
         {std::string("a\\\\b"), std::string(".."), std::string("Keep\\..\\..\\x"),
          std::string("."), std::string("a\0b", 3), std::string(256, 'n'), deep})
        EXPECT_EQ(FStore.CreateKey(HKLM, path), EINVAL) << path.size();
    EXPECT_EQ(EntriesBelowRoot(), before);
    EXPECT_EQ(FStore.DeleteKey(HKLM, ""), EINVAL);
}

TEST_F(TKeyStoreTest, UnusualButValidNamesStayOneKeyEach) {
    // A slash is an ordinary character of a key name; 300 levels are within the limit.
    ASSERT_EQ(FStore.CreateKey(HKLM, "a/b\\%2F\\ .dot"), 0);
    EXPECT_FALSE(FStore.KeyExists(HKLM, "a"));
    EXPECT_TRUE(FStore.KeyExists(HKLM, "A/B\\%2f\\ .DOT"));
    std::vector<std::string> names;
    ASSERT_EQ(FStore.SubKeyNames(HKLM, "a/b", names), 0);
    EXPECT_EQ(names, std::vector<std::string>{"%2F"});

    std::string path = "level";
    for (int i = 1; i < 300; ++i)
        path += "\\level";
    ASSERT_EQ(FStore.CreateKey(HKLM, path), 0);
    EXPECT_TRUE(FStore.KeyExists(HKLM, path));
}

TEST_F(TKeyStoreTest, ValueNamesAndDataOfEveryByteValueRoundTrip) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "Bytes"), 0);
    std::string every;
    for (int i = 0; i < 256; ++i)
        every += static_cast<char>(i);
    const std::string longName(MaxValueNameLength, 'x');
    for (const std::string& name : {every, every.substr(1, 40), longName, std::string()}) {
        ASSERT_EQ(FStore.WriteValue(HKLM, "Bytes", name, kvBinary, every), 0) << name.size();
        TKeyValue value;
        ASSERT_EQ(FStore.ReadValue(HKLM, "Bytes", name, value), 0);
        EXPECT_EQ(value.Name, name);
        EXPECT_EQ(value.Data, every);
    }
    std::vector<std::string> names;
    ASSERT_EQ(FStore.ValueNames(HKLM, "Bytes", names), 0);
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(
        FStore.WriteValue(HKLM, "Bytes", std::string(MaxValueNameLength + 1, 'x'), kvString, "x"),
        EINVAL);
}

TEST_F(TKeyStoreTest, NamesBeyondLatinFoldTooAndBytesThatAreNoUtf8StayDistinct) {
    // Three- and four-byte characters: fullwidth letters have a case, the emoji none.
    ASSERT_EQ(FStore.CreateKey(HKLM, "\xEF\xBD\x81pp\xF0\x9F\x98\x80"), 0); // "ａpp😀"
    EXPECT_TRUE(FStore.KeyExists(HKLM, "\xEF\xBC\xA1PP\xF0\x9F\x98\x80"));  // "ＡPP😀"
    EXPECT_FALSE(FStore.KeyExists(HKLM, "app\xF0\x9F\x98\x80"));
    // A cut sequence, an over-long encoding and a surrogate are bytes, not characters.
    const std::string odd[] = {"cut\xE2\x82", "\xC0\xAFlong", "\xED\xA0\x80half"};
    for (const std::string& name : odd)
        ASSERT_EQ(FStore.CreateKey(HKLM, "Odd\\" + name), 0) << name;
    std::vector<std::string> names;
    ASSERT_EQ(FStore.SubKeyNames(HKLM, "odd", names), 0);
    ASSERT_EQ(names.size(), 3u);
    for (const std::string& name : odd)
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    EXPECT_FALSE(FStore.KeyExists(HKLM, "Odd\\CUT\xE2\x82x"));
    EXPECT_TRUE(FStore.KeyExists(HKLM, "Odd\\CUT\xE2\x82"));
}

TEST_F(TKeyStoreTest, AKeyWhoseSpellingIsLostIsListedByItsFoldedName) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "Software\\Caf\xC3\xA9 50%"), 0); // "Café 50%"
    ASSERT_EQ(FStore.CreateKey(HKLM, "Software\\Other"), 0);
    // The file that keeps each key's own spelling: lose one, garble the other.
    for (const auto& entry : fs::recursive_directory_iterator(FRoot.Path())) {
        if (entry.path().filename() != ".key")
            continue;
        const std::string spelling = jex::test::ReadFileBytes(entry.path().string());
        if (spelling.rfind("Caf", 0) == 0)
            fs::remove(entry.path());
        else if (spelling == "Other")
            jex::test::WriteFileBytes(entry.path().string(), "Something else");
    }
    std::vector<std::string> names;
    ASSERT_EQ(FStore.SubKeyNames(HKLM, "Software", names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"CAF\xC3\x89 50%", "OTHER"}));
    EXPECT_TRUE(FStore.KeyExists(HKLM, "software\\caf\xC3\xA9 50%"));
}

TEST_F(TKeyStoreTest, OverLongValueNamesAreRefusedForReadingAndDeletingToo) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "K"), 0);
    const std::string tooLong(MaxValueNameLength + 1, 'v');
    TKeyValue value;
    EXPECT_EQ(FStore.ReadValue(HKLM, "K", tooLong, value), EINVAL);
    EXPECT_EQ(FStore.DeleteValue(HKLM, "K", tooLong), EINVAL);
    EXPECT_EQ(FStore.ReadValue(HKLM, "K\\..", "x", value), EINVAL);
    EXPECT_EQ(FStore.DeleteValue(HKLM, "Missing", "x"), ENOENT);
}

TEST_F(TKeyStoreTest, ADamagedValueFileIsReportedAndLeavesTheOthersAlone) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "K"), 0);
    ASSERT_EQ(FStore.WriteValue(HKLM, "K", "good", kvString, std::string("fine\0", 5)), 0);
    ASSERT_EQ(FStore.WriteValue(HKLM, "K", "bad", kvString, "soon garbled"), 0);
    const std::string file = (FRoot.Path() / HKLM / "K" / "=BAD").string();
    ASSERT_TRUE(fs::exists(file));
    for (const std::string& garbage : {std::string("JRV"), std::string("XXXXxxxxyyyyzz"),
                                       std::string("JRV1\1\0\0\0\xff\xff\0\0", 12)}) {
        jex::test::WriteFileBytes(file, garbage);
        TKeyValue value;
        EXPECT_EQ(FStore.ReadValue(HKLM, "K", "bad", value), EBADMSG);
        EXPECT_EQ(jex::test::ReadFileBytes(file), garbage); // left as found
    }
    std::vector<std::string> names;
    ASSERT_EQ(FStore.ValueNames(HKLM, "K", names), 0);
    EXPECT_EQ(names, std::vector<std::string>{"good"});
    EXPECT_EQ(ReadData("K", "good"), std::string("fine\0", 5));
    EXPECT_EQ(FStore.DeleteValue(HKLM, "K", "bad"), 0);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(TKeyStoreTest, AFailedWriteKeepsTheOldValue) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "K"), 0);
    ASSERT_EQ(FStore.WriteValue(HKLM, "K", "v", kvString, "old"), 0);
    TFakeFileService files;
    TPlatformServices services;
    services.Files = &files;
    const TScopedPlatformServices scope(services);
    for (const TFileCallKind kind : {fkOpen, fkWrite, fkRename}) {
        files.Fail(kind, 1, ENOSPC);
        EXPECT_EQ(FStore.WriteValue(HKLM, "K", "v", kvString, "new"), ENOSPC);
        files.Reset();
        EXPECT_EQ(ReadData("K", "v"), "old");
    }
    EXPECT_EQ(jex::test::EntryCount(FRoot.Path() / HKLM / "K"), 2u); // .key and the value
}

TEST_F(TKeyStoreTest, DeletingAKeyRefusesSubkeysAndLeavesNoTrace) {
    ASSERT_EQ(FStore.CreateKey(HKLM, "Parent\\Child"), 0);
    ASSERT_EQ(FStore.WriteValue(HKLM, "Parent\\Child", "v", kvString, "x"), 0);
    EXPECT_EQ(FStore.DeleteKey(HKLM, "Parent"), ENOTEMPTY);
    EXPECT_TRUE(FStore.KeyExists(HKLM, "Parent\\Child"));
    EXPECT_EQ(FStore.DeleteKey(HKLM, "parent\\CHILD"), 0);
    EXPECT_FALSE(FStore.KeyExists(HKLM, "Parent\\Child"));
    EXPECT_EQ(FStore.DeleteKey(HKLM, "Parent\\Child"), ENOENT);
    EXPECT_EQ(FStore.DeleteKey(HKLM, "Parent"), 0);
    // Only the hive's lock is left.
    EXPECT_EQ(jex::test::EntryCount(FRoot.Path() / HKLM), 1u);
}

TEST_F(TKeyStoreTest, AReadOnlyRootGivesErrorsAndKeepsWhatIsThere) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not hold back root";
    ASSERT_EQ(FStore.CreateKey(HKLM, "K"), 0);
    ASSERT_EQ(FStore.WriteValue(HKLM, "K", "v", kvString, "kept"), 0);
    ::chmod((FRoot.Path() / HKLM / "K").c_str(), 0555);
    ::chmod((FRoot.Path() / HKLM).c_str(), 0555);
    EXPECT_EQ(FStore.WriteValue(HKLM, "K", "v", kvString, "lost"), EACCES);
    EXPECT_EQ(FStore.CreateKey(HKLM, "Other"), EACCES);
    EXPECT_EQ(ReadData("K", "v"), "kept");
    ::chmod((FRoot.Path() / HKLM).c_str(), 0755);
    ::chmod((FRoot.Path() / HKLM / "K").c_str(), 0755);
}

TEST_F(TKeyStoreTest, AMissingRootReadsAsEmpty) {
    FStore.SetRoot((FRoot.Path() / "not" / "there").string());
    EXPECT_FALSE(FStore.KeyExists(HKLM, "K"));
    std::vector<std::string> names;
    EXPECT_EQ(FStore.SubKeyNames(HKLM, "", names), 0);
    EXPECT_TRUE(names.empty());
}

TEST_F(TKeyStoreTest, KeysCreatedAndDeletedByTwoProcessesAtOnceStayConsistent) {
    const auto churn = [this](const char* AName) {
        for (int i = 0; i < 30; ++i) {
            if (FStore.CreateKey(HKLM, std::string("Shared\\") + AName) != 0)
                return 1;
            if (FStore.DeleteKey(HKLM, std::string("Shared\\") + AName) != 0)
                return 2;
        }
        return 0;
    };
    jex::test::TChildProcess child([&] { return churn("Child"); });
    EXPECT_EQ(churn("Parent"), 0);
    EXPECT_EQ(child.Wait(), 0);
    std::vector<std::string> names;
    ASSERT_EQ(FStore.SubKeyNames(HKLM, "Shared", names), 0);
    EXPECT_TRUE(names.empty());
}

// ---- Notifications --------------------------------------------------------------------------

class TKeyNotificationTest : public TKeyStoreTest {
protected:
    void SetUp() override {
        TKeyStoreTest::SetUp();
        ASSERT_EQ(FStore.CreateKey(HKLM, "Watched\\Sub"), 0);
        ASSERT_EQ(FStore.CreateKey(HKLM, "Other"), 0);
    }

    /// A set with one object on AKey for AFilters.
    std::unique_ptr<TKeyNotificationSet> Watch(const std::string& AKey, std::uint32_t AFilters,
                                               bool ASubtree = false) {
        auto set = FStore.CreateNotificationSet();
        int error = 0;
        EXPECT_EQ(set->Add(HKLM, AKey, ASubtree, AFilters, error), 0) << error;
        return set;
    }
};

TEST_F(TKeyNotificationTest, EachFilterReportsItsOwnKindOfChange) {
    auto lastSet = Watch("Watched", KeyChangeLastSet);
    auto name = Watch("Watched", KeyChangeName);
    ASSERT_EQ(FStore.WriteValue(HKLM, "Watched", "v", kvString, "x"), 0);
    EXPECT_EQ(lastSet->Wait(2000), 0);
    EXPECT_EQ(name->Wait(50), WaitTimeout);

    lastSet->Rearm(0);
    ASSERT_EQ(FStore.CreateKey(HKLM, "Watched\\New"), 0);
    EXPECT_EQ(name->Wait(2000), 0);
    name->Rearm(0);
    ASSERT_EQ(FStore.DeleteKey(HKLM, "Watched\\New"), 0);
    EXPECT_EQ(name->Wait(2000), 0);
    EXPECT_EQ(lastSet->Wait(50), WaitTimeout);
    ASSERT_EQ(FStore.DeleteValue(HKLM, "Watched", "v"), 0);
    EXPECT_EQ(lastSet->Wait(2000), 0);
}

TEST_F(TKeyNotificationTest, SubkeyChangesCountOnlyForASubtreeWatch) {
    auto flat = Watch("Watched", KeyChangeLastSet);
    auto tree = Watch("Watched", KeyChangeLastSet, true);
    ASSERT_EQ(FStore.WriteValue(HKLM, "Watched\\Sub", "v", kvString, "x"), 0);
    EXPECT_EQ(tree->Wait(2000), 0);
    EXPECT_EQ(flat->Wait(50), WaitTimeout);
}

TEST_F(TKeyNotificationTest, AWatchSeesOnlyItsOwnKeyAndValuesWrittenByAnotherProcess) {
    auto watched = Watch("Watched", KeyChangeLastSet);
    auto other = Watch("Other", KeyChangeLastSet);
    EXPECT_EQ(
        jex::test::RunInChild([&] { return FStore.WriteValue(HKLM, "Other", "v", kvString, "x"); }),
        0);
    EXPECT_EQ(other->Wait(2000), 0);
    EXPECT_EQ(watched->Wait(50), WaitTimeout);
}

TEST_F(TKeyNotificationTest, AMissingKeyCannotBeWatchedAndWakeEndsAWait) {
    auto set = FStore.CreateNotificationSet();
    int error = 0;
    EXPECT_EQ(set->Add(HKLM, "Nowhere", false, KeyChangeName, error), -1);
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(FStore.KeyExists(HKLM, "Nowhere"));
    set->Wake();
    EXPECT_EQ(set->Wait(-1), WaitWoken);
}

} // namespace
