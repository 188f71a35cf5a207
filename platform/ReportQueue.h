// platform/ReportQueue.h - a folder of reports waiting for the collector, and the sending of
// them over HTTP.
//
// Each file "<nanoseconds>-<pid>-<n>.entry" holds one report;
// "<nanoseconds>-<pid>-<n>+<count>.entry" holds <count> reports back to back (a burst written at
// once). Files are written aside and renamed in, so a reader never sees half a file, and the names
// sort oldest first. The folder outlives the process: what a crash or an outage of the collector
// left behind is sent by the next start.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// The default queue folder of program AProgram: $XDG_STATE_HOME/jexlogger/reports/AProgram,
/// with ~/.local/state for an unset or relative $XDG_STATE_HOME.
std::string DefaultReportQueueFolder(std::string_view AProgram);

/// How many reports the queue file AName holds (the "+<count>" of its name, else 1).
std::size_t EntriesInFile(std::string_view AName);

/// Moves the calling thread ABy steps down in the scheduler's favour (nice, up to the lowest),
/// so that a sender working in the background takes CPU from the program's own threads only
/// when they leave it. Only that thread changes. Returns 0 or an errno.
int LowerThreadPriority(int ABy);

/// A bounded queue folder. Push and the listing run on any thread; PushSignalSafe in a signal
/// handler. The bound and the counts are in reports, not files.
class TReportQueue {
public:
    /// AFolder is copied into a fixed buffer for PushSignalSafe; at most AMaxEntries files stay.
    TReportQueue(std::string AFolder, std::size_t AMaxEntries);

    const std::string& Folder() const { return FFolder; }

    /// Creates the folder and its parents (mode 0700) when missing. Returns 0 or an errno.
    int Ensure() const;

    /// Queues AEntries, ACount reports back to back, as one file; past the bound, drops the
    /// oldest files down to a tenth below it (counted in Dropped).
    /// Returns 0 or an errno; nothing is queued then.
    int Push(std::string_view AEntries, std::size_t ACount = 1);

    /// Queues AData with async-signal-safe calls only (open, write, rename). No bound is applied
    /// here; the next Push or Trim does. False when the entry could not be written.
    bool PushSignalSafe(const char* AData, std::size_t ASize) const noexcept;

    /// The names of the queue files, oldest first.
    std::vector<std::string> List() const;

    /// The reports in the queue files now.
    std::size_t Queued() const;

    /// Reads the queue file AName; returns 0 or an errno.
    int Read(const std::string& AName, std::string& AEntry) const;

    /// Removes the queue file AName; returns 0 or an errno (ENOENT counts as removed).
    int Remove(const std::string& AName);

    /// Past the bound, drops the oldest files until the reports are a tenth below it.
    void Trim();

    /// Counts the entries anew (the folder may be shared by several runs of the program).
    void Recount();

    /// Reports dropped by the bound since the queue was made.
    std::size_t Dropped() const { return FDropped.load(); }

private:
    /// Writes one file of ACount reports; what PushSignalSafe and Push share.
    bool WriteFile(const char* AData, std::size_t ASize, std::size_t ACount) const noexcept;

    std::string FFolder;
    std::size_t FMaxEntries;
    std::atomic<std::size_t> FDropped{0};
    /// Reports believed queued: the folder is listed only when this passes the bound.
    std::atomic<std::size_t> FCount{0};
    std::atomic<unsigned> FCounter{0};
    char FFolderBuffer[4096] = {};
};

/// The outcome of one upload.
struct TUploadResult {
    bool Ok = false;
    std::string Error; ///< what went wrong, for a line on standard error
};

/// True for an address of the form http://host... or https://host...
bool IsCollectorAddress(std::string_view AAddress);

/// Sends ABody (entries in the journal export format) to ACollector + "/upload" the way
/// systemd-journal-remote receives them (POST, Content-Type application/vnd.fdo.journal).
/// Gives up after ATimeoutMs, or soon after ACancel becomes true. Success is a 2xx answer.
/// While the upload runs, AMeanwhile (when given) is called at least every AMeanwhileMs.
TUploadResult UploadJournalEntries(const std::string& ACollector, std::string_view ABody,
                                   long ATimeoutMs, const std::atomic<bool>* ACancel,
                                   const std::function<void()>& AMeanwhile = nullptr,
                                   long AMeanwhileMs = 1000);

} // namespace platform
