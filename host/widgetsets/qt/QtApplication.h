// host/widgetsets/qt/QtApplication.h - the QApplication whose event delivery hands every
// escaping exception to the host application.
//
// Qt has no top-level handler of its own: an exception leaving an event handler, a slot or a
// timer ends its event loop. TQtApplication catches it where Qt delivers each event (notify),
// passes it to Application->HandleException (and so to an exception logger) and lets the loop
// go on. A Qt program that wants exception logging creates this class instead of
// QApplication; the Qt widgetset creates one itself when the program has none.
#pragma once

#include <QApplication>

namespace host {

class TQtApplication : public QApplication {
public:
    /// As QApplication; AArgc and AArgv must outlive the object.
    TQtApplication(int& AArgc, char** AArgv);
    ~TQtApplication() override;

    /// Delivers AEvent; an exception raised meanwhile goes to the host application's
    /// HandleException (without an application: its message to standard error) and the event
    /// counts as unhandled.
    bool notify(QObject* AReceiver, QEvent* AEvent) override;

    /// How many exceptions notify has caught so far.
    int CaughtCount() const { return FCaught; }

private:
    int FCaught = 0;
};

} // namespace host
