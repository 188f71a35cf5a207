// platform/MessageCatalogTable.cpp - the compiled message table: reading it with every count,
// offset and length checked against the bytes, and writing one.
#include "platform/LittleEndian.h"
#include "platform/MessageCatalog.h"

#include <algorithm>
#include <map>

namespace platform {

namespace {

using le::Get16;
using le::Get32;

// UTF-16 code units (little-endian) up to the first zero, as UTF-8.
std::string FromUtf16(std::string_view ABytes) {
    std::string text;
    for (std::size_t at = 0; at + 1 < ABytes.size(); at += 2) {
        std::uint32_t unit = Get16(ABytes, at);
        if (unit == 0)
            break;
        if (unit >= 0xD800 && unit < 0xDC00 && at + 3 < ABytes.size()) {
            const std::uint32_t low = Get16(ABytes, at + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                at += 2;
            }
        }
        if (unit < 0x80) {
            text.push_back(static_cast<char>(unit));
        } else if (unit < 0x800) {
            text.push_back(static_cast<char>(0xC0 | (unit >> 6)));
            text.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else if (unit < 0x10000) {
            text.push_back(static_cast<char>(0xE0 | (unit >> 12)));
            text.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xF0 | (unit >> 18)));
            text.push_back(static_cast<char>(0x80 | ((unit >> 12) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
    }
    return text;
}

} // namespace

bool ParseMessageTable(std::string_view ABytes, TMessageCatalog& ACatalog, std::string& AError) {
    if (ABytes.size() < 4) {
        AError = "too short for a message table";
        return false;
    }
    const std::uint32_t blocks = Get32(ABytes, 0);
    if (blocks == 0 || (ABytes.size() - 4) / 12 < blocks) {
        AError = "block count does not fit the table";
        return false;
    }
    TMessageCatalog catalog;
    for (std::uint32_t block = 0; block < blocks; ++block) {
        const std::size_t at = 4 + std::size_t{block} * 12;
        const std::uint32_t low = Get32(ABytes, at);
        const std::uint32_t high = Get32(ABytes, at + 4);
        std::size_t offset = Get32(ABytes, at + 8);
        if (high < low || offset < 4 + std::size_t{blocks} * 12) {
            AError = "block " + std::to_string(block) + " is out of order";
            return false;
        }
        // Each entry takes at least 4 bytes, so a range larger than the bytes ends here.
        for (std::uint64_t id = low; id <= high; ++id) {
            if (offset > ABytes.size() || ABytes.size() - offset < 4) {
                AError = "entry " + std::to_string(id) + " lies outside the table";
                return false;
            }
            const std::uint16_t length = Get16(ABytes, offset);
            const std::uint16_t flags = Get16(ABytes, offset + 2);
            if (length < 4 || length > ABytes.size() - offset || flags > 2) {
                AError = "entry " + std::to_string(id) + " has a bad length or kind";
                return false;
            }
            const std::string_view body = ABytes.substr(offset + 4, length - 4u);
            TMessageEntry entry;
            entry.Id = static_cast<std::uint32_t>(id);
            entry.Text =
                flags == 1 ? FromUtf16(body) : std::string(body.substr(0, body.find('\0')));
            catalog.Entries.push_back(std::move(entry));
            offset += length;
        }
    }
    ACatalog = std::move(catalog);
    return true;
}

std::string WriteMessageTable(const TMessageCatalog& ACatalog, std::uint16_t ALanguage) {
    std::map<std::uint32_t, const std::string*> texts;
    for (const TMessageEntry& entry : ACatalog.Entries)
        if (entry.Language == ALanguage || ALanguage == LanguageNeutral)
            texts.emplace(entry.Id, &entry.Text);
    // Runs of consecutive identifiers make the blocks.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    for (const auto& [id, text] : texts)
        if (!ranges.empty() && ranges.back().second + 1 == id && ranges.back().second != id)
            ranges.back().second = id;
        else
            ranges.emplace_back(id, id);
    std::string entries;
    std::vector<std::uint32_t> offsets;
    const auto tableSize = static_cast<std::uint32_t>(4 + ranges.size() * 12);
    for (const auto& [low, high] : ranges) {
        offsets.push_back(tableSize + static_cast<std::uint32_t>(entries.size()));
        for (std::uint64_t id = low; id <= high; ++id) {
            // Entries longer than a 16-bit length can say are cut, as the compiler cuts them.
            std::string text = texts.at(static_cast<std::uint32_t>(id))->substr(0, 0xFFF0);
            text = text.substr(0, text.find('\0'));
            text.push_back('\0');
            text.resize((text.size() + 3) & ~std::size_t{3}, '\0');
            le::Append16(entries, static_cast<std::uint16_t>(text.size() + 4));
            le::Append16(entries, 0);
            entries.append(text);
        }
    }
    std::string bytes;
    le::Append32(bytes, static_cast<std::uint32_t>(ranges.size()));
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        le::Append32(bytes, ranges[i].first);
        le::Append32(bytes, ranges[i].second);
        le::Append32(bytes, offsets[i]);
    }
    return bytes + entries;
}

} // namespace platform
