#include "platform/shellns/FsFolder.h"

#include "platform/core/FileFacts.h"
#include "platform/core/PathCodec.h"
#include "platform/core/Posix.h"
#include "platform/shellns/SysImageList.h"

#include <QByteArray>
#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

const char kFolderTypeName[] = "ファイル フォルダー";

std::optional<TNsItem> DecodeEntry(TItemIdPosition position)
{
    std::optional<TNsItem> item = DecodeNsItem(position);
    if (!item || item->Kind != TNsItemKind::Entry)
        return std::nullopt;
    return item;
}

// `knownType` is the d_type of a listing (DT_UNKNOWN when there is none): it
// tells a symbolic link without a second system call.
std::optional<TNsItem> ReadEntryAt(int directoryFd, const char* statName, std::string_view ownName,
                                   unsigned char knownType)
{
    if (!IsValidNsItemName(TNsItemKind::Entry, ownName))
        return std::nullopt;
    std::optional<TFileFacts> facts = ReadFileFacts(directoryFd, statName);
    if (!facts)
        return std::nullopt;
    bool isLink = knownType == DT_LNK;
    if (knownType == DT_UNKNOWN) {
        struct stat status;
        if (fstatat(directoryFd, statName, &status, AT_SYMLINK_NOFOLLOW) != 0)
            return std::nullopt;
        isLink = S_ISLNK(status.st_mode);
    }
    TNsItem item;
    item.Kind = TNsItemKind::Entry;
    if (facts->IsDirectory())
        item.Flags |= kNsFlagFolder;
    if (isLink)
        item.Flags |= kNsFlagLink;
    item.Attributes = facts->Attributes;
    item.Size = facts->Size > 0 ? static_cast<uint64_t>(facts->Size) : 0;
    item.CreationTime = facts->CreationTime.value_or(0);
    item.LastAccessTime = facts->LastAccessTime.value_or(0);
    item.LastWriteTime = facts->LastWriteTime.value_or(0);
    item.Name.assign(ownName);
    return item;
}

bool IsHiddenEntry(const TNsItem& item)
{
    return (item.Attributes & FILE_ATTRIBUTE_HIDDEN) != 0 || item.Name.front() == '.';
}

// Readdir's type spares a stat for most entries; only entries whose type the
// file system does not report, and links, need one.
bool HasSubFolder(const std::string& path)
{
    TDirectoryReader directory(path);
    const int fd = directory.Fd();
    while (const dirent* entry = directory.Next()) {
        if (entry->d_type == DT_DIR)
            return true;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat status;
            if (fstatat(fd, entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode))
                return true;
        }
    }
    return false;
}

int Sign(int64_t value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

template <typename T> int Order(T first, T second)
{
    return first < second ? -1 : (second < first ? 1 : 0);
}

bool IsCLocaleName(const char* name)
{
    if (name == nullptr || *name == '\0')
        return true;
    const std::string_view text(name);
    return text == "C" || text == "POSIX" || text.starts_with("C.") || text.starts_with("POSIX.");
}

// The collation locale as the process sees it: what setlocale settled on,
// or, when the program never asked for the user's locale, the environment.
bool CollationIsC()
{
    const char* settled = setlocale(LC_COLLATE, nullptr);
    if (!IsCLocaleName(settled))
        return false;
    for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        const char* value = getenv(variable);
        if (value != nullptr && *value != '\0')
            return IsCLocaleName(value);
    }
    return true;
}

TNsNameCollation& NameCollation()
{
    static TNsNameCollation collation(NsCollationLocale());
    return collation;
}

std::string TypeNameOf(const TNsItem& item)
{
    if (item.IsFolder())
        return kFolderTypeName;
    return FileTypeName(item.Name).toStdString();
}

int IconIndexOf(const TNsItem& item, uint32_t flags)
{
    if (item.IsFolder())
        return SysIconIndex((flags & GIL_OPENICON) != 0 ? TSysIcon::FolderOpen : TSysIcon::Folder);
    return FileIconIndex(item.Name);
}

