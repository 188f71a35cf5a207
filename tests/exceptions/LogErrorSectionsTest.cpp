// tests/exceptions/LogErrorSectionsTest.cpp - the environment sections of the report with
// recorded system figures: operating-system names, memory, computer and user, the active form
// and control, and the source position.
#include "ExceptionLogFixture.h"
#include "exceptions/LogError.h"
#include "host/forms/StdCtrls.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace host;
using namespace jex;

namespace {

class TJexExceptionLogSectionsTest : public jex::test::TExceptionLogFixture {
protected:
    void SetUp() override {
        TExceptionLogFixture::SetUp();
        FLogger.reset(NewLogger(nullptr));
    }

    void TearDown() override {
        FLogger.reset();
        TExceptionLogFixture::TearDown();
    }

    std::string OSInfo(int APlatform, int AMajor, int AMinor, int ABuild,
                       const std::string& ACSD = "") {
        FSystem.Version.Platform = APlatform;
        FSystem.Version.MajorVersion = AMajor;
        FSystem.Version.MinorVersion = AMinor;
        FSystem.Version.BuildNumber = ABuild;
        FSystem.Version.CSDVersion = ACSD;
        return FLogger->GetOSInfo();
    }

    std::unique_ptr<TJexExceptionLog> FLogger;
};

const std::string Sep = "\r\n======\r\n";

} // namespace

TEST_F(TJexExceptionLogSectionsTest, WindowsVersionsAreNamedByTheTable) {
    EXPECT_EQ(OSInfo(1, 4, 0, 0x04000457, " B "), Sep + "Microsoft Windows 95 OSR 2(build 1111)");
    EXPECT_EQ(OSInfo(1, 4, 0, 950, "C"), Sep + "Microsoft Windows 95(build 950)");
    EXPECT_EQ(OSInfo(1, 4, 0, 950, "b"), Sep + "Microsoft Windows 95(build 950)");
    EXPECT_EQ(OSInfo(1, 4, 10, 2222, "A"), Sep + "Microsoft Windows 98 SE(build 2222)");
    EXPECT_EQ(OSInfo(1, 4, 89, 1998), Sep + "Microsoft Windows 98(build 1998)");
    EXPECT_EQ(OSInfo(1, 4, 90, 3000), Sep + "Microsoft Winsows ME(build 3000)");
    EXPECT_EQ(OSInfo(1, 4, 91, 3001), Sep + "(build 3001)");
    EXPECT_EQ(OSInfo(2, 4, 0, 1381), Sep + "Microsoft Windows NT 4.0(build 1381)");
    EXPECT_EQ(OSInfo(2, 5, 0, 2195), Sep + "Microsoft Windows 2000(build 2195)");
    EXPECT_EQ(OSInfo(2, 5, 1, 2600), Sep + "Microsoft Windows XP(build 2600)");
    EXPECT_EQ(OSInfo(2, 5, 2, 3790), Sep + "Microsoft Windows 2003(build 3790)");
    EXPECT_EQ(OSInfo(2, 6, 0, 6000), Sep + "(build 6000)");
    // The NT family prints the whole build value, the 95 family its low word only.
    EXPECT_EQ(OSInfo(2, 5, 1, 0x10000A28), Sep + "Microsoft Windows XP(build 268438056)");
    EXPECT_EQ(OSInfo(0, 3, 1, 511), "");
}

TEST_F(TJexExceptionLogSectionsTest, LinuxNamesTheDistributionAndTheKernelRelease) {
    FSystem.Version.Distribution = "Debian GNU/Linux 12 (bookworm)";
    FSystem.Version.KernelRelease = "6.1.0-18-amd64";
    EXPECT_EQ(OSInfo(platform::VER_PLATFORM_LINUX, 6, 1, 0),
              Sep + "Debian GNU/Linux 12 (bookworm)(build 6.1.0-18-amd64)");
}

TEST_F(TJexExceptionLogSectionsTest, MemoryFiguresAreWholeKilobytesOfSixtyFourBitCounts) {
    FSystem.Memory.MemoryLoad = 42;
    FSystem.Memory.TotalPageFile = 0x500000000ULL; // 20 GiB: beyond 32 bits
    FSystem.Memory.AvailPageFile = 4095;
    FSystem.Memory.TotalVirtual = 0x7FFFFFFFF000ULL;
    FSystem.Memory.AvailVirtual = 4096;
    FSystem.Memory.TotalPhys = 8ULL << 30;
    FSystem.Memory.AvailPhys = 1023;
    EXPECT_EQ(FLogger->GetMemoryInfo(), Sep + "Total pagefile: 20971520 Kb\r\n"
                                              "Available pagefile: 3 Kb\r\n"
                                              "Total virtual memory: 137438953468 Kb\r\n"
                                              "Available virtual memory: 4 Kb\r\n"
                                              "Total memory: 8388608 Kb\r\n"
                                              "Available memory: 0 Kb\r\n"
                                              "Memory in use: 42%");
}

