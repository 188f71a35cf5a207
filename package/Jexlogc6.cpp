// package/Jexlogc6.cpp - the component package: its units' start-up and shut-down.
#include "package/Jexlogc6.h"

#include "checks/JexLChecks.h"
#include "exceptions/LogDlg.h"
#include "exceptions/LogError.h"
#include "logging/LogBase.h"
#include "monitors/LogApp.h"
#include "monitors/LogDS.h"
#include "monitors/LogFile.h"

namespace jex {

namespace {

struct TUnitEntry {
    void (*Initialization)();
    void (*Finalization)();
};

void Nothing() {}

// The package's units in initialisation order; finalisation runs backwards. Units without
// start-up work have empty entries so the order stays visible here.
constexpr TUnitEntry Units[] = {
    {&Nothing, &Nothing},                                 // Jexlogc6
    {&Nothing, &Nothing},                                 // LogCnst
    {&JexLChecksInitialization, &JexLChecksFinalization}, // JexLChecks
    {&LogBaseInitialization, &LogBaseFinalization},       // LogBase
    {&LogFileInitialization, &LogFileFinalization},       // LogFile
    {&LogDSInitialization, &LogDSFinalization},           // LogDS
    {&LogDlgInitialization, &LogDlgFinalization},         // LogDlg
    {&Nothing, &Nothing},                                 // Jexmapfile
    {&LogErrorInitialization, &LogErrorFinalization},     // LogError
    {&LogAppInitialization, &LogAppFinalization},         // LogApp
};

} // namespace

void Initialize() {
    for (const TUnitEntry& unit : Units)
        unit.Initialization();
}

void Finalize() {
    for (auto it = std::rbegin(Units); it != std::rend(Units); ++it)
        it->Finalization();
}

} // namespace jex

// The shared library's load and unload are the package's load and unload.
[[gnu::constructor]] static void JexPackageLoad() {
    jex::Initialize();
}

[[gnu::destructor]] static void JexPackageUnload() {
    jex::Finalize();
}
