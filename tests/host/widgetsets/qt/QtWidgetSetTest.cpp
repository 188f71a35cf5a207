// tests/host/widgetsets/qt/QtWidgetSetTest.cpp - forms as real windows on a private X display:
// the extended error dialog as a person sees it, its buttons clicked with real input, the
// window manager's close, validation markers, and a worker's Synchronize during a modal run.
#include "QtScreenTest.h"
#include "checks/JexLChecks.h"
#include "exceptions/LogDlg.h"
#include "exceptions/LogError.h"
#include "host/core/ClassesThread.h"
#include "host/forms/ExtCtrls.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/qt/QtImages.h"
#include "tests/support/FakeTools.h"
#include "tests/support/MessageLoop.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDisplay.h"

#include <QWidget>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

using namespace host;
using namespace jex;
using namespace jex::test;

namespace {

TVirtualDisplay* Display = nullptr;

// One Xvfb for the whole test program, started before Qt connects to a display.
class TDisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Display = new TVirtualDisplay();
        ASSERT_TRUE(Display->Ok()) << Display->Error();
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
};

[[maybe_unused]] ::testing::Environment* const DisplayEnvironment =
    ::testing::AddGlobalTestEnvironment(new TDisplayEnvironment);

QPoint Centre(const QRect& ARect) {
    return ARect.center();
}

bool IsFace(QRgb APixel) {
    const QColor face = ToQColor(clBtnFace);
    return qRed(APixel) == face.red() && qGreen(APixel) == face.green() &&
           qBlue(APixel) == face.blue();
}

bool IsBlack(QRgb APixel) {
    return qRed(APixel) == 0 && qGreen(APixel) == 0 && qBlue(APixel) == 0;
}

class TQtErrorDialogTest : public TQtApplicationTest {
protected:
    void SetUp() override {
        TQtApplicationTest::SetUp();
        LogDlgInitialization();
        FForm = Application->CreateForm<TForm>();
        FForm->SetName("frmOrders");
        FLogger = Create<TJexExceptionLog>(FForm);
        FLogger->SetLogFile(FTemp.File("app.log"));
        FLogger->MapFile().SetMapFileName(FTemp.File("absent.map"));
        FLogger->SetFormats({});
        FLogger->SendTo()->SetEMail("support@example.com");
        FLogger->SendTo()->SetWWW("https://example.com/support");
        FLogger->SendTo()->SetOptions({doEmail, doWeb, doScreenshot});
        FLogger->SetActive(true);
    }

    void TearDown() override {
        TQtApplicationTest::TearDown();
        LogDlgFinalization();
    }

    // The error dialog once it is up and painted (its icon shows on the screen).
    TfrmJexLogErrorDialog* PaintedDialog() {
        auto* dialog = dynamic_cast<TfrmJexLogErrorDialog*>(Screen->ActiveCustomForm());
        if (dialog == nullptr || WS().Widget(dialog) == nullptr ||
            !WS().Widget(dialog)->isVisible())
            return nullptr;
        const QImage screen = GrabScreen();
        return CountPixels(screen, ScreenRect(dialog, dialog->imgError), IsRed) > 40 ? dialog
                                                                                     : nullptr;
    }

    static void Raise() {
        RaiseThroughLoop([] { throw EInvalidOperation("Order 4711 is locked by another user"); });
    }

    TempDir FTemp;
    TForm* FForm = nullptr;
    TJexExceptionLog* FLogger = nullptr;
};

