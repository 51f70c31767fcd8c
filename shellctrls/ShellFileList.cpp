#include "shellctrls/ShellFileList.h"

#include "platform/mounts/Mounts.h"
#include "platform/shellns/FsFolder.h"
#include "shell/ShellNotify.h"
#include "shell/ShellUtils.h"
#include "shellctrls/Finally.h"
#include "shellctrls/ShellFilters.h"
#include "shellctrls/ShellTreeView.h"
#include "shellctrls/WaitCursor.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <sys/stat.h>
#include <unordered_set>

namespace {

constexpr uint32_t kNameChangeFilter = 0x1 | 0x2;           // FILE_NAME | DIR_NAME
constexpr uint32_t kContentChangeFilter = 0x4 | 0x8 | 0x10; // ATTRIBUTES | SIZE | LAST_WRITE
constexpr size_t kInitialCapacity = 1000;
constexpr size_t kMaxTypeNameCharacters = 80;

std::string ToBytes(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

/// At most `count` characters of UTF-8 text, cut only between characters.
std::string FirstCharacters(const std::string& text, size_t count)
{
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && characters++ == count)
            return text.substr(0, i);
    }
    return text;
}

/// A date-time value in the locale's short date and short time.
std::string DateTimeText(TDateTime value)
{
    // The whole part counts days and the fraction the time of day, also
    // before the zero day, where the whole part is negative.
    const double days = std::trunc(value);
    const int64_t dayMs = 86'400'000;
    const int64_t ms = std::min<int64_t>(std::llround(std::fabs(value - days) * dayMs), dayMs - 1);
    const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(days));
    const QTime time = QTime(0, 0).addMSecs(static_cast<int>(ms));
    const QLocale locale;
    return ToBytes(locale.toString(date, QLocale::ShortFormat) + QLatin1Char(' ') +
                   locale.toString(time, QLocale::ShortFormat));
}

/// The find record of a path when looking at it cannot stall; none
/// otherwise. Only the entry's facts are read: nothing is opened.
std::optional<TWin32FindData>
FindDataOfPath(const std::string& path, const std::function<bool(const std::string&)>& mayStall)
{
    if (path.empty() || (mayStall ? mayStall(path) : PathMayStall(ReadMounts(), path)))
        return std::nullopt;
    const std::optional<TNsItem> entry = ReadNsEntryOfPath(path);
    if (!entry)
        return std::nullopt;
    return FindDataOfNsItem(*entry);
}

/// The rows' order by keys of one GetSortKeys call, in a direction (+1 or
/// -1), as indexes.
std::vector<size_t> OrderByKeys(const std::vector<TSortKey>& keys, int direction)
{
    std::vector<size_t> order(keys.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t first, size_t second) {
        return direction < 0 ? keys[second] < keys[first] : keys[first] < keys[second];
    });
    return order;
}

/// The same by the folder's comparison of each pair, for a folder that
/// gives no keys (a pair it cannot compare counts as equal).
std::vector<size_t> OrderByComparison(IShellFolder& folder, int column, int direction,
                                      const std::vector<std::unique_ptr<TShellFileItem>>& rows)
{
    std::vector<size_t> order(rows.size());
    std::iota(order.begin(), order.end(), size_t{0});
    // A merge sort, since pairs that count as equal although they are not
    // break the strict order that a quicksort's unguarded scans rely on.
    std::stable_sort(order.begin(), order.end(), [&](size_t first, size_t second) {
        const HRESULT result = folder.CompareIDs(column, rows[first]->RelativeIdList.Data(),
                                                 rows[second]->RelativeIdList.Data());
        return SUCCEEDED(result) && ResultCode(result) * direction < 0;
    });
    return order;
}

bool IsExistingDirectory(const std::string& path)
{
    struct stat facts;
    return !path.empty() && stat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
}

} // namespace

QString ShellListColumnCaption(int column)
{
    static const QString kCaptions[kShellListColumnCount] = {
        QStringLiteral("名前"), QStringLiteral("サイズ"), QStringLiteral("ファイルの種類"),
        QStringLiteral("更新日時"), QStringLiteral("属性")};
    return column >= 0 && column < kShellListColumnCount ? kCaptions[column] : QString();
}

