// examples/FolderMonitorDemo.cpp - a folder monitor that logs the changes made in a folder.
//
// The handler of OnFileNotification gathers the kinds of change reported for each step; after
// the step the demo writes one line for it to the log with WriteAsString, and finally prints
// the log. The log lies outside the watched folder, or its own writes would be reported too.
#include "examples/FolderMonitorDemo.h"

#include "examples/DemoLoop.h"
#include "monitors/LogFile.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace {

const char* OptionName(jex::TFileNotificationOption AOption) {
    static const char* const names[] = {"foFile", "foFolder", "foAttributes",
                                        "foSize", "foTime",   "foWatchSubFolders"};
    return names[AOption];
}

} // namespace

void FolderMonitorDemo(const std::string& AFolder) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::path(AFolder) / "jexdemo-folder-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::cout << "== Folder monitor: no temporary folder ==\n";
        return;
    }
    const fs::path folder = pattern;
    const std::string logPath = (fs::path(AFolder) / "jexdemo-folder.log").string();
    fs::remove(logPath);

    std::unique_ptr<jex::TJexFileLog> monitor(host::Create<jex::TJexFileLog>(nullptr));
    monitor->SetLogFile(logPath);
    monitor->SetFolder(folder.string());
    monitor->SetOptions({jex::foFile, jex::foFolder, jex::foTime, jex::foWatchSubFolders});
    std::set<jex::TFileNotificationOption> seen;
    monitor->SetOnFileNotification(jex::TFileNotifyEvent::FromCallable(
        [&](host::TObject*, jex::TFileNotificationOption AAction) { seen.insert(AAction); }));
    monitor->SetActive(true);

    const std::pair<const char*, std::function<void()>> steps[] = {
        {"create report.txt", [&] { std::ofstream(folder / "report.txt"); }},
        {"write to report.txt", [&] { std::ofstream(folder / "report.txt") << "Q4 figures\n"; }},
        {"make folder archive", [&] { fs::create_directory(folder / "archive"); }},
        {"move report.txt into archive",
         [&] { fs::rename(folder / "report.txt", folder / "archive" / "report.txt"); }},
        {"delete archive/report.txt", [&] { fs::remove(folder / "archive" / "report.txt"); }},
    };
    for (const auto& [what, change] : steps) {
        seen.clear();
        change();
        demo::ServeUntilQuiet();
        std::ostringstream line;
        line << what << ":";
        for (const jex::TFileNotificationOption action : seen)
            line << " " << OptionName(action);
        monitor->WriteAsString(line.str() + "\n");
    }
    monitor->SetActive(false);

    std::cout << "== Folder monitor: " << folder.string() << " (logged by TJexFileLog) ==\n"
              << std::ifstream(logPath).rdbuf() << "\n";
    monitor.reset();
    fs::remove(logPath);
    fs::remove_all(folder);
}