TEST_F(TQtErrorDialogTest, DialogOfARealExceptionShowsIconTextAndButtonsWhereTheFormPutsThem) {
    QImage shot;
    QRect window, icon, memo, close, email, web, check, gap;
    const bool done = RunWithSteps(Raise, [&] {
        TfrmJexLogErrorDialog* dialog = PaintedDialog();
        if (dialog == nullptr)
            return false;
        if (shot.isNull()) {
            shot = GrabScreen();
            window = ScreenRect(dialog, dialog);
            icon = ScreenRect(dialog, dialog->imgError);
            memo = ScreenRect(dialog, dialog->lblErrorText);
            close = ScreenRect(dialog, dialog->btnClose);
            email = ScreenRect(dialog, dialog->btnEmail);
            web = ScreenRect(dialog, dialog->btnGoWEB);
            check = ScreenRect(dialog, dialog->cbAttachScreenshot);
            // Between the web and the close button the form shows nothing but its face.
            gap = QRect(web.right() + 8, close.top() + 2, close.left() - web.right() - 16,
                        close.height() - 4);
            EXPECT_TRUE(Display->Click(Centre(close).x(), Centre(close).y()));
        }
        return true;
    });
    ASSERT_TRUE(done);
    SaveArtefact(shot.copy(window.adjusted(-10, -10, 10, 10)), "qt-error-dialog");

    EXPECT_EQ(window.size(), QSize(394, 132)) << "grown for the screenshot check box";
    EXPECT_GT(CountPixels(shot, icon, IsRed), 100) << "the style's error icon";
    EXPECT_GT(CountPixels(shot, memo, IsDark), 60) << "the message in the memo";
    EXPECT_EQ(CountPixels(shot, memo, [](QRgb P) { return !IsFace(P) && !IsDark(P); }) <
                  CountPixels(shot, memo, IsFace),
              true)
        << "the memo takes the form's colour";
    for (const QRect& button : {close, email, web})
        EXPECT_GT(CountPixels(shot, button.adjusted(6, 6, -6, -6), IsDark), 15)
            << "a caption in the button at " << button.x() << "," << button.y();
    EXPECT_EQ(CountPixels(shot, gap, [](QRgb P) { return !IsFace(P); }), 0);
    EXPECT_GT(CountPixels(shot, check, IsDark), 15) << "the check box and its caption";
    // The last row of the form is its face, the row below the black root window.
    EXPECT_EQ(CountPixels(shot, QRect(window.left() + 2, window.bottom(), 40, 1), IsFace), 40);
    EXPECT_EQ(CountPixels(shot, QRect(window.left() + 2, window.bottom() + 1, 40, 1), IsBlack), 40);
}

TEST_F(TQtErrorDialogTest, ClicksReachTheMailAndWebPathsAndWindowManagerCloseEndsTheDialog) {
    std::optional<FakeTools> tools; // after Qt connected: it clears DISPLAY for the child tools
    tools.emplace();

    enum { clickMail, mailSent, clickWeb, webOpened, close } phase = clickMail;

    bool stayedOpen = false;
    const bool done = RunWithSteps(Raise, [&] {
        TfrmJexLogErrorDialog* dialog = PaintedDialog();
        if (dialog == nullptr)
            return false;
        const auto click = [&](const TControl* AButton) {
            const QPoint at = Centre(ScreenRect(dialog, AButton));
            EXPECT_TRUE(Display->Click(at.x(), at.y()));
        };
        switch (phase) {
        case clickMail:
            click(dialog->btnEmail);
            phase = mailSent;
            break;
        case mailSent:
            if (tools->Ran("xdg-email"))
                phase = clickWeb;
            break;
        case clickWeb:
            click(dialog->btnGoWEB);
            phase = webOpened;
            break;
        case webOpened:
            if (tools->Ran("xdg-open"))
                phase = close;
            break;
        case close:
            stayedOpen = dialog->ModalResult() == mrNone;
            EXPECT_TRUE(Display->CloseWindow(WS().Widget(dialog)->winId()));
            return true;
        }
        return false;
    });
    ASSERT_TRUE(done);
    EXPECT_TRUE(stayedOpen) << "mail and web keep the dialog open";
    EXPECT_NE(tools->Args("xdg-email"), std::vector<std::string>{});
    EXPECT_EQ(tools->Args("xdg-open"), (std::vector<std::string>{"https://example.com/support"}));
    EXPECT_FALSE(FLogger->Busy());

    // The application goes on: the next exception shows the dialog again.
    tools.reset();
    const bool again = RunWithSteps(Raise, [&] {
        TfrmJexLogErrorDialog* dialog = PaintedDialog();
        if (dialog == nullptr)
            return false;
        dialog->btnClose->Click();
        return true;
    });
    EXPECT_TRUE(again);
}

