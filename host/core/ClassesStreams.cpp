// host/core/ClassesStreams.cpp - TStream, THandleStream, TFileStream and TMemoryStream.
//
// The share table lives here: every TFileStream on a regular file registers its access and
// sharing under the file's device and inode, and checks the others' before it keeps its
// descriptor. The cross-process half of the check is platform::LockShare.
#include "host/core/ClassesStreams.h"

#include "host/core/SysUtils.h"
#include "platform/FileLock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

// Largest count handed to one read or write call.
constexpr std::int64_t kMaxChunk = std::int64_t{1} << 30;

struct TShareEntry {
    dev_t Device;
    ino_t Inode;
    platform::TFileShareBits Access;
    platform::TFileShareBits Share;
};

// The files this process's streams hold open. Few streams are open at a time, so a plain map
// searched in full is enough.
struct TShareTable {
    std::mutex Lock;
    std::map<std::uint64_t, TShareEntry> Entries;
    std::uint64_t NextKey = 1;
};

TShareTable& ShareTable() {
    static TShareTable table;
    return table;
}

bool Contains(platform::TFileShareBits AOuter, platform::TFileShareBits AInner) {
    return (AInner & ~AOuter) == 0;
}

[[noreturn]] void RaiseOSError(int AError) {
    throw EOSError("System Error.  Code: " + std::to_string(AError) + ".\r\n" +
                   std::strerror(AError));
}

[[noreturn]] void RaiseOpenError(bool ACreate, const std::string& AFileName) {
    if (ACreate)
        throw EFCreateError("Cannot create file " + AFileName);
    throw EFOpenError("Cannot open file " + AFileName);
}

} // namespace

// ---- TStream --------------------------------------------------------------------------------

void TStream::ReadBuffer(void* ABuffer, std::int64_t ACount) {
    if (ACount != 0 && Read(ABuffer, ACount) != ACount)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* ABuffer, std::int64_t ACount) {
    if (ACount != 0 && Write(ABuffer, ACount) != ACount)
        throw EWriteError("Stream write error");
}

std::int64_t TStream::Size() {
    const std::int64_t position = Seek(0, soFromCurrent);
    const std::int64_t size = Seek(0, soFromEnd);
    Seek(position, soFromBeginning);
    return size;
}

void TStream::SetSize(std::int64_t) {}

std::int64_t TStream::CopyFrom(TStream& ASource, std::int64_t ACount) {
    if (ACount == 0) {
        ASource.SetPosition(0);
        ACount = ASource.Size();
    }
    const std::int64_t total = ACount;
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(ACount, 0xF000)));
    while (ACount > 0) {
        const std::int64_t part = std::min<std::int64_t>(ACount, 0xF000);
        ASource.ReadBuffer(buffer.data(), part);
        WriteBuffer(buffer.data(), part);
        ACount -= part;
    }
    return total;
}

// ---- THandleStream --------------------------------------------------------------------------

