// tests/host/ws/WidgetSetTest.cpp - what a widgetset gets from the boundary when it overrides
// only what it must: the framework's modal loop, beeps through the platform's screen service,
// and no hints.
#include "host/ws/WidgetSet.h"

#include "host/forms/Forms.h"
#include "platform/PlatformServices.h"
#include "platform/fake/FakeScreen.h"

#include <gtest/gtest.h>

#include <memory>

using namespace host;

namespace {

class TNullHandle : public TWSHandle {
public:
    void SetText(const std::string&) override {}

    void SetBounds(int, int, int, int) override {}

    void SetVisible(bool) override {}

    void SetEnabled(bool) override {}

    void Invalidate() override {}
};

// The least a widgetset has to provide.
class TMinimalWidgetSet : public TWidgetSet {
public:
    std::string Name() const override { return "minimal"; }

    std::unique_ptr<TWSHandle> CreateHandle(TWinControl*) override {
        return std::make_unique<TNullHandle>();
    }

    TModalResult MessageDlg(const TMessageDlgRequest& ARequest) override {
        return ARequest.DefaultResult;
    }

    THandle CreateTimer(int, const TTimerProc&) override { return 1; }

    void DestroyTimer(THandle) override {}
};

class TWidgetSetDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override { InitApplication(std::make_unique<TMinimalWidgetSet>()); }

    void TearDown() override { DoneApplication(); }
};

} // namespace

TEST_F(TWidgetSetDefaultsTest, ModalLoopAnswersCancelWhenTheApplicationEnds) {
    TForm* form = Application->CreateForm<TForm>();
    Application->Terminate();
    EXPECT_EQ(form->ShowModal(), mrCancel);
    EXPECT_FALSE(form->Visible());
}

TEST_F(TWidgetSetDefaultsTest, ModalLoopRunsPostedMessagesUntilTheFormHasAResult) {
    TForm* form = Application->CreateForm<TForm>();
    constexpr std::uint32_t answer = WM_USER + 3;
    Application->HookMainWindow(TWindowHook::FromCallable([&](TMessage& AMsg) {
        if (AMsg.Msg != answer)
            return false;
        form->SetModalResult(mrYes);
        return true;
    }));
    Application->PostMessage(Application->Handle(), answer);
    EXPECT_EQ(form->ShowModal(), mrYes);
}

TEST_F(TWidgetSetDefaultsTest, BeepsAndScreenComeFromThePlatformAndHintsAreIgnored) {
    platform::TFakeScreenService screen;
    screen.Image.Width = 640;
    screen.Image.Height = 480;
    platform::TScopedPlatformServices scope({nullptr, &screen});
    TWidgetSet& ws = Application->WidgetSet();
    ws.MessageBeep(MB_ICONHAND);
    ws.Beep();
    EXPECT_EQ(screen.Beeps, 2);
    EXPECT_EQ(ws.ScreenSize().Width, 640);
    EXPECT_EQ(ws.ScreenSize().Height, 480);
    // Hints are the toolkit's business; without one they are dropped quietly.
    ws.ShowHint("tip", {1, 2});
    ws.HideHint();
    TIcon icon;
    ws.LoadErrorIcon(icon);
    EXPECT_EQ(icon.Width(), 32);
}
