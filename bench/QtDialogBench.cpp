// bench/QtDialogBench.cpp - from a throw to the extended error dialog painted on the Qt
// widgetset, against QMessageBox::critical showing the same text; the first dialog of a
// process and later ones.
//
// Each measurement ends when the dialog's window has been painted and flushed (a call queued
// by its first paint event runs), then the dialog is closed. The first dialog is measured in a
// fresh child process each time, so it pays what a program's first error pays: the style, the
// fonts, the dialog's stored form. Runs on DISPLAY when set, else on Qt's offscreen platform.
#include "BenchScratch.h"
#include "exceptions/LogError.h"
#include "host/widgetsets/qt/QtWidgetSet.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const char* const Text = "Order 4711 is locked by another user";

// Stamps the time once a modal window's first paint has been delivered and flushed, then
// closes that window.
class TPaintWatch : public QObject {
public:
    Clock::time_point Painted;
    bool Done = false;

    bool eventFilter(QObject* AWatched, QEvent* AEvent) override {
        if (Done || AEvent->type() != QEvent::Paint)
            return false;
        auto* widget = qobject_cast<QWidget*>(AWatched);
        if (widget == nullptr || !widget->window()->isModal())
            return false;
        Done = true;
        QWidget* window = widget->window();
        QTimer::singleShot(0, window, [this, window] {
            Painted = Clock::now();
            window->close();
        });
        return false;
    }
};

std::unique_ptr<jex::bench::TScratch>& Scratch() {
    static std::unique_ptr<jex::bench::TScratch> scratch;
    return scratch;
}

void StartApplication() {
    if (host::Application != nullptr)
        return;
    if (std::getenv("DISPLAY") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    host::InitApplication(std::make_unique<host::TQtWidgetSet>());
    host::Application->SetTitle("Orders");
    Scratch() = std::make_unique<jex::bench::TScratch>();
    auto* logger = host::Create<jex::TJexExceptionLog>(host::Application);
    logger->SetLogFile((Scratch()->Path / "app.log").string());
    logger->SendTo()->SetEMail("support@example.com");
    logger->SetActive(true);
}

// Seconds from the throw to the dialog painted.
double ShowOnce(bool AExtended) {
    TPaintWatch watch;
    qApp->installEventFilter(&watch);
    const Clock::time_point start = Clock::now();
    if (AExtended) {
        constexpr std::uint32_t message = host::WM_USER + 42;
        const auto hook = host::TWindowHook::FromCallable([](host::TMessage& AMsg) {
            if (AMsg.Msg == message)
                throw host::EInvalidOperation(Text);
            return false;
        });
        host::Application->HookMainWindow(hook);
        host::Application->PostMessage(host::Application->Handle(), message);
        host::Application->ProcessMessages();
        host::Application->UnhookMainWindow(hook);
    } else {
        try {
            throw std::runtime_error(Text);
        } catch (const std::exception& e) {
            QMessageBox::critical(nullptr, QStringLiteral("Orders"), QString::fromUtf8(e.what()));
        }
    }
    qApp->removeEventFilter(&watch);
    return std::chrono::duration<double>(watch.Painted - start).count();
}

// ShowOnce in a fresh process.
double ShowFirstInChild(bool AExtended) {
    int fds[2];
    if (::pipe(fds) != 0)
        return 0;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        StartApplication();
        const double seconds = ShowOnce(AExtended);
        const bool written = ::write(fds[1], &seconds, sizeof seconds) == sizeof seconds;
        ::_exit(written ? 0 : 1);
    }
    ::close(fds[1]);
    double seconds = 0;
    if (::read(fds[0], &seconds, sizeof seconds) != sizeof seconds)
        seconds = 0;
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return seconds;
}

void BM_FirstExtendedDialog(benchmark::State& AState) {
    for (auto _ : AState)
        AState.SetIterationTime(ShowFirstInChild(true));
}

void BM_FirstQMessageBox(benchmark::State& AState) {
    for (auto _ : AState)
        AState.SetIterationTime(ShowFirstInChild(false));
}

void BM_LaterExtendedDialog(benchmark::State& AState) {
    StartApplication();
    ShowOnce(true);
    for (auto _ : AState)
        AState.SetIterationTime(ShowOnce(true));
}

void BM_LaterQMessageBox(benchmark::State& AState) {
    StartApplication();
    ShowOnce(false);
    for (auto _ : AState)
        AState.SetIterationTime(ShowOnce(false));
}

// The first-dialog runs fork before this process has started Qt.
BENCHMARK(BM_FirstExtendedDialog)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstQMessageBox)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaterExtendedDialog)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaterQMessageBox)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