// TShellFileItem

TShellFileItem::TShellFileItem(TShellFileList* store, TItemIdList relativeIdList) : OwnerList(store)
{
    RelativeIdList = std::move(relativeIdList);
}

int TShellFileItem::GetIconIndex()
{
    // An icon is asked once per row; the absolute list it may need is not
    // worth keeping for every row shown.
    const TDropsMadeAbsoluteList drop(*this);
    if (OwnerList == nullptr || OwnerList->ListView()->ViewStyle() != vsIcon)
        return TShellDataItem::GetIconIndex();
    if (LargeIconIndex != -1)
        return LargeIconIndex;
    if (!GetParentFolder())
        return -1;
    const auto largeSystemIndex = [this] {
        return ShSysIconIndex(GetAbsoluteIdList(), true, false);
    };
    const TItemIdPosition relative = RelativeIdList.Data();
    const std::shared_ptr<IShellIcon> shellIcon = ParentFolder->QueryShellIcon();
    if (!shellIcon || relative == nullptr) {
        LargeIconIndex = largeSystemIndex();
        return LargeIconIndex;
    }
    // As for the small icon: the folder's answer only confirms a system
    // icon, whose index the image list gives, so that both sizes agree.
    int index = -1;
    if (shellIcon->GetIconOf(relative, GIL_FORSHELL, index) == S_OK) {
        LargeIconIndex = largeSystemIndex();
        return LargeIconIndex;
    }
    std::shared_ptr<IExtractIcon> extractor;
    const TItemIdPosition items[] = {relative};
    if (SUCCEEDED(
            ParentFolder->GetUIObjectOf(OwnerList->ListView()->ListWindow(), items, extractor)) &&
        extractor) {
        uint32_t flags = 0;
        if (SUCCEEDED(extractor->GetIconLocation(GIL_FORSHELL, index, flags)))
            LargeIconIndex = (flags & GIL_PERCLASS) != 0 ? largeSystemIndex() : index;
    }
    if (LargeIconIndex < 0)
        LargeIconIndex = largeSystemIndex();
    return LargeIconIndex;
}

int TShellFileItem::GetAbsoluteIndex()
{
    return OwnerList != nullptr ? OwnerList->IndexOf(this) : -1;
}

int TShellFileItem::GetLevel()
{
    return OwnerList != nullptr ? OwnerList->GetFolderLevel() + 1 : -1;
}

TItemIdPosition TShellFileItem::GetParentIdList()
{
    return OwnerList != nullptr ? OwnerList->FolderIdList() : nullptr;
}

TShellFileItem::TDropsMadeAbsoluteList::TDropsMadeAbsoluteList(TShellFileItem& item)
    : item_(item), hadList_(static_cast<bool>(item.AbsoluteIdList))
{
}

TShellFileItem::TDropsMadeAbsoluteList::~TDropsMadeAbsoluteList()
{
    // Only a list made during the question: nobody can hold it yet.
    if (!hadList_)
        ShFreeIdList(item_.AbsoluteIdList);
}

TItemIdList TShellFileItem::MakeAbsoluteIdList() const
{
    if (OwnerList == nullptr || !RelativeIdList)
        return {};
    if (OwnerList->GetFolderLevel() == 0)
        return ShCopyIdList(RelativeIdList.Data());
    return ShConcatIdLists(OwnerList->FolderIdList(), RelativeIdList.Data());
}

TItemIdPosition TShellFileItem::GetAbsoluteIdList()
{
    if (!AbsoluteIdList)
        AbsoluteIdList = MakeAbsoluteIdList();
    return AbsoluteIdList.Data();
}

int TShellFileItem::GetOpenIconIndex()
{
    const TDropsMadeAbsoluteList drop(*this);
    if (OpenIconIndex == -1) {
        const bool large = OwnerList != nullptr && OwnerList->ListView()->ViewStyle() == vsIcon;
        OpenIconIndex = ShSysIconIndex(GetAbsoluteIdList(), large, false);
    }
    return OpenIconIndex;
}

bool TShellFileItem::IsValid()
{
    return OwnerList != nullptr && RelativeIdList;
}

