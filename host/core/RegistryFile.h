// host/core/RegistryFile.h - keys of the store to and from REGEDIT4 text.
//
// The text is the one the system's registry editor has always written: a "REGEDIT4" line,
// then one "[HKEY_...\Path]" section per key with its values ("Name"="text", @="default",
// "N"=dword:0000002a, "B"=hex:01,02, hex(2): for expandable and hex(7): for multi-strings,
// hex(N): for any other type, "Name"=- to delete a value), "[-HKEY_...\Path]" to delete a key
// with everything below it, ";" comments and "\" at a line's end continuing a hex list. Users
// inspect and seed the store with it; tests write their fixtures in it.
#pragma once

#include "host/core/Registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace host {

/// One change a REGEDIT4 text asks for.
struct TRegistryFileEntry {
    enum TKind : std::uint8_t { ekKey, ekDeleteKey, ekValue, ekDeleteValue };

    TKind Kind = ekKey;
    int Line = 0;           ///< where it was written (1-based)
    HKEY Root = 0;          ///< the key's root
    std::string Path;       ///< the key below the root
    std::string Name;       ///< the value's name (empty: the default value)
    std::uint32_t Type = 0; ///< the value's type (1 string, 2 expandable, 3 binary, 4 number...)
    std::string Data;       ///< the value's bytes as stored
};

/// Parses REGEDIT4 text. Raises ERegistryException "Line N: <what is wrong>" at the first
/// error (a missing header, an unknown root, a section or value line that does not parse, a
/// value before any section).
std::vector<TRegistryFileEntry> ParseRegistryText(std::string_view AText);

/// Applies parsed entries to the store in order. Raises ERegistryException "Line N: ..."
/// naming the entry the store refused; what came before it stays applied.
void ApplyRegistryEntries(const std::vector<TRegistryFileEntry>& AEntries);

/// Parses AText completely, then applies it: a text with a syntax error changes nothing.
void ImportRegistryText(std::string_view AText);

/// The key AKey of ARoot with every key below it, as REGEDIT4 text; raises
/// ERegistryException "Failed to get data for 'AKey'" when the key is missing, and naming the
/// key or value when one below cannot be read (a value deleted meanwhile or damaged is left
/// out).
std::string ExportRegistryText(HKEY ARoot, const std::string& AKey);

/// ImportRegistryText of a file's content; ExportRegistryText into a file (replaced in one
/// step). Raise ERegistryException "Cannot open file <name>" / "Cannot create file <name>".
void ImportRegistryFile(const std::string& AFileName);
void ExportRegistryFile(HKEY ARoot, const std::string& AKey, const std::string& AFileName);

} // namespace host
