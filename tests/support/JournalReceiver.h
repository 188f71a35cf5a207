// tests/support/JournalReceiver.h - a systemd-journal-remote receiver on 127.0.0.1, started by a
// test as a plain process, and the journal it writes read back through journalctl.
#pragma once

#include <string>
#include <sys/types.h>

namespace jex::test {

/// The receiver program (installed by systemd-journal-remote); empty when missing.
std::string JournalRemoteProgram();

/// A receiver writing one journal file.
class TJournalReceiver {
public:
    /// Picks a free port; AJournal must end in ".journal". Nothing runs yet.
    explicit TJournalReceiver(std::string AJournal);
    /// Stops the receiver when it runs.
    ~TJournalReceiver();

    TJournalReceiver(const TJournalReceiver&) = delete;
    TJournalReceiver& operator=(const TJournalReceiver&) = delete;

    /// Starts the receiver and waits until it accepts connections; false when it does not.
    bool Start();
    /// Ends the receiver (SIGTERM) and waits, so the journal is complete.
    void Stop();

    /// Gives the running receiver the least share of the CPU (nice 19, for its process and its
    /// session's scheduling group), as a receiver on another machine takes none of the sender's.
    /// False when it does not run or the change is refused.
    bool StandBack();

    /// "http://127.0.0.1:<port>".
    std::string Url() const;

    int Port() const { return FPort; }

    /// The journal in the export format (`journalctl --file ... -o export`).
    std::string Export() const;

private:
    bool StartOnce();

    std::string FJournal;
    int FPort = 0;
    pid_t FPid = -1;
    int FInput = -1; ///< the receiver's standard input, held open while it runs
};

} // namespace jex::test
