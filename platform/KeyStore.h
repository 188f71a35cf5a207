// platform/KeyStore.h - the hierarchical store of keys and typed values, shared by every
// process of the user, and change notifications on its keys.
//
// Keys live in hives ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", ...); a key path is the names
// of its keys from the hive down, separated by backslashes. Names are compared without regard
// to letter case and keep the spelling they were created with. A value is a type and its bytes
// exactly as the reader gets them back; the empty name is the key's default value. Writing a
// value is atomic (a reader sees the old bytes or the new ones), creating and deleting keys is
// serialised between processes, and a deleted key is gone at once.
//
// Errors are errno values, as in platform/File.h: ENOENT (a missing key or value), EINVAL (a
// path or name the store does not accept), ENOTEMPTY (deleting a key with subkeys), EBADMSG (a
// value whose file is damaged), EACCES/EROFS (the store cannot be written) and what the
// system answered otherwise. Nothing of a failed operation is left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// Value types; the numbers are the ones the framework has always stored.
enum TKeyValueType : std::uint32_t {
    kvNone = 0,
    kvString = 1,       ///< text with its terminating NUL
    kvExpandString = 2, ///< text holding %VARIABLES%, returned unexpanded
    kvBinary = 3,
    kvInteger = 4, ///< 32 bits, little-endian
    kvMultiString = 7,
};

/// Change filters of a key notification; the values are the ones the framework has always
/// passed to the operating system.
inline constexpr std::uint32_t KeyChangeName = 0x1;       ///< a subkey added or deleted
inline constexpr std::uint32_t KeyChangeAttributes = 0x2; ///< the key's attributes
inline constexpr std::uint32_t KeyChangeLastSet = 0x4;    ///< a value added, changed or deleted
inline constexpr std::uint32_t KeyChangeSecurity = 0x8;   ///< the key's access rights
inline constexpr std::uint32_t KeyChangeAllFilters = 0xF;

/// The longest key name and value name accepted, and the deepest key path.
inline constexpr std::size_t MaxKeyNameLength = 255;
inline constexpr std::size_t MaxValueNameLength = 16383;
inline constexpr std::size_t MaxKeyDepth = 512;

/// One value as stored.
struct TKeyValue {
    std::string Name; ///< the spelling it was written with
    TKeyValueType Type = kvNone;
    std::string Data;
};

/// Notification objects over keys that one thread waits on together; the same contract as
/// platform/FolderNotifications.h (one object per Add, signalled until re-armed, Wake from any
/// thread ends the wait with WaitWoken). Each object counts changes under its own key only.
class TKeyNotificationSet {
public:
    virtual ~TKeyNotificationSet() = default;

    /// Opens an object watching the key APath of AHive for AFilters (a non-empty combination of
    /// the KeyChange* filters); with ASubtree, changes of every key below count too. Returns
    /// the object's index, or -1 with the errno in AError (ENOENT for a missing key).
    virtual int Add(const std::string& AHive, const std::string& APath, bool ASubtree,
                    std::uint32_t AFilters, int& AError) = 0;

    /// Re-arms object AIndex after its change was reported.
    virtual void Rearm(int AIndex) = 0;

    /// Waits up to ATimeoutMs (negative: without limit); returns the lowest signalled index,
    /// or WaitWoken, WaitTimeout, WaitFailed of platform/FolderNotifications.h.
    virtual int Wait(int ATimeoutMs) = 0;

    /// Ends the current or the next Wait with WaitWoken; safe from any thread.
    virtual void Wake() = 0;
};

/// The key store.
class TKeyStore {
public:
    virtual ~TKeyStore() = default;

    /// Points every hive at folders below AFolder (AFolder/<hive>/), or, with an empty
    /// AFolder, back at the user's default places. For tests and installations that keep the
    /// store elsewhere; affects later calls only.
    virtual void SetRoot(const std::string& AFolder) = 0;

    /// The folder that holds the hive AHive; empty for a hive name the store does not know.
    virtual std::string HiveFolder(const std::string& AHive) = 0;

    /// True when the key exists (the hive itself always does).
    virtual bool KeyExists(const std::string& AHive, const std::string& APath) = 0;

    /// Creates the key and every missing key above it; an existing key is kept. 0 or an errno.
    virtual int CreateKey(const std::string& AHive, const std::string& APath) = 0;

    /// Deletes a key without subkeys, with its values. ENOTEMPTY when it has subkeys, EINVAL
    /// for the hive itself.
    virtual int DeleteKey(const std::string& AHive, const std::string& APath) = 0;

    /// The names of the key's subkeys in their spelling, sorted without regard to case.
    virtual int SubKeyNames(const std::string& AHive, const std::string& APath,
                            std::vector<std::string>& ANames) = 0;

    /// The names of the key's values in their spelling, sorted without regard to case.
    virtual int ValueNames(const std::string& AHive, const std::string& APath,
                           std::vector<std::string>& ANames) = 0;

    /// Reads one value. ENOENT when the key or value is missing, EBADMSG when its file is
    /// damaged (the file is left as found).
    virtual int ReadValue(const std::string& AHive, const std::string& APath,
                          std::string_view AName, TKeyValue& AValue) = 0;

    /// Writes one value of an existing key, replacing one of the same name (whatever its
    /// spelling: the new spelling is kept).
    virtual int WriteValue(const std::string& AHive, const std::string& APath,
                           std::string_view AName, TKeyValueType AType, std::string_view AData) = 0;

    /// Deletes one value; ENOENT when it is missing.
    virtual int DeleteValue(const std::string& AHive, const std::string& APath,
                            std::string_view AName) = 0;

    /// A new notification set. Throws std::system_error when the system refuses one.
    virtual std::unique_ptr<TKeyNotificationSet> CreateNotificationSet() = 0;
};

/// The Linux store: a folder per key, a file per value. Hives live below
/// $XDG_CONFIG_HOME/jexlogger/registry (HKEY_CURRENT_USER) and $XDG_DATA_HOME/jexlogger/registry
/// (the others), unless SetRoot chose a folder.
TKeyStore& LinuxKeyStore();

} // namespace platform
