// platform/linux/FileOps.h - reading a whole file and replacing a file in one step.
//
// A small library of POSIX calls with no host or suite code in it, so that the command-line
// tools (which link nothing of the suite) and the host's file service share one copy of each.
// Every failure is raised as EFileError: the operation, the path as the caller gave it and the
// errno, from which each caller writes its own message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace fileops {

/// What kind of failure an EFileError reports.
enum class TFileErrorKind {
    fekSystem,      ///< a system call failed; Errno() tells why
    fekNotRegular,  ///< the path is a folder, FIFO, device or socket, not a regular file
    fekSameAsInput, ///< the file to replace is one of the files named as inputs
};

/// A failed file operation.
class EFileError : public std::runtime_error {
public:
    /// AOperation is a short verb ("open", "read", "create", "write", "rename"); APath the path
    /// as the caller gave it; AErrno the errno of the failed call.
    EFileError(std::string AOperation, std::string APath, int AErrno,
               TFileErrorKind AKind = TFileErrorKind::fekSystem, std::string AReason = {});

    /// The operation that failed.
    const std::string& Operation() const { return FOperation; }

    /// The path as the caller gave it.
    const std::string& Path() const { return FPath; }

    /// The errno: the system's for fekSystem, EISDIR for a folder, EINVAL for other files that
    /// are not regular and for an output that is one of the inputs.
    int Errno() const { return FErrno; }

    /// What kind of failure this is.
    TFileErrorKind Kind() const { return FKind; }

    /// The reason alone, without operation and path: the system's text for the errno, or what
    /// the path is ("not a regular file but a FIFO", "is one of the input files").
    const std::string& Reason() const { return FReason; }

private:
    std::string FOperation;
    std::string FPath;
    int FErrno;
    TFileErrorKind FKind;
    std::string FReason;
};

/// The system calls the file operations make, one pointer each, so that a test can put
/// counting or failing versions in their place (the tools have no file service to fake). The
/// real calls are in place unless changed; the signal cleanup always uses the real unlink.
struct TSystemCalls {
    /// open(2), with the mode always given.
    int (*Open)(const char* APath, int AFlags, mode_t AMode);
    /// openat(2), with the mode always given.
    int (*OpenAt)(int AFolder, const char* AName, int AFlags, mode_t AMode);
    /// read(2).
    ssize_t (*Read)(int AFd, void* ABuffer, std::size_t ACount);
    /// write(2).
    ssize_t (*Write)(int AFd, const void* ABuffer, std::size_t ACount);
    /// fsync(2).
    int (*Fsync)(int AFd);
    /// close(2).
    int (*Close)(int AFd);
    /// renameat(2).
    int (*RenameAt)(int AFromFolder, const char* AFrom, int AToFolder, const char* ATo);
    /// unlinkat(2).
    int (*UnlinkAt)(int AFolder, const char* AName, int AFlags);
};

/// The real system calls.
const TSystemCalls& RealSystemCalls();

/// The calls every file operation goes through. Changed only by tests, while no file operation
/// runs in another thread.
TSystemCalls& SystemCalls();

/// An open file descriptor, closed on destruction.
class TFileHandle {
public:
    TFileHandle() = default;

    explicit TFileHandle(int AFd)
        : FFd(AFd) {}

    ~TFileHandle();
    TFileHandle(TFileHandle&& AOther) noexcept;
    TFileHandle& operator=(TFileHandle&& AOther) noexcept;
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;

    /// The descriptor, or -1.
    int Fd() const { return FFd; }

    /// Gives up ownership: the caller closes the returned descriptor.
    int Release();

private:
    int FFd = -1;
};

/// Opens APath for reading when it is a regular file. The open itself never waits (a FIFO
/// without a writer does not block it) and a folder, FIFO, device or socket is refused with
/// fekNotRegular before anything is read. ASize, when given, receives the file's size.
TFileHandle OpenRegularFile(const std::string& APath, std::uint64_t* ASize = nullptr);

/// The whole content of the regular file APath, read through OpenRegularFile: one read of the
/// file's size, more only when it grew meanwhile.
std::string ReadWholeFile(const std::string& APath);

