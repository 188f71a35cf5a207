// tests/exceptions/LogDlgTest.cpp - the extended error dialog: its stored form, its layout for
// the option combinations, and its buttons handing over to mail and web delivery.
#include "exceptions/LogDlg.h"

#include "ExceptionLogFixture.h"
#include "exceptions/LogError.h"
#include "platform/Screen.h"
#include "platform/fake/MailClient.h"
#include "platform/fake/Shell.h"
#include "tests/support/MessageLoop.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace host;
using namespace jex;

namespace {

// A 2 x 2 white screen, so a screenshot can be attached.
class TTinyScreen : public platform::TScreenService {
public:
    void Size(int& AWidth, int& AHeight) override { AWidth = AHeight = 2; }

    bool Capture(platform::TScreenImage& AImage) override {
        AImage.Width = AImage.Height = 2;
        AImage.Pixels.assign(4, 0xFFFFFF);
        return true;
    }

    void Beep() override {}
};

// What the dialog looked like while it was up.
struct TLayout {
    std::string Caption;
    int ClientHeight = 0;
    bool IconLoaded = false;
    bool ImageLoaded = false;
    std::string CloseCaption;
    bool EmailVisible = false;
    std::string EmailCaption;
    bool CheckVisible = false;
    std::string CheckCaption;
    bool CheckTicked = true;
    bool WebVisible = false;
    std::string WebCaption;
    int WebLeft = 0;
    std::string Text;
};

class TfrmJexLogErrorDialogTest : public jex::test::TExceptionLogFixture {
protected:
    TfrmJexLogErrorDialogTest()
        : FDelivery(platform::TPlatformServices{nullptr, &FScreen, &FMail, &FShell}) {}

    void SetUp() override {
        TExceptionLogFixture::SetUp();
        FLogger = NewLogger(Application->CreateForm<TForm>());
        FLogger->SetFormats({});
        FLogger->SendTo()->SetEMail("support@example.com");
        FLogger->SendTo()->SetEMailOpenBeforeSend(false);
        FLogger->SendTo()->SetWWW("https://example.com/support");
    }

    /// Raises E through the application, lets AAct work on the open dialog, and returns the
    /// dialog's layout as it was shown.
    TLayout ShowDialog(const std::string& AMessage,
                       const std::function<void(TfrmJexLogErrorDialog&)>& AAct = {}) {
        TLayout layout;
        WS().SetModalResponder(
            THeadlessWidgetSet::TModalResponder::FromCallable([&](TCustomForm* F) {
                auto& dialog = dynamic_cast<TfrmJexLogErrorDialog&>(*F);
                layout.Caption = dialog.Caption();
                layout.ClientHeight = dialog.ClientHeight();
                layout.IconLoaded = !dialog.Icon()->Empty();
                layout.ImageLoaded = dialog.imgError->Picture()->Graphic() != nullptr &&
                                     !dialog.imgError->Picture()->Graphic()->Empty();
                layout.CloseCaption = dialog.btnClose->Caption();
                layout.EmailVisible = dialog.btnEmail->Visible();
                layout.EmailCaption = dialog.btnEmail->Caption();
                layout.CheckVisible = dialog.cbAttachScreenshot->Visible();
                layout.CheckCaption = dialog.cbAttachScreenshot->Caption();
                layout.CheckTicked = dialog.cbAttachScreenshot->Checked();
                layout.WebVisible = dialog.btnGoWEB->Visible();
                layout.WebCaption = dialog.btnGoWEB->Caption();
                layout.WebLeft = dialog.btnGoWEB->Left();
                layout.Text = dialog.lblErrorText->Text();
                if (AAct)
                    AAct(dialog);
                THeadlessWidgetSet::Click(dialog.btnClose);
            }));
        jex::test::RaiseThroughLoop([&] { throw EInvalidOperation(AMessage); });
        return layout;
    }

    TTinyScreen FScreen;
    platform::TFakeMailClient FMail;
    platform::TFakeShell FShell;
    platform::TScopedPlatformServices FDelivery;
    TJexExceptionLog* FLogger = nullptr;
};

} // namespace

