// tests/mapfile/PlainMapReader.h - the map reader's rules written as plain line-by-line scans.
//
// The yardstick for TJexMapFile: it splits the text into lines, walks them with one index and
// answers each lookup by scanning the lists in file order, cutting fields by hand. It shares no
// code with the reader, so the differential tests, the fuzz target and the benchmark compare two
// independent readings of the same rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jex::test {

class PlainMapReader {
public:
    std::vector<std::string> Segments;
    std::vector<std::string> Publics;
    std::vector<std::string> LineNumbers;

    struct Result {
        std::uint32_t Relative = 0;
        std::string Unit;
        std::string Procedure;
        std::int32_t Line = 0;
    };

    static std::vector<std::string> SplitLines(std::string_view AText) {
        std::vector<std::string> lines;
        std::string current;
        bool open = false;
        for (std::size_t i = 0; i < AText.size(); ++i) {
            const char c = AText[i];
            if (c == '\r' || c == '\n') {
                lines.push_back(current);
                current.clear();
                open = false;
                if (c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n')
                    ++i;
            } else {
                current += c;
                open = true;
            }
        }
        if (open)
            lines.push_back(current);
        return lines;
    }

    static bool Contains(std::string_view ALine, std::string_view AWhat) {
        return ALine.find(AWhat) != std::string_view::npos;
    }

    // "Address", one or more spaces, then ATitle, somewhere in the line.
    static bool ContainsHeader(std::string_view ALine, std::string_view ATitle) {
        for (std::size_t a = 0; a + 7 <= ALine.size(); ++a) {
            if (ALine.substr(a, 7) != "Address")
                continue;
            std::size_t p = a + 7;
            std::size_t spaces = 0;
            while (p < ALine.size() && ALine[p] == ' ') {
                ++p;
                ++spaces;
            }
            if (spaces > 0 && ALine.substr(p, ATitle.size()) == ATitle)
                return true;
        }
        return false;
    }

    void Load(std::string_view AText) {
        Segments.clear();
        Publics.clear();
        LineNumbers.clear();
        const std::vector<std::string> lines = SplitLines(AText);
        const std::size_t n = lines.size();
        std::size_t i = 0;
        while (i < n && !Contains(lines[i], "Detailed map of segments"))
            ++i;
        i += 2;
        while (i < n && !ContainsHeader(lines[i], "Publics by Name") &&
               !ContainsHeader(lines[i], "Publics by Value"))
            Segments.push_back(lines[i++]);
        while (i < n && !ContainsHeader(lines[i], "Publics by Value"))
            ++i;
        i += 2;
        while (i < n && !Contains(lines[i], "Line numbers for"))
            Publics.push_back(lines[i++]);
        while (i < n)
            LineNumbers.push_back(lines[i++]);
    }

    static bool Hex(const std::string& ALine, std::size_t AColumn, std::uint32_t& AValue) {
        if (AColumn >= ALine.size())
            return false;
        std::uint32_t v = 0;
        for (std::size_t i = AColumn; i < ALine.size() && i < AColumn + 8; ++i) {
            const char c = ALine[i];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return false;
            v = v * 16 + static_cast<std::uint32_t>(d);
        }
        AValue = v;
        return true;
    }

    static std::string Trim(const std::string& AText) {
        std::size_t b = 0;
        std::size_t e = AText.size();
        while (b < e && static_cast<unsigned char>(AText[b]) <= 32)
            ++b;
        while (e > b && static_cast<unsigned char>(AText[e - 1]) <= 32)
            --e;
        return AText.substr(b, e - b);
    }

    static bool Number(const std::string& AText, std::int32_t& AValue) {
        const std::string t = Trim(AText);
        if (t.empty() || t.size() > 10)
            return false;
        long long v = 0;
        for (char c : t) {
            if (c < '0' || c > '9')
                return false;
            v = v * 10 + (c - '0');
        }
        if (v > 2147483647LL)
            return false;
        AValue = static_cast<std::int32_t>(v);
        return true;
    }

    static std::string Module(const std::string& ALine) {
        const std::size_t p = ALine.find("M=");
        const std::size_t q = ALine.find("ACBP=");
        if (q < p + 3)
            return "";
        return Trim(ALine.substr(p + 2, q - p - 3));
    }

    static std::string Copy(const std::string& AText, std::size_t AFrom) {
        return AFrom < AText.size() ? AText.substr(AFrom) : std::string();
    }

    // Non-empty, offset readable, segment other than the code segment.
    bool Foreign(const std::string& ALine) const {
        std::uint32_t v;
        return !ALine.empty() && Hex(ALine, 6, v) && Copy(ALine, 1).substr(0, 4) != "0001";
    }

    Result Lookup(std::uint32_t AAddress) const {
        Result r;
        r.Relative = AAddress - 0x00401000u;
        const std::uint32_t rel = r.Relative;
        for (const std::string& line : Segments) {
            std::uint32_t start, length;
            if (line.empty() || !Hex(line, 6, start) || !Hex(line, 15, length))
                continue;
            if (rel < start)
                break;
            if (Contains(line, "M=") && Contains(line, "ACBP="))
                r.Unit = Module(line);
        }
        for (std::size_t i = 0; i < Publics.size(); ++i) {
            const std::string& line = Publics[i];
            std::uint32_t offset;
            if (line.empty() || !Hex(line, 6, offset) || Foreign(line))
                continue;
            if (offset < rel)
                continue;
            std::ptrdiff_t taken = static_cast<std::ptrdiff_t>(i);
            if (offset != rel) {
                taken = static_cast<std::ptrdiff_t>(i) - 1;
                while (taken >= 0 && Foreign(Publics[static_cast<std::size_t>(taken)]))
                    --taken;
            }
            if (taken >= 0)
                r.Procedure = Trim(Copy(Publics[static_cast<std::size_t>(taken)], 14));
            break;
        }
        if (!r.Unit.empty()) {
            std::size_t k = 0;
            while (k < LineNumbers.size() &&
                   (LineNumbers[k].empty() || !Contains(LineNumbers[k], r.Unit)))
                ++k;
            if (k < LineNumbers.size()) {
                k += 2;
                std::int32_t candidate = 0;
                std::uint32_t last = 0;
                for (; k < LineNumbers.size() && !Contains(LineNumbers[k], "Line numbers for"); ++k) {
                    const std::string& line = LineNumbers[k];
                    for (std::size_t e = 0; e < 4 && !line.empty(); ++e) {
                        std::uint32_t offset;
                        if (!Hex(line, 20 * e + 12, offset))
                            break;
                        last = offset;
                        if (rel < offset)
                            break;
                        std::int32_t number;
                        if (!Number(line.substr(20 * e, 6), number))
                            break;
                        candidate = number;
                        if (offset == rel)
                            break;
                    }
                }
                if (rel <= last)
                    r.Line = candidate;
            }
        }
        return r;
    }

    std::vector<std::string> UnitNames() const {
        std::vector<std::string> names;
        for (const std::string& line : Segments)
            if (!line.empty() && Contains(line, "M=") && Contains(line, "ACBP="))
                names.push_back(Module(line));
        return names;
    }
};

} // namespace jex::test
