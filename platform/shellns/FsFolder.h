#pragma once

#include "platform/shellns/ShellNs.h"
#include "platform/shellns/ShellNsItems.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A directory of the file system as a namespace folder: its children are
// Entry items, listed with readdir and examined with fstatat, so that names
// that are not valid UTF-8 are kept byte for byte. The desktop, the home
// folder, volumes and network mounts all show their directories through it.

/// Whether looking at a path may stall (PathMayStall over the namespace's
/// mount table).
using TStallAnswer = std::function<bool(const std::string& path)>;

class TFsFolder : public IShellFolder,
                  public IShellIcon,
                  public std::enable_shared_from_this<TFsFolder>
{
public:
    /// `directory` is an absolute path; `mayStall` says that looking at it
    /// may stall (a network or user-space mount), so nothing is looked at
    /// that enumeration did not already give (sub-folders are assumed).
    /// `mayStallAt` answers the same for the folders and entries below, where
    /// a link or a mount point may lead onto such a mount; without it they
    /// share the folder's answer. `mountMayStallAt`, when given, answers
    /// whether a mount that may stall is mounted exactly at a path without
    /// links: all that a sub-folder that is no link needs, at the cost of no
    /// link reads.
    TFsFolder(std::string directory, bool mayStall, TStallAnswer mayStallAt = {},
              TStallAnswer mountMayStallAt = {});

    const std::string& Directory() const { return directory_; }
    bool MayStall() const { return mayStall_; }

    /// The folder's own absolute list, set by whoever binds it; the data
    /// objects of its items name it as their parent, and the folders bound
    /// from it get it followed by their items. Null until set.
    void SetAbsoluteIdList(TItemIdList list) { absoluteIdList_ = std::move(list); }
    TItemIdPosition AbsoluteIdList() const { return absoluteIdList_.Data(); }

    HRESULT ParseDisplayName(QWidget* owner, const std::string& name, TItemIdList& list) override;
    HRESULT EnumObjects(QWidget* owner, uint32_t flags,
                        std::shared_ptr<IEnumIDList>& children) override;
    HRESULT BindToObject(TItemIdPosition list, std::shared_ptr<IShellFolder>& folder) override;
    HRESULT CompareIDs(int column, TItemIdPosition first, TItemIdPosition second) override;
    HRESULT GetSortKeys(int column, std::span<const TItemIdPosition> items,
                        std::vector<TSortKey>& keys) override;
    HRESULT GetAttributesOf(std::span<const TItemIdPosition> items, uint32_t& attributes) override;
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IDropTarget>& target) override;
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IDataObject>& data) override;
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IExtractIcon>& extractor) override;
    HRESULT GetUIObjectOf(QWidget* owner, std::span<const TItemIdPosition> items,
                          std::shared_ptr<IContextMenu>& menu) override;
    HRESULT GetDisplayNameOf(TItemIdPosition item, uint32_t flags, std::string& name) override;
    HRESULT SetNameOf(QWidget* owner, TItemIdPosition item, const std::string& newName,
                      uint32_t flags, TItemIdList* newItem) override;
    HRESULT GetDataFromIDList(TItemIdPosition item, TWin32FindData& data) override;
    std::shared_ptr<IShellIcon> QueryShellIcon() override;

    HRESULT GetIconOf(TItemIdPosition item, uint32_t flags, int& index) override;

private:
    /// The folder of the first `count` Entry items of `list`, all folders,
    /// below this one; null when one of them is not a folder entry.
    std::shared_ptr<TFsFolder> BindEntries(TItemIdPosition list, size_t count) const;
    /// Runs `call(folder, entry)` with the folder that holds the last item of
    /// a list of Entry items and that item decoded; E_INVALIDARG for no list,
    /// the empty list or items that do not bind.
    template <class Call> HRESULT InItemFolder(TItemIdPosition list, Call&& call);
    /// Renames an entry of this folder; see SetNameOf.
    HRESULT RenameEntry(const TNsItem& entry, const std::string& newName, TItemIdList* newItem);
    /// Whether looking at an entry of this folder may stall.
    bool EntryMayStall(const TNsItem& item) const;
    /// The same for a name of this folder that is a folder, or may be a link.
    bool NameMayStall(const std::string& name, bool mayBeLink) const;
    /// The directory with its links resolved; null when the folder may stall,
    /// has no mount answers or the path cannot be resolved.
    const std::string* ResolvedDirectory() const;

    std::string directory_;
    bool mayStall_;
    TStallAnswer mayStallAt_;
    TStallAnswer mountMayStallAt_;
    /// The directory with its links resolved, found on first use; empty
    /// when it could not be.
    mutable std::optional<std::string> resolvedDirectory_;
    TItemIdList absoluteIdList_;
};

