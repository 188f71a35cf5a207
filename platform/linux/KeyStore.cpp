// platform/linux/KeyStore.cpp - the key store as folders and files, and its notifications on
// inotify.
//
// Layout below a hive folder: a key is a folder, named by its name folded to upper case and
// escaped (every byte outside A-Z, 0-9, '_', '-' and the space becomes %XX), so that "Software"
// and "SOFTWARE" meet in one folder and no name can climb out or start with a dot. A name
// whose escaped form would be too long for the file system is named "#" and a hash instead.
// Each key folder holds ".key" with the key's own spelling, and one file per value: "=" and
// the escaped value name, holding "JRV1", the type, the length of the name, the name in its
// spelling and the data. Names starting with "." are the store's own (the spelling, the lock,
// temporary files, keys being deleted) and are never keys or values.
//
// A value is written through the file service's replace (a temporary file renamed over the
// old one), so a reader sees either whole value. Creating and deleting keys take an flock on
// the hive's ".lock". Deleting renames the folder to ".deleted.<random>" first, which makes
// the key disappear in one step, and then removes it.
#include "platform/KeyStore.h"

#include "platform/File.h"
#include "platform/FolderNotifications.h"
#include "platform/PlatformServices.h"
#include "platform/linux/InotifyWatch.h"
#include "platform/linux/KeyValueFile.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <locale.h>
#include <mutex>
#include <random>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t MaxEscapedName = 200; // longer escaped names are hashed
constexpr const char* Hives[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                 "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

// ---- Names ----------------------------------------------------------------------------------

locale_t Utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return locale;
}

// Decodes one UTF-8 sequence at AText[AAt]; 0 when the bytes there are not one.
std::size_t DecodeUtf8(std::string_view AText, std::size_t AAt, char32_t& ACode) {
    const auto byte = [&](std::size_t AIndex) {
        return static_cast<unsigned char>(AText[AAt + AIndex]);
    };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    if (lead < 0x80) {
        ACode = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        ACode = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        ACode = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        ACode = lead & 0x07u;
    } else {
        return 0;
    }
    if (AAt + length > AText.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        ACode = (ACode << 6) | (byte(i) & 0x3Fu);
    }
    static constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (ACode < Smallest[length] || ACode > 0x10FFFF || (ACode >= 0xD800 && ACode <= 0xDFFF))
        return 0;
    return length;
}

void EncodeUtf8(char32_t ACode, std::string& AOut) {
    if (ACode < 0x80) {
        AOut += static_cast<char>(ACode);
    } else if (ACode < 0x800) {
        AOut += static_cast<char>(0xC0 | (ACode >> 6));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    } else if (ACode < 0x10000) {
        AOut += static_cast<char>(0xE0 | (ACode >> 12));
        AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    } else {
        AOut += static_cast<char>(0xF0 | (ACode >> 18));
        AOut += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
        AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
        AOut += static_cast<char>(0x80 | (ACode & 0x3F));
    }
}

// The one folding rule of the store: Unicode simple upper case of UTF-8 text; bytes that are
// not UTF-8 stay as they are.
std::string Fold(std::string_view AName) {
    std::string folded;
    folded.reserve(AName.size());
    const locale_t locale = Utf8Locale();
    for (std::size_t at = 0; at < AName.size();) {
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(AName, at, code);
        if (length == 0) {
            folded += AName[at++];
            continue;
        }
        if (code < 0x80)
            code = (code >= 'a' && code <= 'z') ? code - 32 : code;
        else if (locale != static_cast<locale_t>(nullptr))
            code = static_cast<char32_t>(towupper_l(static_cast<wint_t>(code), locale));
        EncodeUtf8(code, folded);
        at += length;
    }
    return folded;
}

std::uint64_t Fnv1a(std::string_view AText) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : AText) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ull;
    }
    return hash;
}

// The on-disk name of a folded name.
std::string Escape(std::string_view AFolded) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : AFolded) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == '_' ||
            byte == '-' || byte == ' ') {
            escaped += c;
        } else {
            escaped += '%';
            escaped += Hex[byte >> 4];
            escaped += Hex[byte & 0xF];
        }
    }
    if (escaped.size() > MaxEscapedName) {
        std::string hashed = "#";
        const std::uint64_t hash = Fnv1a(AFolded);
        for (int shift = 60; shift >= 0; shift -= 4)
            hashed += Hex[(hash >> shift) & 0xF];
        return hashed;
    }
    return escaped;
}

