// tests/host/widgetsets/qt/QtApplicationTest.cpp - exceptions escaping Qt's event handlers,
// slots and timers reach the application's handler (and the exception logger) once each and
// Qt's loop goes on; the host's messages and application events through Qt. Runs on Qt's
// offscreen platform: nothing here needs a real screen.
#include "host/widgetsets/qt/QtApplication.h"

#include "QtScreenTest.h"
#include "exceptions/LogError.h"
#include "host/core/ClassesThread.h"
#include "host/forms/Dialogs.h"
#include "host/forms/StdCtrls.h"
#include "platform/ProcessImage.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace host;
using namespace jex;
using namespace jex::test;

namespace {

class TOffscreenEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ::setenv("QT_QPA_PLATFORM", "offscreen", 1); }
};

[[maybe_unused]] ::testing::Environment* const OffscreenEnvironment =
    ::testing::AddGlobalTestEnvironment(new TOffscreenEnvironment);

int Occurrences(const std::string& AText, const std::string& AWhat) {
    int count = 0;
    for (auto at = AText.find(AWhat); at != std::string::npos; at = AText.find(AWhat, at + 1))
        ++count;
    return count;
}

// A widget whose first paint fails.
class TFailingPaint : public QWidget {
public:
    int Paints = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        if (Paints++ == 0)
            throw std::runtime_error("the chart cannot be drawn");
    }
};

[[gnu::noinline]] void ThrowFromHere() {
    throw EInvalidOperation("thrown here");
}

class TQtExceptionTest : public TQtApplicationTest {
protected:
    void SetUp() override {
        TQtApplicationTest::SetUp();
        FLogger = Create<TJexExceptionLog>(Application);
        FLogger->SetLogFile(FTemp.File("app.log"));
        FLogger->MapFile().SetMapFileName(FTemp.File("absent.map"));
        FLogger->SetErrorDialog(edNone);
        FLogger->SetActive(true);
    }

    std::string LogText() const {
        return host::FileExists(FTemp.File("app.log")) ? ReadFileBytes(FTemp.File("app.log"))
                                                       : std::string();
    }

    // True once AWhat is in the log, after which a queued call still runs: the loop went on.
    bool LoggedAndLoopGoesOn(const std::string& AWhat) {
        if (!WaitUntil([&] { return Occurrences(LogText(), AWhat) > 0; }))
            return false;
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        return WaitUntil([&] { return ran; });
    }

    TempDir FTemp;
    TJexExceptionLog* FLogger = nullptr;
};

TEST_F(TQtExceptionTest, ExceptionFromASlotIsLoggedOnceAndTheLoopGoesOn) {
    QPushButton button;
    QObject::connect(&button, &QPushButton::clicked,
                     [] { throw EInvalidOperation("Order 4711 is locked"); });
    // Queued, so the click arrives through Qt's event delivery as a person's does.
    QMetaObject::invokeMethod(&button, &QPushButton::click, Qt::QueuedConnection);
    EXPECT_TRUE(LoggedAndLoopGoesOn("Order 4711 is locked"));
    EXPECT_EQ(Occurrences(LogText(), "Order 4711 is locked"), 1);
}

TEST_F(TQtExceptionTest, ExceptionFromATimerIsLoggedOnceAndTheTimerGoesOn) {
    int fired = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++fired == 1)
            throw std::out_of_range("vector::_M_range_check: __n (which is 3) >= this->size()");
    });
    timer.start();
    EXPECT_TRUE(LoggedAndLoopGoesOn("__n (which is 3)"));
    EXPECT_TRUE(WaitUntil([&] { return fired >= 3; })) << "the timer keeps firing";
    EXPECT_EQ(Occurrences(LogText(), "__n (which is 3)"), 1);
}

TEST_F(TQtExceptionTest, ExceptionFromAPaintEventIsLoggedOnceAndTheWidgetPaintsAgain) {
    TFailingPaint widget;
    widget.resize(100, 80);
    widget.show();
    EXPECT_TRUE(LoggedAndLoopGoesOn("the chart cannot be drawn"));
    widget.update();
    EXPECT_TRUE(WaitUntil([&] { return widget.Paints >= 2; }));
    EXPECT_EQ(Occurrences(LogText(), "the chart cannot be drawn"), 1);
}

