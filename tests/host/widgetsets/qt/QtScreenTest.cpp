// tests/host/widgetsets/qt/QtScreenTest.cpp - waiting, grabbing and counting pixels.
#include "QtScreenTest.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace jex::test {

bool WaitUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    while (!APredicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (host::Application != nullptr)
            host::Application->ProcessMessages();
    }
    return true;
}

bool RunWithSteps(const std::function<void()>& AAction, const std::function<bool()>& AStep,
                  std::chrono::milliseconds ATimeout) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    bool done = false;
    bool timedOut = false;
    QTimer timer;
    timer.setInterval(15);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (timedOut)
            return;
        if (!done && AStep())
            done = true;
        // Also once the step is done: what it did (a click) may never arrive.
        if (std::chrono::steady_clock::now() > deadline) {
            timedOut = true;
            if (host::Screen != nullptr)
                if (host::TCustomForm* form = host::Screen->ActiveCustomForm();
                    form != nullptr && form->Modal())
                    form->SetModalResult(host::mrCancel);
            // A Qt dialog (a message box) is closed as its frame's close button does.
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        }
    });
    timer.start();
    AAction();
    timer.stop();
    EXPECT_FALSE(timedOut) << "the step did not finish in time";
    return done;
}

QImage GrabScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32)
                             : QImage();
}

std::string SaveArtefact(const QImage& AImage, const std::string& AName) {
    QDir().mkpath(QStringLiteral(JEX_ARTEFACT_DIR));
    const std::string path = std::string(JEX_ARTEFACT_DIR) + "/" + AName + ".png";
    AImage.save(QString::fromStdString(path));
    return path;
}

int CountPixels(const QImage& AImage, const QRect& ARect,
                const std::function<bool(QRgb)>& APredicate) {
    int count = 0;
    const QRect area = ARect.intersected(AImage.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (APredicate(AImage.pixel(x, y)))
                ++count;
    return count;
}

bool IsDark(QRgb APixel) {
    return qRed(APixel) < 90 && qGreen(APixel) < 90 && qBlue(APixel) < 90;
}

bool IsRed(QRgb APixel) {
    return qRed(APixel) > 150 && qGreen(APixel) < 110 && qBlue(APixel) < 110;
}

QRect ScreenRect(const host::TWinControl* AForm, const host::TControl* AControl) {
    auto* ws = dynamic_cast<host::TQtWidgetSet*>(host::CurrentWidgetSet());
    QWidget* window = ws != nullptr ? ws->Widget(AForm) : nullptr;
    if (window == nullptr)
        return {};
    const QPoint origin = window->mapToGlobal(QPoint(0, 0));
    if (AControl == AForm)
        return {origin, window->size()};
    return {origin.x() + AControl->Left(), origin.y() + AControl->Top(), AControl->Width(),
            AControl->Height()};
}

void TQtApplicationTest::SetUp() {
    auto ws = std::make_unique<host::TQtWidgetSet>();
    FWidgetSet = ws.get();
    host::InitApplication(std::move(ws));
    host::Application->SetTitle("Orders");
}

void TQtApplicationTest::TearDown() {
    host::DoneApplication();
    // Windows of the test that Qt deletes later go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace jex::test
