// host/core/Registry.h - TRegistry, the framework's accessor of the key store, and its
// exception class.
//
// A TRegistry has a root key (one of the HKEY_* constants), an access mask and at most one
// open key. Paths starting with a backslash are taken from the root; others from the open
// key, or from the root when none is open. Reads and writes without an open key act on the
// root itself. The store is the platform's (platform/KeyStore.h), reached through
// PlatformServices(), so every process of the user sees the same keys.
#pragma once

#include "host/core/SysUtils.h"

#include <cstdint>
#include <string>

namespace host {

class TStrings;

/// A root key or an open key of the store.
using HKEY = std::uint32_t;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006;

/// Access rights of a TRegistry (bit set).
inline constexpr std::uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr std::uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr std::uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr std::uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr std::uint32_t KEY_NOTIFY = 0x0010;
inline constexpr std::uint32_t KEY_READ = 0x20019;
inline constexpr std::uint32_t KEY_WRITE = 0x20006;
inline constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;

/// A failed read or write of the store: "Failed to get data for 'Name'", "Failed to set data
/// for 'Name'", "Invalid data type for 'Name'", "Failed to create key Name".
JEX_EXCEPTION(ERegistryException, Exception);

/// The data types a value can have, as ReadString and its kin see them.
enum TRegDataType : std::uint8_t { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

/// Accessor of the key store.
class TRegistry {
public:
    /// Root HKEY_CURRENT_USER, access KEY_ALL_ACCESS, no key open.
    TRegistry();
    explicit TRegistry(std::uint32_t AAccess);
    /// Closes the open key.
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return FRootKey; }

    /// Closes the open key and takes the new root.
    void SetRootKey(HKEY AValue);

    std::uint32_t Access() const { return FAccess; }

    void SetAccess(std::uint32_t AValue) { FAccess = AValue; }

    /// The open key's handle; 0 when none is open.
    HKEY CurrentKey() const { return FCurrentKey; }

    /// The open key's path below the root, without a leading backslash; empty when none.
    const std::string& CurrentPath() const { return FCurrentPath; }

    /// Opens AKey (creating it and the keys above it when ACanCreate); false when it is missing
    /// and not created, or the path is not acceptable. The open key stays as it was then.
    bool OpenKey(const std::string& AKey, bool ACanCreate);

    /// Opens an existing AKey for reading only (the access becomes KEY_READ).
    bool OpenKeyReadOnly(const std::string& AKey);

    /// Creates AKey; raises ERegistryException "Failed to create key AKey" when it cannot.
    /// False when it existed already.
    bool CreateKey(const std::string& AKey);

    /// Deletes AKey with every key and value below it; false when it could not.
    bool DeleteKey(const std::string& AKey);

    bool KeyExists(const std::string& AKey);
    bool ValueExists(const std::string& AName);
    bool DeleteValue(const std::string& AName);

    /// The subkeys of the open key (sorted without regard to case) into AStrings, replacing
    /// what it held.
    void GetKeyNames(TStrings* AStrings);
    void GetValueNames(TStrings* AStrings);

    /// The data type of a value; rdUnknown also when it is missing.
    TRegDataType GetDataType(const std::string& AName);

    /// A string or expandable string value, unexpanded; empty when the value is missing.
    /// Raises "Invalid data type" for any other type and "Failed to get data" when it cannot be
    /// read (a damaged file).
    std::string ReadString(const std::string& AName);
    void WriteString(const std::string& AName, const std::string& AValue);
    void WriteExpandString(const std::string& AName, const std::string& AValue);

    /// A 32-bit value; raises "Failed to get data" when missing, "Invalid data type" when it
    /// is not one.
    std::int32_t ReadInteger(const std::string& AName);
    void WriteInteger(const std::string& AName, std::int32_t AValue);

    /// Copies a binary value into ABuffer and returns its size; raises "Failed to get data"
    /// when missing or larger than ABufSize, "Invalid data type" when it is not binary.
    int ReadBinaryData(const std::string& AName, void* ABuffer, int ABufSize);
    void WriteBinaryData(const std::string& AName, const void* ABuffer, int ABufSize);

    /// Forgets the open key.
    void CloseKey();

private:
    /// The absolute path (below the root) AKey names; false when it cannot be one.
    std::string Resolve(const std::string& AKey) const;
    std::string Hive() const;
    void PutData(const std::string& AName, std::uint32_t AType, const std::string& AData);

    bool CanWrite() const { return (FAccess & KEY_SET_VALUE) != 0; }

    HKEY FRootKey = HKEY_CURRENT_USER;
    std::uint32_t FAccess = KEY_ALL_ACCESS;
    HKEY FCurrentKey = 0;
    std::string FCurrentPath;
};

/// The name of a root key ("HKEY_LOCAL_MACHINE"); empty for one the store does not keep.
std::string RootKeyName(HKEY ARoot);

} // namespace host
