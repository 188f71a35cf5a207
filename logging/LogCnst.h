// logging/LogCnst.h - constants shared by the log components.
#pragma once

#include <string>

namespace jex {

/// The log file every component starts with: a bare name, so it lies in the current folder.
inline constexpr const char* DefaultLogFile = "jexevents.log";

/// Divides the sections of an exception report.
inline constexpr const char* SectionSeparator = "\r\n======\r\n";

/// The default template of the message text of a mailed log: the first %s receives the
/// recipients as typed, the second the log file's name.
const std::string& DefaultEMailBody();

} // namespace jex
