#pragma once

#include "platform/core/DateTime.h"

#include <QObject>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Recursive file search: TSearchFile lists the entries of a directory, or of
// a directory and every directory below it, and reports each entry through
// OnFind; TSearchDir, which it owns, walks the tree breadth first.
//
// On this platform:
// - each directory is read once, with readdir; the order within a directory
//   is the order the file system enumerates; "." and ".." are never
//   reported; an entry is examined (statx, relative to its directory) for
//   its Data, and otherwise only where the walk must know whether it is a
//   directory (see WantsData);
// - the separator is "/", and a path ends in one only when its last byte is
//   "/" (paths are byte strings, so multibyte names never interfere);
// - an entry has no alternate short name: ShortName is the name itself;
// - the attribute flags come from the shared file facts (platform/FileFacts);
// - times are the birth time (where the file system records it), the last
//   write and the last access time, in local time at the two-second step of
//   the FAT date and time words, valid only from 1980 to 2107;
// - each directory (by device and inode) is walked once, so symbolic link
//   loops end; an entry that vanishes while it is read is passed over, and a
//   directory that cannot be opened reports nothing.
//
// Events follow the components' one sequence: a virtual Do... step fires the
// callback when one is set and does nothing otherwise; an override that
// wants the event must call the base step.

/// A time of a directory entry; Value means nothing unless Valid.
struct TSearchFileTime
{
    bool Valid = false;
    TDateTime Value = 0;
};

/// One directory entry as the search events receive it (always a copy).
struct TSearchFileData
{
    std::string Name;      // the entry's own name, no directory part
    std::string ShortName; // the same as Name here
    int64_t Size = 0;
    TSearchFileTime CreationTime;
    TSearchFileTime LastWriteTime;
    TSearchFileTime LastAccessTime;
    bool IsDirectory = false;
    bool ReadOnly = false;
    bool Hidden = false;
    bool SystemFile = false;
    bool SpareFlag = false; // always false
    bool Archive = false;
};

using TFindFileEvent = std::function<void(QObject* Sender, const std::string& Name,
                                          TSearchFileData Data, bool& Continue)>;
using TFindDirEvent = std::function<void(QObject* Sender, const std::string& Name,
                                         TSearchFileData Data, bool& Skip, bool& IgnoreSubDir)>;
using TSearchDirEvent =
    std::function<void(QObject* Sender, const std::string& Name, TSearchFileData Data,
                       bool& IgnoreSubDir, bool& Continue)>;

struct TSearchReport;

/// The names of one directory as the walk read them, each followed by a NUL,
/// so that TSearchFile reports them without reading the directory again.
struct TSearchListing
{
    bool Read = false;
    std::string Names;
};

/// Walks the tree below BaseDir breadth first and reports every directory of
/// it, the base first, to OnFind with its full path.
class TSearchDir : public QObject
{
public:
    explicit TSearchDir(QObject* owner = nullptr);

    const std::string& BaseDir() const { return baseDir_; }
    /// A relative path is taken against the current directory at Execute.
    void SetBaseDir(const std::string& baseDir) { baseDir_ = baseDir; }

    /// Whether the handler reads Data (default true). When false, Data
    /// carries only Name and ShortName, and an entry is examined only where
    /// the directory does not tell that it is one (a link, an unknown type).
    bool WantsData() const { return wantsData_; }
    void SetWantsData(bool wantsData) { wantsData_ = wantsData; }

    /// Required. Setting IgnoreSubDir keeps the walk out of that directory;
    /// clearing Continue ends the walk.
    TSearchDirEvent OnFind;

    /// Walks the tree. True when the walk ran to its end; false when it did
    /// not start (already running, no OnFind, BaseDir does not exist) or a
    /// handler cleared Continue. A handler's exception leaves through here
    /// after every open directory is closed and Running is cleared.
    bool Execute();

    bool Running() const { return running_; }
    /// The directories still queued when the last walk ended.
    const std::deque<std::string>& DirQueue() const { return dirQueue_; }

protected:
    virtual void DoFind(const std::string& name, const TSearchFileData& data, bool& ignoreSubDir,
                        bool& continueSearch);

private:
    friend class TSearchFile;

