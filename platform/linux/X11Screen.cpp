// platform/linux/X11Screen.cpp - the screen service on X11: root window size and XGetImage.
//
// The root window spans every monitor, so the copy is the whole desktop. Wayland-only sessions show
// no native windows through XWayland's root; that is a limit of the X11 route.
#include "platform/Screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace platform {

namespace {

// One connection per display name, opened on first use and kept: servers (Xvfb among them)
// refuse some of many quick connect-disconnect cycles, and a report must not lose its
// screenshot to that. A changed DISPLAY opens a connection to the new display.
class TDisplayCache {
public:
    Display* Get() {
        const char* name = std::getenv("DISPLAY");
        // Without DISPLAY there is nothing to reach; do not let Xlib guess.
        if (name == nullptr || *name == '\0')
            return nullptr;
        if (FDisplay != nullptr && FName == name)
            return FDisplay;
        // The connection to the former display is left as it is: closing it would talk to a
        // server that may be gone, and Xlib ends the process on a dead connection.
        FDisplay = nullptr;
        FName = name;
        for (int attempt = 0; attempt < 5 && FDisplay == nullptr; ++attempt)
            FDisplay = XOpenDisplay(name);
        return FDisplay;
    }

    std::mutex& Lock() { return FLock; }

private:
    std::mutex FLock;
    std::string FName;
    Display* FDisplay = nullptr;
};

TDisplayCache& Displays() {
    static TDisplayCache cache;
    return cache;
}

// Position and width of the lowest set bit run of a channel mask.
void MaskShift(unsigned long AMask, int& AShift, int& ABits) {
    AShift = 0;
    ABits = 0;
    if (AMask == 0)
        return;
    while ((AMask & 1UL) == 0) {
        AMask >>= 1;
        ++AShift;
    }
    while ((AMask & 1UL) != 0) {
        AMask >>= 1;
        ++ABits;
    }
}

std::uint32_t Channel(unsigned long APixel, unsigned long AMask) {
    int shift = 0;
    int bits = 0;
    MaskShift(AMask, shift, bits);
    if (bits == 0)
        return 0;
    const unsigned long value = (APixel & AMask) >> shift;
    const unsigned long max = (1UL << bits) - 1;
    return static_cast<std::uint32_t>(value * 255 / max);
}

class TX11ScreenService : public TScreenService {
public:
    void Size(int& AWidth, int& AHeight) override {
        AWidth = 0;
        AHeight = 0;
        std::lock_guard lock(Displays().Lock());
        Display* display = Displays().Get();
        if (display == nullptr)
            return;
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, DefaultRootWindow(display), &attributes)) {
            AWidth = attributes.width;
            AHeight = attributes.height;
        }
    }

    bool Capture(TScreenImage& AImage) override {
        AImage = {};
        std::lock_guard lock(Displays().Lock());
        Display* display = Displays().Get();
        if (display == nullptr)
            return false;
        const Window root = DefaultRootWindow(display);
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display, root, &attributes) || attributes.width <= 0 ||
            attributes.height <= 0)
            return false;
        XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(attributes.width),
                                  static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
        if (image == nullptr)
            return false;
        AImage.Width = attributes.width;
        AImage.Height = attributes.height;
        AImage.Pixels.resize(static_cast<std::size_t>(AImage.Width) *
                             static_cast<std::size_t>(AImage.Height));
        const bool fast = image->bits_per_pixel == 32 && image->red_mask == 0xFF0000 &&
                          image->green_mask == 0x00FF00 && image->blue_mask == 0x0000FF &&
                          image->byte_order == LSBFirst;
        for (int y = 0; y < AImage.Height; ++y) {
            std::uint32_t* out =
                &AImage
                     .Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(AImage.Width)];
            if (fast) {
                const auto* row =
                    reinterpret_cast<const unsigned char*>(image->data) +
                    static_cast<std::size_t>(y) * static_cast<std::size_t>(image->bytes_per_line);
                for (int x = 0; x < AImage.Width; ++x, row += 4)
                    out[x] = static_cast<std::uint32_t>(row[2]) << 16 |
                             static_cast<std::uint32_t>(row[1]) << 8 | row[0];
            } else {
                for (int x = 0; x < AImage.Width; ++x) {
                    const unsigned long pixel = XGetPixel(image, x, y);
                    out[x] = Channel(pixel, image->red_mask) << 16 |
                             Channel(pixel, image->green_mask) << 8 |
                             Channel(pixel, image->blue_mask);
                }
            }
        }
        XDestroyImage(image);
        return true;
    }

    void Beep() override {
        {
            std::lock_guard lock(Displays().Lock());
            if (Display* display = Displays().Get()) {
                XBell(display, 0);
                XFlush(display);
                return;
            }
        }
        const int tty = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (tty >= 0) {
            const char bell = '\a';
            [[maybe_unused]] const ssize_t n = write(tty, &bell, 1);
            close(tty);
        }
    }
};

} // namespace

TScreenService& LinuxScreenService() {
    static TX11ScreenService service;
    return service;
}

} // namespace platform
