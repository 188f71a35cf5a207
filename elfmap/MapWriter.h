// elfmap/MapWriter.h - turns what was read from an executable into the detailed map layout.
//
// The map reader finds a unit's line numbers in the first line-number section whose header
// contains the unit's name, so names are chosen and sections ordered here such that every unit
// reaches its own section. Writing replaces the map in one step (temporary file, rename).
#pragma once

#include "elfmap/ElfImage.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace elfmap {

/// A unit as the map names it.
struct TMapUnit {
    std::size_t Index = 0; ///< into TElfImage::Units
    std::string Name;      ///< unit name: the source file's name without folder and extension
    std::string FileName;  ///< source file name without folder, for the section header
};

/// The units in the order of their line-number sections, uniquely named, such that no unit's
/// name occurs in an earlier section's header and none can be mistaken for a row of entries.
/// A name is changed only when needed: a name found in the fixed header text or made only of
/// characters a row holds gets "_" and its extension appended; a name taken twice gets "_2",
/// "_3", ...
std::vector<TMapUnit> PlanUnits(const TElfImage& AImage);

/// The whole map text, every line ended by CR LF.
std::string FormatMap(const TElfImage& AImage);

/// The map path beside an executable: its extension replaced by ".map", or ".map" appended when
/// its name has none (as the exception logger derives it).
std::string DefaultMapPath(const std::string& AExecutable);

/// Replaces APath with AContent through a temporary file in the same folder and a rename, so
/// that readers see the old or the new map, never a part. Raises EElfMapError on failure and
/// then leaves APath as it was.
void WriteFileAtomically(const std::string& APath, std::string_view AContent);

} // namespace elfmap
