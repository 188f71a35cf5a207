// host/core/ClassesStreams.cpp - TStream, THandleStream, TFileStream and TMemoryStream.
//
// TFileStream only translates: the framework's modes into a platform::TFileOpenMode, and the
// service's failures into EFOpenError, EFCreateError and EOSError. The sharing rule itself is
// the file service's (platform/linux/File.cpp).
#include "host/core/ClassesStreams.h"

#include "host/core/SysUtils.h"
#include "platform/PlatformServices.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

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

THandleStream::THandleStream(int AHandle)
    : FHandle(AHandle)
    , FFile(platform::DescriptorHandle(AHandle)) {}

THandleStream::THandleStream(std::unique_ptr<platform::TFileHandle> AFile)
    : FHandle(-1)
    , FFile(std::move(AFile)) {}

THandleStream::~THandleStream() = default;

std::int64_t THandleStream::Read(void* ABuffer, std::int64_t ACount) {
    int error = 0;
    return ACount > 0 ? FFile->Read(ABuffer, ACount, error) : 0;
}

std::int64_t THandleStream::Write(const void* ABuffer, std::int64_t ACount) {
    int error = 0;
    return ACount > 0 ? FFile->Write(ABuffer, ACount, error) : 0;
}

std::int64_t THandleStream::Seek(std::int64_t AOffset, TSeekOrigin AOrigin) {
    int whence = SEEK_SET;
    if (AOrigin == soFromCurrent)
        whence = SEEK_CUR;
    else if (AOrigin == soFromEnd)
        whence = SEEK_END;
    else if (AOrigin != soFromBeginning)
        return -1;
    return FFile->Seek(AOffset, whence);
}

void THandleStream::SetSize(std::int64_t ANewSize) {
    if (ANewSize < 0)
        RaiseOSError(EINVAL);
    Seek(ANewSize, soFromBeginning);
    if (const int error = FFile->Truncate(ANewSize); error != 0)
        RaiseOSError(error);
}

// ---- TFileStream ----------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& AFileName, std::uint16_t AMode)
    : THandleStream(std::unique_ptr<platform::TFileHandle>())
    , FFileName(AFileName) {
    using namespace platform;
    const bool create = AMode == fmCreate;
    bool createIfMissing = false;
    TFileOpenMode mode;
    if (create) {
        mode.Access = fsReadWrite;
        mode.Share = fsNone;
        mode.Creation = fcCreateOrTruncate;
    } else {
        static constexpr TFileShareBits kAccess[] = {fsRead, fsWrite, fsReadWrite};
        static constexpr TFileShareBits kShare[] = {fsNone, fsNone, fsRead, fsWrite, fsReadWrite};
        const unsigned accessIndex = AMode & 3u;
        const unsigned shareIndex = (AMode & 0xF0u) >> 4;
        if (accessIndex > 2 || shareIndex > 4)
            RaiseOpenError(false, AFileName);
        mode.Access = kAccess[accessIndex];
        mode.Share = kShare[shareIndex];
        const bool writes = accessIndex != 0;
        mode.Append = writes && (AMode & fmAppend) != 0;
        createIfMissing = writes && (AMode & fmCreateIfMissing) != 0;
        if (createIfMissing)
            mode.Creation = fcCreateIfMissing;
        if ((AMode & fmWaitForShare) != 0)
            mode.ClaimWaitMs = FileShareWaitMs;
        if ((AMode & fmNeverBlock) != 0)
            mode.BlockLimitMs = FileShareWaitMs;
    }
    TFileService& files = *PlatformServices().Files;
    int error = 0;
    FFile = files.Open(AFileName, mode, error);
    if (!FFile)
        RaiseOpenError(create || (createIfMissing && !files.Exists(AFileName)), AFileName);
}

TFileStream::~TFileStream() = default;

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
