// tests/support/JournalReceiver.cpp - starting, waiting for and stopping the receiver.
#include "tests/support/JournalReceiver.h"

#include "platform/linux/Process.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace jex::test {

namespace {

sockaddr_in Loopback(int APort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(APort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port nobody listens on now: the kernel's choice for port 0.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool Accepts(int APort) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(APort);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

} // namespace

std::string JournalRemoteProgram() {
    for (const char* path :
         {"/lib/systemd/systemd-journal-remote", "/usr/lib/systemd/systemd-journal-remote"})
        if (access(path, X_OK) == 0)
            return path;
    return {};
}

TJournalReceiver::TJournalReceiver(std::string AJournal)
    : FJournal(std::move(AJournal))
    , FPort(FreePort()) {}

TJournalReceiver::~TJournalReceiver() {
    Stop();
}

bool TJournalReceiver::Start() {
    if (FPid > 0)
        return true;
    // Another program may take the chosen port first; the receiver then ends at once and a new
    // port is tried.
    for (int attempt = 0; attempt < 5; ++attempt, FPort = FreePort())
        if (StartOnce())
            return true;
    return false;
}

bool TJournalReceiver::StartOnce() {
    const std::vector<std::string> args{JournalRemoteProgram(), "--split-mode=none",
                                        "--listen-http=127.0.0.1:" + std::to_string(FPort),
                                        "--output=" + FJournal};
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // Its chatter on standard error is not the test's. Its standard input is a pipe held open
    // until Stop: the receiver also reads a non-terminal input and ends at its end of file.
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // A session of its own, as a receiver on another machine would be: the kernel's per-session
    // scheduling group then does not charge its work to the program that sends to it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const int error = posix_spawn(&FPid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    FInput = input[1];
    if (error != 0) {
        FPid = -1;
        close(FInput);
        FInput = -1;
        return false;
    }
    const auto ended = [this] {
        if (waitpid(FPid, nullptr, WNOHANG) != FPid)
            return false;
        FPid = -1;
        close(FInput);
        FInput = -1;
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ended())
            return false;
        if (Accepts(FPort)) {
            // Whoever answered, the receiver must still run: one that could not bind has ended.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return !ended();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    return false;
}

void TJournalReceiver::Stop() {
    if (FPid <= 0)
        return;
    kill(FPid, SIGTERM);
    while (waitpid(FPid, nullptr, 0) < 0 && errno == EINTR) {
    }
    FPid = -1;
    close(FInput);
    FInput = -1;
}

bool TJournalReceiver::StandBack() {
    if (FPid <= 0 || setpriority(PRIO_PROCESS, static_cast<id_t>(FPid), 19) != 0)
        return false;
    // With the kernel's session groups on, a nice value only weighs within the session.
    std::ofstream group("/proc/" + std::to_string(FPid) + "/autogroup");
    if (group)
        group << 19 << std::flush;
    return true;
}

std::string TJournalReceiver::Url() const {
    return "http://127.0.0.1:" + std::to_string(FPort);
}

std::string TJournalReceiver::Export() const {
    std::string out;
    platform::process::RunCapture(
        {"journalctl", "--no-pager", "--file=" + FJournal, "-o", "export"}, out);
    return out;
}

} // namespace jex::test
