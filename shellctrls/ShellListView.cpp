#include "shellctrls/ShellListView.h"

#include "platform/core/PathCodec.h"
#include "platform/mounts/Mounts.h"
#include "shell/ShellIDFunc.h"
#include "shellctrls/ListLayoutFile.h"
#include "shellctrls/ShellCtrlMessages.h"
#include "shellctrls/ShellTreeView.h"
#include "shellctrls/WaitCursor.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QUrl>
#include <unistd.h>

namespace {

/// The private message that has the list attach its icons again.
constexpr QEvent::Type kRecreateEvent = static_cast<QEvent::Type>(1025);

/// Attribute bits of the find record.
constexpr uint32_t kReadOnly = 0x1;
constexpr uint32_t kHidden = 0x2;
constexpr uint32_t kSystem = 0x4;
constexpr uint32_t kArchive = 0x20;

/// "R", "H", "S", "A" for the attributes present, in that order.
QString AttributeLetters(uint32_t attributes)
{
    QString letters;
    if ((attributes & kReadOnly) != 0)
        letters += QLatin1Char('R');
    if ((attributes & kHidden) != 0)
        letters += QLatin1Char('H');
    if ((attributes & kSystem) != 0)
        letters += QLatin1Char('S');
    if ((attributes & kArchive) != 0)
        letters += QLatin1Char('A');
    return letters;
}

bool OpensEditor(QAbstractItemView* view, QAbstractItemView::EditTrigger trigger)
{
    // A slow second click only arms the view's timer, which asks again.
    return trigger == QAbstractItemView::AllEditTriggers ||
           (trigger != QAbstractItemView::SelectedClicked && (view->editTriggers() & trigger));
}

} // namespace

/// A view of the list's rows that hands its input to the list.
template <class Base> class TShellListChildView final : public Base
{
public:
    explicit TShellListChildView(TShellListView* list) : Base(list), list_(list) {}

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        list_->ViewMousePress(this, event);
        Base::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        Base::mouseReleaseEvent(event);
        list_->ViewMouseRelease(event);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        Base::mouseDoubleClickEvent(event);
        list_->ViewDoubleClick(this, event, Editing());
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!list_->ViewKeyPress(this, event, Editing()))
            Base::keyPressEvent(event);
    }
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        list_->ViewContextMenu(this, event);
    }
    void keyboardSearch(const QString& search) override { list_->ViewKeyboardSearch(this, search); }
    bool edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger,
              QEvent* event) override
    {
        if (OpensEditor(this, trigger) && this->state() != QAbstractItemView::EditingState &&
            !list_->ViewEdit(index))
            return false;
        return Base::edit(index, trigger, event);
    }

private:
    bool Editing() const { return this->state() == QAbstractItemView::EditingState; }

    TShellListView* list_;
};

/// Draws a row through the list's custom-draw steps, with its overlay.
class TShellListDelegate final : public QStyledItemDelegate
{
public:
    explicit TShellListDelegate(TShellListView* list) : QStyledItemDelegate(list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        if (list_->WindowGone_)
            return;
        QStyleOptionViewItem drawn = option;
        initStyleOption(&drawn, index);
        const int row = index.row();
        if (index.column() == 0) {
            bool subItemDraw = false;
            if (!list_->CustomDrawItem(row, drawn, subItemDraw))
                return;
        } else if (!list_->CustomDrawSubItem(row, index.column(), drawn, painter)) {
            return;
        }
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &drawn, painter, widget);
        if (index.column() != 0)
            return;
        const QRect icon = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &drawn, widget);
        TShellFileItem* item = list_->FileList()->GetItem(row);
        const int overlay = item != nullptr ? item->GetOverlayMask() >> 8 : 0;
        const TSysImageList* images = ShSysImageList(list_->ViewStyle() == vsIcon);
        if (overlay > 0 && images != nullptr && !images->Overlay(overlay - 1).isNull())
            images->Overlay(overlay - 1).paint(painter, icon);
        list_->DrawIconAttributes(row, painter, icon);
    }

