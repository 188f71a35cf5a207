// tests/host/widgetsets/qt/QtScreenTest.h - the application on the Qt widgetset for tests that
// look at windows: waiting for conditions, screenshots kept as artefacts, pixel counts.
#pragma once

#include "host/forms/Forms.h"
#include "host/widgetsets/qt/QtWidgetSet.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QRect>
#include <chrono>
#include <functional>
#include <string>

namespace jex::test {

/// Handles Qt events and the application's messages until APredicate holds; false when it
/// still does not after ATimeout.
bool WaitUntil(const std::function<bool()>& APredicate,
               std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

/// Runs AAction (which may run a modal form) while a timer calls AStep every few milliseconds
/// until it returns true. When AAction still runs after ATimeout, the active modal form is
/// cancelled and the test fails. True when AStep finished.
bool RunWithSteps(const std::function<void()>& AAction, const std::function<bool()>& AStep,
                  std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

/// The whole screen as Qt grabs it.
QImage GrabScreen();

/// Saves AImage as <build folder>/artefacts/<AName>.png and returns the path.
std::string SaveArtefact(const QImage& AImage, const std::string& AName);

/// The pixels inside ARect of AImage for which APredicate holds.
int CountPixels(const QImage& AImage, const QRect& ARect,
                const std::function<bool(QRgb)>& APredicate);

/// Dark pixels: text drawn in black or nearly so.
bool IsDark(QRgb APixel);

/// Strong red pixels: the error icon's disc.
bool IsRed(QRgb APixel);

/// AControl's rectangle in screen coordinates (its window's place on the screen).
QRect ScreenRect(const host::TWinControl* AForm, const host::TControl* AControl);

/// The application on a new Qt widgetset for each test.
class TQtApplicationTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    host::TQtWidgetSet& WS() { return *FWidgetSet; }

    host::TQtWidgetSet* FWidgetSet = nullptr;
};

} // namespace jex::test
