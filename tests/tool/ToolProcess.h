// tests/tool/ToolProcess.h - runs a program as a real child process; finds the real test data.
#pragma once

#include <string>
#include <vector>

namespace vellin::test {

struct TToolResult {
    int ExitCode = -1;  ///< exit code, or -1 when the child did not exit normally
    std::string Output; ///< everything written to standard output
};

/// Path of ARelative inside the real test data: JEX_TESTDATA_DIR of the environment when set
/// (for clones that do not sit beside the shared folder), else the folder named at build time.
std::string TestDataPath(const std::string& ARelative);

/// Runs AArgs[0] with the arguments AArgs[1..] (no shell) in the folder ACurrentDir (the current
/// folder when empty) and waits for it.
TToolResult RunTool(const std::vector<std::string>& AArgs, const std::string& ACurrentDir = {});

} // namespace vellin::test
