// tests/support/MonitorFixture.h - what the tests of the monitors with a worker thread share: a
// headless application, and serving the worker's hand-overs until a condition holds.
#pragma once

#include "host/core/ClassesThread.h"
#include "host/forms/Forms.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace jex::test {

/// Runs each test inside a headless application; a fixture that derives from it frees its
/// monitors before calling TearDown.
class TMonitorFixture : public ::testing::Test {
protected:
    void SetUp() override { host::InitApplication(std::make_unique<host::THeadlessWidgetSet>()); }

    void TearDown() override { host::DoneApplication(); }

    /// Serves the worker's hand-overs until APredicate holds or AMilliseconds have passed.
    static bool PumpUntil(const std::function<bool()>& APredicate, int AMilliseconds = 3000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(AMilliseconds);
        while (!APredicate()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            if (!host::CheckSynchronize())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    /// Serves hand-overs for AMilliseconds.
    static void PumpFor(int AMilliseconds) {
        PumpUntil([] { return false; }, AMilliseconds);
    }

    /// Waits until a worker is blocked handing a change over.
    static bool WorkerBlockedInHandOver() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!host::SynchronizePending())
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
};

} // namespace jex::test
