// platform/linux/EventLogFile.cpp - header, end record, claims, appending, compaction and the
// reader's index of one event log file.
#include "platform/linux/EventLogFile.h"

#include "platform/LittleEndian.h"
#include "platform/PlatformServices.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace platform::eventlog {

namespace {

using le::Get32;
using le::Put32;

// How long a writer or reader waits for the others' claims before it gives up.
constexpr int ClaimWaitMs = 30000;
// How often a replaced file is reopened before the open counts as failed.
constexpr int ReopenAttempts = 16;
// Chunk size of the index walk.
constexpr std::uint32_t WalkChunk = 1u << 20;

// Reads exactly ACount bytes at AAt; false when the file gives fewer.
bool ReadAt(TFileHandle& AFile, std::uint64_t AAt, std::string& ABytes, std::uint32_t ACount) {
    ABytes.resize(ACount);
    if (AFile.Seek(static_cast<std::int64_t>(AAt), SEEK_SET) < 0)
        return false;
    int error = 0;
    const std::int64_t got = AFile.Read(ABytes.data(), ACount, error);
    if (got < 0)
        return false;
    ABytes.resize(static_cast<std::size_t>(got));
    return got == ACount;
}

bool WriteAt(TFileHandle& AFile, std::uint64_t AAt, std::string_view ABytes) {
    if (AFile.Seek(static_cast<std::int64_t>(AAt), SEEK_SET) < 0)
        return false;
    int error = 0;
    return AFile.Write(ABytes.data(), static_cast<std::int64_t>(ABytes.size()), error) ==
               static_cast<std::int64_t>(ABytes.size()) &&
           error == 0;
}

// A record's first 12 bytes are its length, the mark and its number; checks what an offset
// taken from elsewhere must show before the record is trusted.
bool HeadFits(std::string_view AHead, std::uint32_t AAt, std::uint32_t AEnd,
              std::uint32_t ANumber) {
    const std::uint32_t length = Get32(AHead, 0);
    return length >= EventRecordFixedSize + 4 && length % 4 == 0 && length <= AEnd - AAt &&
           Get32(AHead, 4) == EventLogSignature && Get32(AHead, 8) == ANumber;
}

} // namespace

std::string HeaderBytes(const THeader& AHeader) {
    std::string bytes(EventLogHeaderSize, '\0');
    Put32(bytes, 0, EventLogHeaderSize);
    Put32(bytes, 4, EventLogSignature);
    Put32(bytes, 8, 1);
    Put32(bytes, 12, 1);
    Put32(bytes, 16, AHeader.StartOffset);
    Put32(bytes, 20, AHeader.EndOffset);
    Put32(bytes, 24, AHeader.CurrentRecordNumber);
    Put32(bytes, 28, AHeader.OldestRecordNumber);
    Put32(bytes, 32, AHeader.MaxSize);
    Put32(bytes, 36, AHeader.Flags);
    Put32(bytes, 40, AHeader.Retention);
    Put32(bytes, 44, EventLogHeaderSize);
    return bytes;
}

std::string EofBytes(const THeader& AHeader) {
    std::string bytes(EventLogEofSize, '\0');
    Put32(bytes, 0, EventLogEofSize);
    Put32(bytes, 4, 0x11111111);
    Put32(bytes, 8, 0x22222222);
    Put32(bytes, 12, 0x33333333);
    Put32(bytes, 16, 0x44444444);
    Put32(bytes, 20, AHeader.OldestRecordNumber == 0 ? AHeader.EndOffset : AHeader.StartOffset);
    Put32(bytes, 24, AHeader.EndOffset);
    Put32(bytes, 28, AHeader.CurrentRecordNumber);
    Put32(bytes, 32, AHeader.OldestRecordNumber);
    Put32(bytes, 36, EventLogEofSize);
    return bytes;
}

bool ParseHeader(std::string_view ABytes, std::uint64_t AFileSize, THeader& AHeader) {
    if (ABytes.size() < EventLogHeaderSize || Get32(ABytes, 0) != EventLogHeaderSize ||
        Get32(ABytes, 4) != EventLogSignature || Get32(ABytes, 44) != EventLogHeaderSize)
        return false;
    THeader header;
    header.StartOffset = Get32(ABytes, 16);
    header.EndOffset = Get32(ABytes, 20);
    header.CurrentRecordNumber = Get32(ABytes, 24);
    header.OldestRecordNumber = Get32(ABytes, 28);
    header.MaxSize = Get32(ABytes, 32);
    header.Flags = Get32(ABytes, 36);
    header.Retention = Get32(ABytes, 40);
    const bool empty = header.OldestRecordNumber == 0;
    // Records never wrap in this store: they lie between StartOffset and EndOffset in order.
    if (header.StartOffset < EventLogHeaderSize || header.EndOffset < header.StartOffset ||
        header.EndOffset > AFileSize || header.CurrentRecordNumber == 0 ||
        empty != (header.StartOffset == header.EndOffset) ||
        (!empty && header.CurrentRecordNumber <= header.OldestRecordNumber) ||
        (!empty && header.EndOffset - header.StartOffset <
                       std::uint64_t{header.CurrentRecordNumber - header.OldestRecordNumber} *
                           (EventRecordFixedSize + 4)))
        return false;
    AHeader = header;
    return true;
}

