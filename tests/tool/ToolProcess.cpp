// tests/tool/ToolProcess.cpp - fork, exec and a pipe for the child's standard output.
#include "tests/tool/ToolProcess.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace vellin::test {

std::string TestDataPath(const std::string& ARelative) {
    const char* folder = std::getenv("JEX_TESTDATA_DIR");
    return std::string(folder != nullptr && *folder != '\0' ? folder : JEX_TESTDATA_DIR) + "/" +
           ARelative;
}

TToolResult RunTool(const std::vector<std::string>& AArgs, const std::string& ACurrentDir) {
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char*> argv;
    for (const std::string& arg : AArgs)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        if (!ACurrentDir.empty() && chdir(ACurrentDir.c_str()) != 0)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    TToolResult result;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(out[0], buffer, sizeof buffer)) != 0) {
        if (got > 0)
            result.Output.append(buffer, static_cast<std::size_t>(got));
        else if (errno != EINTR)
            break;
    }
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    return result;
}

} // namespace vellin::test
