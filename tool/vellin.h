// tool/vellin.h - the line-number merge: a TDS file's procedures and lines into a map file.
//
// vellin rewrites a linker map file: it keeps everything in front of the publics-by-name header
// and replaces the rest with a publics-by-value section and one line-number section per source
// file, read from a TDS file through the bound debug-symbol operations (tool/LBD.h). The layout
// it writes is that of mapfile/MapFormat.h. The command line lives in VellinMain.cpp.
#pragma once

#include "tool/LBD.h"

#include <string>
#include <string_view>
#include <vector>

namespace vellin {

/// The five lines printed when the tool is started without arguments.
inline constexpr std::string_view UsageText = "VELLIN v1.2\n"
                                              "\n"
                                              "add the source lines from tds into mapfile.\n"
                                              "\n"
                                              "vellin.exe <tds_file_name> [<map_file_name>]\n";

/// The whole job of one run: reads ATdsFile first, then the map, and replaces AMapFile only when
/// both succeeded. The new map is written to a temporary file in the map's folder and renamed
/// over it, so a failure while writing leaves the old map whole; a symbolic link is written
/// through and the map keeps its permissions. Raises EVellinError
/// "Cannot open the debug file: <tds>." (also for a FIFO, device or folder), EFOpenError when
/// the map cannot be read or is not a regular file,
/// EVellinError "Invalid map file: <map>" when no line equals the publics-by-name header (letter
/// case aside), and EFCreateError when the new map cannot be written or is the debug file.
void MergeIntoMapFile(const std::string& ATdsFile, const std::string& AMapFile,
                      const TBorDebugApi& AApi = BorDebug());

/// Fills ATail with the new end of the map: the publics-by-value header, an empty line, the
/// sorted public lines (letter case ignored, duplicates dropped), an empty line, then per source
/// file with entries its header, an empty line, its rows of up to four entries with strictly
/// rising line numbers, and an empty line. Calls AApi in the documented order and always
/// unregisters the file it registered. Raises EVellinError "Cannot open the debug file: <tds>."
/// when the file cannot be registered; on any failure ATail is left as it was.
void ReadTdsFile(const std::string& ATdsFile, std::vector<std::string>& ATail,
                 const TBorDebugApi& AApi = BorDebug());

/// The name written for a raw symbol name, or empty for a symbol that is not written (those
/// starting with "@$", and "@" alone). Names not starting with "@" are returned unchanged; a
/// mangled "@Unit@Class@Method$qqrv" becomes "Unit.Class.Method"; names with four or more parts
/// are returned raw.
std::string ConvertSymbolName(const std::string& ARawName);

/// ConvertSymbolName without allocating: the result views ARawName or AWork, which holds the
/// converted text; it is valid until either changes.
std::string_view ConvertSymbolName(std::string_view ARawName, std::string& AWork);

/// The decimal text of ALine right-aligned in six characters; a longer text is returned whole.
std::string PadLineNumber(long long ALine);

/// The file-name part of APath (after its last "\" or ":"), with "/" turned into "\".
std::string SourceFileName(const std::string& APath);

/// SourceFileName into AWork, whose text it returns.
std::string_view SourceFileName(std::string_view APath, std::string& AWork);

/// APath with the extension of its file name (from its last ".") replaced by AExtension, or
/// AExtension appended when the file name has no ".".
std::string ChangeFileExt(const std::string& APath, const std::string& AExtension);

} // namespace vellin
