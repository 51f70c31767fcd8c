// The store file is line-based UTF-8 text, meant to be read and, with care,
// edited by a person:
//
//   TUNEMILL-SETTINGS 1
//   [\SOFTWARE\LumeskSoft\Tunemill\Option]
//   "playMP3"=dword:00000001
//   "STV_LastDir"="/home/user/Music/\"quoted\"\\x"
//
// - The first line is exactly the header above. Every line, the last one
//   included, ends with "\n"; empty lines are allowed between the others.
// - "[" key path "]" starts a key. The path starts with "\", has no empty
//   component, no control character and is valid UTF-8. A key appears once
//   (paths compare case-insensitively for ASCII).
// - A value line is a quoted name, "=", then either "dword:" with exactly 8
//   hex digits (the 32-bit pattern of the integer) or a quoted string. Names
//   are unique within a key, case-insensitively for ASCII.
// - Inside quotes: \\ \" \n \r \t, and \xHH (two hex digits) for any other
//   byte. Control characters and bytes that are not valid UTF-8 are always
//   written as \xHH, so strings are byte strings that round-trip exactly.
//   Raw control characters and raw invalid UTF-8 are not accepted.
//
// Anything else makes the whole file malformed. A malformed file is never
// rewritten: it is renamed aside (Tunemill.reg.malformed-YYYYMMDD-HHMMSS) and
// the store starts empty.
//
// Concurrency: Tunemill.reg.lock beside the store is flock()ed; the store
// itself cannot be, because every save replaces its inode. Temporary files
// that a killed save left are removed by a later save, under that lock.

#include "platform/registry/Registry.h"

#include "platform/core/FileIO.h"
#include "platform/core/PathCodec.h"
#include "platform/core/Posix.h"
#include "platform/core/UserDirs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr char kHeader[] = "TUNEMILL-SETTINGS 1";

struct TValue
{
    std::string Name;
    TRegDataType Type = TRegDataType::rdUnknown;
    int32_t Integer = 0;
    std::string Text;
};

struct TKey
{
    std::string Path; // without the leading backslash
    std::vector<TValue> Values;
};

using TStore = std::vector<TKey>;

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The registry folds ASCII only; other bytes (Japanese names) compare exactly.
bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

TKey* FindKey(TStore& store, const std::string& path)
{
    for (TKey& key : store)
        if (SameName(key.Path, path))
            return &key;
    return nullptr;
}

// A key exists also when only keys below it were written, as in the hive.
bool KeyExists(const TStore& store, const std::string& path)
{
    for (const TKey& key : store) {
        if (SameName(key.Path, path))
            return true;
        if (key.Path.size() > path.size() && key.Path[path.size()] == '\\' &&
            SameName(key.Path.substr(0, path.size()), path))
            return true;
    }
    return false;
}

TValue* FindValue(std::vector<TValue>& values, const std::string& name)
{
    for (TValue& value : values)
        if (SameName(value.Name, name))
            return &value;
    return nullptr;
}

// Keeps the spelling of the name first written, as the hive does.
void SetValue(std::vector<TValue>& values, const TValue& value)
{
    if (TValue* existing = FindValue(values, value.Name)) {
        const std::string name = existing->Name;
        *existing = value;
        existing->Name = name;
    } else {
        values.push_back(value);
    }
}

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// Strips the optional leading backslash; empty when the path cannot be a key
// (empty components, control characters, invalid UTF-8).
std::string NormaliseKeyPath(const std::string& path)
{
    std::string result = (!path.empty() && path[0] == '\\') ? path.substr(1) : path;
    if (result.empty() || result.front() == '\\' || result.back() == '\\' ||
        result.find("\\\\") != std::string::npos)
        return {};
    for (size_t i = 0; i < result.size();) {
        const size_t length = Utf8SequenceLength(result, i);
        if (length == 0 || IsControl(static_cast<unsigned char>(result[i])))
            return {};
        i += length;
    }
    return result;
}