private:
    TShellListView* list_;
};

// --- The model -----------------------------------------------------------

TShellListModel::TShellListModel(TShellListView& list) : QAbstractTableModel(&list), list_(list) {}

void TShellListModel::RowsChanged()
{
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int TShellListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : list_.FileList_->Count();
}

int TShellListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(list_.columns_.size());
}

QVariant TShellListModel::data(const QModelIndex& index, int role) const
{
    TShellFileItem* item = list_.FileList_->GetItem(index.row());
    if (item == nullptr || list_.WindowGone_)
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case 0:
            return QString::fromStdString(item->GetDisplayName());
        case 1:
            return QString::fromStdString(item->GetSizeText());
        case 2:
            return QString::fromStdString(item->GetTypeName());
        case 3:
            return QString::fromStdString(item->GetModifiedText());
        case 4:
            if (list_.AttributesImage_.ImageList == nullptr)
                return AttributeLetters(item->GetAttributes());
            return QString();
        default:
            return {};
        }
    case Qt::EditRole:
        if (column == 0) {
            // The editor starts from the name's own bytes, so that a part the
            // user leaves alone keeps bytes that are not UTF-8.
            std::string name;
            if (item->GetParentFolder() &&
                SUCCEEDED(item->ParentFolder->GetDisplayNameOf(
                    item->RelativeIdList.Data(), SHGDN_INFOLDER | SHGDN_FORPARSING, name)) &&
                !name.empty())
                return PathToQString(name);
            return QString::fromStdString(item->GetDisplayName());
        }
        return {};
    case Qt::DecorationRole:
        if (column == 0) {
            const TSysImageList* images = ShSysImageList(list_.ViewStyle_ == vsIcon);
            const int icon = item->GetIconIndex();
            if (images != nullptr && icon >= 0)
                return images->Icon(icon);
        }
        return {};
    case Qt::TextAlignmentRole:
        if (column < static_cast<int>(list_.columns_.size()) &&
            list_.columns_[static_cast<size_t>(column)].RightAligned)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

bool TShellListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || index.column() != 0 || !index.isValid())
        return false;
    list_.LabelEdited(index.row(), value.toString());
    return true;
}

QVariant TShellListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(list_.columns_.size()))
        return {};
    const TShellListColumn& column = list_.columns_[static_cast<size_t>(section)];
    if (role == Qt::DisplayRole)
        return column.Caption;
    if (role == Qt::TextAlignmentRole)
        return QVariant((column.RightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags TShellListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0)
        flags |= Qt::ItemIsEditable;
    return flags;
}

// --- Construction ------------------------------------------------------------

TShellListView::TShellListView(QWidget* parent)
    : QWidget(parent), model_(new TShellListModel(*this))
{
    resize(250, 150);
    FileList_ = std::make_unique<TShellFileList>(this);
    for (int column = 0; column < kShellListColumnCount; ++column)
        columns_.push_back(
            {ShellListColumnCaption(column), width() / 5, column == 1 || column == 4});

    selection_ = new QItemSelectionModel(model_, this);
    report_ = new TShellListChildView<QTreeView>(this);
    icons_ = new TShellListChildView<QListView>(this);
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(report_), static_cast<QAbstractItemView*>(icons_)}) {
        view->setModel(model_);
        QItemSelectionModel* own = view->selectionModel();
        view->setSelectionModel(selection_);
        delete own;
        view->setItemDelegate(new TShellListDelegate(this));
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::SelectedClicked);
    }
    report_->setRootIsDecorated(false);
    report_->setItemsExpandable(false);
    report_->setUniformRowHeights(true);
    report_->setAllColumnsShowFocus(true);
    report_->setIconSize(QSize(16, 16));
    report_->header()->setStretchLastSection(false);
    report_->header()->setSectionsMovable(true);
    report_->header()->setSectionsClickable(true);
    report_->header()->setSortIndicatorShown(false);
    for (int column = 0; column < kShellListColumnCount; ++column)
        report_->header()->resizeSection(column, columns_[static_cast<size_t>(column)].Width);
    connect(report_->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { ColumnClick(column); });
    icons_->setResizeMode(QListView::Adjust);
    icons_->setWrapping(true);
    icons_->setUniformItemSizes(true);
    connect(selection_, &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                SelectionChanged(selected, deselected);
            });

    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    stack_->addWidget(report_);
    stack_->addWidget(icons_);
    SetMultiSelect(false);
    ApplyViewStyle();
    ShellCtrlList().RegisterList(this);
}

