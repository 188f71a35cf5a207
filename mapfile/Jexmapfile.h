// mapfile/Jexmapfile.h - the map file reader: code address to unit, procedure and source line.
//
// The exception logger owns one TJexMapFile, points it at the linker map beside the executable
// and asks it to resolve the address of each logged exception. The reader keeps the map as raw
// lines in three lists and gives the results of scanning them in file order; a lookup index,
// built on the first lookup after each load, gives the same results without the scans.
#pragma once

#include "host/core/Classes.h"
#include "host/core/SysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace jex {

class TMapIndex;
struct TMapPosition;

/// The map reader's own exception class. No operation of the reader raises it: the content of a
/// map never causes an error.
class EMapFileException : public host::Exception {
public:
    using Exception::Exception;
};

/// Reads a detailed linker map file and resolves code addresses against it.
///
/// Not thread-safe: one thread at a time (the exception logger uses it from the main thread).
class TJexMapFile : public host::TObject {
public:
    /// An empty reader: no map file name, nothing loaded, BaseAddress 0x00401000.
    TJexMapFile();
    ~TJexMapFile() override;

    /// Stores AName when it differs from MapFileName (exact comparison) and marks the map as not
    /// loaded; the same name changes nothing. The lists keep their lines until the next load.
    void SetMapFileName(const std::string& AName);

    /// Reads the map file into the three lists and marks the map loaded. An empty name, a missing
    /// file, a folder, a FIFO or device of that name (never waited on) or a file without the
    /// segment table leaves the lists empty, and the file is not looked for again until the name
    /// changes or this is called. Raises host::EFOpenError when the file exists but cannot be
    /// opened, host::EReadError when reading it fails (an I/O error); the lists are then empty
    /// and MapLoaded stays false, so the next lookup tries again.
    void LoadMapFile();

    /// Takes AText as the content of the map, exactly as LoadMapFile takes the file's, and marks
    /// the map loaded; MapFileName is not used or changed (until it changes, no file is read).
    void LoadMapText(std::string_view AText);

    /// Resolves AAddress (in the map address model: 0x00401000 + offset into the code) into
    /// RelativeAddress, UnitName, ProcedureName and LineNumber, and sets DataLoaded. nullptr
    /// stands for host::ExceptAddr(), the address of the exception being handled; when there is
    /// none, the results are cleared and DataLoaded stays false. Loads the map first while
    /// MapLoaded is false; its file errors pass out of here.
    void LoadExceptionData(const void* AAddress);

    /// Loads the map when it is not loaded and prepares PositionOf. File errors pass out of
    /// here as from LoadMapFile.
    void PrepareLookups();

    /// Unit, procedure and line of AAddress (map address model), as LoadExceptionData would find
    /// them, without touching the results of the last LoadExceptionData. Allocates nothing and
    /// takes no lock (a fatal report resolves its frames with it); empty before PrepareLookups
    /// and after a new load.
    TMapPosition PositionOf(const void* AAddress) const noexcept;

    /// Clears AList and appends the module name of every segment line that names one, in file
    /// order (a module with several segments appears once per segment). nullptr does nothing.
    /// Loads the map first while MapLoaded is false.
    void LoadUnitNames(std::vector<std::string>* AList);

    /// The same into a caller-owned string list (the framework's list type).
    void LoadUnitNames(host::TStrings* AList);

    bool MapLoaded() const { return FMapLoaded; }

    const std::string& MapFileName() const { return FMapFileName; }

    /// Run-time address of offset 0 of the code segment: 0x00401000.
    std::uint32_t BaseAddress() const { return FBaseAddress; }

    /// The address last resolved minus BaseAddress, modulo 2^32; 0 before any resolution.
    std::uint32_t RelativeAddress() const { return FRelativeAddress; }

    /// Source line found; 0 when none.
    std::int32_t LineNumber() const { return FLineNumber; }

    /// Public symbol found; empty when none.
    const std::string& ProcedureName() const { return FProcedureName; }

    /// Module found; empty when none.
    const std::string& UnitName() const { return FUnitName; }

    /// True when the last LoadExceptionData had an address and its results are valid.
    bool DataLoaded() const { return FDataLoaded; }

    /// The lines of the segment table, of the publics-by-value section and of the line-number
    /// part, as read by the last load (raw, in file order).
    const std::vector<std::string>& SegmentLines() const { return FSegmentLines; }

    const std::vector<std::string>& PublicLines() const { return FPublicLines; }

    const std::vector<std::string>& LineNumberLines() const { return FLineNumberLines; }

private:
    void ClearLists();
    /// Splits the map's text into the three lists.
    void ReadMapText(std::string_view AText);
    TMapIndex& Index();

    bool FMapLoaded = false;
    std::string FMapFileName;
    std::vector<std::string> FSegmentLines;
    std::vector<std::string> FPublicLines;
    std::vector<std::string> FLineNumberLines;
    const std::uint32_t FBaseAddress;
    std::uint32_t FRelativeAddress = 0;
    std::int32_t FLineNumber = 0;
    std::string FProcedureName;
    std::string FUnitName;
    bool FDataLoaded = false;
    /// Built from the three lists on the first lookup after a load; dropped by every load.
    std::unique_ptr<TMapIndex> FIndex;
    /// Set by PrepareLookups, cleared by every load.
    bool FLookupsPrepared = false;
};

} // namespace jex
