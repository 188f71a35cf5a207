// host/core/Registry.cpp - TRegistry over the platform's key store.
#include "host/core/Registry.h"

#include "host/core/ClassesStrings.h"
#include "platform/KeyStore.h"
#include "platform/PlatformServices.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace host {

namespace {

platform::TKeyStore& Store() {
    return *platform::PlatformServices().KeyStore;
}

HKEY NewHandle() {
    // Handles of open keys only need to be distinct and non-zero, below the root constants.
    static std::atomic<HKEY> next{1};
    HKEY handle = next.fetch_add(1);
    if (handle == 0 || handle >= HKEY_CLASSES_ROOT) {
        next.store(2);
        handle = 1;
    }
    return handle;
}

[[noreturn]] void Fail(const char* AWhat, const std::string& AName) {
    throw ERegistryException(std::string(AWhat) + " '" + AName + "'");
}

std::string StringData(const std::string& AValue) {
    std::string data = AValue;
    data += '\0'; // stored with its terminator, as readers of the store expect
    return data;
}

} // namespace

std::string RootKeyName(HKEY ARoot) {
    switch (ARoot) {
    case HKEY_CLASSES_ROOT:
        return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER:
        return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE:
        return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS:
        return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG:
        return "HKEY_CURRENT_CONFIG";
    default:
        return {};
    }
}

TRegistry::TRegistry() = default;

TRegistry::TRegistry(std::uint32_t AAccess)
    : FAccess(AAccess) {}

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::SetRootKey(HKEY AValue) {
    if (AValue == FRootKey)
        return;
    CloseKey();
    FRootKey = AValue;
}

std::string TRegistry::Hive() const {
    return RootKeyName(FRootKey);
}

std::string TRegistry::Resolve(const std::string& AKey) const {
    if (!AKey.empty() && AKey.front() == '\\')
        return AKey.substr(1);
    if (FCurrentPath.empty() || AKey.empty())
        return FCurrentPath.empty() ? AKey : FCurrentPath;
    return FCurrentPath + "\\" + AKey;
}

bool TRegistry::OpenKey(const std::string& AKey, bool ACanCreate) {
    std::string path = Resolve(AKey);
    const std::string hive = Hive();
    if (hive.empty())
        return false;
    if (!Store().KeyExists(hive, path)) {
        if (!ACanCreate || Store().CreateKey(hive, path) != 0)
            return false;
    }
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    FCurrentPath = path;
    FCurrentKey = NewHandle();
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& AKey) {
    const std::uint32_t access = FAccess;
    FAccess = KEY_READ;
    if (OpenKey(AKey, false))
        return true;
    FAccess = access;
    return false;
}

bool TRegistry::CreateKey(const std::string& AKey) {
    const std::string path = Resolve(AKey);
    const std::string hive = Hive();
    if (!hive.empty() && Store().KeyExists(hive, path))
        return false;
    if (hive.empty() || (FAccess & KEY_CREATE_SUB_KEY) == 0 || Store().CreateKey(hive, path) != 0)
        throw ERegistryException("Failed to create key " + AKey);
    return true;
}

bool TRegistry::DeleteKey(const std::string& AKey) {
    const std::string path = Resolve(AKey);
    const std::string hive = Hive();
    if (hive.empty() || (FAccess & KEY_SET_VALUE) == 0 ||
        path.find_first_not_of('\\') == std::string::npos)
        return false; // the root itself is never deleted, nor emptied on the way
    std::vector<std::string> subkeys;
    if (Store().SubKeyNames(hive, path, subkeys) != 0)
        return false;
    // The store refuses a key with subkeys, as the system does; the accessor removes the tree.
    for (const std::string& subkey : subkeys)
        if (!DeleteKey("\\" + path + "\\" + subkey))
            return false;
    const bool deleted = Store().DeleteKey(hive, path) == 0;
    if (deleted && !FCurrentPath.empty()) {
        if (!Store().KeyExists(hive, FCurrentPath))
            CloseKey(); // the open key was inside the deleted tree
    }
    return deleted;
}

bool TRegistry::KeyExists(const std::string& AKey) {
    const std::string hive = Hive();
    return !hive.empty() && Store().KeyExists(hive, Resolve(AKey));
}

bool TRegistry::ValueExists(const std::string& AName) {
    platform::TKeyValue value;
    const std::string hive = Hive();
    return !hive.empty() && Store().ReadValue(hive, FCurrentPath, AName, value) == 0;
}

bool TRegistry::DeleteValue(const std::string& AName) {
    const std::string hive = Hive();
    return !hive.empty() && CanWrite() && Store().DeleteValue(hive, FCurrentPath, AName) == 0;
}

