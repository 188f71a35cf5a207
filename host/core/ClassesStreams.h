// host/core/ClassesStreams.h - streams: the abstract stream, handle, file and memory streams.
//
// Part of the Classes unit (Classes.h includes it). TFileStream emulates the
// framework's open modes and sharing modes on Linux: within the process through a table of the
// files its streams hold open, and across processes through the advisory share locks of
// platform/FileLock.h, so a log file opened "read and write, deny write" by one program cannot
// be opened for writing by another program built on this framework while it is open.
#pragma once

#include "host/core/SysUtils.h"
#include "host/core/System.h"

#include <cstdint>
#include <string>
#include <vector>

namespace host {

/// Origins of TStream::Seek.
enum TSeekOrigin : std::uint16_t {
    soFromBeginning = 0,
    soFromCurrent = 1,
    soFromEnd = 2,
};

// Open modes of TFileStream: one access mode or'ed with one sharing mode, or fmCreate alone.
// fmCreate has every bit set, so or'ing a sharing mode into it changes nothing.
inline constexpr std::uint16_t fmCreate = 0xFFFF;
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmShareCompat = 0x0000;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyRead = 0x0030;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;
/// Host addition, or'ed into an opening mode that writes: every write lands at the end of the
/// file as one append (O_APPEND), whatever the position; Seek still moves the position reads use.
/// It spares an append-only writer the seek to the end and can never overwrite what someone
/// else appended meanwhile.
inline constexpr std::uint16_t fmAppend = 0x0100;
/// Host addition, or'ed into an opening mode that writes: a missing file is created empty
/// instead of refused, an existing one is opened as it is, never truncated, in one step, so
/// that two writers racing to start a file cannot wipe each other's data. A failure raises
/// EFCreateError while the file does not exist, EFOpenError once it does.
inline constexpr std::uint16_t fmCreateIfMissing = 0x0200;

/// A sequence of bytes with a position. Read and Write move as far as they can and return the
/// count moved; ReadBuffer and WriteBuffer insist on the whole count.
class TStream : public TObject {
public:
    /// Reads up to ACount bytes at the position; returns the count read (0 at the end or on an
    /// error).
    virtual std::int64_t Read(void* ABuffer, std::int64_t ACount) = 0;

    /// Writes up to ACount bytes at the position; returns the count written, which is short
    /// when the device refuses the rest (disk full, I/O error).
    virtual std::int64_t Write(const void* ABuffer, std::int64_t ACount) = 0;

    /// Moves the position; returns the new position, or -1 when it cannot be moved.
    virtual std::int64_t Seek(std::int64_t AOffset, TSeekOrigin AOrigin) = 0;

    /// Reads exactly ACount bytes; raises EReadError "Stream read error" when fewer are there.
    void ReadBuffer(void* ABuffer, std::int64_t ACount);

    /// Writes exactly ACount bytes; raises EWriteError "Stream write error" when fewer were
    /// written (disk full, I/O error, a stream opened for reading only).
    void WriteBuffer(const void* ABuffer, std::int64_t ACount);

    std::int64_t Position() { return Seek(0, soFromCurrent); }

    void SetPosition(std::int64_t AValue) { Seek(AValue, soFromBeginning); }

    /// The size in bytes (found by seeking to the end and back).
    virtual std::int64_t Size();

    /// Sets the size; streams that cannot change it ignore the call.
    virtual void SetSize(std::int64_t ANewSize);

    /// Copies ACount bytes from ASource's position (0: all of ASource from its beginning);
    /// returns the count copied. Raises EReadError/EWriteError when a part cannot be moved.
    std::int64_t CopyFrom(TStream& ASource, std::int64_t ACount);
};

/// A stream over an operating-system file descriptor it does not own (it never closes it).
class THandleStream : public TStream {
public:
    explicit THandleStream(int AHandle)
        : FHandle(AHandle) {}

    /// Reads until ACount bytes are there, the end of the file or an error; a read interrupted
    /// by a signal is resumed.
    std::int64_t Read(void* ABuffer, std::int64_t ACount) override;

    /// Writes until all ACount bytes are out or the device refuses (ENOSPC, EIO, ...); returns
    /// what was written.
    std::int64_t Write(const void* ABuffer, std::int64_t ACount) override;

    std::int64_t Seek(std::int64_t AOffset, TSeekOrigin AOrigin) override;

    /// Truncates or extends the file to ANewSize and moves the position there. Raises EOSError
    /// when the file cannot be resized.
    void SetSize(std::int64_t ANewSize) override;

    int Handle() const { return FHandle; }

protected:
    int FHandle;
};

/// A stream over a named file, opened in one of the framework's modes:
/// * fmCreate: creates the file or truncates an existing one, opens it for reading and writing
///   and shares it with nobody. Failure: EFCreateError "Cannot create file <name>".
/// * otherwise (Mode & 3) is the access (fmOpenRead, fmOpenWrite, fmOpenReadWrite) and
///   (Mode & 0xF0) the sharing (fmShareCompat/Exclusive: none, DenyWrite: others may read,
///   DenyRead: others may write, DenyNone: both). The file must exist; fmOpenWrite does not
///   truncate. Failure (missing file, a folder, no permission, sharing violation, invalid mode
///   bits): EFOpenError "Cannot open file <name>".
/// <name> is the file name as passed.
///
/// Sharing is checked the Windows way: an open succeeds only when, for every stream already
/// open on the same file (the same device and inode, whatever name reached it), the new access
/// lies within that stream's sharing and that stream's access within the new sharing. Streams
/// of this process are checked in a table; streams of other processes through advisory share
/// locks (platform/FileLock.h), which only processes using this framework honour. Devices and
/// other non-regular files are opened without sharing checks. An existing file opened with
/// fmCreate is truncated only after the check has passed, so a refused create leaves the file
/// another stream holds untouched. The destructor closes the file and ends its claims.
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& AFileName, std::uint16_t AMode);
    ~TFileStream() override;

    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    std::uint64_t FShareEntry = 0; // key of this stream in the share table, 0 when none
};

/// A stream over a growable block of memory.
class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* ABuffer, std::int64_t ACount) override;
    std::int64_t Write(const void* ABuffer, std::int64_t ACount) override;

    /// Any position at or after 0 is accepted; writing past the end fills the gap with zeros.
    std::int64_t Seek(std::int64_t AOffset, TSeekOrigin AOrigin) override;

    std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }

    /// Resizes the block (new bytes are zero); the position is kept but not beyond the end.
    void SetSize(std::int64_t ANewSize) override;

    void Clear();

    const char* Memory() const { return FData.data(); }

    /// The whole content as a string of bytes.
    std::string DataString() const { return std::string(FData.begin(), FData.end()); }

    /// Replaces the content with the whole of AStream (from its beginning); position 0.
    void LoadFromStream(TStream& AStream);
    void LoadFromFile(const std::string& AFileName);

    /// Writes the whole content to AStream at its position.
    void SaveToStream(TStream& AStream);
    void SaveToFile(const std::string& AFileName);

private:
    std::vector<char> FData;
    std::int64_t FPosition = 0;
};

} // namespace host
