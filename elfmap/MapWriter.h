// elfmap/MapWriter.h - turns what was read from an executable into the detailed map layout.
//
// The map reader finds a unit's line numbers in the first line-number section whose header
// contains the unit's name, so names are chosen and sections ordered here such that every unit
// reaches its own section. Writing replaces the map in one step (temporary file, rename).
#pragma once

#include "elfmap/ElfImage.h"
#include "platform/linux/FileOps.h"

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

/// Receives a map's text a piece at a time, in order.
class TMapOutput {
public:
    virtual ~TMapOutput() = default;
    virtual void Put(std::string_view AText) = 0;
};

/// Writes the whole map text, every line ended by CR LF, to AOutput in pieces of about a
/// quarter megabyte: a large program's map is tens of megabytes and is never held whole.
void FormatMap(const TElfImage& AImage, TMapOutput& AOutput);

/// The whole map text as one string (for small images and tests).
std::string FormatMap(const TElfImage& AImage);

/// The map path beside an executable: its extension replaced by ".map", or ".map" appended when
/// its name has none (as the exception logger derives it).
std::string DefaultMapPath(const std::string& AExecutable);

/// A file replaced in one step (fileops::TFileReplacement): the text goes to a temporary file in
/// the same folder, which Commit renames over APath, so that readers see the old or the new map,
/// never a part. A symbolic link is written through and an existing map keeps its permissions.
/// APath is refused when it exists and is not a regular file, or is one of AInputs (by device
/// and inode: the executable or its debug file under any name). Every failure raises
/// EElfMapError naming APath and leaves APath as it was; a writer destroyed without Commit
/// removes its temporary file.
class TAtomicFileWriter : public TMapOutput {
public:
    explicit TAtomicFileWriter(std::string APath, std::vector<std::string> AInputs = {});

    void Put(std::string_view AText) override;
    void Commit();

private:
    fileops::TFileReplacement FReplacement;
};

/// Replaces APath with AContent through TAtomicFileWriter.
void WriteFileAtomically(const std::string& APath, std::string_view AContent,
                         std::vector<std::string> AInputs = {});

} // namespace elfmap
