// platform/fake/TempFiles.cpp - temporary files in a folder the test chose.
#include "platform/fake/TempFiles.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace platform {

TFakeTempFiles::TFakeTempFiles(std::string AFolder) {
    SetFolder(AFolder);
}

void TFakeTempFiles::SetFolder(const std::string& AFolder) {
    FFolder = AFolder;
    if (FFolder.empty() || FFolder.back() != '/')
        FFolder += '/';
}

std::string TFakeTempFiles::TempPath() {
    return FFolder;
}

std::string TFakeTempFiles::PrivateTempFolder() {
    return FFolder;
}

std::string TFakeTempFiles::CreateTempFile(const std::string& ASuffix) {
    if (ASuffix.find('/') != std::string::npos)
        throw std::invalid_argument("a temporary file suffix cannot contain a folder: " + ASuffix);
    if (FCreateError != 0)
        throw std::system_error(FCreateError, std::generic_category(),
                                "cannot create a temporary file in " + FFolder);
    for (;;) {
        char name[16];
        std::snprintf(name, sizeof name, "Jex%06u", FNext++ % 1000000);
        const std::string path = FFolder + name + ASuffix;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            FCreated.push_back(path);
            return path;
        }
        if (errno != EEXIST || FNext > 1000000)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot create a temporary file in " + FFolder);
    }
}

void TFakeTempFiles::CleanupTempFolder() {
    for (const std::string& path : FCreated)
        unlink(path.c_str());
    FCreated.clear();
}

} // namespace platform
