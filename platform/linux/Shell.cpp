// platform/linux/Shell.cpp - xdg-open, started directly and left to run.
//
// xdg-open may block until a freshly started browser exits, while the caller (a button in an
// error dialog) expects to return at once; so it runs detached and is reaped in the
// background.
#include "platform/Shell.h"

#include "platform/linux/Process.h"

#include <utility>

namespace platform {

namespace {

class TLinuxShell final : public TShell {
public:
    explicit TLinuxShell(std::string ASearchPath = {})
        : FSearchPath(std::move(ASearchPath)) {}

    bool Open(const std::string& ADocument) override {
        if (ADocument.empty() || ADocument[0] == '-')
            return false;
        const std::string program = process::ProgramIn("xdg-open", FSearchPath);
        return !program.empty() && process::StartDetached({program, ADocument}) == 0;
    }

private:
    std::string FSearchPath;
};

} // namespace

TShell& LinuxShell() {
    static TLinuxShell shell;
    return shell;
}

std::unique_ptr<TShell> NewLinuxShell(const std::string& ASearchPath) {
    return std::make_unique<TLinuxShell>(ASearchPath);
}

} // namespace platform
