// fuzz/MessageCatalogFuzz.cpp - libFuzzer target for message catalogues in both forms.
//
// The first byte chooses the reader (text form, compiled form, or the detection between them);
// the rest is the catalogue. Every message found is formatted with a few strings, and a parsed
// catalogue written as a compiled table must read back with the same texts.
#include "platform/MessageCatalog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ACondition, const char* AWhat) {
    if (!ACondition) {
        std::fprintf(stderr, "message catalogue: %s\n", AWhat);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize == 0)
        return 0;
    const std::uint8_t mode = AData[0] % 3;
    const std::string_view bytes(reinterpret_cast<const char*>(AData + 1), ASize - 1);
    platform::TMessageCatalog catalog;
    std::string error;
    const bool parsed = mode == 0   ? platform::ParseMcText(bytes, catalog, error)
                        : mode == 1 ? platform::ParseMessageTable(bytes, catalog, error)
                                    : platform::ParseMessageCatalog(bytes, catalog, error);
    if (!parsed) {
        Check(!error.empty(), "a failed parse gave no reason");
        return 0;
    }
    const std::vector<std::string> strings = {"one", "2", "-3", "0x10"};
    for (const platform::TMessageEntry& entry : catalog.Entries) {
        std::string text;
        platform::FormatMessageText(entry.Text, strings, text);
        Check(catalog.Find(entry.Id, entry.Language) != nullptr, "a parsed message is not found");
    }
    // Round trip through the compiled form, for texts the compiled form can hold as they are.
    platform::TMessageCatalog english;
    for (const platform::TMessageEntry& entry : catalog.Entries)
        if (entry.Text.find('\0') == std::string::npos && entry.Text.size() < 0xFFF0 &&
            catalog.Find(entry.Id, entry.Language) == &entry.Text)
            english.Entries.push_back({entry.Id, platform::LanguageNeutral, entry.Text});
    if (english.Entries.empty())
        return 0;
    platform::TMessageCatalog again;
    Check(platform::ParseMessageTable(platform::WriteMessageTable(english, 0), again, error),
          "a written table does not read back");
    for (const platform::TMessageEntry& entry : english.Entries) {
        const std::string* text = again.Find(entry.Id);
        Check(text != nullptr, "a message is missing from the written table");
    }
    return 0;
}
