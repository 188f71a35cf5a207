// platform/File.h - the one place that opens, reads, writes, renames, stats and deletes files.
//
// Everything above the platform layer reaches files through TFileService: the host's file
// stream, its file tests, the executable's path and the map reader. A test swaps in the
// faulting fake (platform/fake/File.h) through platform/PlatformServices.h and makes the Nth
// open, read, write or rename fail, which is how the suite shows that a fault loses nothing.
// Errors are plain errno values here; the host turns them into its own exception classes.
//
// Contract for implementations:
// - every operation reports failure through its result and never throws for a file error;
// - an open that conflicts with another open of the same file (the framework's sharing rule,
//   see TFileOpenMode) fails with EBUSY, after waiting at most the mode's ClaimWaitMs;
// - ReadFile reads only regular files: a folder is EISDIR, a FIFO, socket or device EINVAL,
//   so a misplaced special file never blocks the reader or feeds it without end;
// - ReplaceFile leaves either the old file or the whole new one, never a mix, and no
//   temporary file behind;
// - a handle closes its file, and ends its claim on it, when destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

/// Kinds of access an open file has, or that it lets others have (bit set).
enum TFileShareBits : std::uint8_t {
    fsNone = 0,
    fsRead = 1,
    fsWrite = 2,
    fsReadWrite = 3,
};

/// What an open does when the file is missing, or exists.
enum TFileCreation : std::uint8_t {
    fcOpenExisting,     ///< a missing file fails with ENOENT
    fcCreateIfMissing,  ///< a missing file is created empty; an existing one is kept as it is
    fcCreateOrTruncate, ///< a missing file is created, an existing one emptied once the
                        ///< sharing check has passed (a refused open never truncates)
};

/// How a file is to be opened.
///
/// Sharing follows the Windows rule: the open succeeds only when, for every open of the same
/// file (same device and inode, whatever name reached it) that is already there, in this
/// process or in another one using this service, Access lies within that one's Share and that
/// one's access within Share. Other processes are held back by advisory locks only. FIFOs,
/// sockets and devices are shared freely.
struct TFileOpenMode {
    TFileShareBits Access = fsRead; ///< what this open will do
    TFileShareBits Share = fsNone;  ///< what it lets others do meanwhile
    TFileCreation Creation = fcOpenExisting;
    bool Append = false; ///< every write lands at the end of the file as one append
    /// How long a conflicting open by someone else is waited out before EBUSY; 0 fails at once.
    int ClaimWaitMs = 0;
    /// -1: opening and writing a FIFO or device may wait for its other side without limit.
    /// 0 or more: the open never waits for a partner, and a write the other side has not taken
    /// within this many milliseconds fails with EAGAIN (whatever was taken stays taken).
    int BlockLimitMs = -1;
};

/// An open file. Not shared between threads without the caller's own lock.
class TFileHandle {
public:
    /// Closes the file and ends the claim the open took.
    virtual ~TFileHandle() = default;

    /// Reads up to ACount bytes at the position, resuming after signals, until ACount bytes,
    /// the end of the file or an error. Returns the count read; AError is 0, or the errno that
    /// stopped it early.
    virtual std::int64_t Read(void* ABuffer, std::int64_t ACount, int& AError) = 0;

    /// Writes ACount bytes at the position (at the end when opened to append) until all are
    /// out or the file refuses the rest. Returns the count written; AError is 0 when all went
    /// out, else the errno of the refusal (ENOSPC, EIO, EBADF for a file opened to read).
    virtual std::int64_t Write(const void* ABuffer, std::int64_t ACount, int& AError) = 0;

    /// Moves the position as lseek does (SEEK_SET, SEEK_CUR, SEEK_END); returns the new
    /// position, or -1 when it cannot be moved.
    virtual std::int64_t Seek(std::int64_t AOffset, int AWhence) = 0;

    /// Cuts or extends the file to ASize bytes (the position stays); 0 or an errno.
    virtual int Truncate(std::int64_t ASize) = 0;
};

/// The file system as the suite uses it.
class TFileService {
public:
    virtual ~TFileService() = default;

    /// Opens APath as AMode asks. nullptr on failure with AError set: ENOENT (missing),
    /// EISDIR (a folder), EACCES, EBUSY (a sharing conflict), EINVAL (a mode that makes no
    /// sense, such as truncating without write access), or what the system answered.
    virtual std::unique_ptr<TFileHandle> Open(const std::string& APath, const TFileOpenMode& AMode,
                                              int& AError) = 0;

    /// The whole content of the regular file APath into AContents (emptied first). Returns 0
    /// or an errno (see the contract: EISDIR, EINVAL for special files); on failure AContents
    /// is empty. A file that grows while it is read is read to its new end.
    virtual int ReadFile(const std::string& APath, std::string& AContents) = 0;

    /// Replaces APath with exactly AContents: a temporary file beside it is written, flushed to
    /// the disk and renamed over it. On any failure APath is as it was and the temporary file
    /// is gone. A symbolic link is written through (the file it points to is replaced); an
    /// existing APath that is not a regular file is refused with EINVAL. A new file gets mode
    /// 0666 less the umask, an existing one keeps its mode. Returns 0 or an errno.
    virtual int ReplaceFile(const std::string& APath, std::string_view AContents) = 0;

    /// Renames AFrom to ATo, replacing ATo. Returns 0 or an errno.
    virtual int Rename(const std::string& AFrom, const std::string& ATo) = 0;

    /// True when APath names something that is not a folder (a file, a FIFO, a device).
    virtual bool Exists(const std::string& APath) = 0;

    /// Deletes the file APath (never a folder). Returns 0 or an errno.
    virtual int Delete(const std::string& APath) = 0;

    /// The real path of the running executable (links resolved); empty when unknown.
    virtual std::string ExecutablePath() = 0;
};

/// The Linux file service.
TFileService& LinuxFileService();

/// A handle over AFd, a descriptor opened elsewhere (a pipe, a standard stream) that the caller
/// keeps and closes: reads, writes, seeks and truncates as the handles of Open do, and leaves
/// AFd open when destroyed. Nothing is claimed or checked.
std::unique_ptr<TFileHandle> DescriptorHandle(int AFd);

} // namespace platform
