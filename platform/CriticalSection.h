// platform/CriticalSection.h - the process-wide lock the log components write under.
//
// A plain mutex: every append to a log file in the process takes it, so two components never
// mix their records. Other processes are kept out by the file lock the stream takes.
#pragma once

#include <mutex>

namespace platform {

class TCriticalSection {
public:
    void Enter() { FMutex.lock(); }

    void Leave() { FMutex.unlock(); }

private:
    std::mutex FMutex;
};

} // namespace platform