TWin32FindData TShellFileItem::GetFindData()
{
    if (!FindData.FileName.empty())
        return FindData;
    // Children of the desktop are looked up by their path, which also gives
    // the special folders that live in the file system a record; the item
    // bytes of every other item carry theirs.
    if (GetLevel() == 1) {
        if (std::optional<TWin32FindData> data = FindDataOfPath(GetPath(), {})) {
            FindData = std::move(*data);
            return FindData;
        }
    }
    TWin32FindData data;
    if (GetParentFolder() && RelativeIdList &&
        SUCCEEDED(ParentFolder->GetDataFromIDList(RelativeIdList.Data(), data)))
        FindData = std::move(data);
    return FindData;
}

uint32_t TShellFileItem::GetAttributes()
{
    return GetFindData().FileAttributes;
}

uint64_t TShellFileItem::GetFileSize()
{
    return GetFindData().FileSize;
}

std::string TShellFileItem::GetSizeText()
{
    if (!GetParentFolder() || !RelativeIdList)
        return {};
    // One question for both attributes: the text is asked for each row drawn.
    uint32_t attributes = SFGAO_FILESYSTEM | SFGAO_FOLDER;
    const TItemIdPosition items[] = {RelativeIdList.Data()};
    if (FAILED(ParentFolder->GetAttributesOf(items, attributes)) ||
        (attributes & SFGAO_FILESYSTEM) == 0 || (attributes & SFGAO_FOLDER) != 0)
        return {};
    const uint64_t size = GetFileSize();
    const uint64_t kilobytes = size / 1024 + (size % 1024 != 0 ? 1 : 0);
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return ToBytes(locale.toString(static_cast<qulonglong>(kilobytes))) + "KB";
}

std::string TShellFileItem::GetTypeName()
{
    // A list made for the question and dropped after it: kept for every row
    // shown, the absolute lists would outweigh everything else a row holds.
    const TItemIdList absolute = AbsoluteIdList ? TItemIdList() : MakeAbsoluteIdList();
    TShFileInfo info;
    if (!ShellNamespace()->GetFileInfo(AbsoluteIdList ? AbsoluteIdList.Data() : absolute.Data(),
                                       SHGFI_PIDL | SHGFI_TYPENAME, info))
        return {};
    return FirstCharacters(info.TypeName, kMaxTypeNameCharacters);
}

std::string TShellFileItem::GetModifiedText()
{
    return DateTimeText(ShFileTimeToDateTime(GetFindData().LastWriteTime));
}

int TShellFileItem::GetOverlayMask()
{
    // The list numbers overlays from 1 in the byte above the icon.
    const int slot = GetOverlayIndex();
    return slot < 0 ? 0 : (slot + 1) << 8;
}

bool TShellFileItem::Rename(const std::string& newName, HRESULT* result)
{
    if (!GetParentFolder() || !RelativeIdList) {
        if (result != nullptr)
            *result = E_FAIL;
        return false;
    }
    TItemIdList newItem;
    QWidget* owner = OwnerList != nullptr ? OwnerList->ListView()->ListWindow() : nullptr;
    const HRESULT answer =
        ParentFolder->SetNameOf(owner, RelativeIdList.Data(), newName, SHGDN_NORMAL, &newItem);
    if (result != nullptr)
        *result = answer;
    if (FAILED(answer) || !newItem)
        return false;
    ShFreeIdList(RelativeIdList);
    ShFreeIdList(AbsoluteIdList);
    RelativeIdList = std::move(newItem);
    if (OwnerList != nullptr)
        OwnerList->ForgetSortKeys();
    LargeIconIndex = -1;
    IconIndex = -1;
    OpenIconIndex = -1;
    DisplayName.clear();
    // The record names the old entry; the new item's bytes carry the new one.
    FindData = TWin32FindData();
    return true;
}

void TShellFileItem::RefreshFindData(const std::function<bool(const std::string& path)>& mayStall)
{
    if (std::optional<TWin32FindData> data = FindDataOfPath(GetPath(), mayStall))
        FindData = std::move(*data);
}

// TShellFileList

