// elfmap/elfmap.cpp - writes the detailed map file of a Linux executable from its symbol table
// and DWARF line tables, so that exception reports name unit, procedure and line.
//
//   elfmap EXECUTABLE [MAPFILE] [--debug-file FILE]
#include "elfmap/ElfImage.h"
#include "elfmap/MapWriter.h"

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

namespace {

constexpr const char* Usage =
    "usage: elfmap EXECUTABLE [MAPFILE] [--debug-file FILE]\n"
    "Writes the map file of EXECUTABLE (default: its path with the extension \".map\") from its\n"
    "function symbols and DWARF line tables; --debug-file reads them from a separate debug file.\n";

} // namespace

int main(int argc, char** argv) {
    std::string executable, mapFile, debugFile;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(Usage, stdout);
            return 0;
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
        elfmap::TAtomicFileWriter writer(mapFile);
        elfmap::FormatMap(image, writer);
        writer.Commit();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "elfmap: %s\n", error.what());
        return 1;
    }
    return 0;
}