// A folder entry that may lead onto a mount that may stall (a link to one, or
// its mount point), made without following it: a mount point is not examined
// at all, a link only itself. Such an entry is taken for a folder, which is
// what a link into a server or a mount point almost always is.
std::optional<TNsItem> UnexaminedEntry(int directoryFd, const dirent& entry)
{
    if (!IsValidNsItemName(TNsItemKind::Entry, entry.d_name))
        return std::nullopt;
    TNsItem item;
    item.Kind = TNsItemKind::Entry;
    item.Flags = kNsFlagFolder;
    mode_t mode = S_IFDIR | 0755;
    if (entry.d_type != DT_DIR) {
        struct stat link;
        if (fstatat(directoryFd, entry.d_name, &link, AT_SYMLINK_NOFOLLOW) != 0)
            return std::nullopt;
        item.Flags |= kNsFlagLink;
        mode = S_IFDIR | (link.st_mode & 07777);
        item.LastWriteTime =
            FileTimeFromUnixTime(link.st_mtim.tv_sec, link.st_mtim.tv_nsec).value_or(0);
        item.LastAccessTime =
            FileTimeFromUnixTime(link.st_atim.tv_sec, link.st_atim.tv_nsec).value_or(0);
    }
    item.Attributes = FileAttributesOf(mode, entry.d_name);
    item.Name = entry.d_name;
    return item;
}

class TFsEnumerator : public IEnumIDList
{
public:
    /// `mayStall`, when given, answers for the entries that may lead
    /// elsewhere (folders and links).
    using TEntryAnswer = std::function<bool(const dirent& entry)>;
    TFsEnumerator(std::unique_ptr<TDirectoryReader> directory, uint32_t flags,
                  TEntryAnswer mayStall = {})
        : directory_(std::move(directory)), flags_(flags), mayStall_(std::move(mayStall))
    {
    }

    HRESULT Next(TItemIdList& item) override
    {
        if (!directory_)
            return S_FALSE;
        const bool wantFolders = (flags_ & SHCONTF_FOLDERS) != 0;
        const bool wantFiles = (flags_ & SHCONTF_NONFOLDERS) != 0;
        const bool wantHidden = (flags_ & SHCONTF_INCLUDEHIDDEN) != 0;
        const int fd = directory_->Fd();
        while (const dirent* entry = directory_->Next()) {
            if (!wantHidden && entry->d_name[0] == '.')
                continue;
            // The listing's type rules out the kind not asked for before
            // the entry costs a stat.
            if ((entry->d_type == DT_REG && !wantFiles) ||
                (entry->d_type == DT_DIR && !wantFolders))
                continue;
            const bool mayLeadElsewhere =
                entry->d_type == DT_DIR || entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN;
            std::optional<TNsItem> found =
                mayLeadElsewhere && mayStall_ && mayStall_(*entry)
                    ? UnexaminedEntry(fd, *entry)
                    : ReadEntryAt(fd, entry->d_name, entry->d_name, entry->d_type);
            if (!found) // gone since the listing, or not ours to examine
                continue;
            if (found->IsFolder() ? !wantFolders : !wantFiles)
                continue;
            if (!wantHidden && IsHiddenEntry(*found))
                continue;
            TItemIdList encoded = EncodeNsItem(*found);
            if (!encoded)
                continue;
            item = std::move(encoded);
            return S_OK;
        }
        directory_.reset();
        return S_FALSE;
    }

private:
    std::unique_ptr<TDirectoryReader> directory_;
    uint32_t flags_;
    TEntryAnswer mayStall_;
};

class TFsExtractIcon : public IExtractIcon
{
public:
    explicit TFsExtractIcon(TNsItem item) : item_(std::move(item)) {}

    HRESULT GetIconLocation(uint32_t flags, int& index, uint32_t& outFlags) override
    {
        index = IconIndexOf(item_, flags);
        outFlags = GIL_PERCLASS;
        return S_OK;
    }

private:
    TNsItem item_;
};

QByteArray FileUrlOfPath(const std::string& path)
{
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    return QByteArrayLiteral("file://") + bytes.toPercentEncoding("/");
}

// The longest name an entry may have, in bytes, on the file systems here.
constexpr size_t kMaxEntryNameBytes = 255;

/// The answer of a rename that failed with `error`, so that the caller can
/// tell the user why.
HRESULT RenameFailure(int error)
{
    switch (error) {
    case EEXIST:
    case ENOTEMPTY:
        return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    case EACCES:
    case EPERM:
    case EROFS:
        return E_ACCESSDENIED;
    case ENOENT:
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENAMETOOLONG:
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    default:
        return E_FAIL;
    }
}

} // namespace

