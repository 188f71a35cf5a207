// tests/support/TempDir.h - a private temporary folder for one test, removed afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace jex::test {

/// Creates a fresh folder under $TMPDIR (or /tmp) and removes it with its contents on
/// destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }

    /// Path of AName inside the folder, as a string.
    std::string File(const std::string& AName) const { return (FPath / AName).string(); }

private:
    std::filesystem::path FPath;
};

/// The whole content of a file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& APath);

/// Writes AContent to APath, replacing it.
void WriteFileBytes(const std::string& APath, const std::string& AContent);

/// The number of entries in AFolder (0 when it cannot be read): a file left behind shows here.
std::size_t EntryCount(const std::filesystem::path& AFolder);

} // namespace jex::test
