// platform/TempFiles.h - the process's private folder of temporary files.
//
// Files that other programs read after we hand them over (a screenshot a mail client attaches
// later) live in one folder that only this user can enter, created on first use and removed
// when the process ends. Folders left behind by processes that died are removed at the next
// start, so nothing accumulates in the shared temporary folder.
//
// Everything above the platform layer reaches temporary files through the TTempFiles of
// PlatformServices(); a test swaps in the fake (platform/fake/TempFiles.h) with a folder of its
// own instead of changing the environment.
#pragma once

#include <memory>
#include <string>

namespace platform {

/// Where temporary files are made.
class TTempFiles {
public:
    virtual ~TTempFiles() = default;

    /// The folder for temporary files; always ends with "/". Existence is not checked.
    virtual std::string TempPath() = 0;

    /// The process's private temporary folder inside TempPath(), ending with "/". Created on
    /// first use. Throws std::system_error when the folder cannot be created.
    virtual std::string PrivateTempFolder() = 0;

    /// Creates a new, empty file with a unique name "Jex" + six random characters + ASuffix
    /// (".bmp", ".jpg") in PrivateTempFolder(), exclusively (never an existing file or link),
    /// and returns its path. The file is closed; writing it again by name is safe because
    /// nobody else can enter the folder. Throws std::system_error when it cannot be created,
    /// and std::invalid_argument when ASuffix contains a "/".
    virtual std::string CreateTempFile(const std::string& ASuffix) = 0;

    /// Removes the private folder with everything in it; the next use creates a new one.
    virtual void CleanupTempFolder() = 0;

    /// Removes the private folders under TempPath() that belong to this user and whose
    /// process no longer runs. Returns how many it removed.
    virtual int RemoveStaleTempFolders() = 0;
};

/// The Linux temporary files of the process: TempPath() is $TMPDIR when set and not empty,
/// else /tmp. The private folder is "Jex-<pid>-XXXXXX" (mode 0700); its first creation also
/// removes the stale folders of processes that no longer run. The folder is removed when the
/// process exits normally; a forked child never removes its parent's folder.
TTempFiles& LinuxTempFiles();

/// Linux temporary files of their own under the folder ABase (empty: as LinuxTempFiles()),
/// with the same private folder, stale-folder removal and exit cleanup. The private folder is
/// also removed when the object is destroyed.
std::unique_ptr<TTempFiles> NewLinuxTempFiles(const std::string& ABase);

} // namespace platform
