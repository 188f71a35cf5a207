// fuzz/EventLogFuzz.cpp - libFuzzer target for event-store files and records.
//
// The input is a whole log file, held in memory behind a file handle: the header is parsed,
// the reader's index walks it, and every record the index finds is read and decoded. Nothing
// may crash or read outside the bytes; every indexed record must lie inside the header's range
// and carry the number the index gave it.
#include "platform/EventLog.h"
#include "platform/linux/EventLogFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A read-only file of the input's bytes.
class TMemoryFile final : public platform::TFileHandle {
public:
    explicit TMemoryFile(std::string ABytes)
        : FBytes(std::move(ABytes)) {}

    std::int64_t Read(void* ABuffer, std::int64_t ACount, int& AError) override {
        AError = 0;
        const std::int64_t left = static_cast<std::int64_t>(FBytes.size()) - FAt;
        const std::int64_t count = ACount < left ? ACount : left;
        if (count <= 0)
            return 0;
        std::memcpy(ABuffer, FBytes.data() + FAt, static_cast<std::size_t>(count));
        FAt += count;
        return count;
    }

    std::int64_t Write(const void*, std::int64_t, int& AError) override {
        AError = EBADF;
        return 0;
    }

    std::int64_t Seek(std::int64_t AOffset, int AWhence) override {
        const std::int64_t base = AWhence == SEEK_SET   ? 0
                                  : AWhence == SEEK_CUR ? FAt
                                                        : static_cast<std::int64_t>(FBytes.size());
        if (base + AOffset < 0)
            return -1;
        FAt = base + AOffset;
        return FAt;
    }

    int Truncate(std::int64_t) override { return EBADF; }

private:
    const std::string FBytes;
    std::int64_t FAt = 0;
};

void Check(bool ACondition, const char* AWhat) {
    if (!ACondition) {
        std::fprintf(stderr, "event store: %s\n", AWhat);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::string bytes(reinterpret_cast<const char*>(AData), ASize);
    // Each input is also taken as one record by itself.
    platform::TEventRecordView view;
    if (platform::DecodeEventRecord(bytes, view))
        Check(view.SourceName.size() < ASize, "decoded a name longer than the record");

    platform::eventlog::TOpenLog log;
    log.Size = ASize;
    if (!platform::eventlog::ParseHeader(bytes, ASize, log.Header))
        return 0;
    Check(log.Header.EndOffset <= ASize, "accepted an end offset past the file");
    log.File = std::make_unique<TMemoryFile>(bytes);
    platform::eventlog::TRecordIndex index;
    index.Sync(log);
    index.Sync(log); // a second sync on the same file changes nothing
    for (std::uint32_t n = log.Header.OldestRecordNumber; n < log.Header.CurrentRecordNumber; ++n) {
        std::uint32_t offset = 0;
        if (!index.Find(n, offset))
            break;
        Check(offset >= log.Header.StartOffset && offset + 60 <= log.Header.EndOffset,
              "indexed a record outside the header's range");
        std::uint32_t length = 0;
        std::uint32_t number = 0;
        std::memcpy(&length, bytes.data() + offset, 4);
        std::memcpy(&number, bytes.data() + offset + 8, 4);
        Check(number == n, "indexed a record under another number");
        Check(offset + std::uint64_t{length} <= log.Header.EndOffset, "indexed a record too long");
        platform::DecodeEventRecord(std::string_view(bytes).substr(offset, length), view);
    }
    return 0;
}
