// tool/VellinError.cpp - the one-line report of an error that ends the tool.
#include "tool/VellinError.h"

#include <cstdio>

namespace vellin {

std::string UnhandledErrorReport(const std::exception_ptr& AError) {
    try {
        std::rethrow_exception(AError);
    } catch (const EVellinError& error) {
        return std::string("Exception ") + error.ClassName() + ": " + error.what();
    } catch (const std::exception& error) {
        return std::string("Exception Exception: ") + error.what();
    } catch (...) {
        return "Unknown exception";
    }
}

int ReportUnhandledError(const std::exception_ptr& AError) {
    const std::string report = UnhandledErrorReport(AError) + "\n";
    std::fwrite(report.data(), 1, report.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fwrite(report.data(), 1, report.size(), stderr);
        std::fflush(stderr);
    }
    return 1;
}

} // namespace vellin
