// tests/host/forms/HeadlessFixture.h - a test fixture with the application and screen running
// on the headless widgetset.
#pragma once

#include "host/forms/Forms.h"
#include "host/widgetsets/headless/HeadlessWidgetSet.h"

#include <gtest/gtest.h>

#include <memory>

namespace jex::test {

class THeadlessFixture : public ::testing::Test {
protected:
    void SetUp() override {
        auto ws = std::make_unique<host::THeadlessWidgetSet>();
        FWidgetSet = ws.get();
        host::InitApplication(std::move(ws));
    }

    void TearDown() override { host::DoneApplication(); }

    host::THeadlessWidgetSet& WS() { return *FWidgetSet; }

private:
    host::THeadlessWidgetSet* FWidgetSet = nullptr;
};

} // namespace jex::test