    void Enqueue(std::string directory);

    std::string baseDir_;
    bool wantsData_ = true;
    std::deque<std::string> dirQueue_;
    bool running_ = false;
    /// Asked as the directory just reported is queued: where to keep its
    /// names when the walk reads it, or null.
    std::function<TSearchListing*()> listingOfQueued_;
    std::deque<TSearchListing*> listingQueue_; // beside dirQueue_
};

/// Reports the entries of Directory, or (Recursive) of Directory and every
/// directory below it, to OnFind with their full paths: with Recursive,
/// OnFindDir sees every directory first, then OnFind the entries of each
/// directory not skipped, directory by directory in the walk's order.
class TSearchFile : public QObject
{
public:
    explicit TSearchFile(QObject* owner = nullptr);

    const std::string& Directory() const { return directory_; }
    /// A relative path is taken against the current directory at Execute;
    /// an empty one names no directory.
    void SetDirectory(const std::string& directory) { directory_ = directory; }
    bool Recursive() const { return recursive_; }
    void SetRecursive(bool recursive) { recursive_ = recursive; }
    /// Names to report: "*" any run of characters, "?" one character, ASCII
    /// letters in either case; empty means "*.*", every name.
    const std::string& SearchName() const { return searchName_; }
    void SetSearchName(const std::string& searchName) { searchName_ = searchName; }
    /// Whether the handlers read Data (default true). When false, the Data
    /// of OnFind and OnFindDir carries only Name and ShortName, and an entry
    /// is examined only where the walk must know whether it is a directory
    /// (a link, or an entry whose type the directory does not tell): one
    /// file-system query less for nearly every entry. An entry that goes
    /// between the walk's reading of its directory and its report is then
    /// still reported.
    bool WantsData() const { return wantsData_; }
    void SetWantsData(bool wantsData) { wantsData_ = wantsData; }

    /// Required. Clearing Continue ends the whole search after that entry.
    TFindFileEvent OnFind;
    /// Recursive mode only. Skip leaves the directory's entries unreported
    /// (its subdirectories are still walked); IgnoreSubDir keeps the walk
    /// out of it, while its own entries are still reported.
    TFindDirEvent OnFindDir;

    /// Runs the search. True when it ran to its end; false when it did not
    /// start (already running, no OnFind) or a handler cleared Continue.
    /// A handler's exception leaves through here after every open directory
    /// is closed and Running is cleared.
    bool Execute();

    bool Running() const { return running_; }
    /// The directories whose entries the last run reported (or meant to).
    const std::vector<std::string>& DirList() const { return dirList_; }

protected:
    virtual void DoFind(const std::string& name, const TSearchFileData& data, bool& continueSearch);
    virtual void DoFindDir(const std::string& name, const TSearchFileData& data, bool& skip,
                           bool& ignoreSubDir);

private:
    void SearchDirFind(QObject* sender, const std::string& name, const TSearchFileData& data,
                       bool& ignoreSubDir, bool& continueSearch);
    bool ReportEntries(const std::string& directory, TSearchListing* listing, TSearchReport& report,
                       bool& continueSearch);
    void ReportEntry(int directoryFd, std::string_view name, TSearchReport& report,
                     bool& continueSearch);

    TSearchDir* searchDir_;
    std::string directory_;
    bool recursive_ = false;
    std::string searchName_;
    bool wantsData_ = true;
    std::vector<std::string> dirList_;
    // Beside dirList_ in recursive mode: the walk's reading of each.
    std::deque<TSearchListing> listings_;
    TSearchListing* reportedListing_ = nullptr;
    bool running_ = false;
};

/// Whether a name matches a SearchName pattern: "*" any run of characters
/// (also none), "?" exactly one character (a UTF-8 character, or one byte
/// where the name is not UTF-8), ASCII letters in either case. "*" and "*.*"
/// match every name; a pattern ending in "." matches names without a dot,
/// and one ending in ".*" also matches the name without that extension.
bool MatchesSearchName(std::string_view pattern, std::string_view name);

/// The path made absolute against the current directory; unchanged when it
/// is absolute or empty.
std::string AbsoluteSearchPath(const std::string& path);