TEST_F(TQtExceptionTest, TheExceptionsClassIsLogged) {
    FLogger->SetFormats(FLogger->Formats() + TJexLFormats{lfExceptionClassName});
    QTimer::singleShot(0,
                       [] { throw EConvertError("'12,5x' is not a valid floating point value"); });
    EXPECT_TRUE(LoggedAndLoopGoesOn("is not a valid floating point value"));
    EXPECT_NE(LogText().find("EConvertError"), std::string::npos) << LogText();
}

TEST_F(TQtApplicationTest, TheThrowSiteIsKnownToTheHandler) {
    const void* site = nullptr;
    Application->SetOnException(
        TExceptionEvent::FromCallable([&](TObject*, Exception*) { site = ExceptAddr(); }));
    QTimer::singleShot(0, &ThrowFromHere);
    EXPECT_TRUE(WaitUntil([&] { return site != nullptr; }));
    // In the map's address model, as for an exception of the host's own loop.
    const auto at = reinterpret_cast<std::uintptr_t>(site);
    const auto code = reinterpret_cast<std::uintptr_t>(&ThrowFromHere);
    const platform::TAddressRange range = platform::FunctionRangeOf(code);
    EXPECT_GE(at, platform::ToMapAddress(range.Begin));
    EXPECT_LE(at, platform::ToMapAddress(range.End - 1)) << "in the function that threw";
}

TEST_F(TQtApplicationTest, ExceptionWithoutAHostApplicationIsReportedAndTheLoopGoesOn) {
    DoneApplication();
    auto* app = dynamic_cast<TQtApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    const int before = app->CaughtCount();
    bool after = false;
    QTimer::singleShot(0, [] { throw std::logic_error("no application"); });
    QTimer::singleShot(1, [&] { after = true; });
    EXPECT_TRUE(WaitUntil([&] { return after; }));
    EXPECT_EQ(app->CaughtCount(), before + 1);
    // TearDown's DoneApplication has nothing left to do.
}

// ---- the host's loop on Qt's --------------------------------------------------------------------

TEST_F(TQtApplicationTest, PostedMessagesAreServedWhileQtsOwnLoopRuns) {
    constexpr std::uint32_t message = WM_USER + 7;
    int seen = 0;
    Application->HookMainWindow(TWindowHook::FromCallable([&](TMessage& AMsg) {
        if (AMsg.Msg == message)
            ++seen;
        return false;
    }));
    Application->PostMessage(Application->Handle(), message);
    // Only Qt's loop runs here, as in a program that calls QApplication::exec.
    QEventLoop loop;
    QTimer::singleShot(0, [] { Application->PostMessage(Application->Handle(), message); });
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(seen, 2);
}

TEST_F(TQtApplicationTest, RunEndsOnTerminateFromAWorkerThread) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(0, 0, 100, 100);
    std::thread worker;
    form->SetOnShow(TNotifyEvent::FromCallable(
        [&](TObject*) { worker = std::thread([] { Application->Terminate(); }); }));
    Application->Run();
    worker.join();
    EXPECT_TRUE(Application->Terminated());
}

TEST_F(TQtApplicationTest, TimersFireOnTheMainThreadUntilDestroyed) {
    int fired = 0;
    const THandle timer = WS().CreateTimer(5, TTimerProc::FromCallable([&] { ++fired; }));
    EXPECT_TRUE(WaitUntil([&] { return fired >= 2; }));
    WS().DestroyTimer(timer);
    const int stopped = fired;
    bool later = false;
    QTimer::singleShot(30, [&] { later = true; });
    EXPECT_TRUE(WaitUntil([&] { return later; }));
    EXPECT_EQ(fired, stopped);
}

