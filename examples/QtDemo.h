// examples/QtDemo.h - the demo's forms as windows on a display.
#pragma once

#include <string>

/// On a display (see TQtWidgetSet::DisplayReachable): shows an order form on the Qt widgetset
/// whose Check button marks the missing entries and whose Save button fails into the extended
/// error dialog, until the form is closed; the logged exceptions go to AFolder. Without a
/// display it shows and prints nothing. With JEXDEMO_SCREENSHOTS naming a folder, the demo
/// presses the buttons itself and saves the form and the dialog there as jexdemo-form.png and
/// jexdemo-error-dialog.png.
void QtDemo(const std::string& AFolder);