void TRegistry::GetKeyNames(TStrings* AStrings) {
    std::vector<std::string> names;
    if (const std::string hive = Hive(); !hive.empty())
        Store().SubKeyNames(hive, FCurrentPath, names);
    AStrings->BeginUpdate();
    AStrings->Clear();
    for (const std::string& name : names)
        AStrings->Add(name);
    AStrings->EndUpdate();
}

void TRegistry::GetValueNames(TStrings* AStrings) {
    std::vector<std::string> names;
    if (const std::string hive = Hive(); !hive.empty())
        Store().ValueNames(hive, FCurrentPath, names);
    AStrings->BeginUpdate();
    AStrings->Clear();
    for (const std::string& name : names)
        AStrings->Add(name);
    AStrings->EndUpdate();
}

TRegDataType TRegistry::GetDataType(const std::string& AName) {
    platform::TKeyValue value;
    const std::string hive = Hive();
    if (hive.empty() || Store().ReadValue(hive, FCurrentPath, AName, value) != 0)
        return rdUnknown;
    switch (value.Type) {
    case platform::kvString:
        return rdString;
    case platform::kvExpandString:
        return rdExpandString;
    case platform::kvInteger:
        return rdInteger;
    case platform::kvBinary:
        return rdBinary;
    default:
        return rdUnknown;
    }
}

std::string TRegistry::ReadString(const std::string& AName) {
    platform::TKeyValue value;
    const std::string hive = Hive();
    const int error = hive.empty() ? EINVAL : Store().ReadValue(hive, FCurrentPath, AName, value);
    if (error == ENOENT)
        return {};
    if (error != 0)
        Fail("Failed to get data for", AName);
    if (value.Type != platform::kvString && value.Type != platform::kvExpandString)
        Fail("Invalid data type for", AName);
    std::string text = std::move(value.Data);
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

void TRegistry::PutData(const std::string& AName, std::uint32_t AType, const std::string& AData) {
    const std::string hive = Hive();
    if (hive.empty() || !CanWrite() ||
        Store().WriteValue(hive, FCurrentPath, AName, static_cast<platform::TKeyValueType>(AType),
                           AData) != 0)
        Fail("Failed to set data for", AName);
}

void TRegistry::WriteString(const std::string& AName, const std::string& AValue) {
    PutData(AName, platform::kvString, StringData(AValue));
}

void TRegistry::WriteExpandString(const std::string& AName, const std::string& AValue) {
    PutData(AName, platform::kvExpandString, StringData(AValue));
}

std::int32_t TRegistry::ReadInteger(const std::string& AName) {
    platform::TKeyValue value;
    const std::string hive = Hive();
    if (hive.empty() || Store().ReadValue(hive, FCurrentPath, AName, value) != 0)
        Fail("Failed to get data for", AName);
    if (value.Type != platform::kvInteger || value.Data.size() != 4)
        Fail("Invalid data type for", AName);
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = (bits << 8) | static_cast<unsigned char>(value.Data[static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(bits);
}

void TRegistry::WriteInteger(const std::string& AName, std::int32_t AValue) {
    const auto bits = static_cast<std::uint32_t>(AValue);
    std::string data;
    for (int i = 0; i < 4; ++i)
        data += static_cast<char>((bits >> (8 * i)) & 0xFF);
    PutData(AName, platform::kvInteger, data);
}

int TRegistry::ReadBinaryData(const std::string& AName, void* ABuffer, int ABufSize) {
    platform::TKeyValue value;
    const std::string hive = Hive();
    if (hive.empty() || Store().ReadValue(hive, FCurrentPath, AName, value) != 0)
        Fail("Failed to get data for", AName);
    if (value.Type == platform::kvString || value.Type == platform::kvExpandString ||
        value.Type == platform::kvInteger)
        Fail("Invalid data type for", AName);
    if (ABufSize < 0 || value.Data.size() > static_cast<std::size_t>(ABufSize))
        Fail("Failed to get data for", AName);
    if (!value.Data.empty())
        std::memcpy(ABuffer, value.Data.data(), value.Data.size());
    return static_cast<int>(value.Data.size());
}

void TRegistry::WriteBinaryData(const std::string& AName, const void* ABuffer, int ABufSize) {
    if (ABufSize < 0 || (ABuffer == nullptr && ABufSize > 0))
        Fail("Failed to set data for", AName);
    std::string data;
    if (ABufSize > 0)
        data.assign(static_cast<const char*>(ABuffer), static_cast<std::size_t>(ABufSize));
    PutData(AName, platform::kvBinary, data);
}

void TRegistry::CloseKey() {
    FCurrentKey = 0;
    FCurrentPath.clear();
}

} // namespace host
