// platform/TempFiles.h - the process's private folder of temporary files.
//
// Files that other programs read after we hand them over (a screenshot a mail client attaches
// later) live in one folder that only this user can enter, created on first use and removed
// when the process ends. Folders left behind by processes that died are removed at the next
// start, so nothing accumulates in the shared temporary folder.
#pragma once

#include <string>

namespace platform {

/// The folder for temporary files: $TMPDIR when set and not empty, else /tmp; always ends
/// with "/". Existence is not checked.
std::string TempPath();

/// The process's private temporary folder (mode 0700, name "Jex-<pid>-XXXXXX" inside
/// TempPath()), ending with "/". Created on first use, together with the removal of stale
/// folders of processes that no longer run and an exit hook that removes this one. Throws
/// std::system_error when the folder cannot be created.
std::string PrivateTempFolder();

/// Creates a new, empty file with a unique name "Jex" + six random characters + ASuffix
/// (".bmp", ".jpg") in PrivateTempFolder(), exclusively (never an existing file or link), and
/// returns its path. The file is closed; writing it again by name is safe because nobody else
/// can enter the folder. Throws std::system_error when it cannot be created, and
/// std::invalid_argument when ASuffix contains a "/".
std::string CreateTempFile(const std::string& ASuffix);

/// Removes the private folder with everything in it; the next use creates a new one. Runs by
/// itself when the process exits normally; a forked child never removes its parent's folder.
void CleanupTempFolder();

/// Removes the private folders under TempPath() that belong to this user and whose process
/// no longer runs. Returns how many it removed. Called by the first PrivateTempFolder().
int RemoveStaleTempFolders();

} // namespace platform
