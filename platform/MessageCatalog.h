// platform/MessageCatalog.h - message catalogues: the texts of a source's events by identifier
// and language, read from the .mc text form or the compiled message table, and the formatter
// that puts a record's strings into them.
//
// Every reader takes the file's bytes and returns values, so a damaged catalogue is a failed
// parse with a reason, never a read outside the bytes. Texts are kept as the formatter wants
// them: in the text form every line ends in CR LF, as the message compiler stores it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// The language identifier of US English, the language of a catalogue that names none.
inline constexpr std::uint16_t LanguageUsEnglish = 0x409;
/// The neutral language; also what compiled tables, which carry no language, are filed under.
inline constexpr std::uint16_t LanguageNeutral = 0;

/// One message of a catalogue.
struct TMessageEntry {
    std::uint32_t Id = 0; ///< the full identifier: severity, customer bit, facility and number
    std::uint16_t Language = LanguageNeutral;
    std::string Text;
};

/// The messages of one catalogue file.
struct TMessageCatalog {
    std::vector<TMessageEntry> Entries;

    /// The text of AId in ALanguage; with language 0 the neutral text, else US English, else
    /// the first language the message has. nullptr when the catalogue lacks the message.
    const std::string* Find(std::uint32_t AId, std::uint16_t ALanguage = 0) const;
};

/// Parses the .mc text form. False with the line and reason in AError for a syntax error, an
/// unknown severity, facility or language, a message without text or one not ended by ".".
bool ParseMcText(std::string_view ABytes, TMessageCatalog& ACatalog, std::string& AError);

/// Parses a compiled message table (block count, blocks of identifier ranges, entries). False
/// when any count, offset or length leaves the bytes or the entries do not add up.
bool ParseMessageTable(std::string_view ABytes, TMessageCatalog& ACatalog, std::string& AError);

/// Parses either form, telling them apart by their first bytes.
bool ParseMessageCatalog(std::string_view ABytes, TMessageCatalog& ACatalog, std::string& AError);

/// The compiled table of ACatalog's messages in ALanguage (8-bit entries).
std::string WriteMessageTable(const TMessageCatalog& ACatalog,
                              std::uint16_t ALanguage = LanguageUsEnglish);

/// Reads and parses the catalogue file APath through the file service. 0, or an errno: what
/// the file service answered (ENOENT, EISDIR, ...) or EBADMSG when it is no catalogue.
int LoadMessageCatalog(const std::string& APath, TMessageCatalog& ACatalog);

/// Formats AText as the event log always has: %1..%99 take the strings of AArgs (%1 the
/// first), optionally with a printf conversion %n!fmt! (s, the integer conversions d i u x X o,
/// c; flags, width and precision, "*" taking the next string as a number); %0 ends the text
/// without a line end, %n is CR LF, %r CR, %t a tab, %% %., %! and "% " the character itself,
/// and any other character after "%" stands for itself. Line ends in AText come out as CR LF.
/// An insert without a string stays as written ("%3"). Returns 0, or 87 (the event log's
/// invalid parameter) for a "%" at the very end, with AResult empty.
int FormatMessageText(std::string_view AText, const std::vector<std::string>& AArgs,
                      std::string& AResult);

} // namespace platform
