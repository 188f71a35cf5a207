// host/widgetsets/qt/QtWidgetSet.cpp - controls as Qt widgets, Qt's input as the framework's
// messages, the host's queue served from Qt's event loop.
#include "host/widgetsets/qt/QtWidgetSet.h"

#include "host/forms/ExtCtrls.h"
#include "host/forms/Forms.h"
#include "host/forms/StdCtrls.h"
#include "host/widgetsets/qt/QtApplication.h"
#include "host/widgetsets/qt/QtImages.h"
#include "platform/PlatformServices.h"
#include "platform/Screen.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QWidget>
#include <cstdlib>
#include <utility>

namespace host {

namespace {

QString ToQString(const std::string& AText) {
    return QString::fromUtf8(AText.data(), static_cast<qsizetype>(AText.size()));
}

std::string FromQString(const QString& AText) {
    return AText.toUtf8().toStdString();
}

// The memo's lines are joined by CRLF; Qt's by LF.
QString MemoText(const std::string& AText) {
    QString text = ToQString(AText);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string MemoTextFromQt(const QString& AText) {
    QString text = AText;
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return FromQString(text);
}

// The framework's virtual key of the Qt keys that forms handle themselves; 0 for the rest.
std::uint16_t DialogVirtualKey(int AKey) {
    switch (AKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_F1:
        return VK_F1;
    default:
        return 0;
    }
}

TShiftState ShiftOf(Qt::KeyboardModifiers AModifiers) {
    TShiftState shift;
    if (AModifiers & Qt::ShiftModifier)
        shift.Include(ssShift);
    if (AModifiers & Qt::AltModifier)
        shift.Include(ssAlt);
    if (AModifiers & Qt::ControlModifier)
        shift.Include(ssCtrl);
    return shift;
}

// The window of a form or of any other container control: draws the control's colour and the
// labels and images lying on it, and tells the pointer's moves over them.
class TContainerWidget : public QWidget {
public:
    TContainerWidget(TQtWidgetSet& AOwner, TWinControl* AControl, QWidget* AParent)
        : QWidget(AParent)
        , FOwner(AOwner)
        , FControl(AControl) {
        setMouseTracking(true);
        setAutoFillBackground(false);
    }

    void Forget() { FControl = nullptr; }

protected:
    void paintEvent(QPaintEvent*) override {
        if (FControl == nullptr)
            return;
        QPainter painter(this);
        painter.fillRect(rect(), ToQColor(FControl->Color()));
        if (auto* panel = dynamic_cast<TPanel*>(FControl))
            PaintPanel(painter, *panel);
        for (int i = 0; i < FControl->ControlCount(); ++i) {
            TControl* child = FControl->Controls(i);
            if (dynamic_cast<TWinControl*>(child) != nullptr || !child->Visible())
                continue;
            if (auto* image = dynamic_cast<TImage*>(child))
                PaintImage(painter, *image);
            else if (auto* label = dynamic_cast<TLabel*>(child))
                PaintLabel(painter, *label);
        }
    }

    void mouseMoveEvent(QMouseEvent* AEvent) override {
        if (FControl == nullptr)
            return;
        const QPoint at = AEvent->position().toPoint();
        TControl* target = FControl;
        for (int i = FControl->ControlCount() - 1; i >= 0; --i) {
            TControl* child = FControl->Controls(i);
            if (dynamic_cast<TWinControl*>(child) == nullptr && child->Visible() &&
                QRect(child->Left(), child->Top(), child->Width(), child->Height()).contains(at)) {
                target = child;
                break;
            }
        }
        if (target == FLastMouse)
            return;
        FLastMouse = target;
        TMessage message{WM_MOUSEMOVE, 0, 0, 0};
        FOwner.Deliver(target, message);
    }

    void leaveEvent(QEvent*) override { FLastMouse = nullptr; }

    void closeEvent(QCloseEvent* AEvent) override {
        // Closing by the window's frame is the form's own close: the form decides.
        AEvent->ignore();
        if (FControl == nullptr)
            return;
        TMessage message{WM_CLOSE, 0, 0, 0};
        FOwner.Deliver(FControl, message);
    }

private:
    void PaintPanel(QPainter& APainter, TPanel& APanel) {
        if (APanel.BevelOuter() != bvNone) {
            const QColor light = palette().color(QPalette::Light);
            const QColor dark = palette().color(QPalette::Dark);
            const bool raised = APanel.BevelOuter() == bvRaised;
            const QRect edge = rect().adjusted(0, 0, -1, -1);
            APainter.setPen(raised ? light : dark);
            APainter.drawLine(edge.topLeft(), edge.topRight());
            APainter.drawLine(edge.topLeft(), edge.bottomLeft());
            APainter.setPen(raised ? dark : light);
            APainter.drawLine(edge.bottomLeft(), edge.bottomRight());
            APainter.drawLine(edge.topRight(), edge.bottomRight());
        }
        APainter.setFont(ToQFont(*APanel.Font(), APainter.font()));
        APainter.setPen(ToQColor(APanel.Font()->Color()));
        APainter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic,
                          ToQString(APanel.Caption()));
    }

    static void PaintImage(QPainter& APainter, TImage& AImage) {
        const TGraphic* graphic = AImage.Picture()->Graphic();
        if (graphic == nullptr || graphic->Empty())
            return;
        const QImage picture = ToQImage(*graphic);
        const QRect bounds(AImage.Left(), AImage.Top(), AImage.Width(), AImage.Height());
        APainter.save();
        APainter.setClipRect(bounds);
        if (AImage.Stretch()) {
            APainter.drawImage(bounds, picture);
        } else {
            const TPoint origin = AImage.PictureOrigin();
            APainter.drawImage(QPoint(AImage.Left() + origin.X, AImage.Top() + origin.Y), picture);
        }
        APainter.restore();
    }

    static void PaintLabel(QPainter& APainter, TLabel& ALabel) {
        const QRect bounds(ALabel.Left(), ALabel.Top(), ALabel.Width(), ALabel.Height());
        APainter.save();
        if (!ALabel.Transparent())
            APainter.fillRect(bounds, ToQColor(ALabel.Color()));
        APainter.setFont(ToQFont(*ALabel.Font(), APainter.font()));
        APainter.setPen(ToQColor(ALabel.Font()->Color()));
        int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic;
        if (ALabel.WordWrap())
            flags |= Qt::TextWordWrap;
        // An auto-sized label is as wide as its text.
        const QRect area =
            ALabel.AutoSize() && !ALabel.WordWrap() ? bounds.adjusted(0, 0, 4096, 0) : bounds;
        APainter.drawText(area, flags, ToQString(ALabel.Caption()));
        APainter.restore();
    }

    TQtWidgetSet& FOwner;
    TWinControl* FControl;
    TControl* FLastMouse = nullptr;
};

} // namespace

// ---- the widgetset's own events ---------------------------------------------------------------

// Receives the wake-ups of posted messages and watches the application's and the windows' events
// that become the framework's messages.
class TQtWidgetSet::TEvents : public QObject {
public:
    static constexpr QEvent::Type WakeEvent = QEvent::User;