TShellFileList::TShellFileList(IShellFileListView* listView) : ListView_(listView)
{
    items_.reserve(kInitialCapacity);
    const auto report = [this](TShFilesWatcher* watcher, const std::string& path) {
        FolderChanged(watcher, path);
    };
    NameWatcher_ = new TShFilesWatcher(std::string(), kNameChangeFilter, report);
    NameWatcher_->OnTerminate = [this](TThread*) { NameWatcher_ = nullptr; };
    ChangeWatcher_ = new TShFilesWatcher(std::string(), kContentChangeFilter, report);
    ChangeWatcher_->OnTerminate = [this](TThread*) { ChangeWatcher_ = nullptr; };
}

TShellFileList::~TShellFileList()
{
    for (TShFilesWatcher** watcher : {&NameWatcher_, &ChangeWatcher_}) {
        if (*watcher != nullptr) {
            (*watcher)->OnTerminate = nullptr;
            (*watcher)->ShutDown();
            *watcher = nullptr;
        }
    }
    SelectedIdLists_.Clear();
    FreeFolderLists();
    FolderIdList_.Reset();
    Clear();
}

TShellFileItem* TShellFileList::GetItem(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return items_[static_cast<size_t>(index)].get();
}

int TShellFileList::IndexOf(const TShellFileItem* item) const
{
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == item)
            return static_cast<int>(i);
    }
    return -1;
}

void TShellFileList::Clear()
{
    // The selection lists point into the items' lists.
    SelectedIdLists_.Clear();
    ForgetSortKeys();
    items_.clear();
}

int TShellFileList::GetFolderLevel() const
{
    return FolderIdList_ ? ShItemCount(FolderIdList_.Data()) : -1;
}

TShItemIDType TShellFileList::GetFolderType()
{
    std::shared_ptr<IShellFolder> desktop;
    if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) || !desktop)
        return itUnknown;
    const int level = GetFolderLevel();
    if (level == 0)
        return itDeskTop;
    if (level == 1) {
        if (const TShItemIDType special = SpecialFolderKind(desktop, FolderIdList_.Data());
            special != itUnknown)
            return special;
    }
    if (!FolderHasAttribute(iaFileSystem))
        return itVirtual;
    if (level == 2 && FolderHasAttribute(iaFileSysAncestor))
        return itRootDrive;
    return FolderHasAttribute(iaFolder) ? itFolder : itFile;
}

std::shared_ptr<IShellFolder> TShellFileList::GetFolder()
{
    if (!FolderIdList_)
        return nullptr;
    std::shared_ptr<IShellFolder> desktop;
    if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) || !desktop)
        return nullptr;
    if (GetFolderLevel() == 0)
        return desktop;
    std::shared_ptr<IShellFolder> folder;
    if (FAILED(desktop->BindToObject(FolderIdList_.Data(), folder)))
        return nullptr;
    return folder;
}

std::shared_ptr<IShellFolder> TShellFileList::GetContainingFolder()
{
    if (!FolderIdList_)
        return nullptr;
    std::shared_ptr<IShellFolder> desktop;
    if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) || !desktop)
        return nullptr;
    if (GetFolderLevel() <= 1)
        return desktop;
    const TItemIdPosition parent = FolderParentIdList();
    std::shared_ptr<IShellFolder> folder;
    if (parent == nullptr || FAILED(desktop->BindToObject(parent, folder)))
        return nullptr;
    return folder;
}

bool TShellFileList::FolderHasAttribute(TShItemAttribute attribute)
{
    const std::shared_ptr<IShellFolder> folder = GetContainingFolder();
    if (!folder)
        return false;
    const TItemIdPosition item = GetFolderLevel() <= 1 ? FolderIdList_.Data() : FolderLastItem();
    if (item == nullptr)
        return false;
    const uint32_t mask = ShItemAttributeMask(attribute);
    uint32_t attributes = mask;
    const TItemIdPosition items[] = {item};
    return SUCCEEDED(folder->GetAttributesOf(items, attributes)) && (attributes & mask) == mask;
}

bool TShellFileList::GetFolderPath(std::string& path)
{
    path.clear();
    if (!FolderIdList_)
        return false;
    if (GetFolderLevel() == 0) {
        TItemIdList desktopDirectory;
        return ShSpecialFolderIdList(sfDesktopDirectory, desktopDirectory) &&
               ShPathFromIdList(desktopDirectory.Data(), path);
    }
    return ShPathFromIdList(FolderIdList_.Data(), path);
}

