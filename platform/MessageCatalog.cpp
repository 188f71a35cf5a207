// platform/MessageCatalog.cpp - finding a message by language, telling the two catalogue forms
// apart, and loading a catalogue file.
#include "platform/MessageCatalog.h"

#include "platform/File.h"
#include "platform/PlatformServices.h"

#include <cerrno>

namespace platform {

const std::string* TMessageCatalog::Find(std::uint32_t AId, std::uint16_t ALanguage) const {
    const std::string* first = nullptr;
    const std::string* english = nullptr;
    for (const TMessageEntry& entry : Entries) {
        if (entry.Id != AId)
            continue;
        if (entry.Language == ALanguage)
            return &entry.Text;
        if (first == nullptr)
            first = &entry.Text;
        if (entry.Language == LanguageUsEnglish && english == nullptr)
            english = &entry.Text;
    }
    if (ALanguage != LanguageNeutral)
        return nullptr; // a language asked for by name is that language only
    return english != nullptr ? english : first;
}

bool ParseMessageCatalog(std::string_view ABytes, TMessageCatalog& ACatalog, std::string& AError) {
    if (ABytes.starts_with("MZ")) {
        AError = "executable modules are not read as catalogues";
        return false;
    }
    // A text catalogue's first bytes never make a block table whose entries all fit.
    std::string tableError;
    if (ParseMessageTable(ABytes, ACatalog, tableError))
        return true;
    return ParseMcText(ABytes, ACatalog, AError);
}

int LoadMessageCatalog(const std::string& APath, TMessageCatalog& ACatalog) {
    std::string bytes;
    if (const int error = PlatformServices().Files->ReadFile(APath, bytes); error != 0)
        return error;
    TMessageCatalog catalog;
    std::string reason;
    if (!ParseMessageCatalog(bytes, catalog, reason))
        return EBADMSG;
    ACatalog = std::move(catalog);
    return 0;
}

} // namespace platform