const char kHexDigits[] = "0123456789abcdef";

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8SequenceLength(text, i);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (IsControl(c) || length == 0) {
            out += "\\x";
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0xF];
        } else {
            out.append(text, i, length);
            i += length;
            continue;
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string Serialise(const TStore& store)
{
    std::string out = std::string(kHeader) + "\n";
    for (const TKey& key : store) {
        out += "\n[\\" + key.Path + "]\n";
        for (const TValue& value : key.Values) {
            out += Quote(value.Name) + "=";
            if (value.Type == TRegDataType::rdInteger) {
                char digits[9];
                std::snprintf(digits, sizeof digits, "%08x", static_cast<uint32_t>(value.Integer));
                out += std::string("dword:") + digits;
            } else {
                out += Quote(value.Text);
            }
            out += '\n';
        }
    }
    return out;
}

// Parses the quoted string at line[pos]; pos ends past the closing quote.
bool ParseQuoted(const std::string& line, size_t& pos, std::string& out, std::string& error)
{
    if (pos >= line.size() || line[pos] != '"') {
        error = "a quoted string was expected";
        return false;
    }
    ++pos;
    out.clear();
    while (pos < line.size()) {
        const unsigned char c = static_cast<unsigned char>(line[pos]);
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\') {
            if (pos + 1 >= line.size()) {
                error = "an escape is cut off";
                return false;
            }
            const char kind = line[pos + 1];
            pos += 2;
            switch (kind) {
            case '\\':
            case '"':
                out += kind;
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                const int high = pos < line.size() ? HexDigitValue(line[pos]) : -1;
                const int low = pos + 1 < line.size() ? HexDigitValue(line[pos + 1]) : -1;
                if (high < 0 || low < 0) {
                    error = "\\x needs two hex digits";
                    return false;
                }
                out += static_cast<char>(high * 16 + low);
                pos += 2;
                break;
            }
            default:
                error = std::string("unknown escape \\") + kind;
                return false;
            }
            continue;
        }
        if (IsControl(c)) {
            error = "a raw control character inside quotes";
            return false;
        }
        const size_t length = Utf8SequenceLength(line, pos);
        if (length == 0) {
            error = "bytes that are not UTF-8 (they must be written as \\xHH)";
            return false;
        }
        out.append(line, pos, length);
        pos += length;
    }
    error = "the closing quote is missing";
    return false;
}

bool ParseValueLine(const std::string& line, TValue& value, std::string& error)
{
    size_t pos = 0;
    if (!ParseQuoted(line, pos, value.Name, error))
        return false;
    if (pos >= line.size() || line[pos] != '=') {
        error = "'=' was expected after the value name";
        return false;
    }
    ++pos;
    static const std::string kDword = "dword:";
    if (line.compare(pos, kDword.size(), kDword) == 0) {
        pos += kDword.size();
        if (line.size() - pos != 8) {
            error = "a dword needs exactly 8 hex digits";
            return false;
        }
        uint32_t bits = 0;
        for (; pos < line.size(); ++pos) {
            const int digit = HexDigitValue(line[pos]);
            if (digit < 0) {
                error = "a dword needs exactly 8 hex digits";
                return false;
            }
            bits = bits * 16 + static_cast<uint32_t>(digit);
        }
        value.Type = TRegDataType::rdInteger;
        value.Integer = static_cast<int32_t>(bits);
        return true;
    }
    if (!ParseQuoted(line, pos, value.Text, error))
        return false;
    if (pos != line.size()) {
        error = "text follows the closing quote";
        return false;
    }
    value.Type = TRegDataType::rdString;
    return true;
}

