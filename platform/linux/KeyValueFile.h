// platform/linux/KeyValueFile.h - the bytes of one value file of the key store.
//
// A value file holds "JRV1", the value's type and the length of its name (32 bits each,
// little-endian), the name in the spelling it was written with, then the data to the end of the
// file. The store reads these files back from disk, where another process, a crash or a user
// may have left anything: the reader takes bytes and never trusts a length it has not checked.
#pragma once

#include "platform/KeyStore.h"

#include <string>
#include <string_view>

namespace platform {

/// The contents of the file that stores AValue.
std::string FormatKeyValueFile(const TKeyValue& AValue);

/// Reads a value file's contents into AValue; false (AValue untouched) when they are not a
/// whole value file: too short, without the magic, or with a name longer than the file or the
/// store's limit.
bool ParseKeyValueFile(std::string_view AContents, TKeyValue& AValue);

} // namespace platform