/// The Entry item of `name` in the directory open as `directoryFd`, from
/// its facts now (a symbolic link is followed for the facts and flagged);
/// none when the entry does not exist or cannot be examined.
std::optional<TNsItem> ReadNsEntry(int directoryFd, const char* name);

/// The Entry item of an absolute path's last component; none as above.
std::optional<TNsItem> ReadNsEntryOfPath(const std::string& path);

/// The order of two names as people expect it: case-insensitive, numbers in
/// natural order ("2" before "10"), in the user's collation (ICU's root
/// collation when the locale is C or POSIX); bytes decide between names the
/// collation calls equal, so 0 means identical bytes. Sort keys are kept per
/// name, so a name is prepared once however often it is compared.
int CompareNsNames(std::string_view first, std::string_view second);

/// The places of names in the order of CompareNsNames, equal only for
/// identical bytes. Places of one call compare; the next call may number
/// them afresh.
std::vector<uint32_t> NsNamePlaces(std::span<const std::string_view> names);

/// The collation behind CompareNsNames, for one locale: case-insensitive,
/// numeric, bytes breaking ties. It keeps the sort key of every name it has
/// compared (up to a bound, then starts afresh).
class TNsNameCollation
{
public:
    explicit TNsNameCollation(const QLocale& locale);
    /// Negative, zero (identical bytes only) or positive.
    int Compare(std::string_view first, std::string_view second);
    /// The places of names among the names whose keys are kept, in the order
    /// of Compare. Places of one call compare; a later call may number them
    /// afresh.
    std::vector<uint32_t> Places(std::span<const std::string_view> names);
    /// The number of names whose keys are kept.
    size_t KeptKeys() const { return keys_.size(); }

private:
    // Looked up by a view, so that a hit costs no copy of the name.
    struct THash
    {
        using is_transparent = void;
        size_t operator()(std::string_view name) const
        {
            return std::hash<std::string_view>()(name);
        }
    };
    struct TKept
    {
        QCollatorSortKey Key;
        uint32_t Place = 0;
    };
    using TKeptNames = std::unordered_map<std::string, TKept, THash, std::equal_to<>>;

    /// The kept entry of a name, made when missing; with `mayClear`, a full
    /// cache starts afresh first.
    TKeptNames::value_type& Kept(std::string_view name, bool mayClear);

    QCollator collator_;
    TKeptNames keys_;
    /// Whether every kept name holds its place among them.
    bool placed_ = false;
};

/// The locale CompareNsNames collates in: the user's, or one with ICU's root
/// collation when the collation locale (LC_COLLATE as set, else LC_ALL,
/// LC_COLLATE, LANG) is C or POSIX.
QLocale NsCollationLocale();

/// Whether two items name one thing: the same kind, both folders or both
/// not, and the same name bytes. The facts an item carries (size, times,
/// attributes, link) are those of one reading and do not count.
bool IsSameNsItem(const TNsItem& first, const TNsItem& second);

/// An order of items by what IsSameNsItem looks at (kind, folder or not,
/// name bytes): zero exactly when IsSameNsItem.
int CompareNsIdentity(const TNsItem& first, const TNsItem& second);

/// The order of two Entry items by a column (0 name, 1 size, 2 type,
/// 3 modified time, 4 attributes): folders before files, then the column,
/// ties by name, then kind. Zero exactly when IsSameNsItem, in every column.
int CompareNsEntries(int column, const TNsItem& first, const TNsItem& second);

/// The sort keys of Entry items by a column: keys of distinct items compare
/// as CompareNsEntries compares them. Keys of one call only. `names[i]` is
/// the name of `items[i]`, whose own Name is not looked at.
std::vector<TSortKey> NsEntrySortKeys(int column, std::span<const TNsItem> items,
                                      std::span<const std::string_view> names);

/// Bytes that order as CompareNsIdentity orders items.
std::string NsIdentityBytes(const TNsItem& item);

/// The name as it is shown: its UTF-8 bytes, with a replacement character
/// for every byte that is not part of valid UTF-8.
std::string DisplayNameOfBytes(std::string_view name);

/// The find data of an Entry or TrashEntry item, from its bytes.
TWin32FindData FindDataOfNsItem(const TNsItem& item);

/// SFGAO bits of one entry of `directory` that can be had without looking
/// beyond what `asked` needs (HASSUBFOLDER costs a directory read). With
/// `mayStall` (looking at the entry may stall) the entry is not looked at:
/// a folder is assumed to hold sub-folders and its mode bits stand in for
/// the access checks.
uint32_t NsEntryAttributes(const std::string& directory, const TNsItem& item, uint32_t asked,
                           bool mayStall);