bool TShellFileList::GetFolderDropTarget(std::shared_ptr<IDropTarget>& target)
{
    target.reset();
    std::shared_ptr<IDropTarget> found;
    if (GetFolderLevel() == 0) {
        std::shared_ptr<IShellFolder> desktop;
        TItemIdList desktopDirectory;
        if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) || !desktop ||
            !ShSpecialFolderIdList(sfDesktopDirectory, desktopDirectory))
            return false;
        const TItemIdPosition items[] = {desktopDirectory.Data()};
        if (FAILED(desktop->GetUIObjectOf(TShellDataItem::OwnerWindow(), items, found)))
            return false;
    } else {
        const std::shared_ptr<IShellFolder> folder = GetContainingFolder();
        const TItemIdPosition last = FolderLastItem();
        if (!folder || last == nullptr)
            return false;
        const TItemIdPosition items[] = {last};
        if (FAILED(folder->GetUIObjectOf(TShellDataItem::OwnerWindow(), items, found)))
            return false;
    }
    target = std::move(found);
    return target != nullptr;
}

TShellIDList& TShellFileList::GetSelectedIdLists()
{
    SelectedIdLists_.Clear();
    SelectedIdLists_.SetParentIdList(FolderIdList_.Data());
    if (ListView_->SelectedRowCount() > 0) {
        for (int row = 0; row < Count(); ++row) {
            if (ListView_->IsRowSelected(row))
                SelectedIdLists_.Add(items_[static_cast<size_t>(row)]->RelativeIdList.Data());
        }
    }
    return SelectedIdLists_;
}

TItemIdPosition TShellFileList::FolderParentIdList()
{
    if (!FolderParentIdList_ && FolderIdList_) {
        if (GetFolderLevel() == 1)
            ShSpecialFolderIdList(sfDesktop, FolderParentIdList_);
        else
            FolderParentIdList_ = ShParentIdList(FolderIdList_.Data());
    }
    return FolderParentIdList_.Data();
}

TItemIdPosition TShellFileList::FolderLastItem()
{
    if (!FolderLastItem_ && FolderIdList_)
        FolderLastItem_ = ShLastItem(FolderIdList_.Data());
    return FolderLastItem_.Data();
}

void TShellFileList::FreeFolderLists()
{
    SelectedIdLists_.SetParentIdList(nullptr);
    FolderParentIdList_.Reset();
    FolderLastItem_.Reset();
}

void TShellFileList::SetFolder(TItemIdPosition idList)
{
    if (!ListView_->WindowReady())
        return;
    const int columns = ListView_->ColumnCount();
    if (columns > 1) {
        SavedColumnOrder = ListView_->ColumnOrder();
        SavedColumnWidths = ListView_->ColumnWidths();
        SavedColumnOrder.resize(static_cast<size_t>(columns));
        SavedColumnWidths.resize(static_cast<size_t>(columns));
    }
    FreeFolderLists();
    FolderIdList_ = ShCopyIdList(idList);

    // Fill brackets the rows itself; the bracket's end shows the new count.
    if (Fill() > 0)
        ListView_->ScrollToRow(0);

    std::string path;
    if (!GetFolderPath(path)) {
        ListView_->SetColumns({{ShellListColumnCaption(0), ListView_->ListWidth() / 2, false}}, {});
    } else if (ListView_->ColumnCount() <= 1) {
        std::vector<TShellListColumn> rebuilt;
        for (int column = 0; column < kShellListColumnCount; ++column) {
            const size_t i = static_cast<size_t>(column);
            const int width =
                i < SavedColumnWidths.size() ? SavedColumnWidths[i] : ListView_->ListWidth() / 5;
            rebuilt.push_back({ShellListColumnCaption(column), width, column == 1});
        }
        ListView_->SetColumns(rebuilt, SavedColumnOrder);
    }
}

