#include "search/SearchFile.h"

#include "platform/core/FileFacts.h"
#include "platform/core/PathCodec.h"
#include "platform/core/Posix.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

// What a handler that does not read Data gets.
TSearchFileData NamesOnly(std::string_view name)
{
    TSearchFileData data;
    data.Name = name;
    data.ShortName = name;
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
    return JoinPath(current, path);
}

// ---------------------------------------------------------------------------

TSearchDir::TSearchDir(QObject* owner) : QObject(owner) {}

void TSearchDir::DoFind(const std::string& name, const TSearchFileData& data, bool& ignoreSubDir,
                        bool& continueSearch)
{
    if (OnFind)
        OnFind(this, name, data, ignoreSubDir, continueSearch);
}

void TSearchDir::Enqueue(std::string directory)
{
    dirQueue_.push_back(std::move(directory));
    listingQueue_.push_back(listingOfQueued_ ? listingOfQueued_() : nullptr);
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
    listingQueue_.clear();
    bool continueSearch = true;
    bool ignoreSubDir = false;
    // A directory reached a second way (a link to an ancestor, links into
    // each other) is walked only once, so that link loops end.
    std::unordered_set<TDirectoryIdentity, TDirectoryIdentityHash> visited;
    visited.insert({baseFacts->Device, baseFacts->Inode});
    TSearchTimeConverter times;

    const std::string_view baseName = PathOwnName(base);
    const TSearchFileData baseData = baseName.empty() ? TSearchFileData{}
                                     : wantsData_ ? SearchFileDataOf(baseName, *baseFacts, times)
                                                  : NamesOnly(baseName);
    DoFind(base, baseData, ignoreSubDir, continueSearch);
    if (!continueSearch)
        return false;
    if (!ignoreSubDir)
        Enqueue(base);

    while (!dirQueue_.empty()) {
        const std::string directory = std::move(dirQueue_.front());
        dirQueue_.pop_front();
        TSearchListing* const listing = listingQueue_.front();
        listingQueue_.pop_front();
        TDirectoryReader reader(directory);
        if (!reader.IsOpen())
            continue;
        if (listing != nullptr)
            listing->Read = true;
        // A plain subdirectory is known by the inode its entry gives, on the
        // device of the directory read (below a mount point that is the
        // mounted one), so that it needs no examination of its own.
        struct stat directoryStatus;
        const dev_t device = fstat(reader.Fd(), &directoryStatus) == 0 ? directoryStatus.st_dev : 0;
        while (const dirent* entry = reader.Next()) {
            if (listing != nullptr)
                listing->Names.append(entry->d_name, std::strlen(entry->d_name) + 1);
            // Only directories matter here, and the entry type spares most
            // files their examination.
            if (entry->d_type != DT_DIR && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
                continue;
            std::optional<TFileFacts> facts;
            TDirectoryIdentity identity{device, entry->d_ino};
            if (wantsData_ || entry->d_type != DT_DIR) {
                facts = ReadFileFacts(reader.Fd(), entry->d_name);
                if (!facts || !facts->IsDirectory())
                    continue;
                identity = {facts->Device, facts->Inode};
            }
            if (!visited.insert(identity).second)
                continue;
            std::string path = JoinPath(directory, entry->d_name);
            ignoreSubDir = false;
            DoFind(path,
                   wantsData_ ? SearchFileDataOf(entry->d_name, *facts, times)
                              : NamesOnly(entry->d_name),
                   ignoreSubDir, continueSearch);
            if (!continueSearch)
                return false;
            if (!ignoreSubDir)
                Enqueue(std::move(path));
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
    searchDir_->listingOfQueued_ = [this] { return reportedListing_; };
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
    reportedListing_ = nullptr;
    if (!skip) {
        dirList_.push_back(name);
        reportedListing_ = &listings_.emplace_back();
    }
}

// What reporting the entries of one run shares from directory to directory.
struct TSearchReport
{
    std::string_view Pattern;
    bool EveryName = false;
    TSearchTimeConverter Times;
    std::string Path; // the directory, a "/", and the name of the entry at hand
    size_t PrefixLength = 0;
    TSearchFileData Names; // reused where the handlers read names only
};

bool TSearchFile::Execute()
{
    if (running_ || !OnFind)
        return false;
    TRunningScope running(running_);
    dirList_.clear();
    listings_.clear();
    bool continueSearch = true;

    if (recursive_) {
        searchDir_->SetBaseDir(directory_);
        searchDir_->SetWantsData(wantsData_);
        searchDir_->Execute();
    } else {
        dirList_.push_back(AbsoluteSearchPath(directory_));
    }

    TSearchReport report;
    report.Pattern = searchName_.empty() ? std::string_view("*.*") : searchName_;
    report.EveryName = report.Pattern == "*" || report.Pattern == "*.*";
    const size_t count = dirList_.size();
    for (size_t i = 0; i < count; ++i) {
        TSearchListing* const listing = i < listings_.size() ? &listings_[i] : nullptr;
        if (!ReportEntries(dirList_[i], listing, report, continueSearch))
            return false;
    }
    listings_.clear();
    return true;
}

bool TSearchFile::ReportEntries(const std::string& directory, TSearchListing* listing,
                                TSearchReport& report, bool& continueSearch)
{
    // An empty Directory names no directory (appending "/" would make it
    // the root).
    if (directory.empty())
        return true;
    report.Path = directory;
    if (!EndsWithSeparator(report.Path))
        report.Path += '/';
    report.PrefixLength = report.Path.size();

    // The walk read this directory already: its names are reported from
    // that reading, and the directory is opened again only to examine them.
    if (listing != nullptr && listing->Read) {
        const std::string names = std::move(listing->Names);
        TUniqueFd directoryFd;
        if (wantsData_) {
            directoryFd.Reset(open(report.Path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!directoryFd)
                return true;
        }
        const char* const end = names.data() + names.size();
        for (const char* name = names.data(); name < end && continueSearch;) {
            const std::string_view entry(name);
            ReportEntry(directoryFd.Get(), entry, report, continueSearch);
            name += entry.size() + 1;
        }
        return continueSearch;
    }

    TDirectoryReader reader(report.Path);
    if (!reader.IsOpen())
        return true;
    while (continueSearch) {
        const dirent* entry = reader.Next();
        if (entry == nullptr)
            break;
        ReportEntry(reader.Fd(), entry->d_name, report, continueSearch);
    }
    return continueSearch;
}

// `name` is followed by a NUL, for the examination.
void TSearchFile::ReportEntry(int directoryFd, std::string_view name, TSearchReport& report,
                              bool& continueSearch)
{
    if (!report.EveryName && !MatchesSearchName(report.Pattern, name))
        return;
    report.Path.resize(report.PrefixLength);
    report.Path += name;
    if (!wantsData_) {
        report.Names.Name = name;
        report.Names.ShortName = name;
        DoFind(report.Path, report.Names, continueSearch);
    } else if (const std::optional<TFileFacts> facts = ReadFileFacts(directoryFd, name.data())) {
        DoFind(report.Path, SearchFileDataOf(name, *facts, report.Times), continueSearch);
    }
}
