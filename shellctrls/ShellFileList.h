#pragma once

#include "platform/core/ShellResult.h"
#include "platform/shellns/ItemIdList.h"
#include "platform/shellns/ShellNs.h"
#include "shell/ShellDataItem.h"
#include "shell/ShellIDList.h"

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;
class TShFilesWatcher;
class TShellFileList;
class TShellFileItem;
class TShellTreeView;

// The item store of the file list: one TShellFileItem per item of the folder
// shown, in display order, filled from the namespace's enumeration with the
// list's filters, sorted by a column and direction, and kept current by two
// folder watchers. The store knows the list only through IShellFileListView,
// so that it can be driven without a window. Everything runs on the UI
// thread.

/// The list's view styles.
enum TViewStyle : int
{
    vsIcon,
    vsSmallIcon,
    vsList,
    vsReport
};

/// The number of columns of a file-system folder and their captions.
constexpr int kShellListColumnCount = 5;
/// "名前", "サイズ", "ファイルの種類", "更新日時", "属性".
QString ShellListColumnCaption(int column);

/// One column as the store asks the list to make it.
struct TShellListColumn
{
    QString Caption;
    int Width = 0;
    bool RightAligned = false;
};

/// What the store needs of the list that shows it. Rows are indexes into the
/// store.
class IShellFileListView
{
public:
    virtual ~IShellFileListView() = default;

    /// The owner of namespace calls.
    virtual QWidget* ListWindow() = 0;
    /// Whether the window exists and is not being destroyed.
    virtual bool WindowReady() const = 0;
    virtual bool IncludeHidden() const = 0;
    virtual TShVirtuaItems ShVirtuaItems() const = 0;
    /// 0 idle, 1 left press, 2 right press, 3 drag.
    virtual uint8_t MouseState() const = 0;
    virtual TViewStyle ViewStyle() const = 0;
    /// The linked folder tree; null when none.
    virtual TShellTreeView* LinkedTree() const = 0;

    // Columns.
    virtual int ColumnCount() const = 0;
    /// The column shown at each display position.
    virtual std::vector<int> ColumnOrder() const = 0;
    virtual std::vector<int> ColumnWidths() const = 0;
    /// The list's width in pixels.
    virtual int ListWidth() const = 0;
    /// Replaces every column, then applies `order` (ignored when empty or
    /// not of the columns' size).
    virtual void SetColumns(const std::vector<TShellListColumn>& columns,
                            const std::vector<int>& order) = 0;

    // Rows.
    /// An update bracket of the rows: between the two the store may change
    /// in any way; the end shows the store's count, with no selection and
    /// no focus unless set after it. The store never nests its brackets.
    virtual void BeginRowsUpdate() = 0;
    virtual void EndRowsUpdate() = 0;
    /// The rows' order changed (a sort): selection and focus are the
    /// store's to set again afterwards.
    virtual void RowsReordered() = 0;
    /// The find records of the rows were refreshed: repaint them.
    virtual void RowsRefreshed() = 0;
    virtual void ScrollToRow(int row) = 0;
    /// The focused row; -1 none.
    virtual int FocusedRow() const = 0;
    virtual void SetFocusedRow(int row) = 0;
    virtual bool IsRowSelected(int row) const = 0;
    virtual int SelectedRowCount() const = 0;
    /// Selects or unselects one row, or every row (row -1).
    virtual void SetRowSelected(int row, bool selected) = 0;

    // The list's steps the store runs.
    virtual void DoShListChange(TShellFileList* fileList) = 0;
    /// Whether an enumerated item is listed (OnShFilter).
    virtual bool DoShFilter(TShellFileItem* item) = 0;
    /// Raises or lowers the hold on OnShSelChange; lowering it to 0 fires it
    /// once with the selection's total size and repaints.
    virtual void ChangeSelChangeLock(int delta) = 0;
};

/// One row of the file list.
class TShellFileItem final : public TShellDataItem
{
public:
    /// Takes `relativeIdList`, one item relative to the store's folder.
    TShellFileItem(TShellFileList* store, TItemIdList relativeIdList);

    /// In vsIcon the large icon of the folder's icon interface, else of the
    /// item's icon extractor, else of the large system image list; the base
    /// rule in the other styles.
    int GetIconIndex() override;
    /// The item's index in its store; -1 when not there.
    int GetAbsoluteIndex() override;
    /// The store's folder level + 1.
    int GetLevel() override;
    TItemIdPosition GetParentIdList() override;
    /// Cached: the folder's list followed by RelativeIdList (a copy of it at
    /// the desktop).
    TItemIdPosition GetAbsoluteIdList() override;
    /// The system icon of the absolute list, large in vsIcon, never open.
    int GetOpenIconIndex() override;
    bool IsValid() override;