TShellListView::~TShellListView()
{
    ShellCtrlList().UnregisterList(this);
    HeldDropTargets_.clear();
    WindowGone_ = true;
    if (ShellTreeView_ != nullptr)
        ShellTreeView_->SetShellListView(nullptr);
    // The store goes before the views that ask it for rows.
    delete report_;
    report_ = nullptr;
    delete icons_;
    icons_ = nullptr;
    FileList_.reset();
}

void TShellListView::CreateWnd()
{
    windowCreated_ = true;
    WindowGone_ = false;
    if (!FileList_->FolderIdList()) {
        TItemIdList desktop;
        if (ShSpecialFolderIdList(sfDesktop, desktop))
            OpenFolder(desktop.Data());
    } else {
        const TItemIdList folder = ShCopyIdList(FileList_->FolderIdList());
        FileList_->SetFolder(folder.Data());
    }
}

bool TShellListView::WindowReady() const
{
    return windowCreated_ && !WindowGone_;
}

void TShellListView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!windowCreated_)
        CreateWnd();
    DoShSelChange(SelectedSize_);
}

bool TShellListView::event(QEvent* event)
{
    if (event->type() == kRecreateEvent) {
        // A new icon theme or style: every icon is fetched again.
        for (int row = 0; row < FileList_->Count(); ++row) {
            TShellFileItem* item = FileList_->GetItem(row);
            item->IconIndex = -1;
            item->OpenIconIndex = -1;
            item->LargeIconIndex = -1;
        }
        model_->RowsChanged();
        return true;
    }
    if (event->type() == QEvent::ThemeChange)
        QCoreApplication::postEvent(this, new QEvent(kRecreateEvent));
    return QWidget::event(event);
}

void TShellListView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::StyleChange)
        QCoreApplication::postEvent(this, new QEvent(kRecreateEvent));
    QWidget::changeEvent(event);
}

// --- Properties --------------------------------------------------------------

void TShellListView::SetAttributesImage(const TAttributesImage& image)
{
    AttributesImage_ = image;
    model_->RowsChanged();
}

void TShellListView::SetIncludeHidden(bool value)
{
    if (IncludeHidden_ == value)
        return;
    IncludeHidden_ = value;
    if (ShellTreeView_ != nullptr)
        ShellTreeView_->SetIncludeHidden(value);
    RefreshList();
}

void TShellListView::SetShVirtuaItems(TShVirtuaItems value)
{
    if (ShVirtuaItems_ == value)
        return;
    ShVirtuaItems_ = value;
    if (ShellTreeView_ != nullptr)
        ShellTreeView_->SetShVirtuaItems(value);
    RefreshList();
}

void TShellListView::SetShellPopupMenu(IShellPopupMenuLink* menu)
{
    if (ShellPopupMenu_ == menu)
        return;
    ShellPopupMenu_ = menu;
    popupObject_ = menu != nullptr ? menu->LinkObject() : nullptr;
    if (menu == nullptr)
        return;
    menu->SetAutoPopup(false);
    menu->SetBiDiMode(layoutDirection());
    connect(popupObject_, &QObject::destroyed, this, [this](QObject* removed) {
        // Half destroyed by now: only its object is compared.
        if (removed == popupObject_) {
            ShellPopupMenu_ = nullptr;
            popupObject_ = nullptr;
        }
    });
}

void TShellListView::SetMultiSelect(bool multiSelect)
{
    MultiSelect_ = multiSelect;
    const auto mode =
        multiSelect ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    report_->setSelectionMode(mode);
    icons_->setSelectionMode(mode);
}