int TShellFileList::Fill()
{
    // The watches stay while the folder is read (StartWatching moves them
    // only to another folder): stopping and restarting them would drop what
    // they have not reported yet and miss what changes before the watcher
    // threads watch again. Their reports wait for the UI thread anyway.
    ListView_->BeginRowsUpdate();
    bool filled = false;
    {
        TFinally end([this] { ListView_->EndRowsUpdate(); });
        // A folder that cannot be bound shows no rows, not those of the last.
        Clear();
        if (const std::shared_ptr<IShellFolder> folder = GetFolder())
            filled = Enumerate(folder, GetFolderLevel()) > 0;
        ListView_->DoShListChange(this);
    }
    if (filled)
        ListView_->SetFocusedRow(0);
    StartWatching();
    return Count();
}

int TShellFileList::Enumerate(const std::shared_ptr<IShellFolder>& folder, int level)
{
    uint32_t flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
    if (ListView_->IncludeHidden())
        flags |= SHCONTF_INCLUDEHIDDEN;
    std::shared_ptr<IEnumIDList> children;
    if (FAILED(folder->EnumObjects(ListView_->ListWindow(), flags, children)) || !children)
        return 0;

    const TWaitCursor busy;
    const TShVirtuaItems shown = ListView_->ShVirtuaItems();
    const TShItemIDType folderType = level == 1 ? GetFolderType() : itUnknown;
    // Below the computer and the desktop the filter needs each child's kind,
    // which costs namespace calls; nowhere else does it look at the child.
    const bool needsKind = level == 0 || (level == 1 && folderType == itMyComputer);
    TItemIdList relative;
    while (children->Next(relative) == S_OK) {
        auto item = std::make_unique<TShellFileItem>(this, std::move(relative));
        relative = TItemIdList();
        // Every child lives in the folder just enumerated; binding it once
        // per child from the desktop would cost as much as the enumeration.
        item->ParentFolder = folder;
        const TShItemIDType kind = needsKind ? item->GetItemType() : itUnknown;
        if (!KeptByFilter(level, folderType, kind, shown) || !ListView_->DoShFilter(item.get()))
            continue;
        items_.push_back(std::move(item));
    }
    std::string path;
    if (GetFolderPath(path) || SortColumn != 4)
        Sort(SortColumn);
    return Count();
}

void TShellFileList::Sort(int column)
{
    if (column < 0 || column >= kShellListColumnCount || items_.size() < 2)
        return;
    const int direction = SortOrders[static_cast<size_t>(column)];
    if (sortKeysColumn_ == column && sortedDirection_ != 0) {
        // Keys are equal only for one item, so the other direction is the
        // same rows in reverse.
        if (sortedDirection_ != direction) {
            std::reverse(items_.begin(), items_.end());
            std::reverse(sortKeys_.begin(), sortKeys_.end());
            sortedDirection_ = direction;
        }
        return;
    }
    const std::shared_ptr<IShellFolder> folder = GetFolder();
    if (!folder)
        return;
    // The keys of a column are kept with the rows, so that sorting by it
    // again (a header click turns the direction) costs no second look.
    if (sortKeysColumn_ != column || sortKeys_.size() != items_.size()) {
        ForgetSortKeys();
        std::vector<TItemIdPosition> lists;
        lists.reserve(items_.size());
        for (const auto& item : items_)
            lists.push_back(item->RelativeIdList.Data());
        if (SUCCEEDED(folder->GetSortKeys(column, lists, sortKeys_)) &&
            sortKeys_.size() == items_.size())
            sortKeysColumn_ = column;
        else
            ForgetSortKeys();
    }
    const std::vector<size_t> order = sortKeysColumn_ == column
                                          ? OrderByKeys(sortKeys_, direction)
                                          : OrderByComparison(*folder, column, direction, items_);
    std::vector<std::unique_ptr<TShellFileItem>> sorted;
    sorted.reserve(items_.size());
    for (size_t index : order)
        sorted.push_back(std::move(items_[index]));
    // Moved back one by one, so the store keeps the room it reserved.
    std::move(sorted.begin(), sorted.end(), items_.begin());
    if (sortKeysColumn_ == column) {
        std::vector<TSortKey> keys;
        keys.reserve(order.size());
        for (size_t index : order)
            keys.push_back(std::move(sortKeys_[index]));
        sortKeys_ = std::move(keys);
        sortedDirection_ = direction;
    }
}

void TShellFileList::ForgetSortKeys()
{
    sortKeys_.clear();
    sortKeys_.shrink_to_fit();
    sortKeysColumn_ = -1;
    sortedDirection_ = 0;
}