TEST_F(TQtApplicationTest, ActivationAndSettingsChangesBecomeTheApplicationsMessages) {
    std::vector<std::uint32_t> seen;
    Application->HookMainWindow(TWindowHook::FromCallable([&](TMessage& AMsg) {
        seen.push_back(AMsg.Msg);
        return false;
    }));
    int deactivated = 0;
    Application->SetOnDeactivate(TNotifyEvent::FromCallable([&](TObject*) { ++deactivated; }));
    QEvent deactivate(QEvent::ApplicationDeactivate);
    QCoreApplication::sendEvent(qApp, &deactivate);
    QEvent palette(QEvent::ApplicationPaletteChange);
    QCoreApplication::sendEvent(qApp, &palette);
    EXPECT_TRUE(WaitUntil([&] { return deactivated == 1; }));
    Application->ProcessMessages();
    EXPECT_NE(std::find(seen.begin(), seen.end(), WM_ACTIVATEAPP), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), WM_SETTINGCHANGE), seen.end());
    EXPECT_FALSE(Application->Active());
}

TEST_F(TQtApplicationTest, ErrorIconComesFromTheStyleAndScreenSizeFromQt) {
    TIcon icon;
    WS().LoadErrorIcon(icon);
    ASSERT_EQ(icon.Width(), 32);
    ASSERT_EQ(icon.Height(), 32);
    int red = 0;
    int clear = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const TColor c = icon.Image().Pixel(x, y);
            if (!icon.Opaque(x, y))
                ++clear;
            else if ((c & 0xFF) > 150 && (c >> 8 & 0xFF) < 110)
                ++red;
        }
    EXPECT_GT(red, 100);
    EXPECT_GT(clear, 0) << "the corners are transparent";
    EXPECT_GT(Screen->Width(), 0);
    EXPECT_GT(Screen->Height(), 0);
}

} // namespace

// ---- input and dialogs ----------------------------------------------------------------------

TEST_F(TQtApplicationTest, MessageDlgAnswersWithThePressedButton) {
    TMessageDlgRequest request;
    request.Caption = "Orders";
    request.Text = "Save the changes?";
    request.DlgType = mtConfirmation;
    request.Buttons = {mbYes, mbNo, mbCancel};
    request.DefaultResult = mrYes;
    request.CancelResult = mrCancel;
    TModalResult result = mrNone;
    QString shown;
    const bool done =
        RunWithSteps([&] { result = WS().MessageDlg(request); },
                     [&] {
                         auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                         if (box == nullptr)
                             return false;
                         shown = box->text();
                         box->button(QMessageBox::No)->click();
                         return true;
                     });
    EXPECT_TRUE(done);
    EXPECT_EQ(result, mrNo);
    EXPECT_EQ(shown.toStdString(), "Save the changes?");
}

TEST_F(TQtApplicationTest, EscapeOnAModalFormPressesItsCancelButton) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(10, 10, 200, 100);
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    edit->SetBounds(10, 10, 100, 21);
    auto* cancel = Create<TButton>(form);
    cancel->SetParent(form);
    cancel->SetBounds(10, 50, 75, 25);
    cancel->SetCancel(true);
    cancel->SetModalResult(mrCancel);
    TModalResult result = mrNone;
    const bool done =
        RunWithSteps([&] { result = form->ShowModal(); },
                     [&] {
                         QWidget* target = WS().Widget(edit);
                         if (target == nullptr || !target->isVisible())
                             return false;
                         QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                         QCoreApplication::sendEvent(target, &key);
                         return true;
                     });
    EXPECT_TRUE(done);
    EXPECT_EQ(result, mrCancel);
}

TEST_F(TQtApplicationTest, MinimisingTheMainFormMinimisesTheApplication) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(10, 10, 200, 100);
    int minimized = 0;
    int restored = 0;
    Application->SetOnMinimize(TNotifyEvent::FromCallable([&](TObject*) { ++minimized; }));
    Application->SetOnRestore(TNotifyEvent::FromCallable([&](TObject*) { ++restored; }));
    form->Show();
    QWidget* window = WS().Widget(form);
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(WaitUntil([&] { return Application->Minimized(); }));
    window->setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(WaitUntil([&] { return !Application->Minimized(); }));
    EXPECT_EQ(minimized, 1);
    EXPECT_EQ(restored, 1);
}

