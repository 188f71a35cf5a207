// exceptions/ReportCollector.h - sending the exception logger's reports to a log collector.
//
// A report becomes one journal entry (the whole report as MESSAGE, PRIORITY 3, the program as
// SYSLOG_IDENTIFIER and JEX_* fields with the crash signature), queued in a folder on disk. A
// worker thread sends what is queued to the collector, a systemd-journal-remote receiver, and
// removes what it accepted; while the collector cannot be reached the entries stay queued and
// the worker retries with growing pauses. Nothing here ever waits for the network on the
// caller's thread.
//
// An entry handed over is written to the folder by the worker at once when none was written in
// the last WriteInterval, and otherwise with the others of its burst, one file for them all, at
// most WriteInterval later (also while an upload is on its way). So a burst of reports costs the
// folder a file per interval, not per report. Only a report handled in the last WriteInterval
// before the process is killed can miss the queue (it is in the log).
//
// Delivery is at least once: an entry the receiver stored is sent again when its answer is lost
// (a timeout after the upload went through, the process ending mid-send) or when removing the
// sent file fails.
#pragma once

#include "platform/ReportQueue.h"
#include "platform/SignalSafeText.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

namespace jex {

/// What one report entry says.
struct TJexReportFields {
    std::string_view Report;    ///< MESSAGE, the report as written to the log
    std::string_view Program;   ///< SYSLOG_IDENTIFIER
    std::string_view Title;     ///< JEX_APPLICATION_TITLE
    std::string_view ClassName; ///< JEX_EXCEPTION_CLASS
    std::string_view Unit;      ///< JEX_UNIT
    std::string_view Procedure; ///< JEX_PROCEDURE
    std::int32_t Line = 0;      ///< JEX_LINE, left out when 0
    std::uintptr_t Address = 0; ///< JEX_ADDRESS (map address model)
    bool Fatal = false;         ///< JEX_FATAL=1 for the fatal path's reports
    /// __REALTIME_TIMESTAMP, microseconds since 1970; 0 for the time the entry is composed.
    long long Realtime = 0;
};

/// A report handed to the worker: the fields with texts of their own, composed into the entry
/// on the worker's side.
struct TJexReportData {
    std::string Report;
    std::string Program;
    std::string Title;
    std::string ClassName;
    std::string Unit;
    std::string Procedure;
    std::int32_t Line = 0;
    std::uintptr_t Address = 0;
    bool Fatal = false;
    long long Realtime = 0;

    /// Views of the texts, valid while this lives.
    TJexReportFields Fields() const;
};

/// Composes the entry into AOut; false (and the entry unusable) when it does not fit.
/// Async-signal-safe.
bool ComposeReportEntry(platform::TSignalSafeText& AOut, const TJexReportFields& AFields) noexcept;

/// The entry as a string.
std::string ReportEntry(const TJexReportFields& AFields);

/// How a collector is reached and how its queue behaves.
struct TJexCollectorSettings {
    std::string Address;          ///< the receiver's URL
    std::string QueueFolder;      ///< where entries wait
    std::size_t MaxQueued = 1000; ///< older entries beyond this are dropped
    std::size_t BatchSize = 256;  ///< entries per upload, and at most per queue file
    /// A burst of reports is written out together at most this often.
    std::chrono::milliseconds WriteInterval{20};
    std::chrono::milliseconds FirstRetry{500};
    std::chrono::milliseconds LastRetry{60000};
    std::chrono::milliseconds Timeout{5000}; ///< one upload, connection included
    /// Steps the worker stands back in the scheduler's favour (nice): on a busy machine its
    /// sending waits for CPU the program's own threads leave, and never takes theirs.
    int WorkerNice = 10;
};

/// The queue and its worker thread. Created, the worker starts by sending what is queued.
class TJexReportCollector {
public:
    /// Creates the queue folder when missing and starts the worker.
    explicit TJexReportCollector(TJexCollectorSettings ASettings);
    /// Stops the worker (an upload in progress is cut short); queued entries stay on disk.
    ~TJexReportCollector();

    TJexReportCollector(const TJexReportCollector&) = delete;
    TJexReportCollector& operator=(const TJexReportCollector&) = delete;

    /// Hands AEntry to the worker, which writes it to the queue folder within WriteInterval
    /// (also while the collector is out) and sends it when it can. Costs the caller no file or
    /// network work, and wakes the worker only for the first entry of a burst.
    /// Returns 0; a failure to write the entry out is told once on standard error.
    int Queue(std::string AEntry);
    /// As Queue(entry), for a report the worker composes into its entry: the caller pays for
    /// neither the entry nor a copy of the report text when it hands the text over.
    int Queue(TJexReportData AReport);

    /// Makes the worker try at once, also during a pause, and waits at most ATimeout until
    /// nothing is queued; meanwhile failed attempts are retried after FirstRetry. True when the
    /// queue is empty.
    bool Flush(std::chrono::milliseconds ATimeout);

    const TJexCollectorSettings& Settings() const { return FSettings; }

    /// The queue folder (PushSignalSafe is what the fatal path uses).
    const platform::TReportQueue& ReportQueue() const { return FQueue; }

    platform::TReportQueue& ReportQueue() { return FQueue; }

    /// Entries dropped by the queue's bound.
    std::size_t Dropped() const;

    /// Entries the collector accepted since this object was made.
    std::size_t Sent() const;

    /// Uploads that failed since this object was made.
    std::size_t FailedUploads() const;

private:
    /// An entry, or a report still to be composed into one.
    using THandedOver = std::variant<std::string, TJexReportData>;

    int HandOver(THandedOver AItem);
    void Run();
    /// Writes the entries handed over by Queue to the queue folder; false when there were none.
    bool WriteOut();
    /// WriteOut once WriteInterval has passed since the last one.
    bool WriteOutWhenDue();
    /// One upload of the oldest entries; true when it went through (or nothing was queued).
    bool SendBatch();
    /// Tells AText on standard error, once until the next successful upload.
    void TellOutage(const std::string& AText);

    TJexCollectorSettings FSettings;
    platform::TReportQueue FQueue;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::condition_variable FDrained;
    std::deque<THandedOver> FUnwritten; ///< handed over, not yet in the folder
    std::size_t FWriting = 0;           ///< taken from FUnwritten, being written into the folder
    std::chrono::steady_clock::time_point FLastWrite{}; ///< of WriteOut, worker only
    std::size_t FDroppedUnwritten = 0;
    bool FTryNow = false;      ///< Flush asked for an attempt
    std::size_t FFlushing = 0; ///< Flush calls waiting
    bool FOutageTold = false;
    std::size_t FSent = 0;
    std::size_t FFailedUploads = 0;
    std::atomic<bool> FStop{false};
    std::thread FWorker;
};

} // namespace jex