// Splits a key path into its names. One leading and one trailing backslash are tolerated;
// empty names inside, ".", "..", NUL bytes, over-long names and over-deep paths are EINVAL.
int SplitPath(const std::string& APath, std::vector<std::string>& ANames) {
    ANames.clear();
    std::string_view rest(APath);
    if (!rest.empty() && rest.front() == '\\')
        rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == '\\')
        rest.remove_suffix(1);
    if (rest.empty())
        return 0;
    if (rest.find('\0') != std::string_view::npos)
        return EINVAL;
    for (;;) {
        const std::size_t slash = rest.find('\\');
        const std::string_view name = rest.substr(0, slash);
        if (name.empty() || name == "." || name == ".." || name.size() > MaxKeyNameLength)
            return EINVAL;
        ANames.emplace_back(name);
        if (ANames.size() > MaxKeyDepth)
            return EINVAL;
        if (slash == std::string_view::npos)
            return 0;
        rest.remove_prefix(slash + 1);
    }
}

std::string ValueFileName(std::string_view AName) {
    return "=" + Escape(Fold(AName));
}

std::string Unescape(std::string_view AEscaped) {
    std::string text;
    for (std::size_t i = 0; i < AEscaped.size(); ++i) {
        if (AEscaped[i] == '%' && i + 2 < AEscaped.size()) {
            text += static_cast<char>(
                std::strtol(std::string(AEscaped.substr(i + 1, 2)).c_str(), nullptr, 16));
            i += 2;
        } else {
            text += AEscaped[i];
        }
    }
    return text;
}

// ---- Files ----------------------------------------------------------------------------------

// True for the answers of a read that leave nothing to report: the file was read (0), is gone
// (ENOENT: deleted a moment ago) or is no regular file (EISDIR, EINVAL: damaged). Every other
// errno is a failure of the read itself.
bool LostOrDamaged(int AError) {
    return AError == 0 || AError == ENOENT || AError == EISDIR || AError == EINVAL;
}

bool IsFolder(const std::string& APath) {
    struct stat st {};

    return ::stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int MakeFolder(const std::string& APath) {
    if (::mkdir(APath.c_str(), 0777) == 0)
        return 0;
    const int error = errno;
    if (error == EEXIST)
        return IsFolder(APath) ? EEXIST : ENOTDIR;
    return error;
}

int MakeFolders(const std::string& APath) {
    std::error_code error;
    std::filesystem::create_directories(APath, error);
    if (error)
        return error.value();
    return IsFolder(APath) ? 0 : ENOTDIR;
}

std::string RandomSuffix() {
    static std::mutex lock;
    static std::mt19937_64 random{std::random_device{}()};
    const std::lock_guard guard(lock);
    static constexpr char Digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 12; ++i)
        suffix += Digits[random() % 36];
    return suffix;
}

// Writes the spelling of a key whose folder was just made under the hive's lock. Not flushed
// to the disk and not renamed in: a reader that finds no whole spelling uses the folder's name.
int WriteSpelling(const std::string& AFolder, const std::string& AName) {
    TFileOpenMode mode;
    mode.Access = fsWrite;
    mode.Share = fsReadWrite;
    mode.Creation = fcCreateOrTruncate;
    int error = 0;
    const std::unique_ptr<TFileHandle> file =
        PlatformServices().Files->Open(AFolder + "/.key", mode, error);
    if (file == nullptr)
        return error;
    file->Write(AName.data(), static_cast<std::int64_t>(AName.size()), error);
    return error;
}

// The lock for structural changes of one hive, shared by every process.
class THiveLock {
public:
    explicit THiveLock(const std::string& AHiveFolder) {
        FFd = ::open((AHiveFolder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (FFd < 0) {
            FError = errno;
            return;
        }
        while (::flock(FFd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                FError = errno;
                break;
            }
        }
    }

    ~THiveLock() {
        if (FFd >= 0)
            ::close(FFd);
    }

    THiveLock(const THiveLock&) = delete;
    THiveLock& operator=(const THiveLock&) = delete;

    int Error() const { return FError; }

private:
    int FFd = -1;
    int FError = 0;
};

// Entries of a folder that are not the store's own, with a flag telling folders apart.
int ListFolder(const std::string& AFolder, std::vector<std::pair<std::string, bool>>& AEntries) {
    AEntries.clear();
    DIR* dir = ::opendir(AFolder.c_str());
    if (dir == nullptr)
        return errno == ENOTDIR ? ENOENT : errno;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};

            folder = ::fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISDIR(st.st_mode);
        }
        AEntries.emplace_back(entry->d_name, folder);
    }
    ::closedir(dir);
    return 0;
}