void TShellListView::SetViewStyle(TViewStyle style)
{
    if (ViewStyle_ == style)
        return;
    const TViewStyle old = ViewStyle_;
    if (WindowReady() && RowCount() > 0 && (old == vsList || style == vsList))
        ScrollToRow(0);
    ViewStyle_ = style;
    ApplyViewStyle();
}

void TShellListView::ApplyViewStyle()
{
    if (ViewStyle_ == vsReport) {
        stack_->setCurrentWidget(report_);
    } else {
        icons_->setViewMode(ViewStyle_ == vsIcon ? QListView::IconMode : QListView::ListMode);
        icons_->setFlow(ViewStyle_ == vsList ? QListView::TopToBottom : QListView::LeftToRight);
        icons_->setWrapping(true);
        icons_->setIconSize(ViewStyle_ == vsIcon ? QSize(32, 32) : QSize(16, 16));
        icons_->setMovement(QListView::Static);
        stack_->setCurrentWidget(icons_);
    }
    // The icon size of a row depends on the style.
    model_->RowsChanged();
}

QAbstractItemView* TShellListView::CurrentView() const
{
    return ViewStyle_ == vsReport ? static_cast<QAbstractItemView*>(report_) : icons_;
}

// --- Folders -----------------------------------------------------------------

void TShellListView::OpenFolder(TItemIdPosition idList)
{
    if (idList == nullptr || !WindowReady())
        return;
    if (FileList_->FolderIdList() &&
        ShItemCount(idList) == ShItemCount(FileList_->FolderIdList())) {
        std::shared_ptr<IShellFolder> desktop;
        if (SUCCEEDED(ShellNamespace()->GetDesktopFolder(desktop)) && desktop &&
            ShCompareIdLists(desktop, FileList_->FolderIdList(), idList) == 0)
            return;
    }
    FileList_->SetFolder(idList);
    // The process works in the folder shown, unless it lies on a mount that
    // may stall (changing into it could block).
    std::string path;
    if (FileList_->FolderHasAttribute(iaFileSystem) && FileList_->GetFolderPath(path) &&
        !path.empty() && !PathMayStall(ReadMounts(), path) && chdir(path.c_str()) != 0) {
        // Not being able to work there changes nothing shown.
    }
}

void TShellListView::SetFileListFolder(TItemIdPosition idList)
{
    FileList_->SetFolder(idList);
}

void TShellListView::LinkShellTreeView(TShellTreeView* tree)
{
    ShellTreeView_ = tree;
}

void TShellListView::RefreshList()
{
    if (!WindowReady())
        return;
    FileList_->Fill();
    model_->RowsChanged();
}

void TShellListView::StopWatching()
{
    FileList_->StopWatching();
}

void TShellListView::ResumeWatching()
{
    FileList_->StartWatching();
}

bool TShellListView::GetFolderPath(std::string& path)
{
    return FileList_->GetFolderPath(path);
}

void TShellListView::SortByColumn(int column, bool ascending)
{
    if (column < 0 || column >= kShellListColumnCount)
        return;
    FileList_->SortOrders[static_cast<size_t>(column)] = ascending ? 1 : -1;
    FileList_->SortKeepSelection(column);
}

void TShellListView::ColumnClick(int column)
{
    if (OnColumnClick)
        OnColumnClick(this, column);
    if (column < 0 || column >= kShellListColumnCount)
        return;
    const TWaitCursor busy;
    int& order = FileList_->SortOrders[static_cast<size_t>(column)];
    order = -order;
    FileList_->SortKeepSelection(column);
}

// --- Columns and rows (what the store asks) --------------------------------

int TShellListView::ColumnCount() const
{
    return static_cast<int>(columns_.size());
}

std::vector<int> TShellListView::ColumnOrder() const
{
    std::vector<int> order;
    for (int position = 0; position < ColumnCount(); ++position)
        order.push_back(report_->header()->logicalIndex(position));
    return order;
}

