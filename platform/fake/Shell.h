// platform/fake/Shell.h - a shell service that records the documents it is asked to open.
#pragma once

#include "platform/Shell.h"

#include <vector>

namespace platform {

class TFakeShell : public TShell {
public:
    /// Records ADocument and returns the result set with SetResult (true at first).
    bool Open(const std::string& ADocument) override {
        FOpened.push_back(ADocument);
        return FResult;
    }

    void SetResult(bool AValue) { FResult = AValue; }

    const std::vector<std::string>& Opened() const { return FOpened; }

private:
    bool FResult = true;
    std::vector<std::string> FOpened;
};

} // namespace platform
