// platform/linux/Shell.cpp - xdg-open, started directly and left to run.
//
// xdg-open may block until a freshly started browser exits, while the caller (a button in an
// error dialog) expects to return at once; so it runs detached and is reaped in the
// background.
#include "platform/Shell.h"

#include "platform/linux/Process.h"

namespace platform {

namespace {

class TLinuxShell final : public TShell {
public:
    bool Open(const std::string& ADocument) override {
        if (ADocument.empty() || ADocument[0] == '-')
            return false;
        return process::StartDetached({"xdg-open", ADocument}) == 0;
    }
};

} // namespace

TShell& LinuxShell() {
    static TLinuxShell shell;
    return shell;
}

} // namespace platform
