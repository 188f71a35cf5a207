// tests/tool/ToolProcess.h - runs a program as a real child process and collects its output.
#pragma once

#include <string>
#include <vector>

namespace vellin::test {

struct TToolResult {
    int ExitCode = -1;  ///< exit code, or -1 when the child did not exit normally
    std::string Output; ///< everything written to standard output
};

/// Runs AArgs[0] with the arguments AArgs[1..] (no shell) in the folder ACurrentDir (the current
/// folder when empty) and waits for it.
TToolResult RunTool(const std::vector<std::string>& AArgs, const std::string& ACurrentDir = {});

} // namespace vellin::test