std::optional<TNsItem> ReadNsEntry(int directoryFd, const char* name)
{
    if (name == nullptr)
        return std::nullopt;
    return ReadEntryAt(directoryFd, name, name, DT_UNKNOWN);
}

std::optional<TNsItem> ReadNsEntryOfPath(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::string_view ownName = PathOwnName(trimmed);
    if (ownName.empty())
        return std::nullopt;
    return ReadEntryAt(AT_FDCWD, trimmed.c_str(), ownName, DT_UNKNOWN);
}

QLocale NsCollationLocale()
{
    // Qt 6.4 maps "und" to its C locale, whose collator ignores numeric mode
    // and folds case in compare() but not in sort keys ("2" after "10", "a"
    // after "B"). ICU's English collation has no tailoring of its own, so it
    // is the root collation under another name.
    const QLocale root(QLocale::English, QLocale::AnyTerritory);
    if (CollationIsC())
        return root;
    const QLocale user;
    return user.language() == QLocale::C ? root : user;
}

TNsNameCollation::TNsNameCollation(const QLocale& locale) : collator_(locale)
{
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
    collator_.setNumericMode(true);
}

int TNsNameCollation::Compare(std::string_view first, std::string_view second)
{
    if (first == second)
        return 0;
    const int order = Sign(Kept(first, true).second.Key.compare(Kept(second, true).second.Key));
    if (order != 0)
        return order;
    return Sign(first.compare(second));
}

// Sorting a folder of n names compares each name about log n times; the key
// is the expensive part, so it is made once per name. The bound keeps a long
// session from holding every name it ever saw.
constexpr size_t kMaxKeptNames = 200'000;