// False with "line N: why" in reason when the bytes are not exactly a store.
bool Parse(const std::string& bytes, TStore& store, std::string& reason)
{
    store.clear();
    size_t start = 0;
    int lineNumber = 0;
    TKey* current = nullptr;
    const auto fail = [&](const std::string& why) {
        reason = "line " + std::to_string(lineNumber) + ": " + why;
        store.clear();
        return false;
    };
    if (bytes.empty()) {
        lineNumber = 1;
        return fail("the file is empty");
    }
    while (start < bytes.size()) {
        ++lineNumber;
        const size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            return fail("the last line has no line end (a cut-off file?)");
        const std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (lineNumber == 1) {
            if (line != kHeader)
                return fail(std::string("the header \"") + kHeader + "\" is missing");
            continue;
        }
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (line.size() < 3 || line.back() != ']' || line[1] != '\\')
                return fail("a key line must be [\\path]");
            const std::string path = NormaliseKeyPath(line.substr(1, line.size() - 2));
            if (path.empty())
                return fail("not a valid key path");
            if (FindKey(store, path))
                return fail("the key appears twice");
            store.push_back(TKey{path, {}});
            current = &store.back();
        } else if (line.front() == '"') {
            if (!current)
                return fail("a value outside any key");
            TValue value;
            std::string error;
            if (!ParseValueLine(line, value, error))
                return fail(error);
            if (FindValue(current->Values, value.Name))
                return fail("the value name appears twice in the key");
            current->Values.push_back(std::move(value));
        } else {
            return fail("unknown line");
        }
    }
    return true;
}

// A killed save leaves its temporary file; one older than this is no save
// still running, since a save takes milliseconds.
constexpr int kStaleTemporarySeconds = 60;

// Holds the flock on the lock file for one operation. Locks are taken per
// call, never held between calls, so two objects in one process cannot
// deadlock each other.
class TLock
{
public:
    /// False with errno set when the lock file cannot be opened or locked.
    bool Acquire(const std::string& lockFile, bool exclusive)
    {
        // Readers never create files; flock needs no write access.
        fd_.Reset(exclusive ? OpenRegularFile(lockFile, O_RDWR | O_CREAT, 0600)
                            : OpenRegularFile(lockFile, O_RDONLY));
        if (!fd_)
            return false;
        while (::flock(fd_.Get(), exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                fd_.Reset();
                errno = error;
                return false;
            }
        }
        return true;
    }

private:
    TUniqueFd fd_; // closing it releases the lock
};

enum class TLoadStatus
{
    Loaded,
    Missing,
    Unreadable,
    Malformed
};

struct TLoadResult
{
    TLoadStatus Status = TLoadStatus::Missing;
    TStore Store;
    std::string Reason;
};

std::string Failure(const std::string& file, int error)
{
    return file + ": " + FileErrorText(error);
}

// A special file at the store's path is Unreadable, never opened for real.
TLoadResult Load(const std::string& file)
{
    TLoadResult result;
    std::string bytes;
    if (!ReadRegularFile(file, bytes)) {
        result.Status = errno == ENOENT ? TLoadStatus::Missing : TLoadStatus::Unreadable;
        result.Reason = Failure(file, errno);
        return result;
    }
    result.Status =
        Parse(bytes, result.Store, result.Reason) ? TLoadStatus::Loaded : TLoadStatus::Malformed;
    return result;
}

std::string Message(const std::string& name, const char* what)
{
    return "'" + name + "' " + what;
}

constexpr char kReadFailed[] = "の取得に失敗しました";
constexpr char kWrongType[] = "のデータ型が不正です";
constexpr char kWriteFailed[] = "の設定に失敗しました";
constexpr char kNoHome[] = "there is no home directory to keep the settings in";

} // namespace

struct TRegistry::Private
{
    std::string StoreFile;
    std::string LockFile;
    bool KeyOpen = false;
    std::string KeyPath; // without the leading backslash, as stored
    std::string CurrentPath;
    std::vector<TValue> Snapshot;
    std::optional<TMalformedStore> Malformed;
    std::string LastError;

