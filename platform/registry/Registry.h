#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

// The per-user settings store that stands in for the registry hive: keys by
// path ("\SOFTWARE\LumeskSoft\Tunemill\Option"), each holding named values
// typed as a 32-bit integer (REG_DWORD) or a string (REG_SZ). One human-
// readable file, by default $XDG_CONFIG_HOME/LumeskSoft/Tunemill.reg
// (~/.config when XDG_CONFIG_HOME is unset or not absolute). Its folder is a
// per-user directory (EnsureUserDirectory): created private, refused when
// others own it or may write it. A store that is a symbolic link stays one:
// its target is written, keeping its mode. A special file at the store's
// path is never opened: it reads as an unreadable store and fails writes.
//
// Every write is a read-modify-write of the whole file under an exclusive
// file lock, saved atomically (temporary file, checked writes, fsync,
// rename), so two running copies never lose each other's values and a reader
// always finds a whole file. Reads see the file as it was when the key was
// opened.
//
// Failures of reads and writes raise ERegistryError with these exact
// messages, value name in place of %s:
//   "'%s' の取得に失敗しました"  the data does not fit a four-byte read
//   "'%s' のデータ型が不正です"  the data fits but has the wrong type
//   "'%s' の設定に失敗しました"  a write failed (also: no key is open)
// A failure with a known cause adds it: " (<file>: <the system's reason>)".

class ERegistryError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class TRegDataType
{
    rdUnknown,
    rdString,
    rdInteger
};

/// What the store found when its file could not be parsed: the file was
/// moved aside to KeptAs (it is never overwritten) and reading behaved as an
/// empty store.
struct TMalformedStore
{
    std::string FileName;
    std::string KeptAs;
    std::string Reason;
};

class TRegistry
{
public:
    /// A store over StoreFile; the default file when empty.
    explicit TRegistry(std::string storeFile = {});
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    /// ConfigHomeDirectory() + "/LumeskSoft/Tunemill.reg"; empty when the
    /// user has no home directory (every open and write then fails).
    static std::string DefaultStoreFile();
    const std::string& StoreFile() const;

    /// Opens the key (path with backslashes, the leading one optional);
    /// with CanCreate a missing key is created, which writes the file.
    /// False when the key is missing and may not be created, or cannot be.
    bool OpenKey(const std::string& key, bool canCreate);
    void CloseKey();
    /// The open key as stored (leading backslash, the spelling first used);
    /// empty when no key is open.
    const std::string& CurrentPath() const;

    bool ValueExists(const std::string& name) const;
    TRegDataType GetDataType(const std::string& name) const;

    /// Reads a REG_DWORD. A missing value is a read failure ("取得").
    int32_t ReadInteger(const std::string& name) const;
    /// Reads a REG_SZ; any other type is "データ型が不正".
    std::string ReadString(const std::string& name) const;
    void WriteInteger(const std::string& name, int32_t value);
    void WriteString(const std::string& name, const std::string& value);

    /// Why the last OpenKey, or a write since, failed: the file at fault and
    /// the reason; empty after a success or a failure with no such cause.
    const std::string& LastError() const;

    /// The malformed file found since the last call, if any; reported once.
    /// KeptAs is empty when the file could not be moved aside, and Reason
    /// then says why.
    std::optional<TMalformedStore> TakeMalformedStore();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