std::vector<int> TShellListView::ColumnWidths() const
{
    std::vector<int> widths;
    for (int column = 0; column < ColumnCount(); ++column)
        widths.push_back(report_->header()->sectionSize(column));
    return widths;
}

void TShellListView::SetColumns(const std::vector<TShellListColumn>& columns,
                                const std::vector<int>& order)
{
    model_->BeginColumns();
    columns_ = columns;
    model_->EndColumns();
    QHeaderView* header = report_->header();
    for (int column = 0; column < ColumnCount(); ++column) {
        header->moveSection(header->visualIndex(column), column);
        header->resizeSection(column, columns_[static_cast<size_t>(column)].Width);
    }
    if (order.size() == columns_.size()) {
        for (int position = 0; position < ColumnCount(); ++position)
            header->moveSection(header->visualIndex(order[static_cast<size_t>(position)]),
                                position);
    }
}

void TShellListView::BeginRowsUpdate()
{
    if (rowsUpdate_++ == 0) {
        setUpdatesEnabled(false);
        model_->BeginReset();
    }
}

void TShellListView::EndRowsUpdate()
{
    if (rowsUpdate_ == 0 || --rowsUpdate_ > 0)
        return;
    model_->EndReset();
    SelectedSize_ = 0;
    setUpdatesEnabled(true);
}

void TShellListView::RowsReordered()
{
    if (rowsUpdate_ > 0)
        return;
    model_->BeginReset();
    model_->EndReset();
}

void TShellListView::RowsRefreshed()
{
    model_->RowsChanged();
}

int TShellListView::RowCount() const
{
    return FileList_->Count();
}

void TShellListView::ScrollToRow(int row)
{
    if (rowsUpdate_ > 0 || row < 0 || row >= RowCount())
        return;
    CurrentView()->scrollTo(model_->index(row, 0));
}

int TShellListView::FocusedRow() const
{
    const QModelIndex current = selection_->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TShellListView::SetFocusedRow(int row)
{
    if (rowsUpdate_ > 0 || row < 0 || row >= RowCount())
        return;
    selection_->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::NoUpdate);
}

bool TShellListView::IsRowSelected(int row) const
{
    return selection_->isRowSelected(row, {});
}

int TShellListView::SelectedRowCount() const
{
    return static_cast<int>(selection_->selectedRows().size());
}

int TShellListView::FirstSelectedRow() const
{
    int first = -1;
    for (const QItemSelectionRange& range : selection_->selection()) {
        if (first < 0 || range.top() < first)
            first = range.top();
    }
    return first;
}