int OpenLog(const std::string& APath, bool AWrite, TOpenLog& ALog) {
    TFileService& files = *PlatformServices().Files;
    TFileOpenMode mode;
    mode.Access = AWrite ? fsReadWrite : fsRead;
    mode.Share = fsRead; // readers share with readers; a writer has the file to itself
    mode.Creation = AWrite ? fcCreateIfMissing : fcOpenExisting;
    mode.ClaimWaitMs = ClaimWaitMs;
    mode.BlockLimitMs = 0;
    for (int attempt = 0; attempt < ReopenAttempts; ++attempt) {
        TOpenLog log;
        int error = 0;
        log.File = files.Open(APath, mode, error);
        if (log.File == nullptr && AWrite && error == ENOENT) {
            // The first write to a log in a new folder.
            std::error_code ignored;
            std::filesystem::create_directories(std::filesystem::path(APath).parent_path(),
                                                ignored);
            log.File = files.Open(APath, mode, error);
        }
        if (log.File == nullptr) {
            if (!AWrite && error == ENOENT) {
                log.Missing = true;
                ALog = std::move(log);
                return EventLogOk;
            }
            if (error == EISDIR || error == EINVAL)
                return EventLogFileCorrupt;
            return AWrite ? EventLogWriteFault : EventLogReadFault;
        }
        // A new handle stands at the start: the header is read before the size is asked.
        std::string bytes(EventLogHeaderSize, '\0');
        const std::int64_t got = log.File->Read(bytes.data(), EventLogHeaderSize, error);
        const std::int64_t size = log.File->Seek(0, SEEK_END);
        if (size < 0 || got < 0 || error != 0) // no verdict on a content that was not read
            return AWrite ? EventLogWriteFault : EventLogReadFault;
        log.Size = static_cast<std::uint64_t>(size);
        if (log.Size == 0) {
            // A new file (or one a writer created and has not filled yet): an empty log.
            if (!AWrite)
                log.Missing = true;
            ALog = std::move(log);
            return EventLogOk;
        }
        if (got != EventLogHeaderSize || !ParseHeader(bytes, log.Size, log.Header))
            return EventLogFileCorrupt;
        if ((log.Header.Flags & FlagReplaced) != 0)
            continue; // a compaction renamed a new file over this one after we opened it
        ALog = std::move(log);
        return EventLogOk;
    }
    return EventLogFileCorrupt;
}

namespace {

// Writes the kept tail of the log and ARecord as a new file and renames it over the old one;
// the old file is then marked replaced for whoever waits for its claim.
int Compact(const std::string& APath, TOpenLog& ALog, std::string_view ARecord,
            std::uint32_t AMaxSize) {
    const THeader& old = ALog.Header;
    std::string records;
    if (!ReadAt(*ALog.File, old.StartOffset, records, old.EndOffset - old.StartOffset))
        return EventLogWriteFault;
    // Offsets of the records, oldest first; the header vouches for all of them.
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t at = 0; at + 12 <= records.size();) {
        const std::uint32_t number =
            old.OldestRecordNumber + static_cast<std::uint32_t>(offsets.size());
        if (!HeadFits(std::string_view(records).substr(at, 12), at,
                      static_cast<std::uint32_t>(records.size()), number))
            return EventLogFileCorrupt;
        offsets.push_back(at);
        at += Get32(records, at);
    }
    // Keep the newest records that leave a quarter of the limit free, so that the next writes
    // append for a while before the next compaction.
    const std::uint64_t budget = std::uint64_t{AMaxSize} * 3 / 4;
    const std::uint64_t fixed = EventLogHeaderSize + ARecord.size() + EventLogEofSize;
    std::size_t first = offsets.size();
    while (first > 0 && fixed + (records.size() - offsets[first - 1]) <= budget)
        --first;
    THeader header = old;
    header.Flags &= ~FlagReplaced;
    header.StartOffset = EventLogHeaderSize;
    header.OldestRecordNumber = first < offsets.size()
                                    ? old.OldestRecordNumber + static_cast<std::uint32_t>(first)
                                    : old.CurrentRecordNumber;
    const std::size_t kept = first < offsets.size() ? records.size() - offsets[first] : 0;
    header.EndOffset = static_cast<std::uint32_t>(EventLogHeaderSize + kept + ARecord.size());
    header.CurrentRecordNumber = old.CurrentRecordNumber + 1;
    header.MaxSize = AMaxSize;
    std::string contents = HeaderBytes(header);
    if (kept > 0)
        contents.append(records, offsets[first], kept);
    contents.append(ARecord);
    contents.append(EofBytes(header));
    if (PlatformServices().Files->ReplaceFile(APath, contents) != 0)
        return EventLogWriteFault;
    // A writer that fails to mark the old file only risks a waiting writer appending to a
    // file nobody reads; the record of this call is safely in the new one either way.
    std::string flags(4, '\0');
    Put32(flags, 0, old.Flags | FlagReplaced);
    WriteAt(*ALog.File, 36, flags);
    ALog.Header = header;
    return EventLogOk;
}

} // namespace

