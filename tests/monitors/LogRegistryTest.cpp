// tests/monitors/LogRegistryTest.cpp - TJexRegistryLog on a temporary key store with real
// inotify: what each option reports, a missing key, settings changed while active, the stop,
// two monitors side by side and a value written by another process.
#include "monitors/LogRegistry.h"

#include "host/core/Registry.h"
#include "host/forms/Forms.h"
#include "platform/KeyStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MonitorFixture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace jex;

namespace {

constexpr const char* Watched = "Software\\Velmora";

class TJexRegistryLogTest : public jex::test::TMonitorFixture {
protected:
    void SetUp() override {
        platform::LinuxKeyStore().SetRoot(FRoot.Path().string());
        TMonitorFixture::SetUp();
        ASSERT_TRUE(Open(Watched, true));
        ASSERT_TRUE(Open("Software\\Velmora\\Sub", true));
        ASSERT_TRUE(Open("Software\\Other", true));
        FLog = NewLog(FEvents);
    }

    void TearDown() override {
        FLog.reset();
        TMonitorFixture::TearDown();
        platform::LinuxKeyStore().SetRoot({});
    }

    std::unique_ptr<TJexRegistryLog> NewLog(int& ACount) {
        std::unique_ptr<TJexRegistryLog> log(host::Create<TJexRegistryLog>(nullptr));
        TJexRegistryLog* const raw = log.get();
        log->SetOnRegistryNotification(
            host::TNotifyEvent::FromCallable([&ACount, raw](host::TObject* ASender) {
                EXPECT_EQ(ASender, raw);
                ++ACount;
            }));
        return log;
    }

    bool Open(const std::string& AKey, bool ACreate) {
        FRegistry.SetRootKey(host::HKEY_LOCAL_MACHINE);
        FRegistry.CloseKey();
        return FRegistry.OpenKey(AKey, ACreate);
    }

    void Write(const std::string& AKey, const std::string& AName = "v") {
        ASSERT_TRUE(Open(AKey, false));
        FRegistry.WriteString(AName, "x");
    }

