// examples/EventLogDemo.cpp - two events written to the system event log and read back.
//
// The demo's store and keys live in its own folder, laid out as the user's XDG folders are, so
// that the eventlog tool, started with those folders as its XDG_STATE_HOME and XDG_DATA_HOME,
// reads the same log. The message file is a small .mc catalogue written by the demo.
#include "examples/EventLogDemo.h"

#include "monitors/LogNT.h"
#include "platform/EventLog.h"
#include "platform/KeyStore.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr const char* Catalogue = "; the demo's messages\n"
                                  "MessageId=1\n"
                                  "Language=English\n"
                                  "Order %1 was shipped.\n"
                                  ".\n"
                                  "MessageId=2\n"
                                  "Severity=Warning\n"
                                  "Language=English\n"
                                  "Stock of %1 is low.\n"
                                  ".\n";

// Runs the eventlog tool beside the demo with the demo's folders as the user's; false when it
// cannot be started or fails.
bool RunTool(const std::filesystem::path& AFolder, const std::vector<std::string>& AArgs) {
    const std::filesystem::path tool =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "eventlog";
    std::vector<std::string> args{tool.string()};
    args.insert(args.end(), AArgs.begin(), AArgs.end());
    std::vector<std::string> env{"XDG_STATE_HOME=" + (AFolder / "state").string(),
                                 "XDG_DATA_HOME=" + (AFolder / "data").string()};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (!text.starts_with("XDG_STATE_HOME=") && !text.starts_with("XDG_DATA_HOME="))
            env.push_back(text);
    }
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::fflush(stdout);
    std::cout.flush();
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        return false;
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

void EventLogDemo(const std::string& AFolder) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(AFolder) / "jexdemo-eventlog";
    fs::remove_all(root);
    platform::LinuxKeyStore().SetRoot((root / "data/jexlogger/registry").string());
    platform::LinuxEventStore().SetRoot((root / "state/jexlogger/eventlog").string());
    platform::LinuxEventStore().SetSystemLogMirror(false); // the demo's events are no real ones
    fs::create_directories(root);
    const std::string messages = (root / "shop.mc").string();
    std::ofstream(messages) << Catalogue;

    std::cout << "== System event log: two events of source DemoShop ==\n";
    if (platform::LinuxEventStore().RegisterSource("Application", "DemoShop", messages) != 0) {
        std::cout << "the key store cannot be written\n";
    } else {
        std::unique_ptr<jex::TJexNTEventLog> log(host::Create<jex::TJexNTEventLog>(nullptr));
        log->SetSource("DemoShop");
        // Each event's one string is the text written; the messages take it for %1.
        log->WriteToEventLog("1042", jex::EVENTLOG_INFORMATION_TYPE, 0, 0x0FFF0001);
        log->WriteToEventLog("blue paint", jex::EVENTLOG_WARNING_TYPE, 0, 0x8FFF0002);
        log->Open();
        std::cout << "TJexNTEventLog reads " << log->GetEventCount() << " records:\n";
        for (std::uint32_t i = 0; i < log->GetEventCount(); ++i) {
            log->ReadEvent(i);
            char id[16];
            std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(log->GetEventID()));
            std::cout << "  #" << i << " " << log->GetEventSource() << " " << id << ": "
                      << log->GetEventMessageText() << "\n";
        }
        log->Close();
        std::cout << "eventlog list:\n";
        if (!RunTool(root, {"list"}))
            std::cout << "(the eventlog tool could not be run)\n";
    }
    std::cout << "\n";
    platform::LinuxEventStore().SetSystemLogMirror(true);
    platform::LinuxEventStore().SetRoot({});
    platform::LinuxKeyStore().SetRoot({});
    fs::remove_all(root);
}
