// tests/support/VirtualDisplay.cpp - Xvfb started, waited for and stopped.
#include "tests/support/VirtualDisplay.h"

#include "tests/support/ChildProcess.h"

#include <X11/Xlib.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace jex::test {

TVirtualDisplay::TVirtualDisplay() {
    if (const char* display = std::getenv("DISPLAY")) {
        FOldDisplay = display;
        FHadDisplay = true;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        FError = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    FPid = ::fork();
    if (FPid == 0) {
        // The display ends with the test process, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The write end must survive exec: Xvfb writes the display number into it.
        const int fd = ::dup(pipeFds[1]);
        const std::string fdText = std::to_string(fd);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", "1280x1024x24",
                 "-br", "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (FPid < 0) {
        FError = std::string("fork: ") + std::strerror(errno);
        ::close(pipeFds[0]);
        return;
    }
    // Xvfb writes "<n>\n" once it accepts connections; it ends the pipe when it fails.
    std::string number;
    for (;;) {
        pollfd waitFor{pipeFds[0], POLLIN, 0};
        if (::poll(&waitFor, 1, 10000) <= 0)
            break;
        char c = 0;
        if (::read(pipeFds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(pipeFds[0]);
    if (number.empty()) {
        FError = "Xvfb did not report a display (is it installed?)";
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        FPid = -1;
        return;
    }
    FName = ":" + number;
    ::setenv("DISPLAY", FName.c_str(), 1);
}

TVirtualDisplay::~TVirtualDisplay() {
    // Xvfb is not stopped here: Qt keeps its connection to the display until the process
    // ends, and a display gone under it ends the process with an error. It stops with us.
    if (FHadDisplay)
        ::setenv("DISPLAY", FOldDisplay.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}

bool TVirtualDisplay::Click(int AX, int AY) const {
    const TChildOutcome outcome =
        RunWatchedChild({"/usr/bin/env", "DISPLAY=" + FName, "xdotool", "mousemove",
                         std::to_string(AX), std::to_string(AY), "click", "1"});
    return outcome.Exited && outcome.ExitCode == 0;
}

bool TVirtualDisplay::CloseWindow(unsigned long AWindow) const {
    Display* display = XOpenDisplay(FName.c_str());
    if (display == nullptr)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = AWindow;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, AWindow, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return true;
}

} // namespace jex::test
