// crashes/JournalExportReader.cpp - the export-format parser.
#include "crashes/JournalExportReader.h"

#include <cstdint>

namespace jex::crashes {

namespace {

[[noreturn]] void Malformed(std::size_t AOffset, const std::string& AWhat) {
    throw EJournalExportError("journal export stream, byte " + std::to_string(AOffset) + ": " +
                              AWhat);
}

} // namespace

std::vector<TJournalEntry> ParseJournalExport(std::string_view AStream) {
    std::vector<TJournalEntry> entries;
    TJournalEntry entry;
    std::size_t pos = 0;
    // A stream cut off inside an entry (a journal still being written) keeps the entries before
    // it; the cut entry is left out.
    const auto cut = [&](const char* AWhat) {
        if (entries.empty())
            Malformed(pos, AWhat);
        entry.clear();
    };
    while (pos < AStream.size()) {
        const std::size_t end = AStream.find('\n', pos);
        if (end == std::string_view::npos) {
            cut("field without end of line");
            break;
        }
        const std::string_view line = AStream.substr(pos, end - pos);
        if (line.empty()) {
            if (!entry.empty())
                entries.push_back(std::move(entry));
            entry.clear();
            pos = end + 1;
            continue;
        }
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            if (equals == 0)
                Malformed(pos, "field without name");
            entry.emplace(std::string(line.substr(0, equals)),
                          std::string(line.substr(equals + 1)));
            pos = end + 1;
            continue;
        }
        // The binary form: NAME, a line end, the length in 8 bytes, the data and a line end.
        const std::size_t data = end + 1 + 8;
        if (data > AStream.size()) {
            cut("binary field cut off");
            break;
        }
        std::uint64_t length = 0;
        for (std::size_t i = 8; i-- > 0;)
            length = (length << 8) | static_cast<unsigned char>(AStream[end + 1 + i]);
        if (length >= AStream.size() - data) {
            cut("binary field cut off");
            break;
        }
        if (AStream[data + length] != '\n')
            Malformed(pos, "binary field of bad length");
        entry.emplace(std::string(line), std::string(AStream.substr(data, length)));
        pos = data + length + 1;
    }
    // An entry without its closing empty line was cut off as well.
    return entries;
}

} // namespace jex::crashes