    /// Activates ALog and waits until its worker watches (or has given up on the key).
    static void Activate(TJexRegistryLog& ALog) {
        ALog.SetActive(true);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (ALog.Worker() != nullptr && !ALog.Worker()->Watching() &&
               !ALog.Worker()->Finished() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    jex::test::TempDir FRoot;
    host::TRegistry FRegistry;
    std::unique_ptr<TJexRegistryLog> FLog;
    int FEvents = 0;
};

TEST_F(TJexRegistryLogTest, ANewComponentWatchesVelmoraForNamesAndAttributesWithoutSubkeys) {
    EXPECT_FALSE(FLog->Active());
    EXPECT_EQ(FLog->Worker(), nullptr);
    EXPECT_EQ(FLog->RootKey(), host::HKEY_LOCAL_MACHINE);
    EXPECT_EQ(FLog->Key(), "Software\\Velmora");
    EXPECT_EQ(FLog->Options(), (TRegistryNotificationOptions{roName, roAttributes}));
}

TEST_F(TJexRegistryLogTest, LastSetReportsAValueWriteAndNameAloneDoesNot) {
    FLog->SetOptions({roName});
    Activate(*FLog);
    Write(Watched);
    PumpFor(150);
    EXPECT_EQ(FEvents, 0);

    FLog->SetOptions({roLastSet});
    Activate(*FLog);
    Write(Watched);
    EXPECT_TRUE(PumpUntil([&] { return FEvents == 1; }));

    FLog->SetOptions({roName});
    Activate(*FLog);
    ASSERT_TRUE(Open("Software\\Velmora\\NewKey", true));
    EXPECT_TRUE(PumpUntil([&] { return FEvents == 2; }));
}

TEST_F(TJexRegistryLogTest, SubkeyChangesAreReportedOnlyWithWatchSubFolders) {
    FLog->SetOptions({roLastSet});
    Activate(*FLog);
    Write("Software\\Velmora\\Sub");
    PumpFor(150);
    EXPECT_EQ(FEvents, 0);

    FLog->SetOptions({roLastSet, roWatchSubFolders});
    Activate(*FLog);
    Write("Software\\Velmora\\Sub");
    EXPECT_TRUE(PumpUntil([&] { return FEvents == 1; }));
}

TEST_F(TJexRegistryLogTest, AMissingKeyStaysActiveUncreatedAndItsErrorReachesTheApplication) {
    std::vector<std::string> handled;
    host::Application->SetOnException(
        host::TExceptionEvent::FromCallable([&](host::TObject* ASender, host::Exception* E) {
            EXPECT_EQ(ASender, FLog.get());
            EXPECT_NE(dynamic_cast<ERegistryNotificationError*>(E), nullptr);
            handled.push_back(E->Message());
        }));
    FLog->SetKey("Software\\Missing");
    FLog->SetOptions({roName, roLastSet});
    FLog->SetActive(true);
    EXPECT_TRUE(FLog->Active());
    EXPECT_TRUE(PumpUntil([&] { return !handled.empty(); }));
    EXPECT_EQ(handled, std::vector<std::string>{"Unable to open registry keySoftware\\Missing"});
    EXPECT_FALSE(Open("Software\\Missing", false));
    Write(Watched);
    PumpFor(100);
    EXPECT_EQ(FEvents, 0);
    FLog->SetActive(false);
}

TEST_F(TJexRegistryLogTest, AHandlerThatRaisesReachesTheApplicationAndWatchingGoesOn) {
    std::vector<std::string> handled;
    host::Application->SetOnException(
        host::TExceptionEvent::FromCallable([&](host::TObject* ASender, host::Exception* E) {
            EXPECT_EQ(ASender, FLog.get());
            handled.push_back(E->Message());
        }));
    bool raise = true;
    FLog->SetOnRegistryNotification(host::TNotifyEvent::FromCallable([&](host::TObject*) {
        ++FEvents;
        if (raise)
            throw host::EInvalidOperation("handler failed");
    }));
    FLog->SetOptions({roLastSet});
    Activate(*FLog);
    Write(Watched);
    EXPECT_TRUE(PumpUntil([&] { return !handled.empty(); }));
    EXPECT_EQ(handled, std::vector<std::string>{"handler failed"});
    raise = false;
    const int before = FEvents;
    Write(Watched, "again");
    EXPECT_TRUE(PumpUntil([&] { return FEvents > before; })) << "the worker still watches";
    EXPECT_EQ(handled.size(), 1u);
}

TEST_F(TJexRegistryLogTest, SettingsChangedWhileActiveWaitForTheNextActivation) {
    FLog->SetOptions({roLastSet});
    Activate(*FLog);
    FLog->SetKey("Software\\Other");
    FLog->SetOptions({roName});
    FLog->SetRootKey(host::HKEY_CURRENT_USER);
    Write(Watched);
    EXPECT_TRUE(PumpUntil([&] { return FEvents == 1; }));

    FLog->SetRootKey(host::HKEY_LOCAL_MACHINE);
    FLog->SetOptions({roLastSet});
    Activate(*FLog);
    Write(Watched);
    PumpFor(150);
    EXPECT_EQ(FEvents, 1);
    Write("Software\\Other");
    EXPECT_TRUE(PumpUntil([&] { return FEvents == 2; }));
}

TEST_F(TJexRegistryLogTest, AChangeWithoutHandlerOrAfterDeactivationIsConsumedSilently) {
    FLog->SetOptions({roLastSet});
    const host::TNotifyEvent handler = FLog->OnRegistryNotification();
    FLog->SetOnRegistryNotification({});
    Activate(*FLog);
    Write(Watched);
    PumpFor(150);
    FLog->SetOnRegistryNotification(handler);
    PumpFor(50);
    EXPECT_EQ(FEvents, 0); // consumed, not kept for later
    Write(Watched);
    EXPECT_TRUE(PumpUntil([&] { return FEvents == 1; })); // and still watching

    int events = 0;
    std::unique_ptr<TJexRegistryLog> log = NewLog(events);
    log->SetOptions({roLastSet});
    Activate(*log);
    Write(Watched);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!host::SynchronizePending() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    log->SetActive(false); // serves the pending hand-over, which finds Active false
    EXPECT_EQ(events, 0);
    EXPECT_EQ(log->Worker(), nullptr);
}

TEST_F(TJexRegistryLogTest, TwoMonitorsOnTwoKeysEachReportOnlyTheirOwn) {
    int otherEvents = 0;
    std::unique_ptr<TJexRegistryLog> other = NewLog(otherEvents);
    other->SetKey("Software\\Other");
    other->SetOptions({roLastSet});
    FLog->SetOptions({roLastSet});
    Activate(*FLog);
    Activate(*other);
    Write("Software\\Other");
    EXPECT_TRUE(PumpUntil([&] { return otherEvents == 1; }));
    PumpFor(100);
    EXPECT_EQ(FEvents, 0);
}

TEST_F(TJexRegistryLogTest, AValueWrittenByAnotherProcessIsReported) {
    FLog->SetOptions({roLastSet});
    Activate(*FLog);
    EXPECT_EQ(jex::test::RunInChild([] {
                  host::TRegistry registry;
                  registry.SetRootKey(host::HKEY_LOCAL_MACHINE);
                  if (!registry.OpenKey(Watched, false))
                      return 1;
                  registry.WriteString("FromChild", "x");
                  return 0;
              }),
              0);
    EXPECT_TRUE(PumpUntil([&] { return FEvents == 1; }));
}

TEST_F(TJexRegistryLogTest, ReactivationReplacesTheWorkerAndStoppingIsImmediate) {
    FLog->SetOptions({roLastSet});
    Activate(*FLog);
    const std::uint64_t first = FLog->Worker()->ThreadID();
    Activate(*FLog);
    EXPECT_NE(FLog->Worker()->ThreadID(), first);
    Write(Watched);
    EXPECT_TRUE(PumpUntil([&] { return FEvents >= 1; }));
    PumpFor(100);
    EXPECT_EQ(FEvents, 1); // one worker, one report

    // The worker waits without a time limit; a stop must not wait for a change.
    const auto before = std::chrono::steady_clock::now();
    FLog->SetActive(false);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(FLog->Worker(), nullptr);
}

TEST_F(TJexRegistryLogTest, AHandlerThatDeactivatesItsComponentDoesNotDeadlock) {
    FLog->SetOptions({roLastSet});
    FLog->SetOnRegistryNotification(host::TNotifyEvent::FromCallable([&](host::TObject*) {
        ++FEvents;
        FLog->SetActive(false);
    }));
    Activate(*FLog);
    Write(Watched);
    EXPECT_TRUE(PumpUntil([&] { return FEvents == 1; }));
    EXPECT_FALSE(FLog->Active());
    Activate(*FLog);
    Write(Watched);
    EXPECT_TRUE(PumpUntil([&] { return FEvents == 2; }));
}

} // namespace
