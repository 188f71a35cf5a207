// platform/fake/TempFiles.h - temporary files in a folder the test chose.
//
// Swapped in through TScopedPlatformServices so that a test decides where temporary files go,
// sees which ones were made, and can make their creation fail, without touching $TMPDIR.
#pragma once

#include "platform/TempFiles.h"

#include <string>
#include <vector>

namespace platform {

class TFakeTempFiles : public TTempFiles {
public:
    /// Files go straight into AFolder (which the test creates); no private folder is made.
    explicit TFakeTempFiles(std::string AFolder = {});

    /// Where the next files go.
    void SetFolder(const std::string& AFolder);

    /// Makes every CreateTempFile fail with AError (an errno) from now on; 0 lets them succeed.
    void SetCreateError(int AError) { FCreateError = AError; }

    /// The paths of the files made so far, in order; CleanupTempFolder empties the list.
    const std::vector<std::string>& Created() const { return FCreated; }

    /// The folder, ending with "/".
    std::string TempPath() override;
    /// The same folder: the test's folder is private already.
    std::string PrivateTempFolder() override;
    /// A new file "Jex" + six characters + ASuffix in the folder, created exclusively.
    std::string CreateTempFile(const std::string& ASuffix) override;
    /// Removes the files this fake made, and nothing else.
    void CleanupTempFolder() override;

    /// Nothing is stale in a test's folder: 0.
    int RemoveStaleTempFolders() override { return 0; }

private:
    std::string FFolder;
    int FCreateError = 0;
    unsigned FNext = 0;
    std::vector<std::string> FCreated;
};

} // namespace platform
