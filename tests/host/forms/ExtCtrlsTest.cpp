// tests/host/forms/ExtCtrlsTest.cpp - timers on the headless widgetset's virtual clock.
#include "host/forms/ExtCtrls.h"

#include "tests/host/forms/HeadlessFixture.h"

#include <gtest/gtest.h>

using namespace host;

namespace {

class TTimerTest : public jex::test::THeadlessFixture {};

} // namespace

TEST_F(TTimerTest, FiresEachIntervalAsTheClockAdvances) {
    auto* timer = Create<TTimer>(Application);
    timer->SetInterval(100);
    int fired = 0;
    timer->SetOnTimer(TNotifyEvent::FromCallable([&](TObject*) { ++fired; }));
    WS().AdvanceClock(99);
    EXPECT_EQ(fired, 0);
    WS().AdvanceClock(1);
    EXPECT_EQ(fired, 1);
    WS().AdvanceClock(250);
    EXPECT_EQ(fired, 3);
    timer->SetEnabled(false);
    WS().AdvanceClock(1000);
    EXPECT_EQ(fired, 3);
    delete timer;
    EXPECT_EQ(WS().TimerCount(), 0);
}

TEST_F(TTimerTest, ExceptionFromOnTimerGoesToTheApplicationWithTheTimerAsSender) {
    auto* timer = Create<TTimer>(Application);
    timer->SetInterval(10);
    timer->SetOnTimer(TNotifyEvent::FromCallable([](TObject*) { throw EConvertError("tick"); }));
    TObject* sender = nullptr;
    Application->SetOnException(
        TExceptionEvent::FromCallable([&](TObject* ASender, Exception*) { sender = ASender; }));
    EXPECT_NO_THROW(WS().AdvanceClock(10));
    EXPECT_EQ(sender, timer);
}

TEST_F(TTimerTest, TimerThatDisablesItselfInItsHandlerStops) {
    auto* timer = Create<TTimer>(Application);
    timer->SetInterval(10);
    int fired = 0;
    timer->SetOnTimer(TNotifyEvent::FromCallable([&](TObject*) {
        ++fired;
        timer->SetEnabled(false);
    }));
    WS().AdvanceClock(100);
    EXPECT_EQ(fired, 1);
}
