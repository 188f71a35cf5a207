// tests/support/FaultSweep.h - every file failure a write path can meet, one call at a time.
//
// A sweep runs the operation once without faults to count the calls of each kind it makes,
// then lists, for each of those calls in turn, ENOSPC and EIO and, for a write, a short write
// (one byte reaches the file, then ENOSPC). The test sets its files up again, arms one fault,
// runs the operation and checks that the error surfaced and nothing written before was lost.
#pragma once

#include "platform/fake/File.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace jex::test {

/// One fault: the ANth call of a kind from the start of the operation.
struct TInjectedFault {
    platform::TFileCallKind Call = platform::fkOpen;
    int Nth = 1;
    int Error = 0;
    std::int64_t Keep = 0; ///< bytes a failing write lets through

    /// "write 2: ENOSPC after 1 byte", for the trace of a failed check.
    std::string Describe() const {
        static const char* const kinds[] = {"open", "read", "write", "rename", "delete"};
        std::string text = std::string(kinds[Call]) + " " + std::to_string(Nth) + ": " +
                           (Error == ENOSPC ? "ENOSPC"
                            : Error == EIO  ? "EIO"
                                            : strerror(Error));
        if (Keep > 0)
            text += " after " + std::to_string(Keep) + " byte";
        return text;
    }

    /// Arms the fault on AFiles (the fake file service, or anything with its Fail), counted
    /// from now.
    template <class TFiles>
    void Arm(TFiles& AFiles) const {
        AFiles.Fail(Call, Nth, Error, Keep);
    }
};

/// The faults of a sweep over AOperation (see the file comment); ASetUp runs first to put the
/// files in the state each attempt starts from. AKinds limits the kinds of call faulted. AFiles
/// is the fake file service, or anything that counts and fails calls as it does.
template <class TFiles>
std::vector<TInjectedFault>
FaultsOf(TFiles& AFiles, const std::function<void()>& ASetUp,
         const std::function<void()>& AOperation,
         std::vector<platform::TFileCallKind> AKinds = {platform::fkOpen, platform::fkWrite,
                                                        platform::fkRename, platform::fkDelete}) {
    ASetUp();
    AFiles.Reset();
    std::vector<int> before;
    for (const platform::TFileCallKind kind : AKinds)
        before.push_back(AFiles.Count(kind));
    AOperation();
    std::vector<TInjectedFault> faults;
    for (std::size_t k = 0; k < AKinds.size(); ++k) {
        const int calls = AFiles.Count(AKinds[k]) - before[k];
        for (int nth = 1; nth <= calls; ++nth) {
            for (const int error : {ENOSPC, EIO})
                faults.push_back({AKinds[k], nth, error, 0});
            if (AKinds[k] == platform::fkWrite)
                faults.push_back({AKinds[k], nth, ENOSPC, 1});
        }
    }
    return faults;
}

} // namespace jex::test