/// True when something exists under APath: a file, folder or any other entry, also a symbolic
/// link whose target is missing (the link itself is not followed).
bool PathExists(const std::string& APath);

/// The device and inode of APath (links followed); false when it cannot be stat'ed.
bool FileIdentity(const std::string& APath, dev_t& ADevice, ino_t& AInode);

/// APath with symbolic links in its last component followed (to where the last link points,
/// which need not exist yet). Raises fekSystem ELOOP for a chain of more than 40 links.
std::string FollowLinks(const std::string& APath);

/// How a file is replaced.
struct TReplaceOptions {
    /// Files the replaced file must not be (compared by device and inode, so another name or a
    /// hard link of an input is refused too).
    std::vector<std::string> Inputs;
    /// Also flush the new file and its folder to the disk (fsync) before reporting success.
    bool Sync = false;
};

/// A file being replaced in one step: what is written goes to a temporary file beside the
/// target, which Commit renames over it, so that readers see the old file or the new one,
/// never a part. A symbolic link is written through: the file it points to is replaced. An
/// existing target keeps its permission bits; a new one gets 0666 less the umask. Every failure
/// removes the temporary file and leaves the target as it was; so does destruction without
/// Commit. The target's folder is opened once and held open: the temporary file, the rename and
/// the folder's flush name their files relative to it, so the path is walked once. With
/// RemoveTemporariesOnSignals, SIGINT, SIGTERM and SIGHUP remove it too.
class TFileReplacement {
public:
    /// Checks the target and creates the temporary file. Raises fekNotRegular when APath exists
    /// and is not a regular file, fekSameAsInput when it is one of AOptions.Inputs, and
    /// fekSystem ("create") when the temporary file cannot be made.
    explicit TFileReplacement(std::string APath, TReplaceOptions AOptions = {});
    ~TFileReplacement();
    TFileReplacement(const TFileReplacement&) = delete;
    TFileReplacement& operator=(const TFileReplacement&) = delete;

    /// Appends AText to the new content ("write").
    void Write(std::string_view AText);

    /// Puts the new content in place of the target ("write" when closing fails, "rename").
    void Commit();

    /// Removes the temporary file and leaves the target alone; nothing more can be written.
    void Discard() noexcept;

    /// The path the caller gave.
    const std::string& Path() const { return FPath; }

    /// The file that is replaced: Path with its links followed.
    const std::string& Target() const { return FTarget; }

    /// The temporary file, while there is one.
    const std::string& TemporaryPath() const { return FTemporary; }

private:
    [[noreturn]] void Fail(const char* AOperation, int AErrno);
    void OpenFolder();
    void CloseFolder() noexcept;

    std::string FPath;
    std::string FTarget;
    std::string FTargetName; ///< the target's name within FFolder
    std::string FTemporary;
    std::string FTemporaryName; ///< the temporary's name within FFolder
    TReplaceOptions FOptions;
    int FFolder = -1; ///< the target's folder, open while the replacement is under way
    int FFd = -1;
    int FSlot = -1; ///< where the temporary is listed for the signal handler, or -1
};

/// Replaces APath with AContent through TFileReplacement.
void ReplaceFile(const std::string& APath, std::string_view AContent,
                 TReplaceOptions AOptions = {});

/// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove the temporary files of every
/// TFileReplacement not yet committed and then end the program by the same signal. A signal
/// the program ignores stays ignored. Meant for programs that own their signals (the tools);
/// safe to call more than once.
void RemoveTemporariesOnSignals();

/// The path of the running executable (/proc/self/exe), or empty when it cannot be read.
std::string ExecutablePath();

/// Puts /dev/null, opened for reading only, in place of a closed standard input, output or
/// error, so that no file the program opens later becomes one of them and writes to a closed
/// standard output fail as they should. Call first thing in main.
void ReserveStandardStreams();

/// Flushes standard output; raises fekSystem ("write", "standard output") when anything
/// written to it was lost (a full disk, a closed descriptor).
void FlushStandardOutput();

} // namespace fileops
