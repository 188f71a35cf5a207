// tool/VellinMain.cpp - the command line of the vellin tool.
//
// The debug-symbol operations are already bound when main starts (tool/LBD.cpp). main reads the
// two paths and runs the merge of tool/vellin.cpp; an error ends the run with the one-line report
// of tool/VellinError.h and exit code 1. A run that is interrupted (SIGINT, SIGTERM, SIGHUP)
// removes its temporary map; the map itself is replaced in one step, so it stays whole.
#include "platform/linux/FileOps.h"
#include "tool/VellinError.h"
#include "tool/vellin.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

// Usage text without arguments (exit code 0), else the merge of argument 1 into argument 2
// (default: argument 1 with ".map"). Prints nothing on success; an error, also one writing the
// usage text, is reported with exit code 1.
int RunVellin(int AArgCount, const char* const* AArgs) {
    try {
        if (AArgCount < 2) {
            std::fwrite(vellin::UsageText.data(), 1, vellin::UsageText.size(), stdout);
            try {
                fileops::FlushStandardOutput();
            } catch (const fileops::EFileError& error) {
                throw vellin::EInOutError("Cannot write to standard output. " + error.Reason());
            }
            return 0;
        }
        const std::string tds = AArgs[1];
        const std::string map =
            AArgCount >= 3 ? std::string(AArgs[2]) : vellin::ChangeFileExt(tds, ".map");
        vellin::MergeIntoMapFile(tds, map);
        return 0;
    } catch (...) {
        return vellin::ReportUnhandledError(std::current_exception());
    }
}

} // namespace

int main(int argc, char** argv) {
    fileops::ReserveStandardStreams();
    fileops::RemoveTemporariesOnSignals();
    return RunVellin(argc, argv);
}