    // A malformed file that stays where it is, because `why`.
    void KeepMalformed(const TLoadResult& loaded, const std::string& why)
    {
        Malformed =
            TMalformedStore{StoreFile, {}, loaded.Reason + "; it could not be moved aside: " + why};
    }

    // The exclusive lock for a write, the store's folder made sure of first
    // when `makeFolder`. False with LastError set.
    bool LockForWrite(TLock& lock, bool makeFolder)
    {
        std::string reason;
        if (StoreFile.empty()) {
            LastError = kNoHome;
            return false;
        }
        if (makeFolder && !EnsureUserDirectory(ParentDirectory(StoreFile), reason)) {
            LastError = StoreFile + ": " + reason;
            return false;
        }
        if (!lock.Acquire(LockFile, true)) {
            LastError = Failure(LockFile, errno);
            return false;
        }
        return true;
    }

    // Under the exclusive lock. False with LastError set.
    bool Save(const TStore& store)
    {
        RemoveStaleTemporaryFiles(StoreFile, kStaleTemporarySeconds);
        if (WriteFileAtomically(StoreFile, Serialise(store), 0600))
            return true;
        LastError = Failure(StoreFile, errno);
        return false;
    }

    std::string WriteFailed(const std::string& name) const
    {
        const std::string message = Message(name, kWriteFailed);
        return LastError.empty() ? message : message + " (" + LastError + ")";
    }

    // Under the exclusive lock: the store as it is now, a malformed file
    // moved aside first. False when it cannot be read or moved, so that
    // nothing overwrites it.
    bool LoadForWrite(TStore& store)
    {
        TLoadResult loaded = Load(StoreFile);
        switch (loaded.Status) {
        case TLoadStatus::Loaded:
            store = std::move(loaded.Store);
            return true;
        case TLoadStatus::Missing:
            store.clear();
            return true;
        case TLoadStatus::Unreadable:
            LastError = loaded.Reason;
            return false;
        case TLoadStatus::Malformed:
            break;
        }
        store.clear();
        const std::string keptAs = MoveMalformedFileAside(StoreFile);
        if (keptAs.empty()) {
            KeepMalformed(loaded, std::strerror(errno));
            LastError = StoreFile + ": " + Malformed->Reason;
            return false;
        }
        Malformed = TMalformedStore{StoreFile, keptAs, loaded.Reason};
        return true;
    }

    void Open(const std::string& path, const TStore& store)
    {
        KeyOpen = true;
        Snapshot.clear();
        KeyPath = path;
        for (const TKey& key : store) {
            if (SameName(key.Path, path)) {
                KeyPath = key.Path;
                Snapshot = key.Values;
                break;
            }
        }
        CurrentPath = "\\" + KeyPath;
    }

    void Write(const TValue& value)
    {
        if (!KeyOpen)
            throw ERegistryError(WriteFailed(value.Name));
        TLock lock;
        TStore store;
        if (!LockForWrite(lock, true) || !LoadForWrite(store))
            throw ERegistryError(WriteFailed(value.Name));
        TKey* key = FindKey(store, KeyPath);
        if (!key) {
            store.push_back(TKey{KeyPath, {}});
            key = &store.back();
        }
        SetValue(key->Values, value);
        if (!Save(store))
            throw ERegistryError(WriteFailed(value.Name));
        LastError.clear();
        SetValue(Snapshot, value);
    }
};

TRegistry::TRegistry(std::string storeFile) : d(std::make_unique<Private>())
{
    d->StoreFile = storeFile.empty() ? DefaultStoreFile() : std::move(storeFile);
    if (!d->StoreFile.empty())
        d->LockFile = d->StoreFile + ".lock";
}

TRegistry::~TRegistry() = default;

std::string TRegistry::DefaultStoreFile()
{
    const std::string configHome = ConfigHomeDirectory();
    return configHome.empty() ? std::string() : configHome + "/LumeskSoft/Tunemill.reg";
}