void SortFolded(std::vector<std::string>& ANames) {
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(ANames.size());
    for (std::string& name : ANames)
        keyed.emplace_back(Fold(name), std::move(name));
    std::sort(keyed.begin(), keyed.end());
    ANames.clear();
    for (auto& entry : keyed)
        ANames.push_back(std::move(entry.second));
}

// ---- Notifications --------------------------------------------------------------------------

// What a change of a key folder means: a subfolder is a subkey (name), a "=" file a value
// (last set), ".key" replaced the key's attributes, a new mode or owner of ".key" its
// security. Everything below a folder whose name starts with "." (a key being deleted) and
// every other "." entry (temporary files, the lock) is the store's own business.
class TKeyPolicy final : public inotify::TWatchPolicy {
public:
    std::uint32_t EventMask(std::uint32_t AFilters) const override {
        return (AFilters & KeyChangeSecurity) != 0 ? IN_ATTRIB : 0u;
    }

    std::uint32_t Classify(const inotify::TEntryEvent& AEvent, const std::string& AFolderPath,
                           std::uint32_t /*AFilters*/) override {
        if (AFolderPath.find("/.") != std::string::npos)
            return 0;
        const std::uint32_t mask = AEvent.Mask;
        const bool named = (mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0;
        const char first = AEvent.Name.front();
        if ((mask & IN_ISDIR) != 0)
            return named && first != '.' ? KeyChangeName : 0u;
        if (first == '=')
            return (mask & (IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE)) != 0 ? KeyChangeLastSet : 0u;
        if (AEvent.Name == ".key") {
            if ((mask & IN_MOVED_TO) != 0)
                return KeyChangeAttributes;
            if ((mask & IN_ATTRIB) != 0)
                return KeyChangeSecurity;
        }
        return 0;
    }
};

class TLinuxKeyStore;

class TLinuxKeyNotificationSet final : public TKeyNotificationSet {
public:
    explicit TLinuxKeyNotificationSet(TLinuxKeyStore& AStore)
        : FStore(AStore) {}

    int Add(const std::string& AHive, const std::string& APath, bool ASubtree,
            std::uint32_t AFilters, int& AError) override;

    void Rearm(int AIndex) override { FSet.Rearm(AIndex); }

    int Wait(int ATimeoutMs) override { return FSet.Wait(ATimeoutMs); }

    void Wake() override { FSet.Wake(); }

private:
    TLinuxKeyStore& FStore;
    TKeyPolicy FPolicy;
    inotify::TWatchSet FSet{FPolicy};
};

// ---- The store ------------------------------------------------------------------------------

std::string DefaultBase(const char* AVariable, const char* AFallback) {
    const char* value = std::getenv(AVariable);
    if (value != nullptr && value[0] == '/')
        return value;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + AFallback;
}

class TLinuxKeyStore final : public TKeyStore {
public:
    void SetRoot(const std::string& AFolder) override {
        const std::lock_guard guard(FLock);
        FRoot = AFolder;
    }

    std::string HiveFolder(const std::string& AHive) override {
        if (std::find(std::begin(Hives), std::end(Hives), AHive) == std::end(Hives))
            return {};
        std::string root;
        {
            const std::lock_guard guard(FLock);
            root = FRoot;
        }
        if (root.empty())
            root = AHive == "HKEY_CURRENT_USER"
                       ? DefaultBase("XDG_CONFIG_HOME", "/.config") + "/jexlogger/registry"
                       : DefaultBase("XDG_DATA_HOME", "/.local/share") + "/jexlogger/registry";
        return root + "/" + AHive;
    }

