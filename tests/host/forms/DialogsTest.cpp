// tests/host/forms/DialogsTest.cpp - message dialogs: default and cancel buttons, captions,
// responders, and standard error under the headless widgetset.
#include "host/forms/Dialogs.h"

#include "platform/PlatformServices.h"
#include "platform/fake/FakeScreen.h"
#include "tests/host/forms/HeadlessFixture.h"

#include <gtest/gtest.h>

#include <memory>

using namespace host;

namespace {

class DialogsTest : public jex::test::THeadlessFixture {};

} // namespace

TEST_F(DialogsTest, DefaultButtonIsOkElseYesElseRetryAndEscapeCancelsElseNo) {
    EXPECT_EQ(PrepareMessageDlg("m", mtWarning, mbOKCancel).DefaultResult, mrOk);
    EXPECT_EQ(PrepareMessageDlg("m", mtWarning, mbOKCancel).CancelResult, mrCancel);
    EXPECT_EQ(PrepareMessageDlg("m", mtConfirmation, {mbYes, mbNo}).DefaultResult, mrYes);
    EXPECT_EQ(PrepareMessageDlg("m", mtConfirmation, {mbYes, mbNo}).CancelResult, mrNo);
    EXPECT_EQ(PrepareMessageDlg("m", mtError, mbAbortRetryIgnore).DefaultResult, mrRetry);
    EXPECT_EQ(PrepareMessageDlg("m", mtError, {mbIgnore}).DefaultResult, mrIgnore);
    EXPECT_EQ(PrepareMessageDlg("m", mtConfirmation, {}).Buttons, TMsgDlgButtons{mbOK});
}

TEST_F(DialogsTest, CaptionsFollowTheKindAndCustomUsesTheTitle) {
    Application->SetTitle("My App");
    EXPECT_EQ(DialogCaption(mtWarning), "Warning");
    EXPECT_EQ(DialogCaption(mtError), "Error");
    EXPECT_EQ(DialogCaption(mtInformation), "Information");
    EXPECT_EQ(DialogCaption(mtConfirmation), "Confirm");
    EXPECT_EQ(DialogCaption(mtCustom), "My App");
}

TEST_F(DialogsTest, HeadlessPrintsToStandardErrorAndAnswersTheDefaultOrTheResponder) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageDlg("Save changes?", mtConfirmation, mbYesNoCancel), mrYes);
    WS().SetDialogResponder(THeadlessWidgetSet::TDialogResponder::FromCallable(
        [](const TMessageDlgRequest& ARequest) { return ARequest.CancelResult; }));
    EXPECT_EQ(MessageDlg("Save changes?", mtConfirmation, mbYesNoCancel), mrCancel);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Confirm: Save changes?\nConfirm: Save changes?\n");
    ASSERT_EQ(WS().Log().size(), 2u);
    EXPECT_EQ(WS().Log()[0],
              "MessageDlg mtConfirmation [mbYes, mbNo, mbCancel] Confirm: Save changes?");
}

TEST_F(DialogsTest, MessageBeepGoesToTheWidgetsetElseToThePlatformsScreen) {
    platform::TFakeScreenService fake;
    platform::TScopedPlatformServices scope({nullptr, &fake});
    MessageBeep(MB_ICONHAND);
    EXPECT_EQ(WS().Log().back(), "MessageBeep 16");
    EXPECT_EQ(fake.Beeps, 0);
    DoneApplication();
    MessageBeep(MB_ICONHAND);
    EXPECT_EQ(fake.Beeps, 1);
    InitApplication(std::make_unique<THeadlessWidgetSet>());
}

// A dialog of one button answers with that button however it is closed; Help has no result.
TEST_F(DialogsTest, LoneButtonIsBothTheDefaultAndTheCancelAnswer) {
    const struct {
        TMsgDlgBtn Button;
        TModalResult Result;
    } buttons[] = {{mbYes, mrYes},           {mbNo, mrNo},       {mbOK, mrOk},
                   {mbCancel, mrCancel},     {mbAbort, mrAbort}, {mbRetry, mrRetry},
                   {mbIgnore, mrIgnore},     {mbAll, mrAll},     {mbNoToAll, mrNoToAll},
                   {mbYesToAll, mrYesToAll}, {mbHelp, mrNone}};

    for (const auto& button : buttons) {
        SCOPED_TRACE(static_cast<int>(button.Button));
        EXPECT_EQ(ButtonResult(button.Button), button.Result);
        const TMessageDlgRequest request = PrepareMessageDlg("m", mtCustom, {button.Button});
        EXPECT_EQ(request.DefaultResult, button.Result);
        EXPECT_EQ(request.CancelResult, button.Result);
    }
}

TEST(DialogsWithoutApplicationTest, MessagesGoToStandardErrorAndTheDefaultAnswers) {
    ASSERT_EQ(Application, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageDlg("Disk full", mtError, mbAbortRetryIgnore), mrRetry);
    ShowMessage("Saved");
    // A custom dialog has the application's title as its caption: none without an application.
    EXPECT_EQ(MessageDlg("Plain", mtCustom, {}), mrOk);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Disk full\nSaved\n: Plain\n");
}

TEST_F(DialogsTest, HeadlessLogNamesTheKindOfEveryMessage) {
    testing::internal::CaptureStderr();
    MessageDlg("a", mtWarning, {mbOK});
    MessageDlg("b", mtInformation, {mbOK});
    ShowMessage("c");
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(WS().Log().size(), 3u);
    EXPECT_EQ(WS().Log()[0], "MessageDlg mtWarning [mbOK] Warning: a");
    EXPECT_EQ(WS().Log()[1], "MessageDlg mtInformation [mbOK] Information: b");
    EXPECT_EQ(WS().Log()[2].rfind("MessageDlg mtCustom [mbOK] ", 0), 0u) << WS().Log()[2];
}