    explicit TEvents(TQtWidgetSet& AOwner)
        : FOwner(AOwner) {}

    bool event(QEvent* AEvent) override {
        if (AEvent->type() != WakeEvent)
            return QObject::event(AEvent);
        FOwner.FWakePending = false;
        FOwner.ServePosted();
        return true;
    }

    bool eventFilter(QObject* AWatched, QEvent* AEvent) override {
        if (AWatched == qApp) {
            ApplicationEvent(AEvent);
            return false;
        }
        TWinControl* control = FOwner.ControlOf(AWatched);
        if (control == nullptr)
            return false;
        switch (AEvent->type()) {
        case QEvent::Enter: {
            if (dynamic_cast<TCustomForm*>(control) != nullptr)
                return false; // the form's own moves tell which label is under the pointer
            TMessage message{WM_MOUSEMOVE, 0, 0, 0};
            FOwner.Deliver(control, message);
            return false;
        }
        case QEvent::KeyPress:
            return KeyPress(control, static_cast<QKeyEvent*>(AEvent));
        case QEvent::WindowActivate:
            if (auto* form = dynamic_cast<TCustomForm*>(control))
                FormActivated(form);
            return false;
        case QEvent::WindowStateChange:
            if (auto* form = dynamic_cast<TCustomForm*>(control))
                FormStateChanged(form, static_cast<QWidget*>(AWatched));
            return false;
        default:
            return false;
        }
    }

