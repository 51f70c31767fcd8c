#include "search/SearchFile.h"

#include "platform/core/FileFacts.h"
#include "platform/core/PathCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_set>

// Local time at the two-second step of the FAT date and time words, which
// hold only the years 1980 to 2107. Entries of one directory mostly share
// their days, so the calendar work is done once a day.
class TSearchTimeConverter
{
public:
    TSearchFileTime Convert(const std::optional<TFileTime>& utc)
    {
        if (!utc)
            return {};
        const std::optional<TFileTime> local = local_.ToLocal(*utc);
        if (!local)
            return {};
        const TFileTime day = *local / kFileTimeTicksPerDay;
        if (day != day_) {
            day_ = day;
            dayValue_.reset();
            const std::optional<TSystemTime> midnight =
                FileTimeToSystemTime(day * kFileTimeTicksPerDay);
            if (midnight && midnight->Year >= 1980 && midnight->Year <= 2107)
                dayValue_ = TryEncodeDateTime(*midnight);
        }
        if (!dayValue_)
            return {};
        const TFileTime second =
            (*local % kFileTimeTicksPerDay) / kFileTimeTicksPerSecond & ~TFileTime(1);
        return {true, *dayValue_ + static_cast<double>(second) * 1000.0 / 86'400'000.0};
    }

private:
    TLocalFileTimeConverter local_;
    TFileTime day_ = UINT64_MAX;
    std::optional<TDateTime> dayValue_;
};

namespace {

// One open directory; closed on every way out, a handler's exception too.
class TDirectoryReader
{
public:
    explicit TDirectoryReader(const std::string& path) : dir_(opendir(path.c_str())) {}
    ~TDirectoryReader()
    {
        if (dir_ != nullptr)
            closedir(dir_);
    }
    TDirectoryReader(const TDirectoryReader&) = delete;
    TDirectoryReader& operator=(const TDirectoryReader&) = delete;

