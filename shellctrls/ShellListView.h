#pragma once

#include "shell/ShellDbt.h"
#include "shellctrls/ShellCtrlLinks.h"
#include "shellctrls/ShellFileList.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QIcon>
#include <QList>
#include <QStyleOptionViewItem>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAbstractItemView;
class QItemSelection;
class QPainter;
class QRect;
class QItemSelectionModel;
class QContextMenuEvent;
class QKeyEvent;
class QListView;
class QMouseEvent;
class QMenu;
class QStackedLayout;
class QTreeView;
class TShellListView;

/// The images drawn for file attributes: an image list (not owned) and the
/// index of each attribute's image, -1 for none.
struct TAttributesImage
{
    /// Null: the attribute letters are shown instead.
    const QList<QIcon>* ImageList = nullptr;
    int Archive = -1;
    int ReadOnly = -1;
    int Hidden = -1;
    int System = -1;
};

/// The rows of a TShellListView's store as a Qt model: the texts, icon and
/// state of a row are computed when a view asks for them.
class TShellListModel final : public QAbstractTableModel
{
public:
    explicit TShellListModel(TShellListView& list);

    /// Has the views show the store's rows anew (a refill).
    void BeginReset() { beginResetModel(); }
    void EndReset() { endResetModel(); }
    void BeginColumns() { beginResetModel(); }
    void EndColumns() { endResetModel(); }
    /// Has the views repaint every row.
    void RowsChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    TShellListView& list_;
};

