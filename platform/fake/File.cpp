// platform/fake/File.cpp - the faulting file service: counting, armed faults, short writes.
#include "platform/fake/File.h"

#include <algorithm>
#include <cerrno>

namespace platform {

namespace {

// A real handle whose reads and writes pass the fake's fault plan first.
class TFakeFile : public TFileHandle {
public:
    TFakeFile(TFakeFileService& AOwner, std::unique_ptr<TFileHandle> AReal)
        : FOwner(AOwner)
        , FReal(std::move(AReal)) {}

    std::int64_t Read(void* ABuffer, std::int64_t ACount, int& AError) override {
        std::int64_t keep = 0;
        AError = FOwner.Next(fkRead, keep);
        if (AError != 0)
            return 0;
        return FReal->Read(ABuffer, ACount, AError);
    }

    std::int64_t Write(const void* ABuffer, std::int64_t ACount, int& AError) override {
        std::int64_t keep = 0;
        const int fault = FOwner.Next(fkWrite, keep);
        if (fault == 0)
            return FReal->Write(ABuffer, ACount, AError);
        // A full disk takes what fits and refuses the rest.
        std::int64_t written = 0;
        keep = std::clamp<std::int64_t>(keep, 0, ACount);
        if (keep > 0)
            written = FReal->Write(ABuffer, keep, AError);
        AError = fault;
        return written;
    }

    std::int64_t Seek(std::int64_t AOffset, int AWhence) override {
        return FReal->Seek(AOffset, AWhence);
    }

    int Truncate(std::int64_t ASize) override { return FReal->Truncate(ASize); }

private:
    TFakeFileService& FOwner;
    std::unique_ptr<TFileHandle> FReal;
};

} // namespace

TFakeFileService::TFakeFileService(TFileService* AReal)
    : FReal(AReal != nullptr ? *AReal : LinuxFileService()) {}

void TFakeFileService::Fail(TFileCallKind ACall, int ANth, int AError, std::int64_t AKeep) {
    std::lock_guard<std::mutex> guard(FLock);
    FFaults.push_back({ACall, FCounts[ACall] + std::max(ANth, 1), AError, AKeep});
}

void TFakeFileService::FailAlways(TFileCallKind ACall, int AError) {
    std::lock_guard<std::mutex> guard(FLock);
    FFaults.push_back({ACall, 0, AError, 0});
}

void TFakeFileService::Reset() {
    std::lock_guard<std::mutex> guard(FLock);
    FFaults.clear();
}

int TFakeFileService::Count(TFileCallKind ACall) const {
    std::lock_guard<std::mutex> guard(FLock);
    return FCounts[ACall];
}

TFileOpenMode TFakeFileService::LastOpenMode() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FLastOpenMode;
}

void TFakeFileService::SetExecutablePath(const std::string& APath) {
    std::lock_guard<std::mutex> guard(FLock);
    FExecutablePath = APath;
}

int TFakeFileService::Next(TFileCallKind ACall, std::int64_t& AKeep) {
    std::lock_guard<std::mutex> guard(FLock);
    const int count = ++FCounts[ACall];
    AKeep = 0;
    for (auto fault = FFaults.begin(); fault != FFaults.end(); ++fault) {
        if (fault->Call != ACall || (fault->At != 0 && fault->At != count))
            continue;
        const int error = fault->Error;
        AKeep = fault->Keep;
        if (fault->At != 0)
            FFaults.erase(fault);
        return error;
    }
    return 0;
}

int TFakeFileService::Next(TFileCallKind ACall) {
    std::int64_t keep = 0;
    return Next(ACall, keep);
}

std::unique_ptr<TFileHandle> TFakeFileService::Open(const std::string& APath,
                                                    const TFileOpenMode& AMode, int& AError) {
    {
        std::lock_guard<std::mutex> guard(FLock);
        FLastOpenMode = AMode;
    }
    AError = Next(fkOpen);
    if (AError != 0)
        return nullptr;
    std::unique_ptr<TFileHandle> real = FReal.Open(APath, AMode, AError);
    if (!real)
        return nullptr;
    return std::make_unique<TFakeFile>(*this, std::move(real));
}

int TFakeFileService::ReadFile(const std::string& APath, std::string& AContents) {
    AContents.clear();
    if (const int error = Next(fkOpen); error != 0)
        return error;
    if (const int error = Next(fkRead); error != 0)
        return error;
    return FReal.ReadFile(APath, AContents);
}

int TFakeFileService::ReplaceFile(const std::string& APath, std::string_view AContents) {
    // The steps of a replacement in their order: a fault in any of them leaves the old file,
    // as the real service does when that step fails.
    for (const TFileCallKind step : {fkOpen, fkWrite, fkRename})
        if (const int error = Next(step); error != 0)
            return error;
    return FReal.ReplaceFile(APath, AContents);
}

int TFakeFileService::Rename(const std::string& AFrom, const std::string& ATo) {
    if (const int error = Next(fkRename); error != 0)
        return error;
    return FReal.Rename(AFrom, ATo);
}

bool TFakeFileService::Exists(const std::string& APath) {
    return FReal.Exists(APath);
}

int TFakeFileService::Delete(const std::string& APath) {
    if (const int error = Next(fkDelete); error != 0)
        return error;
    return FReal.Delete(APath);
}

std::string TFakeFileService::ExecutablePath() {
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (!FExecutablePath.empty())
            return FExecutablePath;
    }
    return FReal.ExecutablePath();
}

} // namespace platform