    void FocusChanged(QWidget*, QWidget* ANow) {
        TWinControl* control = ANow != nullptr ? FOwner.ControlOf(ANow) : nullptr;
        if (control == nullptr || control->Focused())
            return;
        TMessage message{WM_SETFOCUS, 0, 0, 0};
        FOwner.Deliver(control, message);
    }

private:
    void ApplicationEvent(QEvent* AEvent) {
        if (Application == nullptr)
            return;
        switch (AEvent->type()) {
        case QEvent::ApplicationActivate:
        case QEvent::ApplicationDeactivate: {
            const bool active = AEvent->type() == QEvent::ApplicationActivate;
            if (active != Application->Active())
                Application->SendMessage(Application->Handle(), WM_ACTIVATEAPP, active ? 1 : 0);
            break;
        }
        case QEvent::ApplicationPaletteChange:
        case QEvent::ApplicationFontChange:
            // The desktop's settings changed.
            Application->PostMessage(Application->Handle(), WM_SETTINGCHANGE);
            break;
        default:
            break;
        }
    }

    bool KeyPress(TWinControl* AControl, QKeyEvent* AKey) {
        const std::uint16_t key = DialogVirtualKey(AKey->key());
        if (key == 0)
            return false;
        // An editable memo takes Enter as a line break itself.
        if (key == VK_RETURN)
            if (auto* memo = dynamic_cast<TCustomMemo*>(AControl);
                memo != nullptr && memo->WantReturns() && !memo->ReadOnly())
                return false;
        TMessage message{WM_KEYDOWN, key,
                         static_cast<std::intptr_t>(ShiftOf(AKey->modifiers()).Bits()), 0};
        FOwner.Deliver(AControl, message);
        return true;
    }

    void FormActivated(TCustomForm* AForm) {
        // Qt's focus follows the form's active control; the form itself takes it when that
        // control has no widget.
        if (TWinControl* active = AForm->ActiveControl())
            if (QWidget* widget = FOwner.Widget(active)) {
                widget->setFocus(Qt::ActiveWindowFocusReason);
                return;
            }
        if (!AForm->Active()) {
            TMessage message{WM_SETFOCUS, 0, 0, 0};
            FOwner.Deliver(AForm, message);
        }
    }

    void FormStateChanged(TCustomForm* AForm, QWidget* AWindow) {
        if (Application == nullptr || Application->MainForm() != AForm)
            return;
        const bool minimized = AWindow->isMinimized();
        if (minimized == Application->Minimized())
            return;
        TMessage message{WM_SYSCOMMAND, minimized ? SC_MINIMIZE : SC_RESTORE, 0, 0};
        FOwner.Deliver(AForm, message);
    }

    TQtWidgetSet& FOwner;
};

// ---- handles --------------------------------------------------------------------------------

class TQtWidgetSet::THandle_ : public TWSHandle {
public:
    THandle_(TQtWidgetSet& AOwner, TWinControl* AControl, QWidget* AWidget)
        : FOwner(AOwner)
        , FControl(AControl)
        , FWidget(AWidget) {
        FOwner.FControls[AWidget] = AControl;
        FOwner.FWidgets[AControl] = AWidget;
        AWidget->installEventFilter(FOwner.FEvents.get());
    }

    ~THandle_() override {
        FOwner.FWidgets.erase(FControl);
        if (FWidget.isNull())
            return;
        FOwner.FControls.erase(FWidget.data());
        if (auto* container = dynamic_cast<TContainerWidget*>(FWidget.data()))
            container->Forget();
        FWidget->disconnect();
        delete FWidget.data();
    }

    void SetText(const std::string& AText) override {
        FUpdating = true;
        if (FWidget->isWindow())
            FWidget->setWindowTitle(ToQString(AText));
        else if (auto* button = dynamic_cast<QPushButton*>(FWidget.data()))
            button->setText(ToQString(AText));
        else if (auto* check = dynamic_cast<QCheckBox*>(FWidget.data()))
            check->setText(ToQString(AText));
        else if (auto* edit = dynamic_cast<QLineEdit*>(FWidget.data())) {
            if (edit->text() != ToQString(AText))
                edit->setText(ToQString(AText));
        } else if (auto* memo = dynamic_cast<QPlainTextEdit*>(FWidget.data())) {
            if (memo->toPlainText() != MemoText(AText))
                memo->setPlainText(MemoText(AText));
        } else if (auto* combo = dynamic_cast<QComboBox*>(FWidget.data())) {
            if (combo->isEditable() && combo->currentText() != ToQString(AText))
                combo->setEditText(ToQString(AText));
        }
        FUpdating = false;
    }

    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override {
        if (FWidget->isWindow()) {
            FWidget->move(ALeft, ATop);
            if (FixedSize())
                FWidget->setFixedSize(AWidth, AHeight);
            else
                FWidget->resize(AWidth, AHeight);
        } else {
            FWidget->setGeometry(ALeft, ATop, AWidth, AHeight);
        }
    }