TEST_F(TQtApplicationTest, PointerOnAControlWithAHintShowsItAfterTheHintPause) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(10, 10, 200, 100);
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    edit->SetBounds(10, 10, 100, 21);
    edit->SetHint("Customer|The customer's full name");
    edit->SetShowHint(true);
    Application->SetHintPause(10);
    form->Show();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(20, 20));
    QCoreApplication::sendEvent(WS().Widget(edit), &enter);
    // Qt's own loop runs here; its idle moments are the application's too.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QToolTip::isVisible())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text().toStdString(), "Customer");
    EXPECT_EQ(Application->Hint(), "The customer's full name");
}

TEST_F(TQtApplicationTest, TypingIntoAnEditAndTickingABoxReachTheControls) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(10, 10, 200, 100);
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    edit->SetBounds(10, 10, 100, 21);
    auto* box = Create<TCheckBox>(form);
    box->SetParent(form);
    box->SetBounds(10, 40, 100, 17);
    int clicks = 0;
    box->SetOnClick(TNotifyEvent::FromCallable([&](TObject*) { ++clicks; }));
    form->Show();
    auto* line = qobject_cast<QLineEdit*>(WS().Widget(edit));
    ASSERT_NE(line, nullptr);
    line->setFocus();
    for (const char c : std::string("Ann")) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
        QCoreApplication::sendEvent(line, &key);
    }
    EXPECT_EQ(edit->Text(), "Ann");
    qobject_cast<QCheckBox*>(WS().Widget(box))->click();
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks, 1);
    // And back: the control's state shows in the widget.
    edit->SetText("Berger");
    EXPECT_EQ(line->text().toStdString(), "Berger");
    box->SetChecked(false);
    EXPECT_FALSE(qobject_cast<QCheckBox*>(WS().Widget(box))->isChecked());
}

TEST_F(TQtApplicationTest, SynchronizeCompletesWhileAMessageBoxOpenedByAPostedMessageIsUp) {
    // A plain Qt loop serves the message that opens the box; the worker's call must not wait
    // for the box to close.
    constexpr std::uint32_t message = WM_USER + 9;
    std::atomic<bool> synchronized{false};
    std::thread worker;
    bool closedAfterSync = false;
    Application->HookMainWindow(TWindowHook::FromCallable([&](TMessage& AMsg) {
        if (AMsg.Msg != message)
            return false;
        worker = std::thread([&] {
            TThread::Synchronize(nullptr, TThreadMethod::FromCallable([] {}));
            synchronized = true;
        });
        TMessageDlgRequest request;
        request.Text = "Waiting";
        request.Buttons = {mbOK};
        request.DefaultResult = mrOk;
        RunWithSteps([&] { WS().MessageDlg(request); },
                     [&] {
                         auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                         if (box == nullptr || !synchronized)
                             return false;
                         closedAfterSync = true;
                         box->button(QMessageBox::Ok)->click();
                         return true;
                     });
        return true;
    }));
    QEventLoop loop;
    QTimer::singleShot(0, [] { Application->PostMessage(Application->Handle(), message); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (closedAfterSync)
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(WaitUntil([&] { return synchronized.load(); }));
    if (worker.joinable())
        worker.join();
    EXPECT_TRUE(closedAfterSync);
}

// ---- combo boxes, memos, keys and message boxes as Qt delivers them -------------------------

TEST_F(TQtApplicationTest, ComboBoxShowsItsItemsAndAPickInTheListSelectsTheItem) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(10, 10, 200, 100);
    auto* combo = Create<TComboBox>(form);
    combo->SetParent(form);
    combo->Items()->Add("red");
    combo->Items()->Add("green");
    int changes = 0;
    combo->SetOnChange(TNotifyEvent::FromCallable([&](TObject*) { ++changes; }));
    form->Show();
    auto* list = qobject_cast<QComboBox*>(WS().Widget(combo));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(1).toStdString(), "green");
    Q_EMIT list->activated(1); // what picking the second entry sends
    EXPECT_EQ(combo->ItemIndex(), 1);
    EXPECT_EQ(combo->Text(), "green");
    EXPECT_EQ(changes, 1);

    // Items added later and an editable style show in the widget; so does typed-in text.
    combo->SetStyle(csDropDown);
    combo->Items()->Add("blue");
    EXPECT_EQ(list->count(), 3);
    EXPECT_TRUE(list->isEditable());
    combo->SetText("teal");
    EXPECT_EQ(list->currentText().toStdString(), "teal");
}

