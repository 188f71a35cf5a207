// platform/fake/FakeSystemInfo.h - a system-information service with values a test sets.
#pragma once

#include "platform/SystemInfo.h"

namespace platform {

/// Answers exactly the fields it holds; tests fill them in.
class TFakeSystemInfo : public TSystemInfo {
public:
    std::string Computer = "TESTPC";
    std::string User = "tester";
    TMemoryStatus Memory;
    TOSVersion Version;

    std::string ComputerName() override { return Computer; }

    std::string UserName() override { return User; }

    TMemoryStatus MemoryStatus() override { return Memory; }

    TOSVersion OSVersion() override { return Version; }
};

} // namespace platform