// ---- The stored form --------------------------------------------------------------------------

TEST_F(TfrmJexLogErrorDialogTest, StoredFormGivesTheDesignedSizesAndControls) {
    std::unique_ptr<TfrmJexLogErrorDialog> form(Create<TfrmJexLogErrorDialog>(nullptr));
    EXPECT_EQ(form->Name(), "frmJexLogErrorDialog");
    EXPECT_EQ(form->BorderStyle(), bsDialog);
    EXPECT_EQ(form->Position(), poScreenCenter);
    EXPECT_EQ(form->ClientWidth(), 394);
    EXPECT_EQ(form->ClientHeight(), 110);
    EXPECT_EQ(form->Caption(), "");
    EXPECT_EQ(form->Font()->Name(), "MS Sans Serif");
    EXPECT_EQ(form->Font()->Height(), -11);
    EXPECT_EQ(form->Font()->Charset(), DEFAULT_CHARSET);
    EXPECT_EQ(form->Font()->Color(), clWindowText);
    EXPECT_EQ(form->PixelsPerInch(), 96);
    EXPECT_EQ(form->TextHeight(), 13);

    const auto bounds = [](const TControl* C) {
        return std::vector<int>{C->Left(), C->Top(), C->Width(), C->Height()};
    };
    EXPECT_EQ(bounds(form->imgError), (std::vector<int>{10, 10, 32, 32}));
    EXPECT_TRUE(form->imgError->Center());
    EXPECT_EQ(bounds(form->lblErrorText), (std::vector<int>{56, 10, 329, 57}));
    EXPECT_EQ(form->lblErrorText->BorderStyle(), bsNone);
    EXPECT_TRUE(form->lblErrorText->ParentColor());
    EXPECT_TRUE(form->lblErrorText->ReadOnly());
    EXPECT_EQ(form->lblErrorText->ScrollBars(), ssVertical);
    EXPECT_EQ(bounds(form->btnClose), (std::vector<int>{312, 80, 75, 25}));
    EXPECT_EQ(form->btnClose->Caption(), "&Close");
    EXPECT_TRUE(form->btnClose->Default());
    EXPECT_TRUE(form->btnClose->Cancel());
    EXPECT_EQ(form->btnClose->ModalResult(), mrOk);
    EXPECT_EQ(bounds(form->btnEmail), (std::vector<int>{8, 80, 125, 25}));
    EXPECT_FALSE(form->btnEmail->Visible());
    EXPECT_EQ(bounds(form->cbAttachScreenshot), (std::vector<int>{8, 110, 250, 17}));
    EXPECT_FALSE(form->cbAttachScreenshot->Visible());
    EXPECT_FALSE(form->cbAttachScreenshot->Checked());
    EXPECT_EQ(bounds(form->btnGoWEB), (std::vector<int>{138, 80, 125, 25}));
    EXPECT_FALSE(form->btnGoWEB->Visible());
    EXPECT_EQ(form->btnClose->TabOrder(), 0);
    EXPECT_EQ(form->lblErrorText->TabOrder(), 1);
    EXPECT_EQ(form->cbAttachScreenshot->TabOrder(), 2);
    EXPECT_EQ(form->btnEmail->TabOrder(), 3);
    EXPECT_EQ(form->btnGoWEB->TabOrder(), 4);
}

// ---- Layouts ----------------------------------------------------------------------------------

TEST_F(TfrmJexLogErrorDialogTest, DefaultSettingsShowBothButtonsAndTheCheckBox) {
    const TLayout layout = ShowDialog("Order is locked");
    EXPECT_EQ(layout.Caption, "Error");
    EXPECT_TRUE(layout.IconLoaded);
    EXPECT_TRUE(layout.ImageLoaded);
    EXPECT_EQ(layout.CloseCaption, "&Close");
    EXPECT_EQ(layout.ClientHeight, 132);
    EXPECT_TRUE(layout.EmailVisible);
    EXPECT_EQ(layout.EmailCaption, "Email to author");
    EXPECT_TRUE(layout.CheckVisible);
    EXPECT_EQ(layout.CheckCaption, "to attach screenshot");
    EXPECT_TRUE(layout.WebVisible);
    EXPECT_EQ(layout.WebCaption, "Support homepage");
    EXPECT_EQ(layout.WebLeft, 138);
    EXPECT_EQ(layout.Text, "Order is locked");
    EXPECT_EQ(FLogger->ComponentCount(), 0);
}

