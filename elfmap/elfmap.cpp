// elfmap/elfmap.cpp - writes the detailed map file of a Linux executable from its symbol table
// and DWARF line tables, so that exception reports name unit, procedure and line.
//
//   elfmap EXECUTABLE [MAPFILE] [--debug-file FILE]
#include "elfmap/ElfImage.h"
#include "elfmap/MapWriter.h"
#include "platform/linux/FileOps.h"

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr const char* Usage =
    "usage: elfmap EXECUTABLE [MAPFILE] [--debug-file FILE]\n"
    "Writes the map file of EXECUTABLE (default: its path with the extension \".map\") from its\n"
    "function symbols and DWARF line tables; --debug-file reads them from a separate debug file.\n";

// Flushes standard output; 1 with a message when what was written to it was lost, else ACode.
int FinishOutput(int ACode) {
    try {
        fileops::FlushStandardOutput();
    } catch (const fileops::EFileError& error) {
        std::fprintf(stderr, "elfmap: cannot write to standard output: %s\n",
                     error.Reason().c_str());
        return 1;
    }
    return ACode;
}

} // namespace

int main(int argc, char** argv) {
    fileops::ReserveStandardStreams();
    // An interrupted run removes its temporary map; the map itself is replaced in one step.
    fileops::RemoveTemporariesOnSignals();
    std::string executable, mapFile, debugFile;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(Usage, stdout);
            return FinishOutput(0);
        }
        if (argument == "--debug-file" && i + 1 < argc) {
            debugFile = argv[++i];
        } else if (argument.starts_with("--debug-file=")) {
            debugFile = argument.substr(std::string_view("--debug-file=").size());
        } else if (argument.starts_with("-") && argument.size() > 1) {
            std::fprintf(stderr, "elfmap: unknown option %s\n%s", argv[i], Usage);
            return 2;
        } else if (executable.empty()) {
            executable = argument;
        } else if (mapFile.empty()) {
            mapFile = argument;
        } else {
            std::fputs(Usage, stderr);
            return 2;
        }
    }
    if (executable.empty()) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (mapFile.empty())
        mapFile = elfmap::DefaultMapPath(executable);
    try {
        const elfmap::TElfImage image = elfmap::ReadElfImage(executable, debugFile);
        // The map may never replace what it is made from (an executable named app.map, or the
        // same path given twice).
        std::vector<std::string> inputs{executable};
        if (!debugFile.empty())
            inputs.push_back(debugFile);
        elfmap::TAtomicFileWriter writer(mapFile, std::move(inputs));
        elfmap::FormatMap(image, writer);
        writer.Commit();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "elfmap: %s\n", error.what());
        return 1;
    }
    return 0;
}
