// platform/fake/File.h - a file service that fails where a test tells it to.
//
// TFakeFileService passes every call to a real file service (the Linux one unless given
// another) and counts the opens, reads, writes and renames on the way. A test arms a fault for
// the Nth call of a kind: that call fails with the chosen errno (ENOSPC, EIO, EACCES, ...), or,
// for a write, puts only some bytes into the file before it fails, as a full disk does. The
// files themselves are real, so what a fault leaves behind can be read back afterwards.
#pragma once

#include "platform/File.h"

#include <cstdint>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

/// The kinds of call the fake counts and can fail.
enum TFileCallKind : std::uint8_t {
    fkOpen,   ///< Open, and the open of a whole-file read or of a replacement's temporary file
    fkRead,   ///< a handle's Read, and the read of ReadFile
    fkWrite,  ///< a handle's Write, and the write of a replacement's temporary file
    fkRename, ///< Rename, and the rename that ends a replacement
    fkDelete, ///< Delete
};

/// Every kind of call, in the order above.
inline constexpr TFileCallKind AllFileCallKinds[] = {fkOpen, fkRead, fkWrite, fkRename, fkDelete};

class TFakeFileService : public TFileService {
public:
    /// Passes calls to AReal (the Linux service when null).
    explicit TFakeFileService(TFileService* AReal = nullptr);

    /// The ANth call of kind ACall from now on (1 = the next one) fails with AError. For a
    /// write, AKeep bytes (clipped to the count asked for) reach the file first.
    void Fail(TFileCallKind ACall, int ANth, int AError, std::int64_t AKeep = 0);

    /// Every call of kind ACall from now on fails with AError, until Reset.
    void FailAlways(TFileCallKind ACall, int AError);

    /// Drops every armed fault; the counts stay.
    void Reset();

    /// Calls of kind ACall made so far.
    int Count(TFileCallKind ACall) const;

    /// The mode of the last Open, for tests that check what a caller asked for.
    TFileOpenMode LastOpenMode() const;

    /// What ExecutablePath answers from now on; empty gives the real one.
    void SetExecutablePath(const std::string& APath);

    std::unique_ptr<TFileHandle> Open(const std::string& APath, const TFileOpenMode& AMode,
                                      int& AError) override;
    int ReadFile(const std::string& APath, std::string& AContents) override;
    int ReplaceFile(const std::string& APath, std::string_view AContents) override;
    int Rename(const std::string& AFrom, const std::string& ATo) override;
    bool Exists(const std::string& APath) override;
    int Delete(const std::string& APath) override;
    std::string ExecutablePath() override;

    /// Counts the call and answers the fault armed for it: 0 when none, else its errno and,
    /// through AKeep, how many bytes a failing write lets through. For the fake's handles.
    int Next(TFileCallKind ACall, std::int64_t& AKeep);

private:
    struct TFault {
        TFileCallKind Call;
        int At; // the call count at which it strikes; 0 for every call
        int Error;
        std::int64_t Keep;
    };

    int Next(TFileCallKind ACall);

    TFileService& FReal;
    mutable std::mutex FLock;
    int FCounts[std::size(AllFileCallKinds)] = {};
    std::vector<TFault> FFaults;
    TFileOpenMode FLastOpenMode;
    std::string FExecutablePath;
};

} // namespace platform
