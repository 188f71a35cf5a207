// mapfile/maplookup/maplookup.cpp - maplookup: report addresses to unit, procedure and line.
//
// For people who hold an old exception report and the map file of that build: resolves the
// addresses printed after "Phys.addr:" with the same reader the exception logger uses, or lists
// the map's modules. Unlike the logger, it treats a missing map as an error and names it.
#include "mapfile/Jexmapfile.h"
#include "platform/linux/FileOps.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* Usage = "Usage: maplookup MAPFILE ADDRESS...\n"
                              "       maplookup --units MAPFILE\n"
                              "Resolves each hexadecimal ADDRESS (as printed after \"Phys.addr:\","
                              " with or\n"
                              "without 0x) to a line ADDRESS<TAB>UNIT<TAB>PROCEDURE<TAB>LINE, or"
                              " lists the\n"
                              "module name of every segment of the map, one per line.\n";

// One to eight hexadecimal digits, optionally after "0x" or "0X".
bool ParseAddress(std::string_view AText, std::uint32_t& AValue) {
    if (AText.size() >= 2 && AText[0] == '0' && (AText[1] == 'x' || AText[1] == 'X'))
        AText.remove_prefix(2);
    if (AText.empty() || AText.size() > 8)
        return false;
    std::uint32_t value = 0;
    for (char c : AText) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    AValue = value;
    return true;
}

int Fail(const std::string& AMessage) {
    std::fprintf(stderr, "maplookup: %s\n", AMessage.c_str());
    return 1;
}

// The reader takes a missing map for an empty one; here the user named it and must hear of it.
// A FIFO or a device is refused too: the reader would wait on it or read it without end.
bool CheckMapFile(const std::string& AName, std::string& AError) {
    try {
        fileops::OpenRegularFile(AName);
        return true;
    } catch (const fileops::EFileError& error) {
        if (error.Errno() == ENOENT)
            AError = "map file not found: " + AName;
        else if (error.Errno() == EISDIR)
            AError = "not a map file but a folder: " + AName;
        else
            AError = "cannot read the map file " + AName + ": " + error.Reason();
    }
    return false;
}

// Flushes standard output; 1 with a message when what was written to it was lost, else ACode.
int FinishOutput(int ACode) {
    try {
        fileops::FlushStandardOutput();
    } catch (const fileops::EFileError& error) {
        return Fail("cannot write to standard output: " + error.Reason());
    }
    return ACode;
}

int Run(const std::vector<std::string>& AArgs) {
    if (AArgs.size() == 1 && (AArgs[0] == "--help" || AArgs[0] == "-h")) {
        std::fputs(Usage, stdout);
        return FinishOutput(0);
    }
    const bool units = !AArgs.empty() && AArgs[0] == "--units";
    if ((units && AArgs.size() != 2) || (!units && AArgs.size() < 2)) {
        std::fputs(Usage, stderr);
        return 1;
    }
    const std::string& mapName = AArgs[units ? 1 : 0];
    std::string error;
    if (!CheckMapFile(mapName, error))
        return Fail(error);

    jex::TJexMapFile map;
    map.SetMapFileName(mapName);
    if (units) {
        std::vector<std::string> names;
        map.LoadUnitNames(&names);
        for (const std::string& name : names)
            std::printf("%s\n", name.c_str());
        return FinishOutput(0);
    }

    // Every address is checked before any is printed, so a typo gives no partial output.
    std::vector<std::uint32_t> addresses;
    for (std::size_t i = 1; i < AArgs.size(); ++i) {
        std::uint32_t value = 0;
        if (!ParseAddress(AArgs[i], value))
            return Fail("malformed address: " + AArgs[i] +
                        " (expected up to eight hexadecimal digits, optionally after 0x)");
        addresses.push_back(value);
    }
    map.LoadMapFile();
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        // Address 0 is the reader's "no address" (nullptr): a report never resolves it, so
        // neither does this tool.
        const auto address = static_cast<std::uintptr_t>(addresses[i]);
        if (address == 0) {
            std::printf("%s\t\t\t0\n", AArgs[i + 1].c_str());
            continue;
        }
        map.LoadExceptionData(reinterpret_cast<const void*>(address));
        std::printf("%s\t%s\t%s\t%d\n", AArgs[i + 1].c_str(), map.UnitName().c_str(),
                    map.ProcedureName().c_str(), static_cast<int>(map.LineNumber()));
    }
    return FinishOutput(0);
}

} // namespace

int main(int argc, char** argv) {
    fileops::ReserveStandardStreams();
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
