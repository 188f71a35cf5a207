// tests/support/VirtualDisplay.h - a private X display (Xvfb) for tests of windows on a screen.
#pragma once

#include <string>
#include <sys/types.h>

namespace jex::test {

/// Starts Xvfb on a free display (Xvfb picks it and reports it through -displayfd) with one
/// 1280 x 1024 x 24 screen, and points DISPLAY at it for the object's lifetime; the display
/// itself lasts as long as the process. Ok is false (and Error says why) when Xvfb could not
/// be started.
class TVirtualDisplay {
public:
    TVirtualDisplay();
    ~TVirtualDisplay();
    TVirtualDisplay(const TVirtualDisplay&) = delete;
    TVirtualDisplay& operator=(const TVirtualDisplay&) = delete;

    bool Ok() const { return !FName.empty(); }

    /// ":<n>"; empty when Xvfb did not start.
    const std::string& Name() const { return FName; }

    const std::string& Error() const { return FError; }

    /// Moves the pointer to (AX, AY) and clicks the left button there, as a person does (real
    /// input through the XTEST extension, by xdotool); false when xdotool failed.
    bool Click(int AX, int AY) const;

    /// Asks the window AWindow to close as a window manager does when its frame's close button
    /// is pressed (a WM_DELETE_WINDOW message); false when the display cannot be reached.
    bool CloseWindow(unsigned long AWindow) const;

private:
    pid_t FPid = -1;
    std::string FName;
    std::string FError;
    std::string FOldDisplay;
    bool FHadDisplay = false;
};

} // namespace jex::test
