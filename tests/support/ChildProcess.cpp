// tests/support/ChildProcess.cpp - forked children: a part of a test, or a program under a
// watchdog.
#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
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

TChildOutcome RunWatchedChild(const std::vector<std::string>& AArgs,
                              std::chrono::milliseconds ALimit) {
    TChildOutcome outcome;
    int errors[2];
    if (AArgs.empty() || pipe2(errors, O_CLOEXEC) != 0)
        return outcome;
    std::vector<char*> argv;
    for (const std::string& a : AArgs)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // Children that are meant to crash leave no core files behind.
        struct rlimit noCore {
            0, 0
        };

        setrlimit(RLIMIT_CORE, &noCore);
        dup2(errors[1], STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(errors[1]);
    if (pid < 0) {
        close(errors[0]);
        return outcome;
    }
    fcntl(errors[0], F_SETFL, O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + ALimit;
    int status = 0;
    for (;;) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(errors[0], buffer, sizeof buffer)) > 0)
            outcome.Errors.append(buffer, static_cast<std::size_t>(n));
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            outcome.TimedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(errors[0], buffer, sizeof buffer)) > 0)
        outcome.Errors.append(buffer, static_cast<std::size_t>(n));
    close(errors[0]);
    if (!outcome.TimedOut && WIFEXITED(status)) {
        outcome.Exited = true;
        outcome.ExitCode = WEXITSTATUS(status);
    } else if (!outcome.TimedOut && WIFSIGNALED(status)) {
        outcome.Signalled = true;
        outcome.Signal = WTERMSIG(status);
    }
    return outcome;
}

} // namespace jex::test
