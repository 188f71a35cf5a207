// tests/support/InterruptedRun.cpp - ptrace to catch the child between two system calls.
#include "tests/support/InterruptedRun.h"

#include "tests/support/TempDir.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace jex::test {

namespace {

std::set<std::string> Entries(const std::string& AFolder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(AFolder, error))
        names.insert(entry.path().filename().string());
    return names;
}

} // namespace

TInterruptedRun InterruptWhileWriting(const std::vector<std::string>& AArgs,
                                      const std::string& AFolder, int ASignal) {
    std::vector<char*> argv;
    for (const std::string& arg : AArgs)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::set<std::string> before = Entries(AFolder);
    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        raise(SIGSTOP); // wait for the parent to set the options
        execv(argv[0], argv.data());
        _exit(127);
    }
    TInterruptedRun run;
    int status = 0;
    waitpid(child, &status, 0);
    ptrace(PTRACE_SETOPTIONS, child, nullptr,
           reinterpret_cast<void*>(PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL));
    int forward = 0; // a signal the child received, passed on when it resumes
    while (ptrace(PTRACE_SYSCALL, child, nullptr, reinterpret_cast<void*>(forward)) == 0 &&
           waitpid(child, &status, 0) == child && WIFSTOPPED(status)) {
        forward = 0;
        const int stop = WSTOPSIG(status);
        if (stop == (SIGTRAP | 0x80)) {
            for (const std::string& name : Entries(AFolder)) {
                if (before.count(name) == 0) {
                    run.CreatedName = name;
                    run.SignalledWhileWriting = true;
                }
            }
            if (run.SignalledWhileWriting) {
                ptrace(PTRACE_DETACH, child, nullptr, reinterpret_cast<void*>(ASignal));
                waitpid(child, &status, 0);
                break;
            }
        } else if (stop != SIGTRAP && stop != SIGSTOP) {
            forward = stop;
        }
    }
    run.Status = status;
    return run;
}

std::string ShellQuote(const std::string& AText) {
    std::string quoted = "'";
    for (char c : AText)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

TShellRun RunShell(const std::string& ACommand, const std::string& AFolder) {
    const std::string out = AFolder + "/shell.out";
    const std::string err = AFolder + "/shell.err";
    const std::string command =
        "( " + ACommand + " ) >" + ShellQuote(out) + " 2>" + ShellQuote(err);
    const int status = std::system(command.c_str());
    TShellRun run;
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = ReadFileBytes(out);
    run.Err = ReadFileBytes(err);
    unlink(out.c_str());
    unlink(err.c_str());
    return run;
}

bool CanMountPrivateTmpfs() {
    static const bool can = [] {
        TempDir dir;
        return std::system(("unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs " +
                            ShellQuote(dir.Path().string()) + "' >/dev/null 2>&1")
                               .c_str()) == 0;
    }();
    return can;
}

} // namespace jex::test