TNsNameCollation::TKeptNames::value_type& TNsNameCollation::Kept(std::string_view name,
                                                                 bool mayClear)
{
    auto found = keys_.find(name);
    if (found != keys_.end())
        return *found;
    if (mayClear && keys_.size() >= kMaxKeptNames)
        keys_.clear();
    placed_ = false;
    QCollatorSortKey key =
        collator_.sortKey(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    return *keys_.emplace(std::string(name), TKept{std::move(key), 0}).first;
}

std::vector<uint32_t> TNsNameCollation::Places(std::span<const std::string_view> names)
{
    // The entries found are held by address until the end, so the cache may
    // only start afresh before (and outgrow its bound by one call's names).
    if (keys_.size() >= kMaxKeptNames)
        keys_.clear();
    std::vector<const TKept*> found;
    found.reserve(names.size());
    for (std::string_view name : names)
        found.push_back(&Kept(name, false).second);
    // Numbering every kept name costs one sort of them, paid again only
    // after new names came in; a sort by places compares numbers alone.
    if (!placed_) {
        std::vector<TKeptNames::value_type*> all;
        all.reserve(keys_.size());
        for (TKeptNames::value_type& kept : keys_)
            all.push_back(&kept);
        std::sort(all.begin(), all.end(), [](const auto* first, const auto* second) {
            const int order = first->second.Key.compare(second->second.Key);
            return order != 0 ? order < 0 : first->first < second->first;
        });
        for (size_t i = 0; i < all.size(); ++i)
            all[i]->second.Place = static_cast<uint32_t>(i);
        placed_ = true;
    }
    std::vector<uint32_t> places;
    places.reserve(found.size());
    for (const TKept* kept : found)
        places.push_back(kept->Place);
    return places;
}

int CompareNsNames(std::string_view first, std::string_view second)
{
    AssertNamespaceThread();
    return NameCollation().Compare(first, second);
}

std::vector<uint32_t> NsNamePlaces(std::span<const std::string_view> names)
{
    AssertNamespaceThread();
    return NameCollation().Places(names);
}

bool IsSameNsItem(const TNsItem& first, const TNsItem& second)
{
    return first.Kind == second.Kind && first.IsFolder() == second.IsFolder() &&
           first.Name == second.Name;
}

int CompareNsIdentity(const TNsItem& first, const TNsItem& second)
{
    if (first.Kind != second.Kind)
        return Order(static_cast<uint8_t>(first.Kind), static_cast<uint8_t>(second.Kind));
    if (first.IsFolder() != second.IsFolder())
        return first.IsFolder() ? -1 : 1;
    return Sign(first.Name.compare(second.Name));
}

int CompareNsEntries(int column, const TNsItem& first, const TNsItem& second)
{
    // Checked before the column: a folder read again after its content
    // changed has another size and time, and the tree, the combo and the
    // selection take only 0 for "still the same item".
    if (IsSameNsItem(first, second))
        return 0;
    if (first.IsFolder() != second.IsFolder())
        return first.IsFolder() ? -1 : 1;
    int order = 0;
    switch (column) {
    case 1:
        order = Order(first.Size, second.Size);
        break;
    case 2:
        if (!first.IsFolder())
            order = CompareNsNames(TypeNameOf(first), TypeNameOf(second));
        break;
    case 3:
        order = Order(first.LastWriteTime, second.LastWriteTime);
        break;
    case 4:
        order = Order(first.Attributes, second.Attributes);
        break;
    default:
        break;
    }
    if (order == 0)
        order = CompareNsNames(first.Name, second.Name);
    if (order == 0)
        order = Order(static_cast<uint8_t>(first.Kind), static_cast<uint8_t>(second.Kind));
    return order;
}

namespace {

// What a key holds of an entry's own facts; the names' places come after.
void PutEntryNumbers(int column, const TNsItem& item, TSortKey& key)
{
    std::array<uint64_t, 3>& numbers = key.Numbers;
    numbers[0] = item.IsFolder() ? 0 : 1;
    switch (column) {
    case 1:
        numbers[1] = item.Size;
        break;
    case 3:
        numbers[1] = item.LastWriteTime;
        break;
    case 4:
        numbers[1] = item.Attributes;
        break;
    default:
        break;
    }
}

// `names` holds one name per key; by type, the keys of files get the places
// of their type names too. Folders share one type, which the first number
// already sets apart.
void PutEntryPlaces(int column, std::vector<std::string_view>& names, std::vector<TSortKey>& keys)
{
    const size_t count = keys.size();
    std::vector<std::string> types;
    if (column == 2) {
        types.resize(count);
        for (size_t i = 0; i < count; ++i)
            if (keys[i].Numbers[0] != 0)
                types[i] = FileTypeName(names[i]).toStdString();
        names.insert(names.end(), types.begin(), types.end());
    }
    const std::vector<uint32_t> places = NsNamePlaces(names);
    for (size_t i = 0; i < count; ++i) {
        keys[i].Numbers[2] = places[i];
        if (column == 2 && keys[i].Numbers[0] != 0)
            keys[i].Numbers[1] = places[count + i];
    }
}

} // namespace

std::vector<TSortKey> NsEntrySortKeys(int column, std::span<const TNsItem> items,
                                      std::span<const std::string_view> names)
{
    std::vector<TSortKey> keys(items.size());
    for (size_t i = 0; i < items.size(); ++i)
        PutEntryNumbers(column, items[i], keys[i]);
    std::vector<std::string_view> placed(names.begin(), names.end());
    PutEntryPlaces(column, placed, keys);
    return keys;
}

std::string NsIdentityBytes(const TNsItem& item)
{
    std::string bytes;
    bytes.reserve(2 + item.Name.size());
    bytes.push_back(static_cast<char>(item.Kind));
    bytes.push_back(item.IsFolder() ? '\0' : '\1');
    bytes += item.Name;
    return bytes;
}

std::string DisplayNameOfBytes(std::string_view name)
{
    std::string shown;
    shown.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const size_t length = Utf8SequenceLength(name, i);
        if (length == 0) {
            shown += "\xEF\xBF\xBD";
            ++i;
        } else {
            shown.append(name.substr(i, length));
            i += length;
        }
    }
    return shown;
}

TWin32FindData FindDataOfNsItem(const TNsItem& item)
{
    TWin32FindData data;
    data.FileAttributes = item.Attributes;
    data.CreationTime = item.CreationTime;
    data.LastAccessTime = item.LastAccessTime;
    data.LastWriteTime = item.LastWriteTime;
    data.FileSize = item.Size;
    data.FileName = item.Name;
    return data;
}

