// exceptions/ReportCollector.cpp - the report entry, the queue's worker thread and its retries.
#include "exceptions/ReportCollector.h"

#include "exceptions/CrashSignature.h"
#include "platform/FaultSignals.h"
#include "platform/JournalExport.h"
#include "platform/ReportQueue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>

namespace jex {

using platform::AppendJournalField;
using platform::TSignalSafeText;

namespace {

// Room for the numeric and fixed fields beside the texts.
constexpr std::size_t FixedFieldsSize = 256;

} // namespace

bool ComposeReportEntry(TSignalSafeText& AOut, const TJexReportFields& AFields) noexcept {
    char numberBuffer[32];
    const auto number = [&numberBuffer](long long AValue) {
        TSignalSafeText text(numberBuffer, sizeof numberBuffer);
        text.AppendDecimal(AValue);
        return text.View();
    };
    const TCrashSignature signature =
        CrashSignature(AFields.ClassName, AFields.Unit, AFields.Procedure);
    // systemd-journal-remote answers an entry without a time 202 Accepted and drops it, so
    // every entry carries one.
    long long realtime = AFields.Realtime;
    if (realtime <= 0) {
        struct timespec now {};

        clock_gettime(CLOCK_REALTIME, &now);
        realtime = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    }
    bool ok = AppendJournalField(AOut, "__REALTIME_TIMESTAMP", number(realtime));
    ok = ok && AppendJournalField(AOut, "MESSAGE", AFields.Report);
    ok = ok && AppendJournalField(AOut, "PRIORITY", "3");
    if (!AFields.Program.empty())
        ok = ok && AppendJournalField(AOut, "SYSLOG_IDENTIFIER", AFields.Program);
    ok = ok && AppendJournalField(AOut, "JEX_SIGNATURE", SignatureText(signature));
    ok = ok && AppendJournalField(AOut, "JEX_EXCEPTION_CLASS", AFields.ClassName);
    if (!AFields.Unit.empty())
        ok = ok && AppendJournalField(AOut, "JEX_UNIT", AFields.Unit);
    if (!AFields.Procedure.empty())
        ok = ok && AppendJournalField(AOut, "JEX_PROCEDURE", AFields.Procedure);
    if (AFields.Line > 0)
        ok = ok && AppendJournalField(AOut, "JEX_LINE", number(AFields.Line));
    {
        char addressBuffer[24];
        TSignalSafeText address(addressBuffer, sizeof addressBuffer);
        address.AppendHex(AFields.Address);
        ok = ok && AppendJournalField(AOut, "JEX_ADDRESS", address.View());
    }
    if (!AFields.Title.empty())
        ok = ok && AppendJournalField(AOut, "JEX_APPLICATION_TITLE", AFields.Title);
    if (AFields.Fatal)
        ok = ok && AppendJournalField(AOut, "JEX_FATAL", "1");
    return ok && platform::EndJournalEntry(AOut);
}

std::string ReportEntry(const TJexReportFields& AFields) {
    const std::size_t size = FixedFieldsSize +
                             platform::JournalFieldSize("MESSAGE", AFields.Report) +
                             platform::JournalFieldSize("SYSLOG_IDENTIFIER", AFields.Program) +
                             platform::JournalFieldSize("JEX_APPLICATION_TITLE", AFields.Title) +
                             platform::JournalFieldSize("JEX_EXCEPTION_CLASS", AFields.ClassName) +
                             platform::JournalFieldSize("JEX_UNIT", AFields.Unit) +
                             platform::JournalFieldSize("JEX_PROCEDURE", AFields.Procedure);
    std::string buffer(size + 1, '\0');
    TSignalSafeText out(buffer.data(), buffer.size());
    ComposeReportEntry(out, AFields);
    buffer.resize(out.Length());
    return buffer;
}

TJexReportFields TJexReportData::Fields() const {
    TJexReportFields fields;
    fields.Report = Report;
    fields.Program = Program;
    fields.Title = Title;
    fields.ClassName = ClassName;
    fields.Unit = Unit;
    fields.Procedure = Procedure;
    fields.Line = Line;
    fields.Address = Address;
    fields.Fatal = Fatal;
    fields.Realtime = Realtime;
    return fields;
}

// ---- The worker -----------------------------------------------------------------------------

TJexReportCollector::TJexReportCollector(TJexCollectorSettings ASettings)
    : FSettings(std::move(ASettings))
    , FQueue(FSettings.QueueFolder, FSettings.MaxQueued) {
    if (const int error = FQueue.Ensure(); error != 0)
        TellOutage("cannot create the queue folder " + FQueue.Folder() + ": " +
                   std::strerror(error));
    // What earlier runs left, the fatal path's entries among them, counts against the bound.
    FQueue.Trim();
    // With a signal stack of its own, a fault on the worker still becomes a fatal report.
    FWorker = std::thread([this] {
        const platform::TThreadSignalStack signalStack;
        Run();
    });
}

TJexReportCollector::~TJexReportCollector() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    FWorker.join();
}

