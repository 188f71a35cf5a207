// tests/platform/KeyStoreStressTest.cpp - four processes writing and deleting values and keys
// of one key store while this one watches: no reader sees a torn or damaged value, and every
// key that changed after its watch was armed is reported.
#include "platform/FolderNotifications.h"
#include "platform/KeyStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Stress.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr const char* HKLM = "HKEY_LOCAL_MACHINE";
constexpr int kProcesses = 4;

std::string OwnKey(int AProcess) {
    return "Stress\\Own" + std::to_string(AProcess);
}

// A value whose every byte is the same tag, so that a mix of two writes shows.
std::string Filled(std::size_t ASize, unsigned char ATag) {
    return std::string(ASize, static_cast<char>(ATag));
}

bool Uniform(const std::string& AData) {
    return AData.find_first_not_of(AData.empty() ? '\0' : AData[0]) == std::string::npos;
}

// One writer: counts up its own key's "Round" value and, in between, churns the shared key
// (values of random size written, read back from any writer, deleted; subkeys created and
// deleted). Exit codes: 0 fine, 1 a store call failed, 2 a torn or damaged value was read.
int Churn(TKeyStore& AStore, int AProcess, int ARounds) {
    std::mt19937 random(static_cast<unsigned>(AProcess) * 7919u + 1u);
    const std::string mine = "V" + std::to_string(AProcess);
    const std::string subkey = "Stress\\Shared\\Sub" + std::to_string(AProcess);
    for (int round = 1; round <= ARounds; ++round) {
        const std::size_t size = 1 + random() % 20000;
        if (AStore.WriteValue(HKLM, "Stress\\Shared", mine, kvBinary,
                              Filled(size, static_cast<unsigned char>(round))) != 0)
            return 1;
        for (int other = 0; other < kProcesses; ++other) {
            TKeyValue value;
            const int error =
                AStore.ReadValue(HKLM, "Stress\\Shared", "V" + std::to_string(other), value);
            if (error == ENOENT)
                continue; // deleted a moment ago
            if (error != 0 || !Uniform(value.Data))
                return 2;
        }
        if (round % 3 == 0 && AStore.DeleteValue(HKLM, "Stress\\Shared", mine) != 0)
            return 1;
        if (AStore.CreateKey(HKLM, subkey) != 0 ||
            AStore.WriteValue(HKLM, subkey, "x", kvString, "x") != 0 ||
            AStore.DeleteKey(HKLM, subkey) != 0)
            return 1;
        const std::string count = std::to_string(round);
        if (AStore.WriteValue(HKLM, OwnKey(AProcess), "Round", kvString, count) != 0)
            return 1;
    }
    return 0;
}

int ReadRound(TKeyStore& AStore, int AProcess) {
    TKeyValue value;
    if (AStore.ReadValue(HKLM, OwnKey(AProcess), "Round", value) != 0)
        return 0;
    return std::stoi(value.Data);
}

} // namespace

TEST(TKeyStoreStressTest, FourWritersTearNoValueAndTheWatcherMissesNoLastChange) {
    jex::test::TempDir root;
    TKeyStore& store = LinuxKeyStore();
    store.SetRoot(root.Path().string());
    ASSERT_EQ(store.CreateKey(HKLM, "Stress\\Shared"), 0);
    auto watches = store.CreateNotificationSet();
    for (int p = 0; p < kProcesses; ++p) {
        ASSERT_EQ(store.CreateKey(HKLM, OwnKey(p)), 0);
        int error = 0;
        ASSERT_EQ(watches->Add(HKLM, OwnKey(p), false, KeyChangeLastSet, error), p) << error;
    }

    const int rounds = 150 * jex::test::StressScale();
    std::vector<std::unique_ptr<jex::test::TChildProcess>> writers;
    for (int p = 0; p < kProcesses; ++p)
        writers.push_back(std::make_unique<jex::test::TChildProcess>(
            [&store, p, rounds] { return Churn(store, p, rounds); }));

    // Each report is re-armed before the key is read: a change made after that read is
    // reported again, so the last round read must be the last one written.
    std::vector<int> seen(kProcesses, 0);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(60) * jex::test::StressScale();
    int reports = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const int index = watches->Wait(500);
        if (index == WaitTimeout) {
            bool done = true;
            for (int p = 0; p < kProcesses; ++p)
                done = done && seen[static_cast<std::size_t>(p)] == rounds;
            if (done)
                break;
            continue;
        }
        ASSERT_GE(index, 0) << "the wait failed";
        ++reports;
        watches->Rearm(index);
        seen[static_cast<std::size_t>(index)] = ReadRound(store, index);
    }
    for (int p = 0; p < kProcesses; ++p) {
        EXPECT_EQ(writers[static_cast<std::size_t>(p)]->Wait(), 0) << "writer " << p;
        EXPECT_EQ(seen[static_cast<std::size_t>(p)], rounds)
            << "last change of writer " << p << " was not reported";
    }
    EXPECT_GE(reports, kProcesses);

    // Whatever the interleaving, the shared key holds only whole values and no leftovers.
    std::vector<std::string> names;
    ASSERT_EQ(store.SubKeyNames(HKLM, "Stress\\Shared", names), 0);
    EXPECT_TRUE(names.empty());
    ASSERT_EQ(store.ValueNames(HKLM, "Stress\\Shared", names), 0);
    for (const std::string& name : names) {
        TKeyValue value;
        EXPECT_EQ(store.ReadValue(HKLM, "Stress\\Shared", name, value), 0) << name;
        EXPECT_TRUE(Uniform(value.Data)) << name;
    }
    store.SetRoot({});
}