TEST_F(TQtApplicationTest, MemoTakesTheWidgetsLinesWithTheFrameworksLineBreaks) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(10, 10, 200, 100);
    auto* memo = Create<TMemo>(form);
    memo->SetParent(form);
    form->Show();
    auto* text = qobject_cast<QPlainTextEdit*>(WS().Widget(memo));
    ASSERT_NE(text, nullptr);
    text->setPlainText("first\nsecond");
    EXPECT_EQ(memo->Text(), "first\r\nsecond");
    ASSERT_EQ(memo->Lines()->Count(), 2);
    EXPECT_EQ(memo->Lines()->Strings(1), "second");
}

TEST_F(TQtApplicationTest, DialogKeysReachOnKeyDownWithTheirModifiers) {
    TForm* form = Application->CreateForm<TForm>();
    form->SetBounds(10, 10, 200, 100);
    auto* edit = Create<TEdit>(form);
    edit->SetParent(form);
    std::vector<std::pair<std::uint16_t, TShiftState>> keys;
    edit->SetOnKeyDown(
        TKeyEvent::FromCallable([&](TObject*, std::uint16_t& AKey, TShiftState AShift) {
            keys.emplace_back(AKey, AShift);
            AKey = 0; // used here
        }));
    form->Show();
    QWidget* line = WS().Widget(edit);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return,
                    Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier);
    QCoreApplication::sendEvent(line, &enter);
    QKeyEvent help(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(line, &help);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].first, VK_RETURN);
    EXPECT_EQ(keys[0].second, (TShiftState{ssShift, ssAlt, ssCtrl}));
    EXPECT_EQ(keys[1].first, VK_F1);
    EXPECT_EQ(keys[1].second, TShiftState{});
}

TEST_F(TQtApplicationTest, MessageBoxesShowTheIconOfTheirKindAndAnswerWithTheButtonPressed) {
    const struct {
        TMsgDlgType Type;
        QMessageBox::Icon Icon;
    } kinds[] = {{mtWarning, QMessageBox::Warning},
                 {mtError, QMessageBox::Critical},
                 {mtInformation, QMessageBox::Information},
                 {mtConfirmation, QMessageBox::Question},
                 {mtCustom, QMessageBox::NoIcon}};

    for (const auto& kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind.Type));
        const TMessageDlgRequest request = PrepareMessageDlg("Go on?", kind.Type, mbYesNoCancel);
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        TModalResult result = mrNone;
        EXPECT_TRUE(RunWithSteps([&] { result = WS().MessageDlg(request); },
                                 [&] {
                                     auto* box = qobject_cast<QMessageBox*>(
                                         QApplication::activeModalWidget());
                                     if (box == nullptr)
                                         return false;
                                     icon = box->icon();
                                     box->button(QMessageBox::No)->click();
                                     return true;
                                 }));
        EXPECT_EQ(icon, kind.Icon);
        EXPECT_EQ(result, mrNo);
    }

    // A request without buttons still gets one to close it; a box closed without a button
    // answers the request's cancel result.
    TMessageDlgRequest bare;
    bare.Text = "Done";
    bare.CancelResult = mrAbort;
    int buttons = 0;
    TModalResult result = mrNone;
    EXPECT_TRUE(RunWithSteps([&] { result = WS().MessageDlg(bare); },
                             [&] {
                                 auto* box =
                                     qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                                 if (box == nullptr)
                                     return false;
                                 buttons = static_cast<int>(box->buttons().size());
                                 box->done(0);
                                 return true;
                             }));
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(result, mrAbort);
}
