// examples/qtapp/qtapp.cpp - a plain Qt Widgets program with exception logging.
//
// A main window with three buttons whose slots fail; nothing here is built on the suite's
// forms. Three lines (marked) give it the exception logger: each failure is written to the
// log with unit, procedure and line (the map lies beside the program) and shown in the extended
// error dialog as a Qt window, and the program goes on.
//
//   qtapp                      the window, for a person to click
//   qtapp --self-test <png>    clicks the first button itself, saves the error dialog as it
//                              was painted to <png>, closes it and prints the log
#include "exceptions/LogError.h"
#include "host/widgetsets/qt/QtApplication.h"
#include "host/widgetsets/qt/QtWidgetSet.h"

#include <QMainWindow>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void SaveOrder() {
    throw std::runtime_error("Order 4711 is locked by another user");
}

void ReadFourthLine() {
    const std::vector<int> lines{1, 2, 3};
    std::cout << "Fourth line: " << lines.at(3) << "\n";
}

void ParseTotal() {
    std::cout << "Total: " << std::stod("twelve") << "\n";
}

QPushButton* AddButton(QVBoxLayout* ALayout, const char* ACaption, void (*AHandler)()) {
    auto* button = new QPushButton(QString::fromUtf8(ACaption));
    QObject::connect(button, &QPushButton::clicked, AHandler);
    ALayout->addWidget(button);
    return button;
}

// The self-test: the dialog of the first button's failure is saved once painted, then closed
// the way a person closes it; then the program ends.
void RunSelfTest(QPushButton* AButton, const std::string& APicture) {
    QTimer::singleShot(0, AButton, &QPushButton::click);
    auto* watch = new QTimer(AButton);
    QObject::connect(watch, &QTimer::timeout, [watch, APicture] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible())
            return;
        watch->stop();
        dialog->grab().save(QString::fromStdString(APicture));
        dialog->close();
        QTimer::singleShot(0, qApp, &QApplication::quit);
    });
    watch->start(20);
}

} // namespace

int main(int argc, char** argv) {
    host::TQtApplication app(argc, argv);                          // (1) instead of QApplication
    host::InitApplication(std::make_unique<host::TQtWidgetSet>()); // (2)
    auto* log = host::Create<jex::TJexExceptionLog>(host::Application); // (3)

    // Optional: unit, procedure and line in each report (from the map beside the program).
    log->SetFormats(log->Formats() + jex::TJexLFormats{jex::lfSourceLine});
    const bool selfTest = argc == 3 && std::string(argv[1]) == "--self-test";
    log->SetLogFile(selfTest ? std::string(argv[2]) + ".log" : std::string("qtapp-errors.log"));
    if (selfTest)
        std::remove(log->LogFile().c_str());
    log->SetActive(true);

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Orders (Qt)"));
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    QPushButton* save = AddButton(layout, "Save order", &SaveOrder);
    AddButton(layout, "Read the fourth line", &ReadFourthLine);
    AddButton(layout, "Parse the total", &ParseTotal);
    window.setCentralWidget(central);
    window.resize(320, 160);
    window.show();

    if (selfTest)
        RunSelfTest(save, argv[2]);
    const int code = QApplication::exec();

    if (selfTest) {
        std::ifstream written(log->LogFile());
        std::cout << written.rdbuf();
    }
    host::DoneApplication();
    return code;
}