    void SetVisible(bool AVisible) override {
        if (AVisible == FWidget->isVisible() && !(AVisible && FWidget->isHidden()))
            return;
        if (!FWidget->isWindow()) {
            FWidget->setVisible(AVisible);
            return;
        }
        if (!AVisible) {
            FWidget->hide();
            return;
        }
        auto* form = dynamic_cast<TCustomForm*>(FControl);
        FWidget->setWindowModality(form != nullptr && form->Modal() ? Qt::ApplicationModal
                                                                    : Qt::NonModal);
        FWidget->show();
        FWidget->raise();
        FWidget->activateWindow();
    }

    void SetEnabled(bool AEnabled) override { FWidget->setEnabled(AEnabled); }

    void Invalidate() override {
        FUpdating = true;
        SyncState();
        FUpdating = false;
        FWidget->update();
    }

    /// Copies the state the other calls do not carry (colour, font, checked, items, ...).
    void SyncState() {
        // Setting a font or palette repolishes the widget: only a change is passed on.
        if (const QFont font = ToQFont(*FControl->Font(), QApplication::font());
            font != FWidget->font())
            FWidget->setFont(font);
        if (auto* check = dynamic_cast<QCheckBox*>(FWidget.data())) {
            auto* box = static_cast<TCheckBox*>(FControl);
            check->setTristate(box->AllowGrayed());
            check->setCheckState(box->State() == cbChecked  ? Qt::Checked
                                 : box->State() == cbGrayed ? Qt::PartiallyChecked
                                                            : Qt::Unchecked);
        } else if (auto* edit = dynamic_cast<QLineEdit*>(FWidget.data())) {
            auto* control = static_cast<TCustomEdit*>(FControl);
            edit->setReadOnly(control->ReadOnly());
            edit->setMaxLength(control->MaxLength() > 0 ? control->MaxLength() : 32767);
            edit->setFrame(control->BorderStyle() != bsNone);
            SetBase(ToQColor(control->Color()));
        } else if (auto* memo = dynamic_cast<QPlainTextEdit*>(FWidget.data())) {
            auto* control = static_cast<TCustomMemo*>(FControl);
            memo->setReadOnly(control->ReadOnly());
            memo->setFrameShape(control->BorderStyle() == bsNone ? QFrame::NoFrame
                                                                 : QFrame::StyledPanel);
            memo->setLineWrapMode(control->WordWrap() ? QPlainTextEdit::WidgetWidth
                                                      : QPlainTextEdit::NoWrap);
            const TScrollStyle bars = control->ScrollBars();
            memo->setVerticalScrollBarPolicy(bars == ssVertical || bars == ssBoth
                                                 ? Qt::ScrollBarAsNeeded
                                                 : Qt::ScrollBarAlwaysOff);
            memo->setHorizontalScrollBarPolicy(bars == ssHorizontal || bars == ssBoth
                                                   ? Qt::ScrollBarAsNeeded
                                                   : Qt::ScrollBarAlwaysOff);
            SetBase(ToQColor(control->Color()));
        } else if (auto* combo = dynamic_cast<QComboBox*>(FWidget.data())) {
            auto* control = static_cast<TComboBox*>(FControl);
            QStringList items;
            for (int i = 0; i < control->Items()->Count(); ++i)
                items << ToQString(control->Items()->Strings(i));
            QStringList shown;
            for (int i = 0; i < combo->count(); ++i)
                shown << combo->itemText(i);
            if (items != shown) {
                combo->clear();
                combo->addItems(items);
            }
            combo->setEditable(control->Style() == csDropDown || control->Style() == csSimple);
            combo->setCurrentIndex(control->ItemIndex());
            if (combo->isEditable())
                combo->setEditText(ToQString(control->Text()));
        }
    }

