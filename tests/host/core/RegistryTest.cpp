// tests/host/core/RegistryTest.cpp - TRegistry and REGEDIT4 import and export on a temporary
// store root.
#include "host/core/Registry.h"

#include "host/core/ClassesStrings.h"
#include "host/core/RegistryFile.h"
#include "platform/KeyStore.h"
#include "platform/PlatformServices.h"
#include "platform/fake/File.h"
#include "tests/support/FaultSweep.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace host;

namespace {

class TRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { platform::LinuxKeyStore().SetRoot(FRoot.Path().string()); }

    void TearDown() override { platform::LinuxKeyStore().SetRoot({}); }

    jex::test::TempDir FRoot;
};

std::string Message(const std::function<void()>& ACall) {
    try {
        ACall();
    } catch (const ERegistryException& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

TEST_F(TRegistryTest, AnEventSourceRegistrationReadsBackAsTheEventLogExpects) {
    TRegistry writer;
    writer.SetRootKey(HKEY_LOCAL_MACHINE);
    const std::string source = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Demo";
    ASSERT_TRUE(writer.OpenKey(source, true));
    EXPECT_NE(writer.CurrentKey(), 0u);
    EXPECT_EQ(writer.CurrentPath(), source);
    writer.WriteExpandString("EventMessageFile", "%SystemRoot%\\demo.msg");
    writer.WriteInteger("TypesSupported", 7);
    writer.CloseKey();
    EXPECT_EQ(writer.CurrentKey(), 0u);

    TRegistry reader(KEY_READ);
    reader.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reader.OpenKeyReadOnly("\\system\\currentcontrolset\\services\\eventlog"));
    EXPECT_TRUE(reader.KeyExists("Application\\DEMO"));
    ASSERT_TRUE(reader.OpenKey("Application\\Demo", false)); // relative to the open key
    EXPECT_EQ(reader.ReadString("EventMessageFile"), "%SystemRoot%\\demo.msg");
    EXPECT_EQ(reader.ReadInteger("typessupported"), 7);
    EXPECT_EQ(reader.ReadString("Missing"), "");
    EXPECT_TRUE(reader.ValueExists("EventMessageFile"));
    EXPECT_FALSE(reader.ValueExists("Missing"));

    TStringList names;
    reader.GetValueNames(&names);
    EXPECT_EQ(names.Count(), 2);
    EXPECT_EQ(names.Strings(0), "EventMessageFile");
}

TEST_F(TRegistryTest, ReadsOfTheWrongKindRaiseTheFrameworkMessages) {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Software\\Test", true));
    registry.WriteInteger("Number", -5);
    registry.WriteString("Text", "abc");
    const unsigned char bytes[] = {0, 1, 2, 255};
    registry.WriteBinaryData("Blob", bytes, sizeof bytes);

    EXPECT_EQ(registry.ReadInteger("Number"), -5);
    EXPECT_EQ(Message([&] { registry.ReadString("Number"); }), "Invalid data type for 'Number'");
    EXPECT_EQ(Message([&] { registry.ReadInteger("Text"); }), "Invalid data type for 'Text'");
    EXPECT_EQ(Message([&] { registry.ReadInteger("Missing"); }),
              "Failed to get data for 'Missing'");

    unsigned char buffer[8] = {};
    EXPECT_EQ(registry.ReadBinaryData("Blob", buffer, sizeof buffer), 4);
    EXPECT_EQ(std::memcmp(buffer, bytes, 4), 0);
    EXPECT_EQ(Message([&] { registry.ReadBinaryData("Blob", buffer, 3); }),
              "Failed to get data for 'Blob'");
    EXPECT_EQ(registry.GetDataType("Blob"), rdBinary);
    EXPECT_EQ(registry.GetDataType("Text"), rdString);

    TRegistry readOnly;
    ASSERT_TRUE(readOnly.OpenKeyReadOnly("Software\\Test"));
    EXPECT_EQ(Message([&] { readOnly.WriteString("Text", "changed"); }),
              "Failed to set data for 'Text'");
    EXPECT_FALSE(readOnly.DeleteValue("Text"));
    EXPECT_EQ(readOnly.ReadString("Text"), "abc");
}

TEST_F(TRegistryTest, BadPathsAndRootsFailWithoutTouchingOtherKeys) {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Keep", true));
    registry.WriteString("v", "kept");
    registry.CloseKey();
    EXPECT_FALSE(registry.OpenKey("a\\\\b", true));
    EXPECT_FALSE(registry.OpenKey("Keep\\..\\..", true));
    EXPECT_FALSE(registry.OpenKey(std::string("x\0y", 3), true));
    EXPECT_EQ(Message([&] { registry.CreateKey("bad\\\\path"); }),
              "Failed to create key bad\\\\path");
    EXPECT_FALSE(registry.OpenKey("Never", false));
    EXPECT_FALSE(registry.KeyExists("Never"));

    registry.SetRootKey(HKEY_PERFORMANCE_DATA);
    EXPECT_FALSE(registry.OpenKey("Keep", true));
    EXPECT_EQ(Message([&] { registry.WriteString("v", "x"); }), "Failed to set data for 'v'");

    registry.SetRootKey(HKEY_CURRENT_USER);
    ASSERT_TRUE(registry.OpenKey("Keep", false));
    EXPECT_EQ(registry.ReadString("v"), "kept");
}

TEST_F(TRegistryTest, DeleteKeyRemovesTheWholeTreeAndClosesAKeyInsideIt) {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Root\\A\\B", true));
    registry.WriteString("v", "x");
    ASSERT_TRUE(registry.OpenKey("\\Root\\Z", true));
    EXPECT_TRUE(registry.DeleteKey("\\Root"));
    EXPECT_EQ(registry.CurrentKey(), 0u);
    EXPECT_FALSE(registry.KeyExists("Root"));
    EXPECT_FALSE(registry.DeleteKey("Root"));

    ASSERT_TRUE(registry.OpenKey("\\Kept", true));
    registry.CloseKey();
    EXPECT_FALSE(registry.DeleteKey(""));
    EXPECT_FALSE(registry.DeleteKey("\\"));
    EXPECT_TRUE(registry.KeyExists("Kept"));
}

TEST_F(TRegistryTest, ExportedTextImportsBackToTheSameValues) {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Software\\Velmora\\Sub", true));
    registry.WriteString("Quote", "say \"hi\" \\ there");
    registry.WriteString("", "default");
    registry.WriteInteger("Count", 42);
    std::string every;
    for (int i = 0; i < 256; ++i)
        every += static_cast<char>(i);
    registry.WriteBinaryData("Bytes", every.data(), static_cast<int>(every.size()));
    registry.WriteExpandString("Path", "%HOME%\\x");

    const std::string text = ExportRegistryText(HKEY_CURRENT_USER, "Software\\Velmora");
    EXPECT_EQ(text.substr(0, 9), "REGEDIT4\n");
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Velmora\\Sub]"), std::string::npos);
    EXPECT_NE(text.find("\"Count\"=dword:0000002a"), std::string::npos);
    EXPECT_NE(text.find("@=\"default\""), std::string::npos);

    ASSERT_TRUE(registry.DeleteKey("\\Software\\Velmora"));
    ImportRegistryText(text);
    ASSERT_TRUE(registry.OpenKey("\\Software\\Velmora\\Sub", false));
    EXPECT_EQ(registry.ReadString("Quote"), "say \"hi\" \\ there");
    EXPECT_EQ(registry.ReadString(""), "default");
    EXPECT_EQ(registry.ReadInteger("Count"), 42);
    EXPECT_EQ(registry.GetDataType("Path"), rdExpandString);
    std::string bytes(256, '\0');
    EXPECT_EQ(registry.ReadBinaryData("Bytes", bytes.data(), 256), 256);
    EXPECT_EQ(bytes, every);
    EXPECT_EQ(ExportRegistryText(HKEY_CURRENT_USER, "Software\\Velmora"), text);
}