    bool IsOpen() const { return dir_ != nullptr; }
    int Fd() const { return dirfd(dir_); }
    /// The next entry, or null at the end; a read error ends the listing.
    const dirent* Next() { return readdir(dir_); }

private:
    DIR* dir_;
};

// Sets a flag for the length of a scope, whatever way the scope is left.
class TRunningScope
{
public:
    explicit TRunningScope(bool& running) : running_(running) { running_ = true; }
    ~TRunningScope() { running_ = false; }
    TRunningScope(const TRunningScope&) = delete;
    TRunningScope& operator=(const TRunningScope&) = delete;

private:
    bool& running_;
};

struct TDirectoryIdentity
{
    dev_t Device;
    ino_t Inode;
    bool operator==(const TDirectoryIdentity&) const = default;
};

struct TDirectoryIdentityHash
{
    size_t operator()(const TDirectoryIdentity& id) const
    {
        return std::hash<uint64_t>()(static_cast<uint64_t>(id.Inode) * 0x9E3779B97F4A7C15ULL ^
                                     id.Device);
    }
};

bool IsDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool EndsWithSeparator(const std::string& path)
{
    return !path.empty() && path.back() == '/';
}

TSearchFileData SearchFileDataOf(std::string_view name, const TFileFacts& facts,
                                 TSearchTimeConverter& times)
{
    TSearchFileData data;
    data.Name = name;
    data.ShortName = name;
    data.Size = facts.Size;
    data.CreationTime = times.Convert(facts.CreationTime);
    data.LastWriteTime = times.Convert(facts.LastWriteTime);
    data.LastAccessTime = times.Convert(facts.LastAccessTime);
    data.IsDirectory = (facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    data.ReadOnly = (facts.Attributes & FILE_ATTRIBUTE_READONLY) != 0;
    data.Hidden = (facts.Attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    data.SystemFile = (facts.Attributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    data.Archive = (facts.Attributes & FILE_ATTRIBUTE_ARCHIVE) != 0;
    return data;
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The bytes of the character at name[i]: a UTF-8 sequence, or one byte.
size_t CharacterLength(std::string_view text, size_t i)
{
    const size_t length = Utf8SequenceLength(text, i);
    return length == 0 ? 1 : length;
}

// "*" and "?" over characters, ASCII case ignored. Backtracks only to the
// last "*", which is enough: an earlier "*" could never match more.
bool WildcardMatch(std::string_view pattern, std::string_view name)
{
    size_t p = 0;
    size_t n = 0;
    size_t starPattern = std::string_view::npos;
    size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = ++p;
            starName = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += CharacterLength(name, n);
        } else if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(name[n])) {
            ++p;
            ++n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern;
            starName += CharacterLength(name, starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size() && n == name.size();
}

} // namespace

bool MatchesSearchName(std::string_view pattern, std::string_view name)
{
    if (pattern == "*" || pattern == "*.*")
        return true;
    if (pattern.ends_with('.')) {
        pattern.remove_suffix(1);
        return name.find('.') == std::string_view::npos && WildcardMatch(pattern, name);
    }
    if (pattern.ends_with(".*") && WildcardMatch(pattern.substr(0, pattern.size() - 2), name))
        return true;
    return WildcardMatch(pattern, name);
}

std::string AbsoluteSearchPath(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    std::string current;
    if (char* cwd = getcwd(nullptr, 0)) {
        current = cwd;
        free(cwd);
    }
    if (current.empty())
        return path;
    if (!EndsWithSeparator(current))
        current += '/';
    return current + path;
}

// ---------------------------------------------------------------------------

TSearchDir::TSearchDir(QObject* owner) : QObject(owner) {}

void TSearchDir::DoFind(const std::string& name, const TSearchFileData& data, bool& ignoreSubDir,
                        bool& continueSearch)
{
    if (OnFind)
        OnFind(this, name, data, ignoreSubDir, continueSearch);
}

bool TSearchDir::Execute()
{
    if (running_ || !OnFind)
        return false;
    const std::string base = AbsoluteSearchPath(baseDir_);
    if (base.empty())
        return false;
    const std::optional<TFileFacts> baseFacts = ReadFileFacts(AT_FDCWD, base.c_str());
    if (!baseFacts)
        return false;

    TRunningScope running(running_);
    dirQueue_.clear();
    bool continueSearch = true;
    bool ignoreSubDir = false;
    // A directory reached a second way (a link to an ancestor, links into
    // each other) is walked only once, so that link loops end.
    std::unordered_set<TDirectoryIdentity, TDirectoryIdentityHash> visited;
    visited.insert({baseFacts->Device, baseFacts->Inode});
    TSearchTimeConverter times;

    const std::string_view baseName = PathOwnName(base);
    const TSearchFileData baseData =
        baseName.empty() ? TSearchFileData{} : SearchFileDataOf(baseName, *baseFacts, times);
    DoFind(base, baseData, ignoreSubDir, continueSearch);
    if (!continueSearch)
        return false;
    if (!ignoreSubDir)
        dirQueue_.push_back(base);

    while (!dirQueue_.empty()) {
        std::string directory = std::move(dirQueue_.front());
        dirQueue_.pop_front();
        if (!EndsWithSeparator(directory))
            directory += '/';
        TDirectoryReader reader(directory);
        if (!reader.IsOpen())
            continue;
        while (const dirent* entry = reader.Next()) {
            // Only directories matter here, and the entry type spares most
            // files their examination.
            if (entry->d_type != DT_DIR && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
                continue;
            if (IsDotOrDotDot(entry->d_name))
                continue;
            const std::optional<TFileFacts> facts = ReadFileFacts(reader.Fd(), entry->d_name);
            if (!facts || !facts->IsDirectory())
                continue;
            if (!visited.insert({facts->Device, facts->Inode}).second)
                continue;
            std::string path = directory + entry->d_name;
            ignoreSubDir = false;
            DoFind(path, SearchFileDataOf(entry->d_name, *facts, times), ignoreSubDir,
                   continueSearch);
            if (!continueSearch)
                return false;
            if (!ignoreSubDir)
                dirQueue_.push_back(std::move(path));
        }
    }
    return true;
}

// ---------------------------------------------------------------------------

TSearchFile::TSearchFile(QObject* owner) : QObject(owner), searchDir_(new TSearchDir(this))
{
    searchDir_->OnFind = [this](QObject* sender, const std::string& name,
                                const TSearchFileData& data, bool& ignoreSubDir,
                                bool& continueSearch) {
        SearchDirFind(sender, name, data, ignoreSubDir, continueSearch);
    };
}

void TSearchFile::DoFind(const std::string& name, const TSearchFileData& data, bool& continueSearch)
{
    if (OnFind)
        OnFind(this, name, data, continueSearch);
}

void TSearchFile::DoFindDir(const std::string& name, const TSearchFileData& data, bool& skip,
                            bool& ignoreSubDir)
{
    if (OnFindDir)
        OnFindDir(this, name, data, skip, ignoreSubDir);
}

void TSearchFile::SearchDirFind(QObject*, const std::string& name, const TSearchFileData& data,
                                bool& ignoreSubDir, bool&)
{
    bool skip = false;
    DoFindDir(name, data, skip, ignoreSubDir);
    if (!skip)
        dirList_.push_back(name);
}

bool TSearchFile::Execute()
{
    if (running_ || !OnFind)
        return false;
    TRunningScope running(running_);
    dirList_.clear();
    bool continueSearch = true;

    if (recursive_) {
        searchDir_->SetBaseDir(directory_);
        searchDir_->Execute();
    } else {
        dirList_.push_back(AbsoluteSearchPath(directory_));
    }

    const std::string_view pattern = searchName_.empty() ? std::string_view("*.*") : searchName_;
    TSearchTimeConverter times;
    const size_t count = dirList_.size();
    for (size_t i = 0; i < count; ++i) {
        if (!ReportEntries(dirList_[i], pattern, continueSearch, times))
            return false;
    }
    return true;
}

bool TSearchFile::ReportEntries(const std::string& directory, std::string_view pattern,
                                bool& continueSearch, TSearchTimeConverter& times)
{
    // An empty Directory names no directory (appending "/" would make it
    // the root).
    if (directory.empty())
        return true;
    std::string path = directory;
    if (!EndsWithSeparator(path))
        path += '/';
    const size_t prefixLength = path.size();
    TDirectoryReader reader(path);
    if (!reader.IsOpen())
        return true;
    while (const dirent* entry = reader.Next()) {
        if (!IsDotOrDotDot(entry->d_name) && MatchesSearchName(pattern, entry->d_name)) {
            if (const std::optional<TFileFacts> facts = ReadFileFacts(reader.Fd(), entry->d_name)) {
                path.resize(prefixLength);
                path += entry->d_name;
                DoFind(path, SearchFileDataOf(entry->d_name, *facts, times), continueSearch);
            }
        }
        if (!continueSearch)
            return false;
    }
    return true;
}