    bool Updating() const { return FUpdating; }

private:
    bool FixedSize() const {
        auto* form = dynamic_cast<TCustomForm*>(FControl);
        return form != nullptr && form->BorderStyle() != bsSizeable &&
               form->BorderStyle() != bsSizeToolWin;
    }

    // The colour an edit's text area is filled with.
    void SetBase(const QColor& AColor) {
        QPalette palette = FWidget->palette();
        if (palette.color(QPalette::Base) == AColor)
            return;
        palette.setColor(QPalette::Base, AColor);
        FWidget->setPalette(palette);
    }

    TQtWidgetSet& FOwner;
    TWinControl* FControl;
    QPointer<QWidget> FWidget;
    bool FUpdating = false;
};

// ---- the widgetset ----------------------------------------------------------------------------

namespace {

// The application the widgetset made for a program without one: it lives as long as the
// process, as Qt expects of its application object.
TQtApplication* OwnApplication() {
    static int argc = 1;
    static char name[] = "jex";
    static char* argv[] = {name, nullptr};
    static TQtApplication* app = new TQtApplication(argc, argv);
    return app;
}

} // namespace

bool TQtWidgetSet::DisplayReachable() {
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland != nullptr && *wayland != 0)
        return true;
    int width = 0;
    int height = 0;
    platform::PlatformServices().Screen->Size(width, height);
    return width > 0 && height > 0;
}

TQtWidgetSet::TQtWidgetSet() {
    if (QCoreApplication::instance() == nullptr)
        FApp = OwnApplication();
    else if ((FApp = dynamic_cast<TQtApplication*>(QCoreApplication::instance())) == nullptr)
        throw EInvalidOperation(
            "The Qt widgetset needs a host::TQtApplication instead of a plain QApplication");
    FEvents = std::make_unique<TEvents>(*this);
    FApp->installEventFilter(FEvents.get());
    QObject::connect(FApp, &QApplication::focusChanged, FEvents.get(),
                     [this](QWidget* AOld, QWidget* ANow) { FEvents->FocusChanged(AOld, ANow); });
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, FEvents.get(),
                         [this] { QtLoopIdle(); });
}

TQtWidgetSet::~TQtWidgetSet() {
    for (const auto& [id, timer] : FTimers)
        delete timer;
    FApp->removeEventFilter(FEvents.get());
    // Wake-ups still queued die with their receiver.
    FEvents.reset();
}

void TQtWidgetSet::AppProcessMessages() {
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        if (dispatcher->processEvents(QEventLoop::AllEvents))
            FHandledSinceWait = true;
}

void TQtWidgetSet::AppWaitMessage() {
    if (FHandledSinceWait) {
        FHandledSinceWait = false;
        return;
    }
    // The host's loop did its idle processing before it waits here.
    FWaiting = true;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    FWaiting = false;
}

void TQtWidgetSet::QtLoopIdle() {
    // Qt's own loop (QApplication::exec, a QMessageBox) is about to wait: the application's
    // idle processing runs as it does before the host's loop waits.
    if (FWaiting || FServing || Application == nullptr)
        return;
    FServing = true;
    bool done = true;
    try {
        done = Application->IdleStep();
    } catch (...) {
        Application->HandleException(Application);
    }
    FServing = false;
    if (!done)
        AppWakeUp(); // OnIdle wants more: the loop must not sleep
}

void TQtWidgetSet::AppWakeUp() {
    // Any thread: one wake-up at a time is enough, it serves everything queued.
    if (!FWakePending.exchange(true))
        QCoreApplication::postEvent(FEvents.get(), new QEvent(TEvents::WakeEvent));
}

void TQtWidgetSet::ServePosted() {
    // The host's own loops serve the queue when they run; this serves it from any other loop
    // (QApplication::exec, a QMessageBox) and never nests itself.
    if (FServing || Application == nullptr)
        return;
    FServing = true;
    try {
        Application->ProcessMessages();
    } catch (...) {
        FServing = false;
        throw;
    }
    FServing = false;
}

QWidget* TQtWidgetSet::Widget(const TWinControl* AControl) const {
    const auto it = FWidgets.find(AControl);
    return it != FWidgets.end() ? it->second : nullptr;
}

