// examples/RegistryDemo.cpp - a registry monitor that logs each change under a watched key.
//
// The demo keeps its keys in a store of its own inside the demo's folder, so the user's store is
// not touched. The handler of OnRegistryNotification counts the reports of each step; after the
// step the demo writes one line for it to the log with WriteAsString, and finally prints the log
// and the key as REGEDIT4 text.
#include "examples/RegistryDemo.h"

#include "examples/DemoLoop.h"
#include "host/core/Registry.h"
#include "host/core/RegistryFile.h"
#include "monitors/LogRegistry.h"
#include "platform/KeyStore.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

void RegistryDemo(const std::string& AFolder) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(AFolder) / "jexdemo-registry";
    const std::string logPath = (fs::path(AFolder) / "jexdemo-registry.log").string();
    fs::remove_all(root);
    fs::remove(logPath);
    platform::LinuxKeyStore().SetRoot(root.string());

    host::TRegistry registry;
    registry.SetRootKey(host::HKEY_CURRENT_USER);
    if (!registry.OpenKey("Software\\Velmora\\Demo", true)) {
        std::cout << "== Registry monitor: the key store cannot be written ==\n";
        platform::LinuxKeyStore().SetRoot({});
        return;
    }

    std::unique_ptr<jex::TJexRegistryLog> monitor(host::Create<jex::TJexRegistryLog>(nullptr));
    monitor->SetLogFile(logPath);
    monitor->SetRootKey(host::HKEY_CURRENT_USER);
    monitor->SetKey("Software\\Velmora\\Demo");
    monitor->SetOptions({jex::roName, jex::roLastSet});
    int reports = 0;
    monitor->SetOnRegistryNotification(
        host::TNotifyEvent::FromCallable([&](host::TObject*) { ++reports; }));
    monitor->SetActive(true);
    while (monitor->Worker() != nullptr && !monitor->Worker()->Watching() &&
           !monitor->Worker()->Finished())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    const std::pair<const char*, std::function<void()>> steps[] = {
        {"write Greeting", [&] { registry.WriteString("Greeting", "hello"); }},
        {"write Count", [&] { registry.WriteInteger("Count", 3); }},
        {"create subkey Settings", [&] { registry.CreateKey("Settings"); }},
        {"delete value Greeting", [&] { registry.DeleteValue("Greeting"); }},
    };
    for (const auto& [what, change] : steps) {
        reports = 0;
        change();
        demo::ServeUntilQuiet();
        monitor->WriteAsString(std::string(what) + ": " +
                               (reports > 0 ? "OnRegistryNotification" : "nothing") + "\n");
    }
    monitor->SetActive(false);

    std::cout << "== Registry monitor: HKEY_CURRENT_USER\\Software\\Velmora\\Demo "
                 "(logged by TJexRegistryLog) ==\n"
              << std::ifstream(logPath).rdbuf()
              << host::ExportRegistryText(host::HKEY_CURRENT_USER, "Software\\Velmora\\Demo")
              << "\n";
    monitor.reset();
    registry.CloseKey();
    platform::LinuxKeyStore().SetRoot({});
    fs::remove(logPath);
    fs::remove_all(root);
}