// ---- validation markers ---------------------------------------------------------------------

TEST_F(TQtApplicationTest, MarkerAppearsRightOfTheFailedEditAndGoesWhenTheRulePasses) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(100, 100, 300, 120);
    form->SetCaption("Order");
    auto* customer = Create<TEdit>(form);
    customer->SetName("edtCustomer");
    customer->SetParent(form);
    customer->SetBounds(20, 20, 150, 21);
    TJexLCheckProcessor* checks = Create<TJexLCheckProcessor>(form);
    (new TJexLCheckProviderEdit(checks->CheckProviders()))->SetCheckControl(customer);
    form->Show();
    ASSERT_TRUE(WaitUntil([&] { return WS().Widget(form)->isVisible(); }));

    EXPECT_FALSE(checks->Execute());
    TJexLCheckProvider* rule = checks->CheckProviders()->GetCheckProvider(0);
    const TImage* marker = rule->LinkedImage();
    ASSERT_NE(marker, nullptr);
    EXPECT_GE(marker->Left(), customer->Left() + customer->Width());
    const QRect markerRect = ScreenRect(form, marker);
    const auto isMagenta = [](QRgb P) { return qRed(P) > 200 && qGreen(P) < 60 && qBlue(P) > 200; };
    QImage shot;
    EXPECT_TRUE(WaitUntil([&] {
        shot = GrabScreen();
        return CountPixels(shot, markerRect, IsRed) > 50;
    })) << "the marker is drawn";
    SaveArtefact(shot.copy(ScreenRect(form, form).adjusted(-10, -10, 10, 10)), "qt-check-marker");
    EXPECT_EQ(CountPixels(shot, markerRect, isMagenta), 0) << "its ground is transparent";
    EXPECT_GT(CountPixels(shot, markerRect, IsFace), 20) << "the form shows through";

    customer->SetText("Ann Berger");
    EXPECT_TRUE(checks->Execute());
    EXPECT_TRUE(WaitUntil([&] {
        return CountPixels(GrabScreen(), markerRect, IsFace) ==
               markerRect.width() * markerRect.height();
    })) << "the marker is gone";
}

TEST_F(TQtApplicationTest, PanelDrawsItsCaptionAndTheLabelsAndControlsOnIt) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(200, 200, 300, 160);
    auto* panel = Create<TPanel>(form);
    panel->SetParent(form);
    panel->SetBounds(10, 10, 280, 120);
    panel->SetCaption("Delivery");
    auto* street = Create<TLabel>(panel);
    street->SetParent(panel);
    street->SetCaption("Street:");
    street->SetBounds(8, 10, 60, 17);
    auto* edit = Create<TEdit>(panel);
    edit->SetParent(panel);
    edit->SetBounds(80, 6, 150, 21);
    form->Show();
    const QRect window = ScreenRect(form, form);
    const QRect panelRect(window.left() + 10, window.top() + 10, 280, 120);
    const QRect caption = panelRect.adjusted(100, 50, -100, -50);
    const QRect label(panelRect.left() + 8, panelRect.top() + 10, 60, 17);
    QImage shot;
    EXPECT_TRUE(WaitUntil([&] {
        shot = GrabScreen();
        return IsFace(shot.pixel(window.left() + 2, window.top() + 2)) &&
               CountPixels(shot, caption, IsDark) > 10 && CountPixels(shot, label, IsDark) > 10;
    })) << "the caption and the label on the panel are drawn";
    SaveArtefact(shot.copy(window.adjusted(-10, -10, 10, 10)), "qt-panel");
    EXPECT_EQ(WS().Widget(edit)->mapToGlobal(QPoint(0, 0)),
              QPoint(panelRect.left() + 80, panelRect.top() + 6))
        << "the edit lies on the panel";
    // The raised bevel: a light top edge, a dark bottom edge.
    const QRgb top = shot.pixel(panelRect.left() + 50, panelRect.top());
    const QRgb bottom = shot.pixel(panelRect.left() + 50, panelRect.bottom());
    EXPECT_GT(qGray(top), qGray(bottom));
}

