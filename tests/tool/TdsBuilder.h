// tests/tool/TdsBuilder.h - writes small (or very large) TDS files in the layout ilink32 uses.
//
// Tests use it for the cases the real files do not show (falling line numbers, duplicate and
// "@$" names, files without entries); the benchmark uses it to make a TDS file of any size.
// The layout follows the real files: header, directory right behind it, subsections, trailer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vellin::test {

/// One line-number entry: line and code offset.
using TTdsLine = std::pair<std::uint16_t, std::uint32_t>;

/// A source file of a source module: its name and its ranges of entries.
struct TTdsSourceFile {
    std::string Name;
    std::vector<std::vector<TTdsLine>> Ranges;
};

/// A procedure (GPROC32) or a procedure reference (GPROCREF).
struct TTdsProcedure {
    std::uint32_t Offset = 0;
    std::string Name;
    std::uint16_t Segment = 1;
};

class TTdsBuilder {
public:
    /// Adds a name to the names table and returns its 1-based index.
    std::uint32_t AddName(const std::string& AName) {
        FNames.push_back(AName);
        return static_cast<std::uint32_t>(FNames.size());
    }

    /// Adds one module: its source-module subsection (when AFiles is not empty) and its
    /// aligned-symbol subsection with one GPROC32 per procedure (when AProcedures is not empty).
    void AddModule(const std::vector<TTdsSourceFile>& AFiles,
                   const std::vector<TTdsProcedure>& AProcedures) {
        if (!AProcedures.empty())
            FSections.push_back({0x125, AlignedSymbols(AProcedures)});
        if (!AFiles.empty())
            FSections.push_back({0x127, SourceModule(AFiles)});
    }

    /// Adds a procedure reference to the global-symbol subsection.
    void AddReference(const TTdsProcedure& AReference) {
        U16(FGlobalRecords, 28);
        U16(FGlobalRecords, 0x20);
        U32(FGlobalRecords, 0);
        U32(FGlobalRecords, 0x1000);
        U32(FGlobalRecords, AddName(AReference.Name));
        U32(FGlobalRecords, 0);
        U32(FGlobalRecords, AReference.Offset);
        U16(FGlobalRecords, AReference.Segment);
        U32(FGlobalRecords, 0);
    }

    /// Adds a subsection of any kind with the given bytes.
    void AddRaw(std::uint16_t AKind, std::string ABytes) {
        FSections.push_back({AKind, std::move(ABytes)});
    }

    /// The file: signature ASignature ("FB0A" or "FB09").
    std::string Build(const std::string& ASignature = "FB0A") const {
        std::vector<TSection> sections = FSections;
        sections.push_back({0x129, GlobalSymbols()});
        sections.push_back({0x130, NamesTable()});
        std::string out = ASignature;
        U32(out, 8);
        const std::size_t dir = out.size();
        U16(out, 16);
        U16(out, 12);
        U32(out, static_cast<std::uint32_t>(sections.size()));
        U32(out, 0);
        U32(out, 0);
        std::size_t offset = dir + 16 + 12 * sections.size();
        for (const TSection& section : sections) {
            U16(out, section.Kind);
            U16(out, 0);
            U32(out, static_cast<std::uint32_t>(offset));
            U32(out, static_cast<std::uint32_t>(section.Bytes.size()));
            offset += section.Bytes.size();
        }
        for (const TSection& section : sections)
            out += section.Bytes;
        out += ASignature;
        U32(out, static_cast<std::uint32_t>(out.size() + 4));
        return out;
    }

    static void U16(std::string& AOut, std::uint32_t AValue) {
        AOut.push_back(static_cast<char>(AValue & 0xFF));
        AOut.push_back(static_cast<char>(AValue >> 8 & 0xFF));
    }

    static void U32(std::string& AOut, std::uint32_t AValue) {
        U16(AOut, AValue & 0xFFFF);
        U16(AOut, AValue >> 16);
    }

    static void SetU32(std::string& AOut, std::size_t APos, std::uint32_t AValue) {
        std::string bytes;
        U32(bytes, AValue);
        AOut.replace(APos, 4, bytes);
    }

private:
    struct TSection {
        std::uint16_t Kind;
        std::string Bytes;
    };

    std::string SourceModule(const std::vector<TTdsSourceFile>& AFiles) {
        // Header, then each file entry followed by its line tables.
        std::string out;
        U16(out, static_cast<std::uint32_t>(AFiles.size()));
        U16(out, 1);
        std::string body;
        const std::size_t headerSize = 4 + 4 * AFiles.size() + 8 + 2;
        for (const TTdsSourceFile& file : AFiles) {
            U32(out, static_cast<std::uint32_t>(headerSize + body.size()));
            const std::size_t entry = headerSize + body.size();
            const std::size_t tables = entry + 6 + 12 * file.Ranges.size();
            std::string head;
            U16(head, static_cast<std::uint32_t>(file.Ranges.size()));
            U32(head, AddName(file.Name));
            std::string lines;
            std::string bounds;
            for (const auto& range : file.Ranges) {
                U32(head, static_cast<std::uint32_t>(tables + lines.size()));
                U32(bounds, range.empty() ? 0 : range.front().second);
                U32(bounds, range.empty() ? 0 : range.back().second);
                U16(lines, 1);
                U16(lines, static_cast<std::uint32_t>(range.size()));
                for (const TTdsLine& line : range)
                    U32(lines, line.second);
                for (const TTdsLine& line : range)
                    U16(lines, line.first);
            }
            body += head + bounds + lines;
        }
        U32(out, 0);
        U32(out, 0xFFFF);
        U16(out, 1);
        return out + body;
    }

    std::string AlignedSymbols(const std::vector<TTdsProcedure>& AProcedures) {
        std::string out;
        U32(out, 1);
        for (const TTdsProcedure& procedure : AProcedures) {
            const std::size_t start = out.size();
            U16(out, 46);
            U16(out, 0x205);
            U32(out, 0);
            U32(out, static_cast<std::uint32_t>(start + 48)); // end: the 0x0006 record below
            U32(out, 0);
            U32(out, 16);
            U32(out, 0);
            U32(out, 15);
            U32(out, procedure.Offset);
            U16(out, procedure.Segment);
            U16(out, 0);
            U32(out, 0x1000);
            U32(out, AddName(procedure.Name));
            U32(out, 0);
            U16(out, 2);
            U16(out, 0x0006);
        }
        return out;
    }

    std::string GlobalSymbols() const {
        const std::string& records = FGlobalRecords;
        std::string out;
        U16(out, 0);
        U16(out, 0);
        U32(out, static_cast<std::uint32_t>(records.size()));
        for (int i = 0; i < 6; ++i)
            U32(out, 0);
        return out + records;
    }

    std::string NamesTable() const {
        std::string out;
        U32(out, static_cast<std::uint32_t>(FNames.size()));
        for (const std::string& name : FNames) {
            out.push_back(static_cast<char>(name.size()));
            out += name;
            out.push_back('\0');
        }
        return out;
    }

    std::vector<std::string> FNames;
    std::vector<TSection> FSections;
    std::string FGlobalRecords;
};

} // namespace vellin::test