TEST_F(TJexExceptionLogSectionsTest, ComputerAndUserLinesAreLeftOutWhenUnknown) {
    EXPECT_EQ(FLogger->GetComputerInfo(), Sep + "Computer: PC7\r\nUser Name: ann");
    FSystem.Computer.clear();
    EXPECT_EQ(FLogger->GetComputerInfo(), Sep + "User Name: ann");
    FSystem.User.clear();
    EXPECT_EQ(FLogger->GetComputerInfo(), "");
    FSystem.Computer = "PC7";
    EXPECT_EQ(FLogger->GetComputerInfo(), Sep + "Computer: PC7\r\n");
}

TEST_F(TJexExceptionLogSectionsTest, ActiveFormAndControlFollowTheFocus) {
    EXPECT_EQ(FLogger->GetActiveControlDetails(), "");
    TForm* form = Application->CreateForm<TForm>();
    form->SetName("frmMain");
    form->SetCaption("Orders");
    form->Show();
    auto* edit = Create<TEdit>(form);
    edit->SetName("edtCustomer");
    edit->SetParent(form);
    // The form itself has the focus while none of its controls has.
    EXPECT_EQ(FLogger->GetActiveControlDetails(),
              Sep + "Active Form: frmMain, Orders\r\nActive Control: frmMain");
    edit->SetFocus();
    EXPECT_EQ(FLogger->GetActiveControlDetails(),
              Sep + "Active Form: frmMain, Orders\r\nActive Control: edtCustomer");
}

TEST_F(TJexExceptionLogSectionsTest, ActiveControlOnACustomFormHasNoFormLine) {
    // A custom form that is not a TForm is no active form, but its control has the focus.
    auto* custom = Create<TCustomForm>(Application);
    custom->SetName("dlgCustom");
    auto* edit = Create<TEdit>(custom);
    edit->SetName("edtAmount");
    edit->SetParent(custom);
    custom->Show();
    edit->SetFocus();
    ASSERT_EQ(Screen->ActiveForm(), nullptr);
    EXPECT_EQ(FLogger->GetActiveControlDetails(), Sep + "Active Control: edtAmount");
}

TEST_F(TJexExceptionLogSectionsTest, ApplicationDetailsNameTheProgramAndTitle) {
    const std::string text = FLogger->GetApplicationDetails();
    EXPECT_EQ(text.rfind(Sep + "EXE file name: " + Application->ExeName() +
                             "\r\nApplication Title:Orders",
                         0),
              0u)
        << text;
    EXPECT_EQ(text.find("Parameters") != std::string::npos, ParamCount() > 0);
}

TEST_F(TJexExceptionLogSectionsTest, SourcePositionPrintsWhatTheLookupFound) {
    EXPECT_EQ(FLogger->GetFormattedSource(), "") << "nothing looked up yet";
    const std::string map = FTemp.File("p.map");
    jex::test::WriteFileBytes(map, "Detailed map of segments\r\n"
                                   "\r\n"
                                   " 0001:00000100 00000100 C=CODE     S=.text    G=(none)   "
                                   "M=Unit1    ACBP=A9\r\n"
                                   "\r\n"
                                   "  Address         Publics by Name\r\n"
                                   "\r\n"
                                   "  Address         Publics by Value\r\n"
                                   "\r\n"
                                   " 0001:00000010       Alpha\r\n"
                                   " 0001:00000080       Beta\r\n"
                                   " 0001:00000110       Gamma\r\n"
                                   " 0001:00000200       Delta\r\n"
                                   "\r\n"
                                   "Line numbers for Unit1(Unit1.pas) segment .text\r\n"
                                   "\r\n"
                                   "    10 0001:00000100    12 0001:00000140\r\n");
    FLogger->MapFile().SetMapFileName(map);
    // Below the first unit: a procedure but no unit, so no line either.
    FLogger->MapFile().LoadExceptionData(reinterpret_cast<const void*>(0x00401020));
    EXPECT_EQ(FLogger->GetFormattedSource(), "\r\nProcedure: Alpha\r\n");
    FLogger->MapFile().LoadExceptionData(reinterpret_cast<const void*>(0x00401120));
    EXPECT_EQ(FLogger->GetFormattedSource(), "\r\nUnit: Unit1\r\nProcedure: Gamma\r\nLine No: 10");
    // Above the last public and the last line entry: the unit alone.
    FLogger->MapFile().LoadExceptionData(reinterpret_cast<const void*>(0x00401300));
    EXPECT_EQ(FLogger->GetFormattedSource(), "\r\nUnit: Unit1\r\n");
}