TWinControl* TQtWidgetSet::ControlOf(const QObject* AWidget) const {
    const auto it = FControls.find(AWidget);
    return it != FControls.end() ? it->second : nullptr;
}

void TQtWidgetSet::Deliver(TControl* AControl, TMessage& AMessage) {
    FHandledSinceWait = true;
    if (auto* win = dynamic_cast<TWinControl*>(AControl)) {
        win->MainWndProc(AMessage);
        return;
    }
    try {
        AControl->WndProc(AMessage);
    } catch (...) {
        if (Application == nullptr)
            throw;
        Application->HandleException(AControl);
    }
}

std::unique_ptr<TWSHandle> TQtWidgetSet::CreateHandle(TWinControl* AControl) {
    QWidget* parent = nullptr;
    if (dynamic_cast<TCustomForm*>(AControl) == nullptr && AControl->Parent() != nullptr) {
        AControl->Parent()->HandleNeeded();
        parent = Widget(AControl->Parent());
    }
    QWidget* widget = nullptr;
    if (auto* button = dynamic_cast<TButton*>(AControl)) {
        auto* push = new QPushButton(parent);
        push->setAutoDefault(false);
        QObject::connect(push, &QPushButton::clicked, FEvents.get(), [this, button] {
            TMessage message{BM_CLICK, 0, 0, 0};
            Deliver(button, message);
        });
        widget = push;
    } else if (auto* check = dynamic_cast<TCheckBox*>(AControl)) {
        auto* box = new QCheckBox(parent);
        QObject::connect(box, &QCheckBox::clicked, FEvents.get(), [this, check] {
            TMessage message{BM_CLICK, 0, 0, 0};
            Deliver(check, message);
            // The control decides the state; Qt's own toggle is undone when it disagrees.
            if (check->WSHandle() != nullptr)
                check->WSHandle()->Invalidate();
        });
        widget = box;
    } else if (auto* memo = dynamic_cast<TCustomMemo*>(AControl)) {
        auto* text = new QPlainTextEdit(parent);
        QObject::connect(text, &QPlainTextEdit::textChanged, FEvents.get(), [this, memo, text] {
            auto* handle = static_cast<THandle_*>(memo->WSHandle());
            if (handle == nullptr || handle->Updating())
                return;
            FHandledSinceWait = true;
            memo->SetText(MemoTextFromQt(text->toPlainText()));
        });
        widget = text;
    } else if (auto* edit = dynamic_cast<TCustomEdit*>(AControl)) {
        auto* line = new QLineEdit(parent);
        QObject::connect(line, &QLineEdit::textEdited, FEvents.get(),
                         [this, edit](const QString& AText) {
                             FHandledSinceWait = true;
                             edit->SetText(FromQString(AText));
                         });
        widget = line;
    } else if (auto* combo = dynamic_cast<TComboBox*>(AControl)) {
        auto* list = new QComboBox(parent);
        QObject::connect(list, &QComboBox::activated, FEvents.get(), [this, combo](int AIndex) {
            FHandledSinceWait = true;
            combo->SetItemIndex(AIndex);
        });
        widget = list;
    } else {
        auto* container = new TContainerWidget(*this, AControl, parent);
        if (auto* form = dynamic_cast<TCustomForm*>(AControl)) {
            Qt::WindowFlags flags = Qt::Window;
            if (form->BorderStyle() == bsDialog)
                flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
            else if (form->BorderStyle() == bsToolWindow || form->BorderStyle() == bsSizeToolWin)
                flags = Qt::Tool;
            else if (form->BorderStyle() == bsNone)
                flags = Qt::Window | Qt::FramelessWindowHint;
            container->setWindowFlags(flags);
            container->setFocusPolicy(Qt::StrongFocus);
        }
        widget = container;
    }
    auto handle = std::make_unique<THandle_>(*this, AControl, widget);
    handle->SetText(AControl->Text());
    handle->SetBounds(AControl->Left(), AControl->Top(), AControl->Width(), AControl->Height());
    handle->SetEnabled(AControl->Enabled());
    handle->Invalidate();
    if (!widget->isWindow())
        widget->setVisible(AControl->Visible());
    else if (AControl->Visible())
        handle->SetVisible(true);
    return handle;
}