TEST_F(TRegistryTest, ImportDeletesWhatTheTextSaysAndContinuesHexLists) {
    ImportRegistryText("REGEDIT4\n\n; seed\n[HKEY_LOCAL_MACHINE\\Software\\Fixture]\n"
                       "\"Gone\"=\"x\"\n\"List\"=hex(7):61,00,\\\n  62,00,00\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Fixture\\Old]\n");
    ImportRegistryText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Fixture]\n\"Gone\"=-\n"
                       "[-HKEY_LOCAL_MACHINE\\Software\\Fixture\\Old]\n");
    platform::TKeyValue value;
    ASSERT_EQ(platform::LinuxKeyStore().ReadValue("HKEY_LOCAL_MACHINE", "Software\\Fixture", "List",
                                                  value),
              0);
    EXPECT_EQ(value.Type, platform::kvMultiString);
    EXPECT_EQ(value.Data, std::string("a\0b\0\0", 5));
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey("Software\\Fixture", false));
    EXPECT_FALSE(registry.ValueExists("Gone"));
    EXPECT_FALSE(registry.KeyExists("Old"));
}

TEST_F(TRegistryTest, ATextWithAnErrorNamesItsLineAndChangesNothing) {
    const struct {
        const char* Text;
        const char* Message;
    } cases[] = {
        {"[HKEY_CURRENT_USER\\X]\n", "Line 1: the file must begin with REGEDIT4"},
        {"REGEDIT4\n\"v\"=\"x\"\n", "Line 2: a value needs a key line before it"},
        {"REGEDIT4\n[HKEY_NOWHERE\\X]\n", "Line 2: unknown root key 'HKEY_NOWHERE'"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v\"=dword:12\n",
         "Line 3: dword: needs eight hex digits"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\n\"v\"=hex:1,zz\n",
         "Line 4: hex: needs bytes as two hex digits separated by commas"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v=\"x\"\n",
         "Line 3: '=' expected after the value name"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\X\n", "Line 2: a key line must end with ']'"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\nv=1\n", "Line 3: a value name must be quoted or '@'"},
    };

    for (const auto& c : cases) {
        EXPECT_EQ(Message([&] { ImportRegistryText(c.Text); }), c.Message) << c.Text;
        EXPECT_FALSE(TRegistry().KeyExists("X")) << c.Text;
    }
    // The store's refusal names the line too: a bad path parses but cannot be created.
    EXPECT_EQ(Message([&] {
                  ImportRegistryText("REGEDIT4\n[HKEY_CURRENT_USER\\a\\\\b]\n");
              }).substr(0, 8),
              "Line 2: ");
    EXPECT_EQ(Message([&] { ImportRegistryFile(FRoot.File("missing.reg")); }),
              "Cannot open file " + FRoot.File("missing.reg"));
}