    // The folder of a key, or an errno (EINVAL for an unknown hive or a bad path).
    int KeyFolder(const std::string& AHive, const std::string& APath, std::string& AFolder,
                  std::vector<std::string>* ANames = nullptr) {
        std::vector<std::string> names;
        const int error = SplitPath(APath, names);
        if (error != 0)
            return error;
        AFolder = HiveFolder(AHive);
        if (AFolder.empty())
            return EINVAL;
        for (const std::string& name : names)
            AFolder += "/" + Escape(Fold(name));
        if (ANames != nullptr)
            *ANames = std::move(names);
        return 0;
    }

    // The folder of an existing key, or an errno (ENOENT when it is missing).
    int ExistingKey(const std::string& AHive, const std::string& APath, std::string& AFolder) {
        const int error = KeyFolder(AHive, APath, AFolder);
        if (error != 0)
            return error;
        if (IsFolder(AFolder))
            return 0;
        // A hive that has never been written to exists all the same, empty.
        std::vector<std::string> names;
        SplitPath(APath, names);
        return names.empty() ? 0 : ENOENT;
    }

    bool KeyExists(const std::string& AHive, const std::string& APath) override {
        std::string folder;
        return ExistingKey(AHive, APath, folder) == 0;
    }

    int CreateKey(const std::string& AHive, const std::string& APath) override {
        std::string folder;
        std::vector<std::string> names;
        int error = KeyFolder(AHive, APath, folder, &names);
        if (error != 0)
            return error;
        std::string at = HiveFolder(AHive);
        if ((error = MakeFolders(at)) != 0)
            return error;
        const THiveLock lock(at);
        if (lock.Error() != 0)
            return lock.Error();
        std::vector<std::string> created;
        for (const std::string& name : names) {
            at += "/" + Escape(Fold(name));
            error = MakeFolder(at);
            if (error == EEXIST)
                continue;
            if (error == 0) {
                created.push_back(at);
                error = WriteSpelling(at, name);
            }
            if (error != 0) {
                // The keys made by this call are new and empty: leave nothing of them.
                for (auto key = created.rbegin(); key != created.rend(); ++key) {
                    ::unlink((*key + "/.key").c_str());
                    ::rmdir(key->c_str());
                }
                return error;
            }
        }
        return 0;
    }

    int DeleteKey(const std::string& AHive, const std::string& APath) override {
        std::vector<std::string> names;
        int error = SplitPath(APath, names);
        if (error != 0)
            return error;
        if (names.empty())
            return EINVAL;
        std::string folder;
        if ((error = ExistingKey(AHive, APath, folder)) != 0)
            return error;
        const THiveLock lock(HiveFolder(AHive));
        if (lock.Error() != 0)
            return lock.Error();
        std::vector<std::pair<std::string, bool>> entries;
        if ((error = ListFolder(folder, entries)) != 0)
            return error;
        for (const auto& entry : entries)
            if (entry.second)
                return ENOTEMPTY;
        const std::string parent = folder.substr(0, folder.rfind('/'));
        const std::string gone = parent + "/.deleted." + RandomSuffix();
        if ((error = PlatformServices().Files->Rename(folder, gone)) != 0)
            return error == ENOTDIR ? ENOENT : error;
        std::error_code ignored;
        std::filesystem::remove_all(gone, ignored);
        return 0;
    }

    /// The folder of an existing key and its entries (name, is a folder); an untouched hive,
    /// whose folder was never made, has none.
    int KeyEntries(const std::string& AHive, const std::string& APath, std::string& AFolder,
                   std::vector<std::pair<std::string, bool>>& AEntries) {
        const int error = ExistingKey(AHive, APath, AFolder);
        if (error != 0)
            return error;
        const int listed = ListFolder(AFolder, AEntries);
        if (listed == ENOENT)
            AEntries.clear();
        return listed == ENOENT ? 0 : listed;
    }

    int SubKeyNames(const std::string& AHive, const std::string& APath,
                    std::vector<std::string>& ANames) override {
        ANames.clear();
        std::string folder;
        std::vector<std::pair<std::string, bool>> entries;
        int error = KeyEntries(AHive, APath, folder, entries);
        if (error != 0)
            return error;
        for (const auto& [name, isFolder] : entries) {
            if (!isFolder)
                continue;
            std::string spelling;
            error = PlatformServices().Files->ReadFile(folder + "/" + name + "/.key", spelling);
            if (!LostOrDamaged(error)) {
                ANames.clear();
                return error; // a name list without some names would pass for a whole one
            }
            if (error != 0 || Escape(Fold(spelling)) != name)
                spelling = Unescape(name); // the spelling was lost: the folded name stands in
            ANames.push_back(std::move(spelling));
        }
        SortFolded(ANames);
        return 0;
    }

