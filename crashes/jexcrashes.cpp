// crashes/jexcrashes.cpp - jexcrashes, the console command that groups the exception logger's
// reports in a journal by crash signature.
//
//   jexcrashes                       the local journal
//   jexcrashes --file a.journal ...  journal files (those a systemd-journal-remote wrote)
//   jexcrashes --export FILE|-       a stream already in the export format
//
// The journals are read through `journalctl -o export`, so every journal the installed
// systemd can read is understood, without linking libsystemd; the export format is the one the
// logger itself sends.
#include "crashes/CrashGroups.h"
#include "crashes/JournalExportReader.h"
#include "platform/linux/Process.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* Usage = "usage: jexcrashes [--file JOURNAL]... | --export FILE|-\n"
                              "Groups the exception reports of a journal by crash signature.\n";

bool ReadAll(int AFd, std::string& AOut) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(AFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        AOut.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    std::string exportFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--file" || arg == "--export") && i + 1 < argc) {
            (arg == "--file" ? files.emplace_back() : exportFile) = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            std::cout << Usage;
            return 0;
        } else {
            std::cerr << "jexcrashes: unknown argument '" << arg << "'\n" << Usage;
            return 2;
        }
    }
    if (!exportFile.empty() && !files.empty()) {
        std::cerr << "jexcrashes: --export and --file exclude each other\n" << Usage;
        return 2;
    }

    std::string stream;
    if (!exportFile.empty()) {
        const int fd =
            exportFile == "-" ? STDIN_FILENO : open(exportFile.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || !ReadAll(fd, stream)) {
            std::cerr << "jexcrashes: " << exportFile << ": " << std::strerror(errno) << "\n";
            return 1;
        }
        if (fd != STDIN_FILENO)
            close(fd);
    } else {
        std::vector<std::string> args{"journalctl", "--no-pager", "-o", "export"};
        for (const std::string& file : files) {
            // journalctl silently reads nothing from a missing file; say so instead.
            if (access(file.c_str(), R_OK) != 0) {
                std::cerr << "jexcrashes: " << file << ": " << std::strerror(errno) << "\n";
                return 1;
            }
            args.push_back("--file=" + file);
        }
        // Only the error priority: the logger's reports are sent with PRIORITY 3.
        args.emplace_back("PRIORITY=3");
        const platform::process::TExitStatus status = platform::process::RunCapture(args, stream);
        if (!status.Started || status.SpawnError != 0) {
            std::cerr << "jexcrashes: journalctl: " << std::strerror(status.SpawnError) << "\n";
            return 1;
        }
        if (!status.Exited || status.ExitCode != 0) {
            std::cerr << "jexcrashes: journalctl failed (exit status " << status.ExitCode << ")\n";
            return 1;
        }
    }
    try {
        std::cout << jex::crashes::FormatCrashGroups(
            jex::crashes::GroupCrashes(jex::crashes::ParseJournalExport(stream)));
    } catch (const jex::crashes::EJournalExportError& e) {
        std::cerr << "jexcrashes: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
