// exceptions/ReportCollector.cpp - the report entry, the queue's worker thread and its retries.
#include "exceptions/ReportCollector.h"

#include "exceptions/CrashSignature.h"
#include "platform/JournalExport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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
    bool ok = true;
    if (AFields.Realtime > 0)
        ok = AppendJournalField(AOut, "__REALTIME_TIMESTAMP", number(AFields.Realtime));
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

// ---- The worker -----------------------------------------------------------------------------

TJexReportCollector::TJexReportCollector(TJexCollectorSettings ASettings)
    : FSettings(std::move(ASettings))
    , FQueue(FSettings.QueueFolder, FSettings.MaxQueued) {
    if (const int error = FQueue.Ensure(); error != 0)
        TellOutage("cannot create the queue folder " + FQueue.Folder() + ": " +
                   std::strerror(error));
    // What earlier runs left, the fatal path's entries among them, counts against the bound.
    FQueue.Trim();
    FWorker = std::thread([this] { Run(); });
}

TJexReportCollector::~TJexReportCollector() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    FWorker.join();
}

int TJexReportCollector::Queue(std::string_view AEntry) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        // The worker writes entries out at once; this bound only holds when it cannot.
        if (FUnwritten.size() >= FSettings.MaxQueued) {
            FUnwritten.pop_front();
            ++FDroppedUnwritten;
        }
        FUnwritten.emplace_back(AEntry);
    }
    FWake.notify_all();
    return 0;
}

bool TJexReportCollector::Flush(std::chrono::milliseconds ATimeout) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    std::unique_lock<std::mutex> lock(FLock);
    FTryNow = true;
    FWake.notify_all();
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

void TJexReportCollector::WriteOut() {
    std::deque<std::string> entries;
    {
        std::lock_guard<std::mutex> lock(FLock);
        entries.swap(FUnwritten);
        FWriting = entries.size();
    }
    for (const std::string& entry : entries)
        if (const int error = FQueue.Push(entry); error != 0)
            TellOutage("a report could not be queued in " + FQueue.Folder() + ": " +
                       std::strerror(error));
    std::lock_guard<std::mutex> lock(FLock);
    FWriting = 0;
}

std::size_t TJexReportCollector::Sent() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FSent;
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
    for (const std::string& name : names) {
        if (batch.size() >= FSettings.BatchSize)
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
    }
    if (batch.empty())
        return true;
    const platform::TUploadResult result = platform::UploadJournalEntries(
        FSettings.Address, body, static_cast<long>(FSettings.Timeout.count()), &FStop);
    if (!result.Ok) {
        if (!FStop)
            TellOutage(std::to_string(names.size()) + " waiting in " + FQueue.Folder() + " (" +
                       result.Error + ")");
        return false;
    }
    for (const std::string& name : batch)
        FQueue.Remove(name);
    std::lock_guard<std::mutex> lock(FLock);
    FSent += batch.size();
    FOutageTold = false;
    return true;
}

void TJexReportCollector::Run() {
    using clock = std::chrono::steady_clock;
    std::chrono::milliseconds pause = FSettings.FirstRetry;
    auto nextAttempt = clock::now();
    bool pending = true; // what an earlier run left queued is sent first
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        const auto due = [&] {
            return FStop || FTryNow || !FUnwritten.empty() ||
                   (pending && clock::now() >= nextAttempt);
        };
        if (pending)
            FWake.wait_until(lock, nextAttempt, due);
        else
            FWake.wait(lock, due);
        const bool tryNow = FTryNow;
        FTryNow = false;
        const bool fresh = !FUnwritten.empty();
        lock.unlock();
        // New entries go to disk at once, also during a pause after a failure.
        WriteOut();
        if (FStop)
            break;
        pending = pending || fresh;
        bool sent = true;
        if (pending && (tryNow || clock::now() >= nextAttempt)) {
            sent = SendBatch();
            if (sent) {
                pause = FSettings.FirstRetry;
                nextAttempt = clock::now();
                pending = !FQueue.List().empty();
            } else {
                // Failed: wait, longer each time; a Flush cuts the wait short, new entries do not.
                nextAttempt = clock::now() + pause;
                pause = std::min(pause * 2, FSettings.LastRetry);
            }
        }
        lock.lock();
        FDrained.notify_all();
    }
    WriteOut();
}

} // namespace jex