int TJexReportCollector::Queue(std::string AEntry) {
    return HandOver(std::move(AEntry));
}

int TJexReportCollector::Queue(TJexReportData AReport) {
    return HandOver(std::move(AReport));
}

int TJexReportCollector::HandOver(THandedOver AItem) {
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(FLock);
        // The worker writes entries out within moments; this bound only holds when it cannot.
        if (FUnwritten.size() >= FSettings.MaxQueued) {
            FUnwritten.pop_front();
            ++FDroppedUnwritten;
        }
        first = FUnwritten.empty();
        FUnwritten.push_back(std::move(AItem));
    }
    // The worker waits for the first entry of a burst; it sees the others when it writes that
    // one out, so they need no wake-up of their own.
    if (first)
        FWake.notify_all();
    return 0;
}

bool TJexReportCollector::Flush(std::chrono::milliseconds ATimeout) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    std::unique_lock<std::mutex> lock(FLock);
    FTryNow = true;
    FWake.notify_all();
    // While this waits, failed attempts are retried after the first pause, not a grown one.
    ++FFlushing;

    struct TDone {
        std::size_t& Count;

        ~TDone() { --Count; }
    } done{FFlushing};

    for (;;) {
        // Entries the worker has taken but not yet written count as queued.
        const bool unwritten = !FUnwritten.empty() || FWriting != 0;
        lock.unlock();
        const bool empty = !unwritten && FQueue.List().empty();
        lock.lock();
        if (empty)
            return true;
        if (FDrained.wait_until(lock, deadline) == std::cv_status::timeout)
            return FUnwritten.empty() && FWriting == 0 && FQueue.List().empty();
    }
}

std::size_t TJexReportCollector::Dropped() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FQueue.Dropped() + FDroppedUnwritten;
}

bool TJexReportCollector::WriteOut() {
    std::deque<THandedOver> entries;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (FUnwritten.empty())
            return false;
        entries.swap(FUnwritten);
        FWriting = entries.size();
    }
    FLastWrite = std::chrono::steady_clock::now();
    // A burst goes into as few files as an upload takes: each file is sent, and removed, whole.
    const std::size_t perFile = std::max<std::size_t>(FSettings.BatchSize, 1);
    std::string joined;
    for (std::size_t at = 0; at < entries.size(); at += perFile) {
        const std::size_t count = std::min(perFile, entries.size() - at);
        joined.clear();
        for (std::size_t i = at; i < at + count; ++i) {
            if (const auto* entry = std::get_if<std::string>(&entries[i]))
                joined += *entry;
            else
                joined += ReportEntry(std::get<TJexReportData>(entries[i]).Fields());
        }
        if (const int error = FQueue.Push(joined, count); error != 0)
            TellOutage("a report could not be queued in " + FQueue.Folder() + ": " +
                       std::strerror(error));
    }
    std::lock_guard<std::mutex> lock(FLock);
    FWriting = 0;
    return true;
}

bool TJexReportCollector::WriteOutWhenDue() {
    return std::chrono::steady_clock::now() >= FLastWrite + FSettings.WriteInterval && WriteOut();
}

std::size_t TJexReportCollector::Sent() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FSent;
}

