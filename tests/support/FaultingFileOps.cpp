// tests/support/FaultingFileOps.cpp - counting and failing system calls for the file library.
#include "tests/support/FaultingFileOps.h"

#include "platform/linux/FileOps.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <utility>

namespace jex::test {

namespace {

TFaultingFileOps* GActive = nullptr;
fileops::TSystemCalls GSaved{};

} // namespace

// The calls put in place: each asks the active instance whether to fail, then makes the real
// call through the ones that were in place before.
struct TFaultingCalls {
    static int Fail(int AError) {
        errno = AError;
        return -1;
    }

    static int Open(const char* APath, int AFlags, mode_t AMode) {
        std::int64_t keep = 0;
        if (const int error = GActive->Next(platform::fkOpen, keep); error != 0)
            return Fail(error);
        const int fd = GSaved.Open(APath, AFlags, AMode);
        GActive->Opened(fd, AFlags);
        return fd;
    }

    static int OpenAt(int AFolder, const char* AName, int AFlags, mode_t AMode) {
        std::int64_t keep = 0;
        if (const int error = GActive->Next(platform::fkOpen, keep); error != 0)
            return Fail(error);
        const int fd = GSaved.OpenAt(AFolder, AName, AFlags, AMode);
        GActive->Opened(fd, AFlags);
        return fd;
    }

    static ssize_t Read(int AFd, void* ABuffer, std::size_t ACount) {
        std::int64_t keep = 0;
        if (const int error = GActive->Next(platform::fkRead, keep); error != 0)
            return Fail(error);
        return GSaved.Read(AFd, ABuffer, ACount);
    }

    static ssize_t Write(int AFd, const void* ABuffer, std::size_t ACount) {
        std::int64_t keep = 0;
        const int error = GActive->Next(platform::fkWrite, keep);
        if (error == 0)
            return GSaved.Write(AFd, ABuffer, ACount);
        keep = std::clamp<std::int64_t>(keep, 0, static_cast<std::int64_t>(ACount));
        if (keep == 0)
            return Fail(error);
        {
            const std::lock_guard<std::mutex> guard(GActive->FLock);
            GActive->FPendingWriteError = error;
        }
        return GSaved.Write(AFd, ABuffer, static_cast<std::size_t>(keep));
    }

    static int Fsync(int AFd) {
        std::int64_t keep = 0;
        if (const int error = GActive->Next(platform::fkWrite, keep); error != 0)
            return Fail(error);
        return GSaved.Fsync(AFd);
    }

    static int Close(int AFd) {
        std::int64_t keep = 0;
        const int error = GActive->Writable(AFd, true) ? GActive->Next(platform::fkWrite, keep) : 0;
        const int result = GSaved.Close(AFd); // released whatever close reports
        return error != 0 ? Fail(error) : result;
    }

    static int RenameAt(int AFromFolder, const char* AFrom, int AToFolder, const char* ATo) {
        std::int64_t keep = 0;
        if (const int error = GActive->Next(platform::fkRename, keep); error != 0)
            return Fail(error);
        return GSaved.RenameAt(AFromFolder, AFrom, AToFolder, ATo);
    }

    static int UnlinkAt(int AFolder, const char* AName, int AFlags) {
        std::int64_t keep = 0;
        if (const int error = GActive->Next(platform::fkDelete, keep); error != 0)
            return Fail(error);
        return GSaved.UnlinkAt(AFolder, AName, AFlags);
    }
};

TFaultingFileOps::TFaultingFileOps() {
    if (GActive != nullptr)
        std::abort(); // one at a time: the calls have nowhere else to find their faults
    GActive = this;
    GSaved = fileops::SystemCalls();
    fileops::SystemCalls() = {TFaultingCalls::Open,     TFaultingCalls::OpenAt,
                              TFaultingCalls::Read,     TFaultingCalls::Write,
                              TFaultingCalls::Fsync,    TFaultingCalls::Close,
                              TFaultingCalls::RenameAt, TFaultingCalls::UnlinkAt};
}

TFaultingFileOps::~TFaultingFileOps() {
    fileops::SystemCalls() = GSaved;
    GActive = nullptr;
}

void TFaultingFileOps::Fail(platform::TFileCallKind ACall, int ANth, int AError,
                            std::int64_t AKeep) {
    const std::lock_guard<std::mutex> guard(FLock);
    FFaults.push_back({ACall, FCounts[ACall] + std::max(ANth, 1), AError, AKeep});
}

void TFaultingFileOps::Reset() {
    const std::lock_guard<std::mutex> guard(FLock);
    FFaults.clear();
    FPendingWriteError = 0;
}

int TFaultingFileOps::Count(platform::TFileCallKind ACall) const {
    const std::lock_guard<std::mutex> guard(FLock);
    return FCounts[ACall];
}

int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count - 1; // the descriptor the listing itself holds
}

int TFaultingFileOps::Next(platform::TFileCallKind ACall, std::int64_t& AKeep) {
    const std::lock_guard<std::mutex> guard(FLock);
    ++FCounts[ACall];
    AKeep = 0;
    if (ACall == platform::fkWrite && FPendingWriteError != 0)
        return std::exchange(FPendingWriteError, 0);
    const auto fault = std::find_if(FFaults.begin(), FFaults.end(), [&](const TFault& AFault) {
        return AFault.Call == ACall && AFault.At == FCounts[ACall];
    });
    if (fault == FFaults.end())
        return 0;
    const int error = fault->Error;
    AKeep = fault->Keep;
    FFaults.erase(fault);
    return error;
}

void TFaultingFileOps::Opened(int AFd, int AFlags) {
    if (AFd < 0)
        return;
    const std::lock_guard<std::mutex> guard(FLock);
    if ((AFlags & O_ACCMODE) != O_RDONLY)
        FWritable.insert(AFd);
}

bool TFaultingFileOps::Writable(int AFd, bool AClosing) {
    const std::lock_guard<std::mutex> guard(FLock);
    const bool writable = FWritable.count(AFd) != 0;
    if (AClosing)
        FWritable.erase(AFd);
    return writable;
}

} // namespace jex::test