TEST_F(TfrmJexLogErrorDialogTest, MailOptionWithoutEmailDeliveryShowsOnlyTheCheckBox) {
    FLogger->SendTo()->SetOptions({doScreenshot, doWeb});
    const TLayout layout = ShowDialog("x");
    EXPECT_FALSE(layout.EmailVisible);
    EXPECT_TRUE(layout.CheckVisible);
    EXPECT_EQ(layout.ClientHeight, 132);
    EXPECT_TRUE(layout.WebVisible);
    EXPECT_EQ(layout.WebLeft, 138);
}

TEST_F(TfrmJexLogErrorDialogTest, OnlyTheWebButtonMovesToTheLeftEdge) {
    FLogger->SetOptions({laShowSupportLink});
    const TLayout layout = ShowDialog("x");
    EXPECT_FALSE(layout.EmailVisible);
    EXPECT_EQ(layout.EmailCaption, "");
    EXPECT_FALSE(layout.CheckVisible);
    EXPECT_EQ(layout.ClientHeight, 110);
    EXPECT_TRUE(layout.WebVisible);
    EXPECT_EQ(layout.WebLeft, 8);
}

TEST_F(TfrmJexLogErrorDialogTest, WebButtonNeedsBothTheOptionAndWebDelivery) {
    FLogger->SendTo()->SetOptions({doEmail});
    TLayout layout = ShowDialog("x");
    EXPECT_TRUE(layout.EmailVisible);
    EXPECT_FALSE(layout.CheckVisible);
    EXPECT_EQ(layout.ClientHeight, 110);
    EXPECT_FALSE(layout.WebVisible);

    FLogger->SendTo()->SetOptions({doEmail, doWeb, doScreenshot});
    FLogger->SetOptions({laShowSendEMail});
    layout = ShowDialog("x");
    EXPECT_TRUE(layout.EmailVisible);
    EXPECT_FALSE(layout.WebVisible);

    FLogger->SetOptions({});
    layout = ShowDialog("x");
    EXPECT_FALSE(layout.EmailVisible);
    EXPECT_FALSE(layout.CheckVisible);
    EXPECT_FALSE(layout.WebVisible);
    EXPECT_EQ(layout.ClientHeight, 110);
}

TEST_F(TfrmJexLogErrorDialogTest, LongMessageScrollsInsteadOfGrowingTheForm) {
    const std::string longText(5000, 'x');
    const TLayout layout = ShowDialog(longText);
    EXPECT_EQ(layout.Text, longText);
    EXPECT_EQ(layout.ClientHeight, 132);
}

// ---- Delivery ---------------------------------------------------------------------------------

TEST_F(TfrmJexLogErrorDialogTest, CheckBoxStartsUntickedAndItsValueReachesTheMail) {
    FLogger->SendTo()->SetAttachScreenShot(true);
    TLayout layout = ShowDialog("x", [](TfrmJexLogErrorDialog& D) {
        THeadlessWidgetSet::Click(D.btnEmail); // not ticked: no screenshot
        THeadlessWidgetSet::Click(D.cbAttachScreenshot);
        THeadlessWidgetSet::Click(D.btnEmail); // ticked: with screenshot
    });
    EXPECT_FALSE(layout.CheckTicked);
    ASSERT_EQ(FMail.Calls().size(), 2u);
    EXPECT_TRUE(FMail.Calls()[0].Message.Attachments.empty());
    EXPECT_EQ(FMail.Calls()[1].Message.Attachments.size(), 1u);
    EXPECT_TRUE(FLogger->SendTo()->AttachScreenShot()) << "the setting is put back";
}