    int ValueNames(const std::string& AHive, const std::string& APath,
                   std::vector<std::string>& ANames) override {
        ANames.clear();
        std::string folder;
        std::vector<std::pair<std::string, bool>> entries;
        int error = KeyEntries(AHive, APath, folder, entries);
        if (error != 0)
            return error;
        for (const auto& [name, isFolder] : entries) {
            if (isFolder || name[0] != '=')
                continue;
            std::string contents;
            TKeyValue value;
            // A damaged file is not listed; reading it by name tells what is wrong. A file that
            // could not be read is no sign of damage and fails the listing.
            error = PlatformServices().Files->ReadFile(folder + "/" + name, contents);
            if (!LostOrDamaged(error)) {
                ANames.clear();
                return error;
            }
            if (error == 0 && ParseKeyValueFile(contents, value) &&
                ValueFileName(value.Name) == name)
                ANames.push_back(std::move(value.Name));
        }
        SortFolded(ANames);
        return 0;
    }

    int ValuePath(const std::string& AHive, const std::string& APath, std::string_view AName,
                  std::string& AFile) {
        if (AName.size() > MaxValueNameLength)
            return EINVAL;
        std::string folder;
        const int error = ExistingKey(AHive, APath, folder);
        if (error != 0)
            return error;
        AFile = folder + "/" + ValueFileName(AName);
        return 0;
    }

    int ReadValue(const std::string& AHive, const std::string& APath, std::string_view AName,
                  TKeyValue& AValue) override {
        AValue = {};
        std::string file;
        int error = ValuePath(AHive, APath, AName, file);
        if (error != 0)
            return error;
        std::string contents;
        if ((error = PlatformServices().Files->ReadFile(file, contents)) != 0)
            return error == EISDIR || error == EINVAL ? EBADMSG : error;
        TKeyValue value;
        if (!ParseKeyValueFile(contents, value))
            return EBADMSG;
        if (Fold(value.Name) != Fold(AName))
            return ENOENT; // another name with the same hash
        AValue = std::move(value);
        return 0;
    }

    int WriteValue(const std::string& AHive, const std::string& APath, std::string_view AName,
                   TKeyValueType AType, std::string_view AData) override {
        if (AName.size() > MaxValueNameLength)
            return EINVAL;
        // The key is not looked up first: the replacement opens its folder, and a missing key
        // is a missing folder.
        std::string folder;
        const int error = KeyFolder(AHive, APath, folder);
        if (error != 0)
            return error;
        const TKeyValue value{std::string(AName), AType, std::string(AData)};
        const int replaced = PlatformServices().Files->ReplaceFile(
            folder + "/" + ValueFileName(AName), FormatKeyValueFile(value));
        return replaced == ENOTDIR ? ENOENT : replaced;
    }

    int DeleteValue(const std::string& AHive, const std::string& APath,
                    std::string_view AName) override {
        TKeyValue value;
        int error = ReadValue(AHive, APath, AName, value);
        if (error != 0 && error != EBADMSG)
            return error; // a damaged value can still be deleted
        std::string file;
        if ((error = ValuePath(AHive, APath, AName, file)) != 0)
            return error;
        return PlatformServices().Files->Delete(file);
    }

    std::unique_ptr<TKeyNotificationSet> CreateNotificationSet() override {
        return std::make_unique<TLinuxKeyNotificationSet>(*this);
    }

private:
    std::mutex FLock;
    std::string FRoot;
};

int TLinuxKeyNotificationSet::Add(const std::string& AHive, const std::string& APath, bool ASubtree,
                                  std::uint32_t AFilters, int& AError) {
    std::string folder;
    AError = FStore.ExistingKey(AHive, APath, folder);
    if (AError != 0)
        return -1;
    if (!IsFolder(folder) && (AError = MakeFolders(folder)) != 0)
        return -1; // the hive itself, never written to yet
    return FSet.Add(folder, ASubtree, AFilters & KeyChangeAllFilters, AError);
}

} // namespace

TKeyStore& LinuxKeyStore() {
    static TLinuxKeyStore store;
    return store;
}

} // namespace platform