uint32_t NsEntryAttributes(const std::string& directory, const TNsItem& item, uint32_t asked,
                           bool mayStall)
{
    uint32_t attributes = SFGAO_FILESYSTEM | SFGAO_CANLINK;
    if (item.IsFolder())
        attributes |= SFGAO_FOLDER;
    if ((item.Flags & kNsFlagLink) != 0)
        attributes |= SFGAO_LINK;
    if ((item.Attributes & FILE_ATTRIBUTE_HIDDEN) != 0)
        attributes |= SFGAO_HIDDEN;
    if ((item.Attributes & FILE_ATTRIBUTE_READONLY) != 0)
        attributes |= SFGAO_READONLY;

    const std::string path = JoinPath(directory, item.Name);
    if ((asked & (SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE)) != 0 &&
        access(directory.c_str(), W_OK) == 0)
        attributes |= SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE;
    // On a mount that may stall nothing beyond the listing is asked; the
    // mode bits already read stand in for the access checks.
    if ((asked & SFGAO_CANCOPY) != 0 && (mayStall || access(path.c_str(), R_OK) == 0))
        attributes |= SFGAO_CANCOPY;
    if (item.IsFolder()) {
        if ((asked & SFGAO_DROPTARGET) != 0) {
            const bool writable = mayStall ? (item.Attributes & FILE_ATTRIBUTE_READONLY) == 0
                                           : access(path.c_str(), W_OK) == 0;
            if (writable)
                attributes |= SFGAO_DROPTARGET;
        }
        if ((asked & SFGAO_HASSUBFOLDER) != 0 && (mayStall || HasSubFolder(path)))
            attributes |= SFGAO_HASSUBFOLDER;
    }
    return attributes;
}

TFsFolder::TFsFolder(std::string directory, bool mayStall, TStallAnswer mayStallAt,
                     TStallAnswer mountMayStallAt)
    : directory_(std::move(directory)), mayStall_(mayStall), mayStallAt_(std::move(mayStallAt)),
      mountMayStallAt_(std::move(mountMayStallAt))
{
}

bool TFsFolder::EntryMayStall(const TNsItem& item) const
{
    // Only a folder can be a mount point and only a link can lead elsewhere;
    // anything else lies on this folder's mount.
    if (mayStall_ || !mayStallAt_ || (!item.IsFolder() && (item.Flags & kNsFlagLink) == 0))
        return mayStall_;
    return NameMayStall(item.Name, (item.Flags & kNsFlagLink) != 0);
}

bool TFsFolder::NameMayStall(const std::string& name, bool mayBeLink) const
{
    // A sub-folder that is no link lies on this folder's mount unless one is
    // mounted on it.
    if (!mayBeLink) {
        if (const std::string* resolved = ResolvedDirectory())
            return mountMayStallAt_(JoinPath(*resolved, name));
    }
    return mayStallAt_(JoinPath(directory_, name));
}

const std::string* TFsFolder::ResolvedDirectory() const
{
    if (mayStall_ || !mayStallAt_ || !mountMayStallAt_)
        return nullptr;
    // The folder's own path reached no mount that may stall (else mayStall_),
    // so resolving it cannot stall either.
    if (!resolvedDirectory_) {
        char* resolved = realpath(directory_.c_str(), nullptr);
        resolvedDirectory_ = resolved != nullptr ? std::string(resolved) : std::string();
        free(resolved);
    }
    return resolvedDirectory_->empty() ? nullptr : &*resolvedDirectory_;
}