namespace {

struct TButtonKind {
    TMsgDlgBtn Button;
    QMessageBox::StandardButton Qt;
    TModalResult Result;
};

constexpr TButtonKind ButtonKinds[] = {
    {mbYes, QMessageBox::Yes, mrYes},
    {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},
    {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, mrAbort},
    {mbRetry, QMessageBox::Retry, mrRetry},
    {mbIgnore, QMessageBox::Ignore, mrIgnore},
    {mbAll, QMessageBox::YesAll, mrAll},
    {mbNoToAll, QMessageBox::NoToAll, mrNoToAll},
    {mbYesToAll, QMessageBox::YesToAll, mrYesToAll},
    {mbHelp, QMessageBox::Help, mrNone},
};

QMessageBox::Icon IconOf(TMsgDlgType AType) {
    switch (AType) {
    case mtWarning:
        return QMessageBox::Warning;
    case mtError:
        return QMessageBox::Critical;
    case mtInformation:
        return QMessageBox::Information;
    case mtConfirmation:
        return QMessageBox::Question;
    case mtCustom:
        return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

} // namespace

TModalResult TQtWidgetSet::MessageDlg(const TMessageDlgRequest& ARequest) {
    QMessageBox box(IconOf(ARequest.DlgType), ToQString(ARequest.Caption),
                    ToQString(ARequest.Text));
    for (const TButtonKind& kind : ButtonKinds)
        if (ARequest.Buttons.Contains(kind.Button)) {
            QPushButton* button = box.addButton(kind.Qt);
            if (kind.Result == ARequest.DefaultResult)
                box.setDefaultButton(button);
            if (kind.Result == ARequest.CancelResult)
                box.setEscapeButton(button);
        }
    if (box.buttons().isEmpty())
        box.addButton(QMessageBox::Ok);
    // The box's own loop serves posted messages and idle time even when it was opened while
    // they were being served (a worker's Synchronize must not wait for the box to close).
    const bool serving = std::exchange(FServing, false);
    box.exec();
    FServing = serving;
    const auto pressed = box.standardButton(box.clickedButton());
    for (const TButtonKind& kind : ButtonKinds)
        if (kind.Qt == pressed)
            return kind.Result;
    return ARequest.CancelResult; // closed by the window's frame
}

void TQtWidgetSet::Beep() {
    QApplication::beep();
}

TSize TQtWidgetSet::ScreenSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return {};
    const QSize size = screen->size();
    return {size.width(), size.height()};
}

bool TQtWidgetSet::CaptureScreen(TBitmap& ABitmap) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage image = screen != nullptr ? screen->grabWindow(0).toImage() : QImage();
    if (image.isNull()) {
        ABitmap.SetSize(0, 0);
        return false;
    }
    FromQImage(image, ABitmap);
    return true;
}

void TQtWidgetSet::LoadErrorIcon(TIcon& AIcon) {
    // The style's icon is scaled and converted once; every error dialog shows it.
    if (FErrorIcon == nullptr) {
        FErrorIcon = std::make_unique<TIcon>();
        const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
        const QImage image = icon.pixmap(32, 32).toImage();
        if (image.isNull())
            DrawBuiltInErrorIcon(*FErrorIcon);
        else
            IconFromQImage(image, *FErrorIcon);
    }
    AIcon.Assign(FErrorIcon.get());
}

void TQtWidgetSet::ShowHint(const std::string& AText, TPoint APos) {
    QToolTip::showText(QPoint(APos.X, APos.Y), ToQString(AText));
}

void TQtWidgetSet::HideHint() {
    QToolTip::hideText();
}

THandle TQtWidgetSet::CreateTimer(int AIntervalMs, const TTimerProc& AProc) {
    const THandle id = FNextTimer++;
    auto* timer = new QTimer();
    timer->setInterval(AIntervalMs > 0 ? AIntervalMs : 1);
    QObject::connect(timer, &QTimer::timeout, FEvents.get(), [this, AProc] {
        FHandledSinceWait = true;
        AProc();
    });
    FTimers[id] = timer;
    timer->start();
    return id;
}

void TQtWidgetSet::DestroyTimer(THandle ATimer) {
    const auto it = FTimers.find(ATimer);
    if (it == FTimers.end())
        return;
    // The timer may be the one firing right now: it goes once its signal has returned.
    it->second->stop();
    it->second->disconnect();
    it->second->deleteLater();
    FTimers.erase(it);
}

} // namespace host
