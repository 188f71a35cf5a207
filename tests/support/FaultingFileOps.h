// tests/support/FaultingFileOps.h - the tools' file library with faults where a test wants them.
//
// The command-line tools replace their map through platform/linux/FileOps, which has no file
// service a test could fake. TFaultingFileOps puts counting versions of its system calls in
// place for as long as it lives and fails the ones a test arms, with the interface of
// platform::TFakeFileService, so that the sweep of FaultSweep.h runs over the tools as it runs
// over the suite's own write paths. Opens are fkOpen, reads fkRead, writes fkWrite (and so is
// every flush, and the close of a file opened for writing, where a full disk may show last),
// renames fkRename and unlinks fkDelete. A failed call does nothing, but a failed close still
// closes, as close(2) does; a short write puts its bytes in the file and the next write fails
// with the fault's error, as a disk that fills up does.
#pragma once

#include "platform/fake/File.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

namespace jex::test {

/// Counting and failing system calls for platform/linux/FileOps; one at a time.
class TFaultingFileOps {
public:
    /// Puts the counting calls in place.
    TFaultingFileOps();

    /// Puts the calls back that were in place before.
    ~TFaultingFileOps();

    TFaultingFileOps(const TFaultingFileOps&) = delete;
    TFaultingFileOps& operator=(const TFaultingFileOps&) = delete;

    /// The ANth call of kind ACall from now on (1 = the next one) fails with AError. For a
    /// write, AKeep bytes (clipped to the count asked for) reach the file, the call reports
    /// them written, and the next write fails with AError.
    void Fail(platform::TFileCallKind ACall, int ANth, int AError, std::int64_t AKeep = 0);

    /// Drops every armed fault; the counts stay.
    void Reset();

    /// Calls of kind ACall made so far.
    int Count(platform::TFileCallKind ACall) const;

private:
    struct TFault {
        platform::TFileCallKind Call;
        int At;
        int Error;
        std::int64_t Keep;
    };

    friend struct TFaultingCalls;

    // The error for the next call of kind ACall, or 0; AKeep receives a short write's bytes.
    int Next(platform::TFileCallKind ACall, std::int64_t& AKeep);
    void Opened(int AFd, int AFlags);
    // True when AFd was opened for writing; forgets it when AClosing.
    bool Writable(int AFd, bool AClosing);

    mutable std::mutex FLock;
    std::array<int, 5> FCounts{};
    std::vector<TFault> FFaults;
    int FPendingWriteError = 0;
    std::set<int> FWritable;
};

/// How many descriptors the process holds open, to see that a failed run closed its files.
int OpenDescriptorCount();

} // namespace jex::test