// ---- the loop ---------------------------------------------------------------------------------

TEST_F(TQtApplicationTest, WorkersSynchronizeCompletesWhileAModalFormIsUp) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(50, 50, 200, 100);
    std::atomic<bool> started{false};
    bool ranOnMain = false;
    const auto mainThread = std::this_thread::get_id();
    std::thread worker;
    std::atomic<bool> returned{false};
    const bool done = RunWithSteps(
        [&] { form->ShowModal(); },
        [&] {
            if (!started.exchange(true))
                worker = std::thread([&] {
                    TThread::Synchronize(nullptr, TThreadMethod::FromCallable([&] {
                                             ranOnMain = std::this_thread::get_id() == mainThread;
                                         }));
                    returned = true;
                });
            if (!returned)
                return false;
            form->SetModalResult(mrOk);
            return true;
        });
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_TRUE(ranOnMain);
}

TEST_F(TQtApplicationTest, FormsAreWindowsAtTheirStoredPlaceAndFocusReachesTheScreen) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(120, 140, 320, 200);
    form->SetCaption("Customer");
    auto* name = Create<TEdit>(form);
    name->SetParent(form);
    name->SetBounds(10, 10, 200, 21);
    auto* city = Create<TEdit>(form);
    city->SetParent(form);
    city->SetBounds(10, 40, 200, 21);
    int changes = 0;
    Screen->SetOnActiveControlChange(TNotifyEvent::FromCallable([&](TObject*) { ++changes; }));
    form->Show();
    QWidget* window = WS().Widget(form);
    ASSERT_TRUE(WaitUntil([&] { return window->isVisible() && window->isActiveWindow(); }));
    EXPECT_EQ(window->windowTitle().toStdString(), "Customer");
    EXPECT_EQ(window->mapToGlobal(QPoint(0, 0)), QPoint(120, 140));
    EXPECT_EQ(window->size(), QSize(320, 200));

    // A click into the second edit moves Qt's focus, and the screen follows.
    const QRect cityRect = ScreenRect(form, city);
    ASSERT_TRUE(Display->Click(Centre(cityRect).x(), Centre(cityRect).y()));
    EXPECT_TRUE(WaitUntil([&] { return Screen->ActiveControl() == city; }));
    EXPECT_EQ(Screen->ActiveForm(), form);
    EXPECT_GE(changes, 1);
    SaveArtefact(GrabScreen().copy(ScreenRect(form, form).adjusted(-10, -10, 10, 10)), "qt-form");
}

TEST_F(TQtApplicationTest, ScreenCopyShowsAFormOfItsOwnColourWhereItStands) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(60, 70, 160, 120);
    form->SetColor(clRed);
    form->Show();
    QWidget* window = WS().Widget(form);
    ASSERT_TRUE(WaitUntil([&] { return window->isVisible() && window->isActiveWindow(); }));
    const QPoint centre = Centre(ScreenRect(form, form));
    TBitmap copy;
    // The window manager may take a moment to draw the window.
    ASSERT_TRUE(WaitUntil([&] {
        return WS().CaptureScreen(copy) && copy.Pixel(centre.x(), centre.y()) == clRed;
    })) << "pixel "
        << std::hex << copy.Pixel(centre.x(), centre.y());
    EXPECT_EQ(copy.Width(), WS().ScreenSize().Width);
    EXPECT_EQ(copy.Height(), WS().ScreenSize().Height);
}

} // namespace