std::shared_ptr<TFsFolder> TFsFolder::BindEntries(TItemIdPosition list, size_t count) const
{
    if (!list || count == 0)
        return nullptr;
    std::string path = directory_;
    // Followed through sub-folders that are no links, the resolved path only
    // needs the mount table; a link sends the answer to the full walk.
    const std::string* resolvedStart = mayStall_ ? nullptr : ResolvedDirectory();
    std::optional<std::string> resolved;
    if (resolvedStart != nullptr)
        resolved = *resolvedStart;
    bool mayStall = mayStall_;
    TItemIdPosition position = list;
    for (size_t i = 0; i < count; ++i) {
        std::optional<TNsItem> item = DecodeEntry(position);
        if (!item || !item->IsFolder())
            return nullptr;
        path = JoinPath(path, item->Name);
        if (resolved && !mayStall) {
            if ((item->Flags & kNsFlagLink) != 0) {
                resolved.reset();
            } else {
                resolved = JoinPath(*resolved, item->Name);
                mayStall = mountMayStallAt_(*resolved);
            }
        }
        position = NextItemId(position);
    }
    if (!mayStall && !resolved)
        mayStall = mayStallAt_ && mayStallAt_(path);
    auto folder =
        std::make_shared<TFsFolder>(std::move(path), mayStall, mayStallAt_, mountMayStallAt_);
    if (resolved && !mayStall)
        folder->resolvedDirectory_ = std::move(*resolved);
    if (absoluteIdList_)
        folder->SetAbsoluteIdList(JoinItemIdBytes(absoluteIdList_.Data(),
                                                  ItemIdBytesSize(absoluteIdList_.Data()), list,
                                                  ItemIdBytesSize(list, count)));
    return folder;
}

HRESULT TFsFolder::ParseDisplayName(QWidget* /*owner*/, const std::string& name, TItemIdList& list)
{
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos)
        return E_INVALIDARG;
    std::string path = directory_;
    std::vector<uint8_t> bytes;
    size_t start = 0;
    bool parentIsFolder = true;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        const std::string component = name.substr(start, end - start);
        start = end + 1;
        if (component.empty()) // "a//b" and a trailing "/"
            continue;
        if (!parentIsFolder || !IsValidNsItemName(TNsItemKind::Entry, component))
            return E_INVALIDARG;
        path = JoinPath(path, component);
        std::optional<TNsItem> item = ReadNsEntryOfPath(path);
        if (!item)
            return E_FAIL;
        parentIsFolder = item->IsFolder();
        TItemIdList encoded = EncodeNsItem(*item);
        if (!encoded)
            return E_INVALIDARG;
        const uint8_t* data = encoded.Data();
        bytes.insert(bytes.end(), data, data + ItemIdCount(data));
    }
    if (bytes.empty())
        return E_INVALIDARG;
    TItemIdList parsed = JoinItemIdBytes(bytes.data(), bytes.size(), nullptr, 0);
    if (!parsed)
        return E_INVALIDARG;
    list = std::move(parsed);
    return S_OK;
}

HRESULT TFsFolder::EnumObjects(QWidget* /*owner*/, uint32_t flags,
                               std::shared_ptr<IEnumIDList>& children)
{
    auto directory = std::make_unique<TDirectoryReader>(directory_);
    if (!directory->IsOpen())
        return E_FAIL;
    // On a folder that may stall, the listing's own stat of each entry is
    // the wait already accepted; elsewhere an entry that leads onto such a
    // mount is not followed.
    if (mayStall_ || !mayStallAt_)
        children = std::make_shared<TFsEnumerator>(std::move(directory), flags);
    else
        children = std::make_shared<TFsEnumerator>(
            std::move(directory), flags, [self = shared_from_this()](const dirent& entry) {
                return self->NameMayStall(entry.d_name, entry.d_type != DT_DIR);
            });
    return S_OK;
}

template <class Call> HRESULT TFsFolder::InItemFolder(TItemIdPosition list, Call&& call)
{
    if (!list)
        return E_INVALIDARG;
    const size_t count = ItemIdItemCount(list);
    if (count == 0)
        return E_INVALIDARG;
    if (count > 1) {
        std::shared_ptr<TFsFolder> parent = BindEntries(list, count - 1);
        if (!parent)
            return E_INVALIDARG;
        return parent->InItemFolder(list + ItemIdBytesSize(list, count - 1), call);
    }
    std::optional<TNsItem> entry = DecodeEntry(list);
    if (!entry)
        return E_INVALIDARG;
    return call(*this, *entry);
}

HRESULT TFsFolder::BindToObject(TItemIdPosition list, std::shared_ptr<IShellFolder>& folder)
{
    if (!list)
        return E_INVALIDARG;
    std::shared_ptr<TFsFolder> bound = BindEntries(list, ItemIdItemCount(list));
    if (!bound)
        return E_INVALIDARG;
    folder = std::move(bound);
    return S_OK;
}