/// The file list: the items of one namespace folder with their icons, and
/// in report view five columns of details, over a TShellFileList store. A
/// QTreeView shows the report, a QListView the icon and list styles; both
/// share the model and the selection. Steps and events follow the folder
/// tree's rules (TShellTreeView): each overridable step fires its event;
/// veto flags are `bool&` that start true.
class TShellListView : public QWidget,
                       public IShellFileListView,
                       public IShellListViewLink,
                       public IShellListDeviceClient
{
public:
    explicit TShellListView(QWidget* parent = nullptr);
    ~TShellListView() override;

    // Properties.
    TAttributesImage AttributesImage() const { return AttributesImage_; }
    void SetAttributesImage(const TAttributesImage& image);
    bool IncludeHidden() const override { return IncludeHidden_; }
    void SetIncludeHidden(bool value) override;
    TShVirtuaItems ShVirtuaItems() const override { return ShVirtuaItems_; }
    void SetShVirtuaItems(TShVirtuaItems value) override;
    IShellPopupMenuLink* ShellPopupMenu() const { return ShellPopupMenu_; }
    void SetShellPopupMenu(IShellPopupMenuLink* menu);
    TViewStyle ViewStyle() const override { return ViewStyle_; }
    void SetViewStyle(TViewStyle style);
    bool MultiSelect() const { return MultiSelect_; }
    void SetMultiSelect(bool multiSelect);
    /// The ordinary popup menu; not owned.
    QMenu* PopupMenu() const { return PopupMenu_; }
    void SetPopupMenu(QMenu* menu) { PopupMenu_ = menu; }
    TShellTreeView* ShellTreeView() const { return ShellTreeView_; }

    // Events.
    /// (list, row, the drawing's font, palette and state, DefaultDraw,
    /// SubItemDraw)
    std::function<void(TShellListView*, int, QStyleOptionViewItem&, bool&, bool&)> OnCustomDrawItem;
    /// (list, row, column, the drawing's options, DefaultDraw)
    std::function<void(TShellListView*, int, int, QStyleOptionViewItem&, bool&)>
        OnCustomDrawSubItem;
    /// (list, the selection, press point, x, y, CanDrag)
    std::function<void(TShellListView*, TShellIDList&, QPoint, int, int, bool&)> OnShBeginDrag;
    /// (list, item, keyboard modifiers, column, x, y, DefaultAction)
    std::function<void(TShellListView*, TShellFileItem*, Qt::KeyboardModifiers, int, int, int,
                       bool&)>
        OnShExecute;
    /// (list, item, Accept)
    std::function<void(TShellListView*, TShellFileItem*, bool&)> OnShFilter;
    std::function<void(TShellListView*, TShellFileList*)> OnShListChange;
    /// (list, the selected files' total size in bytes)
    std::function<void(TShellListView*, uint64_t)> OnShSelChange;
    /// (list, row, Allow)
    std::function<void(TShellListView*, int, bool&)> OnEditing;
    /// (list, row, the new text, which the handler may change)
    std::function<void(TShellListView*, int, std::string&)> OnEdited;
    /// (list, column)
    std::function<void(TShellListView*, int)> OnColumnClick;
    /// (list, client point, Handled)
    std::function<void(TShellListView*, QPoint, bool&)> OnContextPopup;
    /// A double-click anywhere on the list.
    std::function<void(TShellListView*)> OnDblClick;

    // Operations.
    void OpenFolder(TItemIdPosition idList) override;
    void RefreshList();
    void StopWatching() override;
    void ResumeWatching() override;
    bool GetFolderPath(std::string& path);
    TItemIdPosition FolderIdList() const { return FileList_->FolderIdList(); }
    void SortByColumn(int column, bool ascending);
    /// Reads and applies the layout of `section` from the layout file.
    void LoadSettings(const std::string& section);
    void SaveSettings(const std::string& section);
    /// The layout file; the program's own (ListLayoutFilePath) unless set.
    std::string LayoutFile() const;
    void SetLayoutFile(const std::string& path) { layoutFile_ = path; }
    TShellFileList* FileList() const { return FileList_.get(); }

    // The rows, as callers read them.
    int RowCount() const;
    /// The first selected row; -1 none.
    int FirstSelectedRow() const;
    bool IsRowSelected(int row) const override;
    int FocusedRow() const override;
    void SetFocusedRow(int row) override;
    void SetRowSelected(int row, bool selected) override;
    int SelectedRowCount() const override;
    /// Starts editing a row's name (CanEdit may refuse).
    void EditCaption(int row);

    // State.
    uint8_t MouseState() const override { return MouseState_; }
    QPoint PressPoint() const { return PressPoint_; }
    bool WindowGone() const { return WindowGone_; }
    uint64_t SelectedSize() const { return SelectedSize_; }
    /// The report and the icon view; one of them is shown.
    QTreeView* ReportView() const { return report_; }
    QListView* IconView() const { return icons_; }
    /// The view of the current style.
    QAbstractItemView* CurrentView() const;
    TShellListModel* ListModel() const { return model_; }

    // IShellFileListView
    QWidget* ListWindow() override { return this; }
    bool WindowReady() const override;
    TShellTreeView* LinkedTree() const override { return ShellTreeView_; }
    int ColumnCount() const override;
    std::vector<int> ColumnOrder() const override;
    std::vector<int> ColumnWidths() const override;
    int ListWidth() const override { return width(); }
    void SetColumns(const std::vector<TShellListColumn>& columns,
                    const std::vector<int>& order) override;
    void BeginRowsUpdate() override;
    void EndRowsUpdate() override;
    void RowsReordered() override;
    void RowsRefreshed() override;
    void ScrollToRow(int row) override;
    void DoShListChange(TShellFileList* fileList) override;
    bool DoShFilter(TShellFileItem* item) override;
    void ChangeSelChangeLock(int delta) override;

    // IShellListViewLink
    QObject* LinkObject() override { return this; }
    void SetFileListFolder(TItemIdPosition idList) override;
    void LinkShellTreeView(TShellTreeView* tree) override;
    void StoreShVirtuaItems(TShVirtuaItems value) override { ShVirtuaItems_ = value; }
    void StoreIncludeHidden(bool value) override { IncludeHidden_ = value; }

    // IShellListDeviceClient: the list ignores volume notices.
    void DeviceChange(TItemIdPosition, uint16_t) override {}

    /// Column data of the model.
    const std::vector<TShellListColumn>& Columns() const { return columns_; }

protected:
    /// A folder row opens (and the tree follows); any other goes to
    /// DoShExecute.
    virtual void ExecuteItem(int row, int column, Qt::KeyboardModifiers modifiers, QPoint point);
    /// OnShExecute, then, unless refused, the desktop's default application.
    virtual void DoShExecute(TShellFileItem* item, Qt::KeyboardModifiers modifiers, int column,
                             QPoint point);
    virtual void DoShSelChange(uint64_t selectedSize);
    /// The item stage of drawing a row: attribute images in icon view, then
    /// OnCustomDrawItem. False: the row is not drawn by default.
    virtual bool CustomDrawItem(int row, QStyleOptionViewItem& option, bool& subItemDraw);
    /// The column stage: OnCustomDrawSubItem, then attribute images in
    /// column 4. False: the column is not drawn by default.
    virtual bool CustomDrawSubItem(int row, int column, QStyleOptionViewItem& option,
                                   QPainter* painter);
    /// Whether a row's name may be edited: the first selected row's item can
    /// be renamed, then OnEditing.
    virtual bool CanEdit(int row);
    virtual void Edit(int row, std::string text);
    /// Column click: OnColumnClick, then the column's direction turns and
    /// the store sorts by it keeping the selection.
    virtual void ColumnClick(int column);
    /// Finds the row whose name contains `text` (case ignored) from
    /// `start`, wrapping when asked; -1 none.
    virtual int FindRow(const QString& text, int start, bool wrap) const;

    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class TShellListModel;
    template <class> friend class TShellListChildView;
    friend class TShellListDelegate;

    void CreateWnd();
    void SelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    uint64_t SizeOfRows(const QItemSelection& rows) const;
    void LabelEdited(int row, const QString& text);
    // From the child views.
    void ViewMousePress(QAbstractItemView* view, QMouseEvent* event);
    void ViewMouseRelease(QMouseEvent* event);
    bool ViewKeyPress(QAbstractItemView* view, QKeyEvent* event, bool editing);
    void ViewDoubleClick(QAbstractItemView* view, QMouseEvent* event, bool editing);
    void ViewContextMenu(QAbstractItemView* view, QContextMenuEvent* event);
    void ViewKeyboardSearch(QAbstractItemView* view, const QString& text);
    bool ViewEdit(const QModelIndex& index);
    void ApplyViewStyle();
    /// The attribute images beside a row's icon in icon view.
    void DrawIconAttributes(int row, QPainter* painter, const QRect& icon);

    TShellListModel* model_;
    QItemSelectionModel* selection_;
    QTreeView* report_;
    QListView* icons_;
    QStackedLayout* stack_;
    std::unique_ptr<TShellFileList> FileList_;
    std::vector<TShellListColumn> columns_;

    TAttributesImage AttributesImage_;
    bool IncludeHidden_ = true;
    bool WindowGone_ = true;
    bool windowCreated_ = false;
    bool CanvasChanged = false;
    uint8_t MouseState_ = 0;
    QPoint PressPoint_;
    TShVirtuaItems ShVirtuaItems_{itBitBucket, itNetWork};
    bool RightButtonDrag_ = false;
    int DropHighlightIndex_ = -1;
    uint64_t SelectedSize_ = 0;
    int SelChangeLock_ = 0;
    std::vector<std::shared_ptr<IDropTarget>> HeldDropTargets_;
    TShellTreeView* ShellTreeView_ = nullptr;
    IShellPopupMenuLink* ShellPopupMenu_ = nullptr;
    QObject* popupObject_ = nullptr;
    QMenu* PopupMenu_ = nullptr;
    TViewStyle ViewStyle_ = vsIcon;
    bool MultiSelect_ = false;
    int rowsUpdate_ = 0;

    std::string layoutFile_;
    QString typedText_;
    QElapsedTimer typedTimer_;
};