std::int64_t THandleStream::Read(void* ABuffer, std::int64_t ACount) {
    std::int64_t done = 0;
    auto* out = static_cast<char*>(ABuffer);
    while (done < ACount) {
        const auto part = static_cast<std::size_t>(std::min(ACount - done, kMaxChunk));
        const ssize_t got = ::read(FHandle, out + done, part);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

std::int64_t THandleStream::Write(const void* ABuffer, std::int64_t ACount) {
    std::int64_t done = 0;
    const auto* in = static_cast<const char*>(ABuffer);
    while (done < ACount) {
        const auto part = static_cast<std::size_t>(std::min(ACount - done, kMaxChunk));
        const ssize_t put = ::write(FHandle, in + done, part);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        done += put;
    }
    return done;
}

std::int64_t THandleStream::Seek(std::int64_t AOffset, TSeekOrigin AOrigin) {
    int whence = SEEK_SET;
    if (AOrigin == soFromCurrent)
        whence = SEEK_CUR;
    else if (AOrigin == soFromEnd)
        whence = SEEK_END;
    else if (AOrigin != soFromBeginning)
        return -1;
    return ::lseek(FHandle, static_cast<off_t>(AOffset), whence);
}

void THandleStream::SetSize(std::int64_t ANewSize) {
    if (ANewSize < 0)
        RaiseOSError(EINVAL);
    Seek(ANewSize, soFromBeginning);
    if (::ftruncate(FHandle, static_cast<off_t>(ANewSize)) != 0)
        RaiseOSError(errno);
}

// ---- TFileStream ----------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& AFileName, std::uint16_t AMode)
    : THandleStream(-1)
    , FFileName(AFileName) {
    using platform::TFileShareBits;
    const bool create = AMode == fmCreate;
    bool createIfMissing = false;
    const auto fail = [&] {
        RaiseOpenError(create || (createIfMissing && !FileExists(AFileName)), AFileName);
    };

    TFileShareBits access = platform::fsReadWrite;
    TFileShareBits share = platform::fsNone;
    int flags = O_CLOEXEC | O_NOCTTY;
    if (create) {
        flags |= O_RDWR | O_CREAT;
    } else {
        static constexpr int kAccessFlags[] = {O_RDONLY, O_WRONLY, O_RDWR};
        static constexpr TFileShareBits kAccess[] = {platform::fsRead, platform::fsWrite,
                                                     platform::fsReadWrite};
        static constexpr TFileShareBits kShare[] = {platform::fsNone, platform::fsNone,
                                                    platform::fsRead, platform::fsWrite,
                                                    platform::fsReadWrite};
        const unsigned accessIndex = AMode & 3u;
        const unsigned shareIndex = (AMode & 0xF0u) >> 4;
        if (accessIndex > 2 || shareIndex > 4)
            fail();
        flags |= kAccessFlags[accessIndex];
        if ((AMode & fmAppend) != 0 && accessIndex != 0)
            flags |= O_APPEND;
        if ((AMode & fmCreateIfMissing) != 0 && accessIndex != 0) {
            flags |= O_CREAT;
            createIfMissing = true;
        }
        access = kAccess[accessIndex];
        share = kShare[shareIndex];
    }

    // A read-write open of an existing file never blocks, not even on a FIFO, and never opens a
    // folder. Such a stream claims its share first and, when the file system grants it, is done:
    // the claim alone excludes every conflicting stream, in this process as in others, and the
    // share table only stands in where a file system keeps no locks. That keeps the logger's
    // open-write-close down to one call more than a bare append. Everything else looks at the
    // file before claiming.
    const bool claimFirst = !create && access == platform::fsReadWrite;
    if (!claimFirst) {
        // O_NONBLOCK only for the open itself: a FIFO without a partner must not hang us here.
        flags |= O_NONBLOCK;
    }
    // Truncation waits until the sharing check has passed.
    FHandle = ::open(AFileName.c_str(), flags, 0666);
    if (FHandle < 0)
        fail();

    platform::TFileLockResult claim = platform::flUnsupported;
    if (claimFirst) {
        claim = platform::LockShare(FHandle, access, share);
        if (claim == platform::flGranted)
            return;
    }

    struct stat info {};

    if (::fstat(FHandle, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(FHandle);
        fail();
    }
    // Devices and FIFOs are shared freely. Non-blocking mode means nothing for regular files;
    // everything else gets blocking I/O.
    if (!S_ISREG(info.st_mode)) {
        if (!claimFirst &&
            ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) & ~O_NONBLOCK) != 0) {
            ::close(FHandle);
            fail();
        }
        return;
    }
    if (claim == platform::flViolation) {
        ::close(FHandle);
        fail();
    }

    TShareTable& table = ShareTable();
    {
        std::lock_guard<std::mutex> guard(table.Lock);
        bool allowed = true;
        for (const auto& [key, entry] : table.Entries) {
            if (entry.Device == info.st_dev && entry.Inode == info.st_ino &&
                !(Contains(entry.Share, access) && Contains(share, entry.Access))) {
                allowed = false;
                break;
            }
        }
        if (allowed && !claimFirst)
            claim = platform::LockShare(FHandle, access, share);
        if (!allowed || claim == platform::flViolation) {
            ::close(FHandle);
            fail();
        }
        // Where the file system keeps no locks, the table is all there is.
        if (claim == platform::flUnsupported) {
            FShareEntry = table.NextKey++;
            table.Entries.emplace(FShareEntry,
                                  TShareEntry{info.st_dev, info.st_ino, access, share});
        }
    }
    if (create && info.st_size != 0 && ::ftruncate(FHandle, 0) != 0) {
        {
            std::lock_guard<std::mutex> guard(table.Lock);
            ::close(FHandle);
            table.Entries.erase(FShareEntry);
        }
        FShareEntry = 0;
        FHandle = -1;
        fail();
    }
}

TFileStream::~TFileStream() {
    if (FShareEntry == 0) {
        if (FHandle >= 0)
            ::close(FHandle);
        return;
    }
    // Closing (which ends the cross-process claim) and leaving the table happen together, so
    // no opener in this process sees one without the other.
    TShareTable& table = ShareTable();
    std::lock_guard<std::mutex> guard(table.Lock);
    ::close(FHandle);
    table.Entries.erase(FShareEntry);
}

// ---- TMemoryStream --------------------------------------------------------------------------

std::int64_t TMemoryStream::Read(void* ABuffer, std::int64_t ACount) {
    const std::int64_t size = Size();
    if (ACount <= 0 || FPosition >= size)
        return 0;
    const std::int64_t count = std::min(ACount, size - FPosition);
    std::memcpy(ABuffer, FData.data() + FPosition, static_cast<std::size_t>(count));
    FPosition += count;
    return count;
}

std::int64_t TMemoryStream::Write(const void* ABuffer, std::int64_t ACount) {
    if (ACount <= 0)
        return 0;
    const std::int64_t end = FPosition + ACount;
    if (end > Size())
        FData.resize(static_cast<std::size_t>(end));
    std::memcpy(FData.data() + FPosition, ABuffer, static_cast<std::size_t>(ACount));
    FPosition = end;
    return ACount;
}

std::int64_t TMemoryStream::Seek(std::int64_t AOffset, TSeekOrigin AOrigin) {
    std::int64_t base = 0;
    if (AOrigin == soFromCurrent)
        base = FPosition;
    else if (AOrigin == soFromEnd)
        base = Size();
    else if (AOrigin != soFromBeginning)
        return -1;
    if (AOffset < -base)
        return -1;
    FPosition = base + AOffset;
    return FPosition;
}

void TMemoryStream::SetSize(std::int64_t ANewSize) {
    if (ANewSize < 0)
        ANewSize = 0;
    FData.resize(static_cast<std::size_t>(ANewSize));
    FPosition = std::min(FPosition, ANewSize);
}

void TMemoryStream::Clear() {
    FData.clear();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& AStream) {
    AStream.SetPosition(0);
    const std::int64_t count = AStream.Size();
    SetSize(count);
    if (count != 0)
        AStream.ReadBuffer(FData.data(), count);
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& AFileName) {
    TFileStream stream(AFileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TMemoryStream::SaveToStream(TStream& AStream) {
    if (!FData.empty())
        AStream.WriteBuffer(FData.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& AFileName) {
    TFileStream stream(AFileName, fmCreate);
    SaveToStream(stream);
}

} // namespace host