HRESULT TFsFolder::CompareIDs(int column, TItemIdPosition first, TItemIdPosition second)
{
    if (!first || !second)
        return E_INVALIDARG;
    const bool firstEnded = ItemIdCount(first) == 0;
    const bool secondEnded = ItemIdCount(second) == 0;
    if (firstEnded || secondEnded)
        return CompareResult(firstEnded == secondEnded ? 0 : (firstEnded ? -1 : 1));
    std::optional<TNsItem> firstItem = DecodeEntry(first);
    std::optional<TNsItem> secondItem = DecodeEntry(second);
    if (!firstItem || !secondItem)
        return E_INVALIDARG;
    const int order = CompareNsEntries(column & 0xFFFF, *firstItem, *secondItem);
    if (order != 0)
        return CompareResult(order);

    const TItemIdPosition firstRest = first + ItemIdCount(first);
    const TItemIdPosition secondRest = second + ItemIdCount(second);
    if (ItemIdCount(firstRest) == 0 || ItemIdCount(secondRest) == 0)
        return CompareIDs(column, firstRest, secondRest);
    std::shared_ptr<TFsFolder> child = BindEntries(first, 1);
    if (!child)
        return E_INVALIDARG;
    return child->CompareIDs(column, firstRest, secondRest);
}

HRESULT TFsFolder::GetSortKeys(int column, std::span<const TItemIdPosition> items,
                               std::vector<TSortKey>& keys)
{
    // Nothing is copied that the items' bytes hold already: for a large
    // folder every temporary block costs fresh pages.
    column &= 0xFFFF;
    std::vector<TSortKey> made(items.size());
    std::vector<std::string_view> names;
    names.reserve(column == 2 ? 2 * items.size() : items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const TItemIdPosition position = items[i];
        if (!position || IsItemIdEnd(position) || HasSeveralItemIds(position))
            return E_INVALIDARG;
        std::string_view name;
        const std::optional<TNsItem> entry = DecodeNsItemFacts(position, name);
        if (!entry || entry->Kind != TNsItemKind::Entry)
            return E_INVALIDARG;
        PutEntryNumbers(column, *entry, made[i]);
        names.push_back(name);
    }
    PutEntryPlaces(column, names, made);
    keys = std::move(made);
    return S_OK;
}

HRESULT TFsFolder::GetAttributesOf(std::span<const TItemIdPosition> items, uint32_t& attributes)
{
    if (items.empty())
        return E_INVALIDARG;
    const uint32_t asked = attributes;
    uint32_t common = UINT32_MAX;
    for (TItemIdPosition position : items) {
        const HRESULT result = InItemFolder(position, [&](TFsFolder& folder, TNsItem& item) {
            // Only looks beyond the listing need the stall answer, which
            // costs a look at the mount table.
            const bool looks =
                (asked & (SFGAO_CANCOPY | SFGAO_DROPTARGET | SFGAO_HASSUBFOLDER)) != 0;
            common &= NsEntryAttributes(folder.directory_, item, asked,
                                        looks && folder.EntryMayStall(item));
            return S_OK;
        });
        if (FAILED(result))
            return result;
    }
    attributes = common;
    return S_OK;
}

HRESULT TFsFolder::GetUIObjectOf(QWidget* /*owner*/, std::span<const TItemIdPosition> /*items*/,
                                 std::shared_ptr<IDropTarget>& /*target*/)
{
    // Dropping onto a folder means file operations, which are not built yet.
    return E_NOINTERFACE;
}

HRESULT TFsFolder::GetUIObjectOf(QWidget* /*owner*/, std::span<const TItemIdPosition> items,
                                 std::shared_ptr<IDataObject>& data)
{
    if (items.empty())
        return E_INVALIDARG;
    QByteArray urls;
    std::vector<TItemIdPosition> children;
    for (TItemIdPosition position : items) {
        if (!position || ItemIdItemCount(position) != 1)
            return E_INVALIDARG;
        std::optional<TNsItem> item = DecodeEntry(position);
        if (!item)
            return E_INVALIDARG;
        urls += FileUrlOfPath(JoinPath(directory_, item->Name));
        urls += "\r\n";
        children.push_back(position);
    }
    auto object = std::make_shared<TMemoryDataObject>();
    object->SetData(kFileDropFormat, urls);
    // Without its own absolute list the folder cannot name the parent that
    // the ID list format needs; the file drop still carries the selection.
    if (absoluteIdList_)
        object->SetData(kShellIdListFormat,
                        EncodeShellIdListArray(absoluteIdList_.Data(), children));
    data = std::move(object);
    return S_OK;
}