void TShellListView::SetRowSelected(int row, bool selected)
{
    if (rowsUpdate_ > 0 || RowCount() == 0 || ColumnCount() == 0)
        return;
    const int first = row < 0 ? 0 : row;
    const int last = row < 0 ? RowCount() - 1 : row;
    if (first >= RowCount())
        return;
    const QItemSelection rows(model_->index(first, 0), model_->index(last, ColumnCount() - 1));
    selection_->select(rows,
                       selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

// --- Events of the store -------------------------------------------------------

void TShellListView::DoShListChange(TShellFileList* fileList)
{
    if (OnShListChange)
        OnShListChange(this, fileList);
}

bool TShellListView::DoShFilter(TShellFileItem* item)
{
    bool accept = true;
    if (OnShFilter)
        OnShFilter(this, item, accept);
    return accept;
}

void TShellListView::ChangeSelChangeLock(int delta)
{
    SelChangeLock_ += delta;
    if (delta >= 0)
        return;
    if (SelChangeLock_ <= 0) {
        SelChangeLock_ = 0;
        DoShSelChange(SelectedSize_);
    }
    CurrentView()->viewport()->update();
}

void TShellListView::DoShSelChange(uint64_t selectedSize)
{
    if (OnShSelChange)
        OnShSelChange(this, selectedSize);
}

uint64_t TShellListView::SizeOfRows(const QItemSelection& rows) const
{
    uint64_t size = 0;
    for (const QItemSelectionRange& range : rows) {
        // A range spans the columns of its rows: each row counts once.
        if (range.left() != 0)
            continue;
        for (int row = range.top(); row <= range.bottom(); ++row) {
            if (TShellFileItem* item = FileList_->GetItem(row))
                size += item->GetFileSize();
        }
    }
    return size;
}

void TShellListView::SelectionChanged(const QItemSelection& selected,
                                      const QItemSelection& deselected)
{
    SelectedSize_ += SizeOfRows(selected);
    const uint64_t gone = SizeOfRows(deselected);
    SelectedSize_ = gone > SelectedSize_ ? 0 : SelectedSize_ - gone;
    if (SelChangeLock_ <= 0)
        DoShSelChange(SelectedSize_);
}

// --- Drawing ---------------------------------------------------------------

bool TShellListView::CustomDrawItem(int row, QStyleOptionViewItem& option, bool& subItemDraw)
{
    bool defaultDraw = true;
    TShellFileItem* item = FileList_->GetItem(row);
    if (item == nullptr)
        return defaultDraw;
    subItemDraw = (item->GetAttributes() & (kReadOnly | kHidden | kSystem | kArchive)) != 0;
    if (OnCustomDrawItem)
        OnCustomDrawItem(this, row, option, defaultDraw, subItemDraw);
    return defaultDraw;
}

void TShellListView::DrawIconAttributes(int row, QPainter* painter, const QRect& icon)
{
    const QList<QIcon>* images = AttributesImage_.ImageList;
    TShellFileItem* item = FileList_->GetItem(row);
    if (ViewStyle_ != vsIcon || images == nullptr || item == nullptr)
        return;
    const uint32_t attributes = item->GetAttributes();
    const int size = 16;
    int bottom = icon.bottom();
    const std::pair<uint32_t, int> marks[] = {{kArchive, AttributesImage_.Archive},
                                              {kSystem, AttributesImage_.System},
                                              {kHidden, AttributesImage_.Hidden},
                                              {kReadOnly, AttributesImage_.ReadOnly}};
    for (const auto& [bit, image] : marks) {
        if ((attributes & bit) == 0)
            continue;
        if (image >= 0 && image < images->size())
            images->at(image).paint(painter,
                                    QRect(icon.left() + 5 - size, bottom - size, size, size));
        bottom -= size + 1;
    }
}

bool TShellListView::CustomDrawSubItem(int row, int column, QStyleOptionViewItem& option,
                                       QPainter* painter)
{
    bool defaultDraw = true;
    if (OnCustomDrawSubItem)
        OnCustomDrawSubItem(this, row, column, option, defaultDraw);
    const QList<QIcon>* images = AttributesImage_.ImageList;
    TShellFileItem* item = FileList_->GetItem(row);
    if (!defaultDraw || column != 4 || images == nullptr || item == nullptr)
        return defaultDraw;
    painter->save();
    painter->setClipRect(option.rect);
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    painter->fillRect(option.rect, selected ? option.palette.highlight() : option.palette.base());
    const uint32_t attributes = item->GetAttributes();
    const int size = 16;
    int x = option.rect.left();
    const std::pair<uint32_t, int> marks[] = {{kReadOnly, AttributesImage_.ReadOnly},
                                              {kHidden, AttributesImage_.Hidden},
                                              {kSystem, AttributesImage_.System},
                                              {kArchive, AttributesImage_.Archive}};
    for (const auto& [bit, image] : marks) {
        if ((attributes & bit) == 0)
            continue;
        if (image >= 0 && image < images->size())
            images->at(image).paint(painter, QRect(x, option.rect.top() + 2, size, size));
        x += size;
    }
    painter->restore();
    return false;
}

// --- Input ---------------------------------------------------------------------

void TShellListView::ViewMousePress(QAbstractItemView* view, QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (!view->indexAt(point).isValid())
        return; // a press over empty space leaves the state as it is
    if (event->button() == Qt::LeftButton)
        MouseState_ = 1;
    else if (event->button() == Qt::RightButton)
        MouseState_ = 2;
    else
        return;
    PressPoint_ = point;
}

void TShellListView::ViewMouseRelease(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        MouseState_ = 0;
}

void TShellListView::ViewDoubleClick(QAbstractItemView* view, QMouseEvent* event, bool editing)
{
    if (OnDblClick)
        OnDblClick(this);
    const QPoint point = event->position().toPoint();
    const QModelIndex index = view->indexAt(point);
    if (event->button() == Qt::LeftButton && index.isValid() && !editing)
        ExecuteItem(index.row(), index.column(), event->modifiers(), point);
}

bool TShellListView::ViewKeyPress(QAbstractItemView* view, QKeyEvent* event, bool editing)
{
    if ((event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) || editing)
        return false;
    const QModelIndex current = view->currentIndex();
    if (!current.isValid())
        return false;
    ExecuteItem(current.row(), current.column(), event->modifiers(),
                view->visualRect(current).center());
    return true;
}

void TShellListView::ViewKeyboardSearch(QAbstractItemView* view, const QString& text)
{
    if (text.isEmpty())
        return;
    // Letters typed in quick succession make one search from the current
    // row; a new search starts after it.
    const bool continuing =
        typedTimer_.isValid() && typedTimer_.elapsed() < QApplication::keyboardInputInterval();
    typedTimer_.start();
    typedText_ = continuing ? typedText_ + text : text;
    const int current = FocusedRow();
    const int start =
        current < 0 ? 0 : (continuing ? current : (current + 1) % qMax(1, RowCount()));
    const int found = FindRow(typedText_, start, true);
    if (found < 0)
        return;
    const QModelIndex index = model_->index(found, 0);
    selection_->setCurrentIndex(index,
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(index);
}

int TShellListView::FindRow(const QString& text, int start, bool wrap) const
{
    const int count = RowCount();
    if (count == 0 || start < 0 || start >= count)
        return -1;
    const QLocale locale;
    const QString wanted = locale.toUpper(text);
    int row = start;
    do {
        TShellFileItem* item = FileList_->GetItem(row);
        if (item == nullptr)
            return -1;
        if (locale.toUpper(QString::fromStdString(item->GetDisplayName())).contains(wanted))
            return row;
        if (++row >= count) {
            if (!wrap)
                return -1;
            row = 0;
        }
    } while (row != start);
    return -1;
}

void TShellListView::ExecuteItem(int row, int column, Qt::KeyboardModifiers modifiers, QPoint point)
{
    TShellFileItem* item = FileList_->GetItem(row);
    if (item == nullptr)
        return;
    if (item->HasAttribute(iaFolder)) {
        const TItemIdList folder = ShCopyIdList(item->GetAbsoluteIdList());
        OpenFolder(folder.Data());
        if (ShellTreeView_ != nullptr)
            ShellTreeView_->SelectIdList(folder.Data());
        return;
    }
    DoShExecute(item, modifiers, column, point);
}

void TShellListView::DoShExecute(TShellFileItem* item, Qt::KeyboardModifiers modifiers, int column,
                                 QPoint point)
{
    bool defaultAction = true;
    if (OnShExecute)
        OnShExecute(this, item, modifiers, column, point.x(), point.y(), defaultAction);
    if (!defaultAction)
        return;
    // The desktop's default application for the file; the outcome is not
    // reported, as the shell's own execution reports nothing here.
    const std::string path = item->GetPath();
    if (!path.empty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(PathToQString(path)));
}

void TShellListView::ViewContextMenu(QAbstractItemView*, QContextMenuEvent* event)
{
    bool handled = false;
    if (OnContextPopup)
        OnContextPopup(this, event->pos(), handled);
    if (!handled && PopupMenu_ != nullptr) {
        PopupMenu_->popup(event->globalPos());
        handled = true;
    }
    if (!handled && MouseState_ == 2 && ShellPopupMenu_ != nullptr) {
        StopWatching();
        TShellIDList& items = FileList_->GetSelectedIdLists();
        std::shared_ptr<IShellFolder> folder;
        if (items.Count() > 0 && items.GetFolder(folder)) {
            ShellPopupMenu_->SetPopupComponent(this);
            // What the list does after the menu's answer comes with the
            // menu's own commands.
            ShellPopupMenu_->Popup(items, event->globalPos());
        }
        ResumeWatching();
    }
    MouseState_ = 0;
    event->accept();
}

// --- Renaming ----------------------------------------------------------------

void TShellListView::EditCaption(int row)
{
    if (row < 0 || row >= RowCount())
        return;
    QAbstractItemView* view = CurrentView();
    const QModelIndex index = model_->index(row, 0);
    view->setCurrentIndex(index);
    view->edit(index);
}

bool TShellListView::ViewEdit(const QModelIndex& index)
{
    return index.isValid() && CanEdit(index.row());
}

bool TShellListView::CanEdit(int row)
{
    TShellFileItem* item = FileList_->GetItem(FirstSelectedRow());
    if (item == nullptr || !item->HasAttribute(iaCanRename))
        return false;
    bool allow = true;
    if (OnEditing)
        OnEditing(this, row, allow);
    return allow;
}

void TShellListView::LabelEdited(int row, const QString& text)
{
    // The rename runs once the editor has closed, as in the folder tree.
    TShellFileItem* edited = FileList_->GetItem(row);
    const std::string name = QStringToPath(text);
    QMetaObject::invokeMethod(
        this,
        [this, edited, name] {
            const int now = FileList_->IndexOf(edited);
            if (now >= 0)
                Edit(now, name);
        },
        Qt::QueuedConnection);
}

void TShellListView::Edit(int row, std::string text)
{
    if (OnEdited)
        OnEdited(this, row, text);
    TShellFileItem* item = FileList_->GetItem(row);
    if (item == nullptr)
        return;
    StopWatching();
    HRESULT result = S_OK;
    const bool renamed = item->Rename(text, &result);
    ResumeWatching();
    if (renamed)
        Q_EMIT model_->dataChanged(model_->index(row, 0), model_->index(row, ColumnCount() - 1));
    else
        ShowRenameFailure(window(), result, text);
}

// --- The layout file -----------------------------------------------------------

std::string TShellListView::LayoutFile() const
{
    return layoutFile_.empty() ? ListLayoutFilePath() : layoutFile_;
}

void TShellListView::LoadSettings(const std::string& section)
{
    if (!WindowReady())
        return;
    const TListLayout layout = LoadListLayout(LayoutFile(), section, ColumnCount());
    if (layout.NothingToApply())
        return;
    QHeaderView* header = report_->header();
    if (layout.ColumnOrder && layout.ColumnOrder->size() == columns_.size()) {
        for (int position = 0; position < ColumnCount(); ++position)
            header->moveSection(
                header->visualIndex((*layout.ColumnOrder)[static_cast<size_t>(position)]),
                position);
    }
    if (layout.ColumnWidths && layout.ColumnWidths->size() == columns_.size()) {
        for (int column = 0; column < ColumnCount(); ++column)
            header->resizeSection(column, (*layout.ColumnWidths)[static_cast<size_t>(column)]);
    }
    SetViewStyle(static_cast<TViewStyle>(layout.ViewStyle));
    for (int column = 0; column < kShellListColumnCount; ++column)
        FileList_->SortOrders[static_cast<size_t>(column)] =
            layout.SortOrders[static_cast<size_t>(column)];
    SortByColumn(layout.SortType, true);
}

void TShellListView::SaveSettings(const std::string& section)
{
    if (!WindowReady())
        return;
    TListLayoutSave values;
    if (ColumnCount() > 1) {
        values.ColumnOrder = ColumnOrder();
        values.ColumnWidths = ColumnWidths();
    }
    values.ViewStyle = ViewStyle_;
    for (int column = 0; column < kShellListColumnCount; ++column)
        values.SortOrders[static_cast<size_t>(column)] =
            FileList_->SortOrders[static_cast<size_t>(column)];
    values.SortType = FileList_->SortColumn;
    // A layout that cannot be saved costs the user nothing else.
    SaveListLayout(LayoutFile(), section, values);
}