const std::string& TRegistry::StoreFile() const
{
    return d->StoreFile;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate)
{
    CloseKey();
    d->LastError.clear();
    const std::string path = NormaliseKeyPath(key);
    if (path.empty())
        return false;
    if (d->StoreFile.empty()) {
        d->LastError = kNoHome;
        return false;
    }

    TLoadResult loaded;
    {
        TLock lock;
        // Without a lock file (nothing written yet, or no access to it) reading
        // goes on unlocked: the store is only ever replaced whole by rename(),
        // so even an unlocked reader sees one whole file.
        lock.Acquire(d->LockFile, false);
        loaded = Load(d->StoreFile);
    }
    switch (loaded.Status) {
    case TLoadStatus::Unreadable:
        d->LastError = loaded.Reason;
        return false;
    case TLoadStatus::Loaded:
        if (KeyExists(loaded.Store, path)) {
            d->Open(path, loaded.Store);
            return true;
        }
        [[fallthrough]];
    case TLoadStatus::Missing:
        if (!canCreate)
            return false;
        break;
    case TLoadStatus::Malformed:
        break;
    }

    // Malformed, or the key must be created: decide again under the exclusive
    // lock, since another copy may have rewritten the file in between.
    TLock lock;
    if (!d->LockForWrite(lock, canCreate)) {
        // Found malformed but not taken aside: still worth a report.
        if (loaded.Status == TLoadStatus::Malformed)
            d->KeepMalformed(loaded, d->LastError);
        return false;
    }
    TStore store;
    if (!d->LoadForWrite(store))
        return false;
    if (!KeyExists(store, path)) {
        if (!canCreate)
            return false;
        store.push_back(TKey{path, {}});
        if (!d->Save(store))
            return false;
    }
    d->Open(path, store);
    return true;
}

void TRegistry::CloseKey()
{
    d->KeyOpen = false;
    d->KeyPath.clear();
    d->CurrentPath.clear();
    d->Snapshot.clear();
}

const std::string& TRegistry::CurrentPath() const
{
    return d->CurrentPath;
}

bool TRegistry::ValueExists(const std::string& name) const
{
    return d->KeyOpen && FindValue(d->Snapshot, name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const
{
    const TValue* value = d->KeyOpen ? FindValue(d->Snapshot, name) : nullptr;
    return value ? value->Type : TRegDataType::rdUnknown;
}

int32_t TRegistry::ReadInteger(const std::string& name) const
{
    const TValue* value = d->KeyOpen ? FindValue(d->Snapshot, name) : nullptr;
    if (!value)
        throw ERegistryError(Message(name, kReadFailed));
    if (value->Type == TRegDataType::rdInteger)
        return value->Integer;
    // A four-byte buffer: a string that needs more (terminator included)
    // fails the read itself before its type is looked at.
    if (value->Text.size() + 1 > sizeof(int32_t))
        throw ERegistryError(Message(name, kReadFailed));
    throw ERegistryError(Message(name, kWrongType));
}

std::string TRegistry::ReadString(const std::string& name) const
{
    const TValue* value = d->KeyOpen ? FindValue(d->Snapshot, name) : nullptr;
    if (!value)
        throw ERegistryError(Message(name, kReadFailed));
    if (value->Type != TRegDataType::rdString)
        throw ERegistryError(Message(name, kWrongType));
    return value->Text;
}

void TRegistry::WriteInteger(const std::string& name, int32_t value)
{
    d->Write(TValue{name, TRegDataType::rdInteger, value, {}});
}

void TRegistry::WriteString(const std::string& name, const std::string& value)
{
    d->Write(TValue{name, TRegDataType::rdString, 0, value});
}

const std::string& TRegistry::LastError() const
{
    return d->LastError;
}

std::optional<TMalformedStore> TRegistry::TakeMalformedStore()
{
    return std::exchange(d->Malformed, std::nullopt);
}