TEST_F(TfrmJexLogErrorDialogTest, HiddenCheckBoxNeverAsksForAScreenshot) {
    FLogger->SendTo()->SetOptions({doEmail, doWeb});
    ShowDialog("x", [](TfrmJexLogErrorDialog& D) {
        ASSERT_FALSE(D.cbAttachScreenshot->Visible());
        D.cbAttachScreenshot->SetChecked(true);
        THeadlessWidgetSet::Click(D.btnEmail);
    });
    ASSERT_EQ(FMail.Calls().size(), 1u);
    EXPECT_TRUE(FMail.Calls()[0].Message.Attachments.empty());
}

TEST_F(TfrmJexLogErrorDialogTest, WebButtonOpensTheSupportPageAndKeepsTheDialogOpen) {
    bool stillOpen = false;
    ShowDialog("x", [&](TfrmJexLogErrorDialog& D) {
        THeadlessWidgetSet::Click(D.btnGoWEB);
        stillOpen = D.ModalResult() == mrNone;
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(FShell.Opened(), (std::vector<std::string>{"https://example.com/support"}));
}

TEST_F(TfrmJexLogErrorDialogTest, ActivateMailPutsTheScreenshotSettingBackAlsoWhenSendingFails) {
    FLogger->SendTo()->SetAttachScreenShot(false);
    FLogger->ActivateMail(nullptr, true);
    ASSERT_EQ(FMail.Calls().size(), 1u);
    EXPECT_EQ(FMail.Calls()[0].Message.Attachments.size(), 1u);
    EXPECT_FALSE(FLogger->SendTo()->AttachScreenShot());

    FLogger->SendTo()->SetAttachScreenShot(true);
    FLogger->SendTo()->SetEMailBody("%d"); // a malformed template makes the send raise
    EXPECT_THROW(FLogger->ActivateMail(nullptr, false), EConvertError);
    EXPECT_TRUE(FLogger->SendTo()->AttachScreenShot());
    EXPECT_EQ(FMail.Calls().size(), 1u);
}

TEST_F(TfrmJexLogErrorDialogTest, ButtonHandlersThatRaiseAreShownAndTheDialogStaysUsable) {
    bool stillOpen = false;
    int clicks = 0;
    ShowDialog("x", [&](TfrmJexLogErrorDialog& D) {
        D.SetOnActivateWeb(TNotifyEvent::FromCallable([&](TObject*) {
            ++clicks;
            throw EInvalidOperation("web handler broke");
        }));
        D.SetOnActivateMail(TJexOnActivateMail::FromCallable([&](TObject*, bool) {
            ++clicks;
            throw EConvertError("mail handler broke");
        }));
        for (int round = 0; round < 2; ++round) {
            THeadlessWidgetSet::Click(D.btnGoWEB);
            THeadlessWidgetSet::Click(D.btnEmail);
        }
        stillOpen = D.ModalResult() == mrNone;
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(clicks, 4); // every click reached its handler: none was left disabled
    EXPECT_FALSE(FLogger->Busy());
    const auto boxes = Shown("MessageDlg");
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_NE(boxes[0].find("web handler broke"), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[1].find("mail handler broke"), std::string::npos) << boxes[1];
    // The next exception gets its own dialog: nothing of the last one is left busy.
    ShowDialog("y");
    EXPECT_EQ(Shown("ShowModal").size(), 2u);
}

TEST_F(TfrmJexLogErrorDialogTest, FailingMailFromTheDialogIsShownAndTheDialogStaysUsable) {
    FLogger->SendTo()->SetEMailBody("%d");
    bool stillOpen = false;
    ShowDialog("x", [&](TfrmJexLogErrorDialog& D) {
        THeadlessWidgetSet::Click(D.btnEmail);
        stillOpen = D.ModalResult() == mrNone;
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(FLogger->Busy());
    EXPECT_EQ(Shown("MessageDlg").size(), 1u);
    EXPECT_TRUE(FLogger->SendTo()->AttachScreenShot());
}