int AppendRecord(const std::string& APath, TOpenLog& ALog, std::string_view ARecord,
                 std::uint32_t AMaxSize) {
    if (std::uint64_t{EventLogHeaderSize} + ARecord.size() + EventLogEofSize > AMaxSize)
        return EventLogFileFull;
    const bool fresh = ALog.Size == 0;
    if (fresh)
        ALog.Header = THeader{};
    else if (std::uint64_t{ALog.Header.EndOffset} + ARecord.size() + EventLogEofSize > AMaxSize)
        return Compact(APath, ALog, ARecord, AMaxSize);

    THeader header = ALog.Header;
    header.EndOffset += static_cast<std::uint32_t>(ARecord.size());
    header.CurrentRecordNumber += 1;
    if (header.OldestRecordNumber == 0)
        header.OldestRecordNumber = ALog.Header.CurrentRecordNumber;
    header.MaxSize = AMaxSize;
    // The record and the new end record go where the old end record was; the header, written
    // last, is what makes them part of the log. A new file gets all of it in one write.
    std::string tail = fresh ? HeaderBytes(header) : std::string();
    tail.append(ARecord);
    tail.append(EofBytes(header));
    const bool written = WriteAt(*ALog.File, fresh ? 0 : ALog.Header.EndOffset, tail) &&
                         (fresh || WriteAt(*ALog.File, 0, HeaderBytes(header)));
    if (!written) {
        // What went out in part is cut off again, and a header written in part is put back,
        // so that the records it listed stay readable and a new file stays an empty one.
        if (!fresh)
            WriteAt(*ALog.File, 0, HeaderBytes(ALog.Header));
        ALog.File->Truncate(static_cast<std::int64_t>(ALog.Size));
        return EventLogWriteFault;
    }
    ALog.Header = header;
    ALog.Size = std::max<std::uint64_t>(ALog.Size, header.EndOffset + EventLogEofSize);
    return EventLogOk;
}

void TRecordIndex::Sync(TOpenLog& ALog) {
    const THeader& header = ALog.Header;
    if (ALog.Missing || header.OldestRecordNumber == 0) {
        FOffsets.clear();
        FStopped = false;
        return;
    }
    if (FOffsets.empty() || FFirst != header.OldestRecordNumber || FStart != header.StartOffset ||
        FIndexedEnd > header.EndOffset) {
        FOffsets.clear();
        FFirst = header.OldestRecordNumber;
        FStart = header.StartOffset;
        FIndexedEnd = header.StartOffset;
        FStopped = false;
    }
    std::string chunk;
    while (!FStopped && FIndexedEnd < header.EndOffset) {
        const std::uint32_t base = FIndexedEnd;
        const std::uint32_t want = std::min(WalkChunk, header.EndOffset - base);
        if (!ReadAt(*ALog.File, base, chunk, want)) {
            FStopped = true;
            break;
        }
        std::uint32_t at = base;
        while (at + 12 <= base + want) {
            const std::uint32_t number = FFirst + static_cast<std::uint32_t>(FOffsets.size());
            if (number >= header.CurrentRecordNumber ||
                !HeadFits(std::string_view(chunk).substr(at - base, 12), at, header.EndOffset,
                          number)) {
                FStopped = true;
                break;
            }
            FOffsets.push_back(at);
            at += Get32(chunk, at - base);
        }
        if (at == base && !FStopped)
            FStopped = true; // fewer than 12 bytes before the end: not a record
        FIndexedEnd = at;
    }
}

bool TRecordIndex::Find(std::uint32_t ANumber, std::uint32_t& AOffset) const {
    if (ANumber < FFirst || ANumber - FFirst >= FOffsets.size())
        return false;
    AOffset = FOffsets[ANumber - FFirst];
    return true;
}

} // namespace platform::eventlog
