// platform/linux/X11Screen.cpp - the screen service on X11: root window size and XGetImage.
//
// The root window spans every monitor, so the copy is the whole desktop. A display is opened
// per call and closed again: the service is used rarely (a report, a beep) and a connection
// kept open would tie the process to a server that may go away. Wayland-only sessions show
// no native windows through XWayland's root; that is a limit of the X11 route.
#include "platform/Screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace platform {

namespace {

struct TDisplayCloser {
    void operator()(Display* ADisplay) const { XCloseDisplay(ADisplay); }
};

using TDisplayPtr = std::unique_ptr<Display, TDisplayCloser>;

TDisplayPtr OpenDisplay() {
    // Without DISPLAY there is nothing to reach; do not let Xlib guess.
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return nullptr;
    return TDisplayPtr(XOpenDisplay(name));
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
        TDisplayPtr display = OpenDisplay();
        if (!display)
            return;
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display.get(), DefaultRootWindow(display.get()), &attributes)) {
            AWidth = attributes.width;
            AHeight = attributes.height;
        }
    }

    bool Capture(TScreenImage& AImage) override {
        AImage = {};
        TDisplayPtr display = OpenDisplay();
        if (!display)
            return false;
        const Window root = DefaultRootWindow(display.get());
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display.get(), root, &attributes) || attributes.width <= 0 ||
            attributes.height <= 0)
            return false;
        XImage* image =
            XGetImage(display.get(), root, 0, 0, static_cast<unsigned>(attributes.width),
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
        if (TDisplayPtr display = OpenDisplay()) {
            XBell(display.get(), 0);
            XFlush(display.get());
            return;
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
