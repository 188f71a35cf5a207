// platform/Screen.h - the display: its size, a copy of its pixels, and the error sound.
//
// On Linux the X11 root window of the display named by DISPLAY; without a reachable display the
// screen is 0 x 0, nothing can be copied and the beep goes to the terminal.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

/// Pixels of a screen copy, row by row from the top, each 0x00RRGGBB.
struct TScreenImage {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
};

class TScreenService {
public:
    virtual ~TScreenService() = default;

    /// Width and height of the screen in pixels; 0 x 0 when no display is reachable.
    virtual void Size(int& AWidth, int& AHeight) = 0;

    /// Copies the whole screen into AImage; false (AImage emptied) when there is no display or
    /// it cannot be read.
    virtual bool Capture(TScreenImage& AImage) = 0;

    /// The system's error sound: the display's bell, else BEL on the terminal, else nothing.
    virtual void Beep() = 0;
};

/// The Linux screen service (X11 through libX11).
TScreenService& LinuxScreenService();

} // namespace platform
