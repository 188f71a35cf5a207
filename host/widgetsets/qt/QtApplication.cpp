// host/widgetsets/qt/QtApplication.cpp - exceptions caught where Qt delivers events.
#include "host/widgetsets/qt/QtApplication.h"

#include "host/forms/Forms.h"

#include <cstdio>
#include <exception>

namespace host {

TQtApplication::TQtApplication(int& AArgc, char** AArgv)
    : QApplication(AArgc, AArgv) {}

TQtApplication::~TQtApplication() = default;

bool TQtApplication::notify(QObject* AReceiver, QEvent* AEvent) {
    try {
        return QApplication::notify(AReceiver, AEvent);
    } catch (...) {
        ++FCaught;
        if (Application != nullptr) {
            Application->HandleException(Application);
        } else {
            // No host application to report to: say what happened and go on.
            try {
                throw;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "Exception in a Qt event handler: %s\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "Unknown exception in a Qt event handler\n");
            }
        }
        return false;
    }
}

} // namespace host