    /// The find record, filled on first use from the namespace (an item of
    /// the desktop: from the file system by its path); a virtual item is
    /// asked again each time.
    TWin32FindData GetFindData();
    uint32_t GetAttributes();
    /// 64-bit: sizes above 4 GiB do not wrap.
    uint64_t GetFileSize();
    /// "#,##0KB" of the size in kilobytes rounded up; empty for folders and
    /// items outside the file system.
    std::string GetSizeText();
    /// The namespace's type name, at most 80 characters.
    std::string GetTypeName();
    /// The last-write time in the locale's short date and short time.
    std::string GetModifiedText();
    /// The overlay number shifted left by 8 (0x100 shared, 0x200 link); 0
    /// for none.
    int GetOverlayMask();
    /// Gives the item a new name; on success every cached fact is fetched
    /// again at its next use. `result`, when given, gets the namespace's
    /// answer.
    bool Rename(const std::string& newName, HRESULT* result = nullptr);

    /// Refreshes the find record from the file system (the change watcher's
    /// report); items without a path, or whose path may stall by `mayStall`
    /// (by the mount table when not given), are left alone.
    void RefreshFindData(const std::function<bool(const std::string& path)>& mayStall = {});

    TShellFileList* OwnerList;
    int LargeIconIndex = -1;

private:
    /// The absolute list, made afresh.
    TItemIdList MakeAbsoluteIdList() const;
    /// Frees at its end an absolute list that was not cached at its start.
    class TDropsMadeAbsoluteList
    {
    public:
        explicit TDropsMadeAbsoluteList(TShellFileItem& item);
        ~TDropsMadeAbsoluteList();
        TDropsMadeAbsoluteList(const TDropsMadeAbsoluteList&) = delete;
        TDropsMadeAbsoluteList& operator=(const TDropsMadeAbsoluteList&) = delete;

    private:
        TShellFileItem& item_;
        bool hadList_;
    };

public:
    TWin32FindData FindData;
};

/// The store. Owns its items, its folder lists and two watchers.
class TShellFileList
{
public:
    explicit TShellFileList(IShellFileListView* listView);
    ~TShellFileList();
    TShellFileList(const TShellFileList&) = delete;
    TShellFileList& operator=(const TShellFileList&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    /// The item of a row; null outside 0..Count()-1.
    TShellFileItem* GetItem(int index) const;
    /// The row of an item; -1 when it is not in the store.
    int IndexOf(const TShellFileItem* item) const;
    /// Frees every item.
    void Clear();

    /// ShItemCount of FolderIdList: 0 the desktop, -1 without a folder.
    int GetFolderLevel() const;
    TShItemIDType GetFolderType();
    std::shared_ptr<IShellFolder> GetFolder();
    std::shared_ptr<IShellFolder> GetContainingFolder();
    bool FolderHasAttribute(TShItemAttribute attribute);
    bool GetFolderPath(std::string& path);
    bool GetFolderDropTarget(std::shared_ptr<IDropTarget>& target);
    /// The selected rows' relative lists, in row order, with FolderIdList as
    /// their parent; refreshed by each call, owned by the store.
    TShellIDList& GetSelectedIdLists();

    /// Shows another folder: saves the columns, refills, rebuilds the
    /// columns when the folder changes between a file-system folder and a
    /// virtual one. Only while the list's window is ready.
    void SetFolder(TItemIdPosition idList);
    /// Refills from the current folder; the new count.
    int Fill();
    /// Sorts by a column in its direction (SortOrders).
    void Sort(int column);
    /// Sorts by a column keeping the selected rows and the focused row.
    void SortKeepSelection(int column);
    /// Takes the selected rows out of the store.
    void DeleteSelected();

    /// Points both watchers at the folder's path (idle for a virtual one).
    void StartWatching();
    /// Gives both watchers no path.
    void StopWatching();

    TItemIdPosition FolderIdList() const { return FolderIdList_.Data(); }
    IShellFileListView* ListView() const { return ListView_; }

    int SortColumn = 0;
    std::array<int, kShellListColumnCount> SortOrders{1, 1, 1, 1, 1};
    std::vector<int> SavedColumnOrder;
    std::vector<int> SavedColumnWidths;

    /// Drops the sort keys kept with the rows (their facts changed).
    void ForgetSortKeys();

    /// The watchers; null once they ended.
    TShFilesWatcher* NameWatcher() const { return NameWatcher_; }
    TShFilesWatcher* ChangeWatcher() const { return ChangeWatcher_; }

private:
    int Enumerate(const std::shared_ptr<IShellFolder>& folder, int level);
    void SortKeepingSelection(int column);
    void FolderChanged(TShFilesWatcher* watcher, const std::string& path);
    TItemIdPosition FolderParentIdList();
    TItemIdPosition FolderLastItem();
    void FreeFolderLists();

    IShellFileListView* ListView_;
    std::vector<std::unique_ptr<TShellFileItem>> items_;
    TItemIdList FolderIdList_;
    TItemIdList FolderParentIdList_;
    TItemIdList FolderLastItem_;
    TShellIDList SelectedIdLists_;
    /// The keys of one GetSortKeys call for column sortKeysColumn_, in row
    /// order; -1: none kept.
    std::vector<TSortKey> sortKeys_;
    int sortKeysColumn_ = -1;
    /// The direction the rows are in by those keys; 0 when not sorted by them.
    int sortedDirection_ = 0;
    TShFilesWatcher* NameWatcher_ = nullptr;
    TShFilesWatcher* ChangeWatcher_ = nullptr;
};
