// host/core/ClassesStreamingParser.h - the stored-form parser: text to a tree of values.
//
// The parser only checks the syntax: every syntax error, with its line, surfaces here before
// any component exists. The loader (ClassesStreamingLoader.cpp) then creates and fills the
// components from the tree. Internal to the Classes unit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

enum TValueKind : std::uint8_t {
    vkInteger,
    vkFloat,
    vkString,
    vkIdent,
    vkSet,
    vkList,
    vkCollection,
    vkBinary,
};

struct TStoredItem;

struct TStoredValue {
    TValueKind Kind = vkInteger;
    std::int64_t Int = 0;
    double Float = 0;
    char FloatSuffix = 0;           ///< 's', 'c', 'd' or 0
    std::string Text;               ///< string, identifier, binary bytes
    std::vector<std::string> Names; ///< set members
    std::vector<TStoredValue> List;
    std::vector<TStoredItem> Items;
};

struct TStoredProp {
    std::string Path;
    TStoredValue Value;
};

struct TStoredItem {
    std::vector<TStoredProp> Props;
};

enum TObjectHead : std::uint8_t { ohObject, ohInherited, ohInline };

struct TStoredObject {
    TObjectHead Head = ohObject;
    std::string Name;
    std::string ClassName;
    std::vector<TStoredProp> Props;
    std::vector<TStoredObject> Children;
};

/// Parses a stored form in text layout into its tree. Raises EParserError "<reason> on line
/// <n>" for malformed text and for objects, lists or collections nested deeper than
/// MaxStoredFormNesting.
TStoredObject ParseStoredForm(const std::string& AText);

} // namespace host