HRESULT TFsFolder::GetUIObjectOf(QWidget* /*owner*/, std::span<const TItemIdPosition> items,
                                 std::shared_ptr<IExtractIcon>& extractor)
{
    if (items.empty() || !items.front())
        return E_INVALIDARG;
    std::optional<TNsItem> item = DecodeEntry(items.front());
    if (!item)
        return E_INVALIDARG;
    extractor = std::make_shared<TFsExtractIcon>(std::move(*item));
    return S_OK;
}

HRESULT TFsFolder::GetUIObjectOf(QWidget* /*owner*/, std::span<const TItemIdPosition> /*items*/,
                                 std::shared_ptr<IContextMenu>& /*menu*/)
{
    // The menu's commands come with the file operations, not built yet.
    return E_NOINTERFACE;
}

HRESULT TFsFolder::GetDisplayNameOf(TItemIdPosition item, uint32_t flags, std::string& name)
{
    return InItemFolder(item, [&](TFsFolder& folder, TNsItem& entry) {
        if ((flags & SHGDN_FORPARSING) == 0)
            name = DisplayNameOfBytes(entry.Name);
        else if ((flags & SHGDN_INFOLDER) != 0)
            name = entry.Name;
        else
            name = JoinPath(folder.directory_, entry.Name);
        return S_OK;
    });
}

HRESULT TFsFolder::SetNameOf(QWidget*, TItemIdPosition item, const std::string& newName, uint32_t,
                             TItemIdList* newItem)
{
    if (!IsValidNsItemName(TNsItemKind::Entry, newName))
        return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    if (newName.size() > kMaxEntryNameBytes)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return InItemFolder(item, [&](TFsFolder& folder, TNsItem& entry) {
        return folder.RenameEntry(entry, newName, newItem);
    });
}

HRESULT TFsFolder::RenameEntry(const TNsItem& entry, const std::string& newName,
                               TItemIdList* newItem)
{
    TUniqueFd directory(open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.IsOpen())
        return RenameFailure(errno);
    if (newName != entry.Name) {
        if (renameat2(directory.Get(), entry.Name.c_str(), directory.Get(), newName.c_str(),
                      RENAME_NOREPLACE) != 0) {
            if (errno != EINVAL && errno != ENOSYS)
                return RenameFailure(errno);
            // The file system cannot refuse to replace by itself (some
            // network and user-space ones): look first. Another process may
            // still slip a file in between, which is the best it allows.
            struct stat status;
            if (fstatat(directory.Get(), newName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
                return RenameFailure(EEXIST);
            if (errno != ENOENT)
                return RenameFailure(errno);
            if (renameat(directory.Get(), entry.Name.c_str(), directory.Get(), newName.c_str()) !=
                0)
                return RenameFailure(errno);
        }
    }
    if (newItem) {
        std::optional<TNsItem> renamed = ReadNsEntry(directory.Get(), newName.c_str());
        if (!renamed) {
            // Gone again at once; the facts from before are the best answer.
            renamed = entry;
            renamed->Name = newName;
            renamed->Attributes = (renamed->Attributes & ~FILE_ATTRIBUTE_HIDDEN) |
                                  (newName.front() == '.' ? FILE_ATTRIBUTE_HIDDEN : 0);
        }
        *newItem = EncodeNsItem(*renamed);
    }
    return S_OK;
}

HRESULT TFsFolder::GetDataFromIDList(TItemIdPosition item, TWin32FindData& data)
{
    return InItemFolder(item, [&](TFsFolder&, TNsItem& entry) {
        data = FindDataOfNsItem(entry);
        return S_OK;
    });
}

std::shared_ptr<IShellIcon> TFsFolder::QueryShellIcon()
{
    // A folder made on the stack has no shared owner to hand out.
    return weak_from_this().lock();
}

HRESULT TFsFolder::GetIconOf(TItemIdPosition item, uint32_t flags, int& index)
{
    return InItemFolder(item, [&](TFsFolder&, TNsItem& entry) {
        index = IconIndexOf(entry, flags);
        return S_OK;
    });
}