TEST_F(TRegistryTest, WritesAndExportsThatFailAtAnyFileCallRaiseAndKeepWhatWasThere) {
    const std::string exported = FRoot.File("app.reg");
    const auto seed = [&] {
        TRegistry registry;
        registry.SetRootKey(HKEY_CURRENT_USER);
        ASSERT_TRUE(registry.OpenKey("Software\\App", true));
        registry.WriteString("Name", "old");
        registry.DeleteKey("\\Software\\App\\New");
        jex::test::WriteFileBytes(exported, "previous export");
    };
    const auto value = [] {
        TRegistry registry(KEY_READ);
        registry.SetRootKey(HKEY_CURRENT_USER);
        return registry.OpenKeyReadOnly("Software\\App") ? registry.ReadString("Name") : "";
    };
    const std::function<void()> changes[] = {
        [] {
            TRegistry registry;
            registry.SetRootKey(HKEY_CURRENT_USER);
            registry.OpenKey("Software\\App", false);
            registry.WriteString("Name", "new");
        },
        [] {
            TRegistry registry;
            registry.SetRootKey(HKEY_CURRENT_USER);
            registry.CreateKey("\\Software\\App\\New");
        },
        [&] { ExportRegistryFile(HKEY_CURRENT_USER, "Software\\App", exported); },
    };
    platform::TFakeFileService files;
    const platform::TScopedPlatformServices scope({.Files = &files});
    for (const auto& change : changes) {
        for (const jex::test::TInjectedFault& fault : jex::test::FaultsOf(files, seed, change)) {
            SCOPED_TRACE(fault.Describe());
            seed();
            fault.Arm(files);
            EXPECT_THROW(change(), ERegistryException);
            files.Reset();
            EXPECT_EQ(value(), "old");
            EXPECT_FALSE(TRegistry().KeyExists("\\Software\\App\\New"));
            EXPECT_EQ(jex::test::ReadFileBytes(exported), "previous export");
        }
    }
}

} // namespace