std::size_t TJexReportCollector::FailedUploads() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FFailedUploads;
}

void TJexReportCollector::TellOutage(const std::string& AText) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (FOutageTold)
            return;
        FOutageTold = true;
    }
    std::fprintf(stderr, "jexlogger: reports for %s stay queued: %s\n", FSettings.Address.c_str(),
                 AText.c_str());
}

bool TJexReportCollector::SendBatch() {
    const std::vector<std::string> names = FQueue.List();
    if (names.empty())
        return true;
    std::string body;
    std::vector<std::string> batch;
    std::size_t entries = 0;
    for (const std::string& name : names) {
        const std::size_t inFile = platform::EntriesInFile(name);
        if (!batch.empty() && entries + inFile > FSettings.BatchSize)
            break;
        std::string entry;
        if (FQueue.Read(name, entry) != 0)
            continue; // gone meanwhile, or unreadable: the next round sees it again
        if (entry.empty()) {
            FQueue.Remove(name);
            continue;
        }
        body += entry;
        batch.push_back(name);
        entries += inFile;
    }
    if (batch.empty())
        return true;
    // Reports handed over meanwhile still reach the folder while the upload waits.
    const platform::TUploadResult result = platform::UploadJournalEntries(
        FSettings.Address, body, static_cast<long>(FSettings.Timeout.count()), &FStop,
        [this] { WriteOutWhenDue(); }, static_cast<long>(FSettings.WriteInterval.count()));
    if (!result.Ok) {
        if (!FStop)
            TellOutage(std::to_string(FQueue.Queued()) + " waiting in " + FQueue.Folder() + " (" +
                       result.Error + ")");
        return false;
    }
    for (const std::string& name : batch)
        FQueue.Remove(name);
    std::lock_guard<std::mutex> lock(FLock);
    FSent += entries;
    FOutageTold = false;
    return true;
}

void TJexReportCollector::Run() {
    // Failing leaves the worker where it was: slower to yield, still sending.
    if (FSettings.WorkerNice > 0)
        platform::LowerThreadPriority(FSettings.WorkerNice);
    using clock = std::chrono::steady_clock;
    std::chrono::milliseconds pause = FSettings.FirstRetry;
    auto nextAttempt = clock::now();
    bool pending = true; // what an earlier run left queued is sent first
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        // Woken by the first entry of a burst, a Flush or the stop; entries that came within
        // WriteInterval of the last write wait out the rest of it.
        for (;;) {
            const auto writeDue = FLastWrite + FSettings.WriteInterval;
            const auto now = clock::now();
            if (FStop || FTryNow || (!FUnwritten.empty() && now >= writeDue) ||
                (pending && now >= nextAttempt))
                break;
            auto until = clock::time_point::max();
            if (pending)
                until = nextAttempt;
            if (!FUnwritten.empty())
                until = std::min(until, writeDue);
            if (until == clock::time_point::max())
                FWake.wait(lock);
            else
                FWake.wait_until(lock, until);
        }
        const bool tryNow = FTryNow;
        FTryNow = false;
        lock.unlock();
        // New entries go to disk, also during a pause after a failure.
        if (tryNow || FStop)
            pending = WriteOut() || pending;
        else
            pending = WriteOutWhenDue() || pending;
        if (FStop)
            break;
        if (pending && (tryNow || clock::now() >= nextAttempt)) {
            if (SendBatch()) {
                pause = FSettings.FirstRetry;
                nextAttempt = clock::now();
                pending = !FQueue.List().empty();
            } else {
                // Failed: wait, longer each time; a Flush cuts the wait short and keeps it at
                // the first length while it waits. New entries do not.
                bool flushing = false;
                {
                    std::lock_guard<std::mutex> guard(FLock);
                    flushing = FFlushing != 0;
                    ++FFailedUploads;
                }
                nextAttempt = clock::now() + (flushing ? FSettings.FirstRetry : pause);
                if (!flushing)
                    pause = std::min(pause * 2, FSettings.LastRetry);
            }
        }
        lock.lock();
        FDrained.notify_all();
    }
    WriteOut();
}

} // namespace jex
