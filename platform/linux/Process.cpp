// platform/linux/Process.cpp - posix_spawn with an argument vector and an optional input.
//
// The input goes through a socket pair rather than a pipe so that writes can use
// MSG_NOSIGNAL: a child that exits before reading everything must give an error here, not
// kill the application with SIGPIPE.
#include "platform/linux/Process.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform::process {

namespace {

std::vector<char*> Argv(const std::vector<std::string>& AArgs) {
    std::vector<char*> argv;
    argv.reserve(AArgs.size() + 1);
    for (const std::string& arg : AArgs)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int Spawn(pid_t& APid, const std::vector<std::string>& AArgs,
          const posix_spawn_file_actions_t* AActions) {
    if (AArgs.empty() || AArgs[0].empty())
        return ENOENT;
    std::vector<char*> argv = Argv(AArgs);
    if (AArgs[0].find('/') != std::string::npos)
        return posix_spawn(&APid, argv[0], AActions, nullptr, argv.data(), environ);
    return posix_spawnp(&APid, argv[0], AActions, nullptr, argv.data(), environ);
}

TExitStatus Wait(pid_t APid) {
    TExitStatus status;
    status.Started = true;
    int raw = 0;
    pid_t done;
    do
        done = waitpid(APid, &raw, 0);
    while (done < 0 && errno == EINTR);
    if (done == APid && WIFEXITED(raw)) {
        status.Exited = true;
        status.ExitCode = WEXITSTATUS(raw);
    }
    return status;
}

} // namespace

TExitStatus Run(const std::vector<std::string>& AArgs, const std::string* AStdin) {
    TExitStatus status;
    pid_t pid = 0;
    if (AStdin == nullptr) {
        status.SpawnError = Spawn(pid, AArgs, nullptr);
        return status.SpawnError != 0 ? status : Wait(pid);
    }

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        status.SpawnError = errno;
        return status;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    status.SpawnError = Spawn(pid, AArgs, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (status.SpawnError != 0) {
        close(fds[0]);
        return status;
    }
    std::size_t sent = 0;
    while (sent < AStdin->size()) {
        ssize_t n = send(fds[0], AStdin->data() + sent, AStdin->size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the child stopped reading; its exit status tells the rest
        sent += static_cast<std::size_t>(n);
    }
    shutdown(fds[0], SHUT_WR);
    close(fds[0]);
    TExitStatus result = Wait(pid);
    // A child that quit before taking the whole message has not sent it.
    if (sent < AStdin->size() && result.Exited && result.ExitCode == 0)
        result.ExitCode = 74; // EX_IOERR
    return result;
}

TExitStatus RunCapture(const std::vector<std::string>& AArgs, std::string& AOutput) {
    TExitStatus status;
    AOutput.clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        status.SpawnError = errno;
        return status;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = 0;
    status.SpawnError = Spawn(pid, AArgs, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (status.SpawnError != 0) {
        close(fds[0]);
        return status;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        AOutput.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    return Wait(pid);
}

int StartDetached(const std::vector<std::string>& AArgs) {
    pid_t pid = 0;
    int error = Spawn(pid, AArgs, nullptr);
    if (error != 0)
        return error;
    std::thread([pid] { Wait(pid); }).detach();
    return 0;
}

std::string FindOnPath(const std::string& AProgram) {
    const char* path = std::getenv("PATH");
    return FindOnPath(AProgram, path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
}

std::string ProgramIn(const std::string& AProgram, const std::string& ASearchPath) {
    return ASearchPath.empty() ? AProgram : FindOnPath(AProgram, ASearchPath);
}

std::string FindOnPath(const std::string& AProgram, const std::string& ASearchPath) {
    const std::string& list = ASearchPath;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        // An empty entry stands for the current folder.
        std::string candidate =
            (end > start ? list.substr(start, end - start) : std::string(".")) + "/" + AProgram;

        struct stat st {};

        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

} // namespace platform::process