void TShellFileList::SortKeepSelection(int column)
{
    std::string path;
    if (column == 4 && !GetFolderPath(path))
        return;
    ListView_->ChangeSelChangeLock(+1);
    // Lowering the lock fires the list's event, which may throw: not from a
    // destructor.
    try {
        SortKeepingSelection(column);
    } catch (...) {
        ListView_->ChangeSelChangeLock(-1);
        throw;
    }
    ListView_->ChangeSelChangeLock(-1);
}

void TShellFileList::SortKeepingSelection(int column)
{
    SortColumn = column;
    const TShellFileItem* focused = GetItem(ListView_->FocusedRow());

    // Only the smaller of the selected and the unselected rows is kept.
    const int rows = Count();
    const int selected = ListView_->SelectedRowCount();
    const bool keepUnselected = rows - selected < selected;
    std::unordered_set<const TShellFileItem*> kept;
    for (int row = 0;
         row < rows && static_cast<int>(kept.size()) < std::min(selected, rows - selected); ++row) {
        if (ListView_->IsRowSelected(row) != keepUnselected)
            kept.insert(GetItem(row));
    }
    Sort(column);
    ListView_->RowsReordered();
    ListView_->SetRowSelected(-1, keepUnselected);
    int focusedRow = -1;
    for (int row = 0; row < rows; ++row) {
        const TShellFileItem* item = GetItem(row);
        if (kept.count(item) != 0)
            ListView_->SetRowSelected(row, !keepUnselected);
        if (item == focused)
            focusedRow = row;
    }
    if (focusedRow >= 0)
        ListView_->SetFocusedRow(focusedRow);
}

void TShellFileList::DeleteSelected()
{
    if (ListView_->SelectedRowCount() == 0)
        return;
    std::vector<bool> selected(items_.size());
    for (int row = 0; row < Count(); ++row)
        selected[static_cast<size_t>(row)] = ListView_->IsRowSelected(row);
    ListView_->BeginRowsUpdate();
    {
        TFinally end([this] { ListView_->EndRowsUpdate(); });
        SelectedIdLists_.Clear();
        size_t kept = 0;
        for (size_t i = 0; i < items_.size(); ++i) {
            if (!selected[i])
                items_[kept++] = std::move(items_[i]);
        }
        items_.resize(kept);
        ForgetSortKeys();
    }
    ListView_->DoShListChange(this);
}

void TShellFileList::StartWatching()
{
    std::string path;
    // A watch on a mount that may stall would look into it from the UI
    // thread, as the folder tree's does not either.
    if (!GetFolderPath(path) || PathMayStall(ReadMounts(), path))
        path.clear();
    for (TShFilesWatcher* watcher : {NameWatcher_, ChangeWatcher_}) {
        if (watcher != nullptr)
            watcher->SetDirectory(path);
    }
}

void TShellFileList::StopWatching()
{
    for (TShFilesWatcher* watcher : {NameWatcher_, ChangeWatcher_}) {
        if (watcher != nullptr)
            watcher->SetDirectory(std::string());
    }
}

void TShellFileList::FolderChanged(TShFilesWatcher* watcher, const std::string& path)
{
    if (ListView_->MouseState() != 0)
        return;
    if (!IsExistingDirectory(path)) {
        ListView_->BeginRowsUpdate();
        {
            TFinally end([this] { ListView_->EndRowsUpdate(); });
            FreeFolderLists();
            FolderIdList_.Reset();
            Clear();
        }
        StopWatching();
        if (TShellTreeView* tree = ListView_->LinkedTree())
            SetFolder(tree->SelectedIdList());
        return;
    }
    if (watcher == NameWatcher_) {
        Fill();
        return;
    }
    if (watcher == ChangeWatcher_) {
        // One mount table and one set of link reads serve every row.
        const std::vector<TMount> mounts = ReadMounts();
        TLinkAnswers links;
        const auto mayStall = [&](const std::string& itemPath) {
            return PathMayStall(mounts, itemPath, &links);
        };
        for (const auto& item : items_)
            item->RefreshFindData(mayStall);
        // Sizes, times and attributes may have changed.
        ForgetSortKeys();
        ListView_->RowsRefreshed();
    }
}
