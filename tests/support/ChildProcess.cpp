// tests/support/ChildProcess.cpp - fork, run, _exit and wait.
#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

namespace jex::test {

TChildProcess::TChildProcess(const std::function<int()>& ABody)
    : FPid(fork()) {
    if (FPid != 0)
        return;
    int code = 125;
    try {
        code = ABody();
    } catch (...) {
    }
    _exit(code);
}

TChildProcess::~TChildProcess() {
    Wait();
}

int TChildProcess::Wait() {
    if (FPid <= 0)
        return FExitCode;
    int status = 0;
    pid_t done;
    do
        done = waitpid(FPid, &status, 0);
    while (done < 0 && errno == EINTR);
    FExitCode = done == FPid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    FPid = -1;
    return FExitCode;
}

int RunInChild(const std::function<int()>& ABody) {
    return TChildProcess(ABody).Wait();
}

} // namespace jex::test
