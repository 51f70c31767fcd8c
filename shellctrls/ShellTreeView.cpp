#include "shellctrls/ShellTreeView.h"

#include "platform/core/PathCodec.h"
#include "platform/kernel/Kernel.h"
#include "platform/mounts/Mounts.h"
#include "shell/DeviceChangeData.h"
#include "shell/ShellNotify.h"
#include "shellctrls/Finally.h"
#include "shellctrls/ShellCtrlMessages.h"
#include "shellctrls/ShellFilters.h"
#include "shellctrls/WaitCursor.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <unistd.h>

namespace {

/// The private message that has the tree fetch its icons again.
constexpr QEvent::Type kRefreshIconsEvent = static_cast<QEvent::Type>(1025);

/// Command codes of the shell context menu that the tree acts on.
constexpr int kMenuDeleted = 18;
constexpr int kMenuRename = 19;
constexpr int kMenuCut = 25;

/// Updates off for a scope; brackets nest.
class TUpdateBracket
{
public:
    explicit TUpdateBracket(QWidget* widget)
        : widget_(widget), wasEnabled_(widget->updatesEnabled())
    {
        widget_->setUpdatesEnabled(false);
    }
    ~TUpdateBracket() { widget_->setUpdatesEnabled(wasEnabled_); }
    TUpdateBracket(const TUpdateBracket&) = delete;
    TUpdateBracket& operator=(const TUpdateBracket&) = delete;

private:
    QWidget* widget_;
    bool wasEnabled_;
};

/// Draws the selected node with its open icon, a cut node ghosted, the drop
/// highlight as a hovered row, and the overlay over the icon.
class TShellTreeDelegate final : public QStyledItemDelegate
{
public:
    explicit TShellTreeDelegate(TShellTreeView* tree) : QStyledItemDelegate(tree), tree_(tree) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if ((option->state & QStyle::State_Selected) != 0) {
            const QIcon open = index.data(TShellTreeModel::SelectedIconRole).value<QIcon>();
            if (!open.isNull())
                option->icon = open;
        }
        if (index.data(TShellTreeModel::CutRole).toBool()) {
            option->icon = QIcon(option->icon.pixmap(option->decorationSize, QIcon::Disabled));
            option->palette.setColor(QPalette::Text,
                                     option->palette.color(QPalette::Disabled, QPalette::Text));
        }
        if (tree_->DropHighlightNode() != nullptr &&
            tree_->TreeModel()->NodeOf(index) == tree_->DropHighlightNode())
            option->state |= QStyle::State_MouseOver;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        if (tree_->DropHighlightNode() != nullptr &&
            tree_->TreeModel()->NodeOf(index) == tree_->DropHighlightNode()) {
            // Not every style draws hovered rows; the mark must show anyway.
            QColor mark = option.palette.color(QPalette::Highlight);
            mark.setAlpha(70);
            painter->fillRect(option.rect, mark);
        }
        QStyledItemDelegate::paint(painter, option, index);
        const int slot = index.data(TShellTreeModel::OverlayRole).toInt();
        const TSysImageList* images = ShSysImageList(false);
        if (slot < 0 || images == nullptr)
            return;
        const QIcon overlay = images->Overlay(slot);
        if (overlay.isNull())
            return;
        QStyleOptionViewItem decorated = option;
        initStyleOption(&decorated, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        overlay.paint(painter,
                      style->subElementRect(QStyle::SE_ItemViewItemDecoration, &decorated, widget));
    }

private:
    TShellTreeView* tree_;
};

bool IsDesktopList(TItemIdPosition list)
{
    return ShItemCount(list) == 0;
}

/// Whether a volume root can be looked into now, without a wait on a
/// stalled server or an absent medium.
bool VolumeReadable(const std::string& path)
{
    if (path.empty())
        return false;
    const std::vector<TMount> mounts = ReadMounts();
    const TMount* mount = MountOfPath(mounts, path);
    if (mount == nullptr)
        return false;
    if (mount->MayStall())
        return true; // not probed: the look itself could stall
    return access(path.c_str(), R_OK | X_OK) == 0;
}

} // namespace

TShellTreeView::TShellTreeView(QWidget* parent)
    : QTreeView(parent), model_(new TShellTreeModel(*this))
{
    setModel(model_);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    // Expansion goes through CanExpand; the view's own toggles are taken over.
    setExpandsOnDoubleClick(false);
    setAnimated(false);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setItemDelegate(new TShellTreeDelegate(this));
    connect(this, &QTreeView::expanded, this, [this] { ScheduleWatchUpdate(); });
    connect(this, &QTreeView::collapsed, this, [this] { ScheduleWatchUpdate(); });

    DirWatcher_ = new TShDirWatcher(
        {}, FILE_NOTIFY_CHANGE_DIR_NAME,
        [this](TShDirWatcher*, std::unique_ptr<TDeviceChangeData> data) {
            DeviceChanged(std::move(data));
        },
        [this](TShDirWatcher*) { DirectoryChanged(); });
    DirWatcher_->OnTerminate = [this](TThread*) { DirWatcher_ = nullptr; };
    ShellCtrlList().RegisterTree(this);
    CreateWnd();
}

TShellTreeView::~TShellTreeView()
{
    destroying_ = true;
    ShellCtrlList().UnregisterTree(this);
    HeldDropTargets_.clear();
    if (DirWatcher_ != nullptr) {
        DirWatcher_->OnTerminate = nullptr;
        DirWatcher_->ShutDown();
        DirWatcher_ = nullptr;
    }
    if (ShellListView_ != nullptr)
        ShellListView_->LinkShellTreeView(nullptr);
    if (ShellComboBox_ != nullptr)
        ShellComboBox_->LinkShellTreeView(nullptr);
    PopupIdList_.Clear();
    PopupIdList_.SetParentIdList(nullptr);
}

// --- Window creation and destruction -----------------------------------

void TShellTreeView::CreateWnd()
{
    WindowGone_ = false;
    BuildRoot();
    if (SavedSelection_) {
        SelectIdList(SavedSelection_.Data());
        ShFreeIdList(SavedSelection_);
    }
    ResumeWatching();
}

void TShellTreeView::DestroyWnd()
{
    WindowGone_ = true;
    StopWatching();
    TUpdateBracket bracket(this);
    SavedSelection_ = ShCopyIdList(SelectedIdList());
    model_->DeleteAll();
}

void TShellTreeView::BuildRoot()
{
    if (WindowGone_)
        return;
    TItemIdList desktop;
    TItemIdList desktopDirectory;
    if (!ShSpecialFolderIdList(sfDesktop, desktop) ||
        !ShSpecialFolderIdList(sfDesktopDirectory, desktopDirectory))
        return;
    TUpdateBracket bracket(this);
    auto item = std::make_unique<TShellFolderItem>(nullptr, std::move(desktopDirectory),
                                                   std::move(desktop));
    std::string text = item->GetDisplayName();
    TShellTreeNode* root = model_->AddChild(nullptr, std::move(item), std::move(text));
    root->FolderItem()->AttachNode(root);
    ExpandNode(root);
    if (TShellTreeNode* first = root->FirstChild())
        ExpandNode(first);
    SetSelected(root);
}

// --- Properties and links ----------------------------------------------

void TShellTreeView::SetIncludeHidden(bool value)
{
    if (IncludeHidden_ == value)
        return;
    IncludeHidden_ = value;
    if (ShellListView_ != nullptr)
        ShellListView_->SetIncludeHidden(value);
    RefreshVisible();
    if (ShellComboBox_ != nullptr) {
        ShellComboBox_->StoreIncludeHidden(value);
        ResyncComboBox();
    }
    if (ShellListView_ != nullptr)
        ShellListView_->SetFileListFolder(SelectedIdList());
}

void TShellTreeView::SetShVirtuaItems(TShVirtuaItems value)
{
    if (ShVirtuaItems_ == value)
        return;
    ShVirtuaItems_ = value;
    if (ShellListView_ != nullptr)
        ShellListView_->SetShVirtuaItems(value);
    RefreshVisible();
    if (ShellComboBox_ != nullptr) {
        ShellComboBox_->StoreShVirtuaItems(value);
        ResyncComboBox();
    }
}

void TShellTreeView::ResyncComboBox()
{
    ShellComboBox_->RebuildItems();
    ShellComboBox_->SelectIdList(SelectedIdList());
}

void TShellTreeView::SetCheckboxes(bool value)
{
    if (Checkboxes_ == value)
        return;
    Checkboxes_ = value;
    model_->SetCheckboxes(value);
    if (value) {
        model_->AllNodesChanged();
        return;
    }
    // Check boxes only go with a new window; its steps keep the selection.
    DestroyWnd();
    CreateWnd();
}

void TShellTreeView::SetReadOnly(bool readOnly)
{
    ReadOnly_ = readOnly;
    setEditTriggers(readOnly
                        ? QAbstractItemView::NoEditTriggers
                        : QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

void TShellTreeView::SetShellListView(IShellListViewLink* list)
{
    if (ShellListView_ == list)
        return;
    if (list != nullptr) {
        list->LinkShellTreeView(this);
        list->SetShVirtuaItems(ShVirtuaItems_);
        list->StoreIncludeHidden(IncludeHidden_);
        WatchLink(list->LinkObject());
        list->OpenFolder(SelectedIdList());
    } else if (ShellListView_ != nullptr) {
        ShellListView_->LinkShellTreeView(nullptr);
    }
    ShellListView_ = list;
    listObject_ = list != nullptr ? list->LinkObject() : nullptr;
}

void TShellTreeView::SetShellComboBox(IShellComboBoxLink* combo)
{
    if (ShellComboBox_ == combo)
        return;
    if (combo != nullptr) {
        combo->LinkShellTreeView(this);
        combo->StoreShVirtuaItems(ShVirtuaItems_);
        combo->StoreIncludeHidden(IncludeHidden_);
        WatchLink(combo->LinkObject());
        ShellComboBox_ = combo;
        ResyncComboBox();
    } else if (ShellComboBox_ != nullptr) {
        ShellComboBox_->LinkShellTreeView(nullptr);
    }
    ShellComboBox_ = combo;
    comboObject_ = combo != nullptr ? combo->LinkObject() : nullptr;
}

void TShellTreeView::SetShellPopupMenu(IShellPopupMenuLink* menu)
{
    if (ShellPopupMenu_ == menu)
        return;
    ShellPopupMenu_ = menu;
    popupObject_ = menu != nullptr ? menu->LinkObject() : nullptr;
    if (menu != nullptr) {
        menu->SetAutoPopup(false);
        menu->SetBiDiMode(layoutDirection());
        WatchLink(popupObject_);
    }
}

void TShellTreeView::WatchLink(QObject* object)
{
    if (object != nullptr)
        connect(object, &QObject::destroyed, this,
                [this](QObject* removed) { LinkRemoved(removed); });
}

void TShellTreeView::LinkRemoved(QObject* object)
{
    // The partner is half destroyed by now: only its object is compared.
    if (object == comboObject_) {
        ShellComboBox_ = nullptr;
        comboObject_ = nullptr;
    }
    if (object == popupObject_) {
        ShellPopupMenu_ = nullptr;
        popupObject_ = nullptr;
    }
    if (object == listObject_) {
        ShellListView_ = nullptr;
        listObject_ = nullptr;
    }
}

// --- Selecting ---------------------------------------------------------

TShellTreeNode* TShellTreeView::Selected() const
{
    const QModelIndexList rows = selectionModel()->selectedIndexes();
    return rows.isEmpty() ? nullptr : model_->NodeOf(rows.first());
}

void TShellTreeView::SetSelected(TShellTreeNode* node)
{
    if (node == nullptr || node == Selected() || !CanChange(node))
        return;
    SelectNode(node, true);
}

void TShellTreeView::SelectNode(TShellTreeNode* node, bool scroll)
{
    const QModelIndex index = model_->IndexOf(node);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    // Scrolling expands hidden ancestors, which must go through CanExpand.
    if (scroll && IsVisibleNode(node))
        scrollTo(index);
}

void TShellTreeView::SelectPath(const std::string& path)
{
    TItemIdList list;
    if (ShIdListFromPath(path, list))
        SelectIdList(list.Data());
}

std::string TShellTreeView::SelectedPath()
{
    TShellTreeNode* node = Selected();
    return node != nullptr && node->HasItem() ? node->FolderItem()->GetPath() : std::string();
}

void TShellTreeView::SelectIdList(TItemIdPosition idList)
{
    if (idList == nullptr)
        return;
    TShellTreeNode* selected = Selected();
    if (selected == nullptr || !selected->HasItem()) {
        SetSelected(FindNode(idList));
        return;
    }
    if (selected->GetLevel() != ShItemCount(idList)) {
        SetSelected(FindNode(idList));
        return;
    }
    std::shared_ptr<IShellFolder> desktop;
    if (SUCCEEDED(ShellNamespace()->GetDesktopFolder(desktop)) && desktop &&
        ShCompareIdLists(desktop, selected->FolderItem()->GetAbsoluteIdList(), idList) != 0)
        SetSelected(FindNode(idList));
}

TItemIdPosition TShellTreeView::SelectedIdList()
{
    TShellTreeNode* node = Selected();
    if (node != nullptr && node->HasItem())
        return node->FolderItem()->GetAbsoluteIdList();
    node = Root();
    return node != nullptr && node->HasItem() ? node->FolderItem()->GetAbsoluteIdList() : nullptr;
}

TShellTreeNode* TShellTreeView::FindNode(TItemIdPosition idList)
{
    TShellTreeNode* result = Root();
    if (result == nullptr || idList == nullptr)
        return result;
    TShellTreeNode* node = result->FirstChild();
    TItemIdPosition position = idList;
    while (node != nullptr && node->HasItem()) {
        TItemIdList first = ShCopyFirstItem(position);
        if (!first)
            break;
        TShellFolderItem* item = node->FolderItem();
        item->GetParentFolder();
        const int order =
            ShCompareIdLists(item->ParentFolder, item->RelativeIdList.Data(), first.Data());
        if (order == 0) {
            position = ShNextItemOrNil(position);
            if (position == nullptr)
                return node;
            ExpandNode(node);
            TShellTreeNode* child = node->FirstChild();
            if (child == nullptr) {
                FillChildren(node);
                child = node->FirstChild();
            }
            node = child;
        } else if (order == 1) {
            // The sought folder is missing from the shown children: it is new.
            if (ShellComboBox_ != nullptr)
                ShellComboBox_->RebuildItems();
            TShellTreeNode* parent = node->Parent();
            const QPersistentModelIndex kept(model_->IndexOf(node));
            FillChildren(parent);
            if (!kept.isValid() || model_->NodeOf(kept)->Parent() != parent)
                break;
            node = node->PrevSibling();
        } else if (order == 2) {
            TShellTreeNode* next = node->NextSibling();
            if (next == nullptr) {
                const QPersistentModelIndex kept(model_->IndexOf(node));
                FillChildren(node->Parent());
                if (!kept.isValid())
                    break;
                next = node->NextSibling();
            }
            node = next;
        } else {
            break;
        }
    }
    return result;
}

// --- Filling -------------------------------------------------------------

int TShellTreeView::EnumChildFolders(const std::shared_ptr<IShellFolder>& folder,
                                     TShellFolderItem* parentItem,
                                     std::vector<std::unique_ptr<TShellFolderItem>>& list)
{
    if (folder == nullptr || parentItem == nullptr)
        return 0;
    const uint32_t flags = SHCONTF_FOLDERS | (IncludeHidden_ ? SHCONTF_INCLUDEHIDDEN : 0);
    std::shared_ptr<IEnumIDList> children;
    if (FAILED(folder->EnumObjects(this, flags, children)) || !children)
        return 0;
    const int parentLevel = parentItem->GetLevel();
    // Only the first two levels filter by kind; below them no child is asked
    // anything here, which matters on a mount that may stall.
    const TShItemIDType parentType = parentLevel == 1 ? parentItem->GetItemType() : itUnknown;
    const bool filtered = parentLevel == 0 || parentType == itMyComputer || parentType == itNetWork;
    TItemIdList relative;
    while (children->Next(relative) == S_OK) {
        TItemIdList absolute =
            parentLevel == 0 ? ShCopyIdList(relative.Data())
                             : ShConcatIdLists(parentItem->GetAbsoluteIdList(), relative.Data());
        auto item =
            std::make_unique<TShellFolderItem>(nullptr, std::move(relative), std::move(absolute));
        relative = TItemIdList();
        // Every child lives in the folder just enumerated; binding it once
        // per child from the desktop would cost as much as the enumeration.
        item->ParentFolder = folder;
        if (filtered && !KeptByFilter(parentLevel, parentType, item->GetItemType(), ShVirtuaItems_))
            continue;
        list.push_back(std::move(item));
    }
    if (!list.empty()) {
        std::stable_sort(list.begin(), list.end(), [&](const auto& a, const auto& b) {
            const HRESULT order =
                folder->CompareIDs(0, a->RelativeIdList.Data(), b->RelativeIdList.Data());
            return SUCCEEDED(order) && ResultCode(order) < 0;
        });
    }
    return static_cast<int>(list.size());
}

void TShellTreeView::FillChildren(TShellTreeNode* node)
{
    if (node == nullptr || !node->HasItem())
        return;
    TShellFolderItem* item = node->FolderItem();
    if (!item->GetParentFolder())
        return;
    std::shared_ptr<IShellFolder> folder;
    if (item->GetLevel() == 0)
        folder = item->ParentFolder;
    else if (FAILED(item->ParentFolder->BindToObject(item->RelativeIdList.Data(), folder)))
        folder.reset();
    if (!folder)
        return;

    // A folder on a slow or stalled server holds the window for as long as
    // its listing takes.
    const TWaitCursor busy;
    std::vector<std::unique_ptr<TShellFolderItem>> list;
    TShellTreeNode* child = node->FirstChild();
    const int count = EnumChildFolders(folder, item, list);
    // New nodes get their facts before they join the model, so that a view
    // hears of each once.
    auto makeNode = [&](std::unique_ptr<TShellFolderItem>& fresh) {
        std::string text = fresh->GetDisplayName();
        std::unique_ptr<TShellTreeNode> made =
            model_->MakeNode(node, std::move(fresh), std::move(text));
        made->FolderItem()->AttachNode(made.get());
        return made;
    };
    for (int i = 0; i < count;) {
        std::unique_ptr<TShellFolderItem>& fresh = list[static_cast<size_t>(i)];
        if (child != nullptr && !child->HasItem()) {
            // A node that cannot be compared cannot stay in the merge.
            TShellTreeNode* next = child->NextSibling();
            model_->DeleteNode(child);
            child = next;
            continue;
        }
        if (child == nullptr) {
            std::vector<std::unique_ptr<TShellTreeNode>> tail;
            tail.reserve(static_cast<size_t>(count - i));
            for (; i < count; ++i)
                tail.push_back(makeNode(list[static_cast<size_t>(i)]));
            model_->AppendNodes(node, std::move(tail));
            break;
        }
        switch (ShCompareIdLists(folder, child->FolderItem()->RelativeIdList.Data(),
                                 fresh->RelativeIdList.Data())) {
        case 0:
            child = child->NextSibling();
            ++i;
            break;
        case 1:
            model_->InsertBefore(child, makeNode(fresh));
            ++i;
            break;
        default: {
            TShellTreeNode* next = child->NextSibling();
            model_->DeleteNode(child);
            child = next;
            break;
        }
        }
    }
    if (child != nullptr)
        model_->DeleteFrom(child);
}

void TShellTreeView::RefreshVisible()
{
    for (TShellTreeNode* node = Root(); node != nullptr; node = NextVisible(node)) {
        if (IsExpanded(node) || node->FirstChild() != nullptr)
            FillChildren(node);
        else if (node->HasItem())
            node->FolderItem()->AttachNode(node);
    }
    ScheduleWatchUpdate();
}

bool TShellTreeView::IsExpanded(const TShellTreeNode* node) const
{
    return node != nullptr && isExpanded(model_->IndexOf(node));
}

bool TShellTreeView::IsVisibleNode(const TShellTreeNode* node) const
{
    if (node == nullptr)
        return false;
    for (const TShellTreeNode* above = node->Parent(); above != nullptr; above = above->Parent()) {
        if (!IsExpanded(above))
            return false;
    }
    return true;
}

TShellTreeNode* TShellTreeView::NextVisible(const TShellTreeNode* node) const
{
    if (node == nullptr)
        return nullptr;
    if (IsExpanded(node) && node->FirstChild() != nullptr)
        return node->FirstChild();
    for (const TShellTreeNode* above = node; above != nullptr; above = above->Parent()) {
        if (TShellTreeNode* next = above->NextSibling())
            return next;
    }
    return nullptr;
}

// --- Expanding -----------------------------------------------------------

bool TShellTreeView::ExpandNode(TShellTreeNode* node)
{
    if (node == nullptr)
        return false;
    if (IsExpanded(node))
        return true;
    if (!CanExpand(node))
        return false;
    setExpanded(model_->IndexOf(node), true);
    return true;
}

void TShellTreeView::CollapseNode(TShellTreeNode* node)
{
    if (node != nullptr)
        setExpanded(model_->IndexOf(node), false);
}

bool TShellTreeView::CanExpand(TShellTreeNode* node)
{
    if (!destroying_ && node->HasItem()) {
        TShellFolderItem* item = node->FolderItem();
        if (MouseState_ == msDragging && item->GetLevel() >= 2) {
            const TShItemIDType type = item->GetItemType();
            if (type == itRootDrive && !VolumeReadable(item->GetPath()))
                return false;
            if (type == itVirtual)
                return false;
        }
        FillChildren(node);
        if (node->FirstChild() == nullptr)
            node->SetHasChildren(false);
    }
    bool allowExpansion = true;
    if (OnExpanding)
        OnExpanding(this, node, allowExpansion);
    return allowExpansion;
}

// --- Steps of the generic control ---------------------------------------

bool TShellTreeView::CanChange(TShellTreeNode* node)
{
    if (MouseState_ == msLeftPress || MouseState_ == msRightPress || WindowGone_)
        return false;
    bool allowChange = true;
    if (OnChanging)
        OnChanging(this, node, allowChange);
    return allowChange;
}

void TShellTreeView::Change(TShellTreeNode* node)
{
    if (OnChange)
        OnChange(this, node);
    if (node != nullptr && node->HasItem()) {
        if (ShellComboBox_ != nullptr)
            ShellComboBox_->SelectIdList(node->FolderItem()->GetAbsoluteIdList());
        if (ShellListView_ != nullptr)
            ShellListView_->OpenFolder(node->FolderItem()->GetAbsoluteIdList());
    }
    ScheduleWatchUpdate();
}

void TShellTreeView::Delete(TShellTreeNode* node)
{
    node->item_.reset();
    if (OnDeletion && !destroying_)
        OnDeletion(this, node);
}

int TShellTreeView::GetImageIndex(TShellTreeNode* node)
{
    int index = node->HasItem() ? node->FolderItem()->GetIconIndex() : -1;
    if (OnGetImageIndex)
        OnGetImageIndex(this, node, index);
    return index;
}

int TShellTreeView::GetSelectedIndex(TShellTreeNode* node)
{
    int index = node->HasItem() ? node->FolderItem()->GetOpenIconIndex() : -1;
    if (OnGetSelectedIndex)
        OnGetSelectedIndex(this, node, index);
    return index;
}

void TShellTreeView::NodeAboutToBeDeleted(TShellTreeNode* node)
{
    if (DropHighlight_ != nullptr && DropHighlight_->IsWithin(node))
        SetDropHighlight(nullptr);
    TShellTreeNode* selected = Selected();
    if (selected == nullptr || !selected->IsWithin(node))
        return;
    // The nearest surviving ancestor takes the selection, not whichever row
    // the view would pick; it is not asked, the old one is going.
    if (TShellTreeNode* parent = node->Parent())
        SelectNode(parent, false);
    else
        selectionModel()->clear();
}

void TShellTreeView::selectionChanged(const QItemSelection& selected,
                                      const QItemSelection& deselected)
{
    QTreeView::selectionChanged(selected, deselected);
    if (selected.isEmpty())
        return;
    if (TShellTreeNode* node = model_->NodeOf(selected.indexes().first()))
        Change(node);
}

QItemSelectionModel::SelectionFlags TShellTreeView::selectionCommand(const QModelIndex& index,
                                                                     const QEvent* event) const
{
    if (event != nullptr &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove ||
         event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseButtonDblClick)) {
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        // A right click never selects.
        if (mouse->button() == Qt::RightButton || (mouse->buttons() & Qt::RightButton) != 0)
            return QItemSelectionModel::NoUpdate;
    }
    TShellTreeNode* node = model_->NodeOf(index);
    if (node != nullptr && node != Selected() &&
        !const_cast<TShellTreeView*>(this)->CanChange(node))
        return QItemSelectionModel::NoUpdate;
    return QTreeView::selectionCommand(index, event);
}

// --- Icons ---------------------------------------------------------------

bool TShellTreeView::event(QEvent* event)
{
    if (event->type() == kRefreshIconsEvent) {
        RefreshIcons();
        return true;
    }
    if (event->type() == QEvent::ThemeChange)
        QCoreApplication::postEvent(this, new QEvent(kRefreshIconsEvent));
    return QTreeView::event(event);
}

void TShellTreeView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::StyleChange)
        QCoreApplication::postEvent(this, new QEvent(kRefreshIconsEvent));
    QTreeView::changeEvent(event);
}

void TShellTreeView::RefreshIcons()
{
    if (WindowGone_)
        return;
    bool walking = true;
    model_->ForEachNode([&walking](TShellTreeNode* node) {
        if (!walking || !node->HasItem()) {
            walking = false;
            return;
        }
        node->FolderItem()->IconIndex = -1;
        node->FolderItem()->OpenIconIndex = -1;
    });
    model_->AllNodesChanged();
}

// --- Watching --------------------------------------------------------------

void TShellTreeView::ResumeWatching()
{
    watching_ = true;
    UpdateWatchedDirectories();
}

void TShellTreeView::StopWatching()
{
    watching_ = false;
    watched_.clear();
    if (DirWatcher_ != nullptr)
        DirWatcher_->SetDirectories(nullptr);
}

void TShellTreeView::ScheduleWatchUpdate()
{
    if (!watching_ || watchUpdatePending_)
        return;
    watchUpdatePending_ = true;
    QTimer::singleShot(0, this, [this] {
        watchUpdatePending_ = false;
        UpdateWatchedDirectories();
    });
}

void TShellTreeView::UpdateWatchedDirectories()
{
    if (!watching_ || DirWatcher_ == nullptr)
        return;
    // A watch on a mount that may stall would look into it from the UI
    // thread; those folders go unwatched.
    const std::vector<TMount> mounts = ReadMounts();
    TLinkAnswers links; // siblings share their ancestors' link reads
    std::vector<std::string> directories;
    for (TShellTreeNode* node = Root(); node != nullptr; node = NextVisible(node)) {
        if (!node->HasItem())
            continue;
        std::string path = node->FolderItem()->GetPath();
        if (!path.empty() && !PathMayStall(mounts, path, &links))
            directories.push_back(std::move(path));
    }
    DirWatcher_->SetDirectories(&directories);
    watched_ = std::move(directories);
}

void TShellTreeView::ReleaseDropTargets()
{
    // A target that only this list still holds has finished its work.
    for (size_t i = HeldDropTargets_.size(); i-- > 0;) {
        if (HeldDropTargets_[i].use_count() <= 1)
            HeldDropTargets_.erase(HeldDropTargets_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void TShellTreeView::RebuildComboAndRefresh()
{
    if (ShellComboBox_ == nullptr) {
        RefreshVisible();
        return;
    }
    IShellComboBoxLink* combo = ShellComboBox_;
    combo->BeginItemsUpdate();
    TFinally end([combo] { combo->EndItemsUpdate(); });
    combo->RebuildItems();
    RefreshVisible();
    TShellTreeNode* selected = Selected();
    if (selected != nullptr && selected->HasItem())
        combo->SelectIdList(selected->FolderItem()->GetAbsoluteIdList());
}

void TShellTreeView::DirectoryChanged()
{
    ReleaseDropTargets();
    if (MouseState_ == msIdle)
        RebuildComboAndRefresh();
}

// --- Device changes --------------------------------------------------------

void TShellTreeView::DeviceChange(const std::string& caption, uint32_t event, TItemIdPosition list,
                                  uint16_t kind)
{
    if (DirWatcher_ != nullptr)
        DirWatcher_->PostDeviceChange(
            std::make_unique<TDeviceChangeData>(caption, list, kind, event));
}

void TShellTreeView::DeviceChanged(std::unique_ptr<TDeviceChangeData> data)
{
    if (data->DeviceKind == kDeviceKindRemovable) {
        TShellTreeNode* node = FindNode(data->IdList.Data());
        // A volume that left the computer folder cannot be found, and the
        // root it falls back to must not take its caption.
        const bool found =
            node != nullptr && (node != Root() || IsDesktopList(data->IdList.Data()));
        QPersistentModelIndex parent;
        if (found && node->HasItem()) {
            TShellFolderItem* item = node->FolderItem();
            item->OpenIconIndex = -1;
            item->IconIndex = -1;
            item->DisplayName = data->Caption;
            node->SetText(data->Caption);
            if (ShellComboBox_ != nullptr) {
                const int index = ShellComboBox_->IndexOfIdList(data->IdList.Data());
                if (TShellDataItem* entry =
                        index >= 0 ? ShellComboBox_->EntryItem(index) : nullptr) {
                    entry->OpenIconIndex = -1;
                    entry->IconIndex = -1;
                    entry->DisplayName = data->Caption;
                    ShellComboBox_->SetEntryText(index, data->Caption);
                }
            }
        }
        if (data->EventType == DBT_DEVICEREMOVECOMPLETE) {
            if (found) {
                model_->DeleteChildren(node);
                node->SetHasChildren(true);
                parent = QPersistentModelIndex(model_->IndexOf(node->Parent()));
            }
            RefreshVisible();
            TShellTreeNode* select = model_->NodeOf(parent);
            if (select == nullptr) {
                TItemIdList computer;
                if (ShSpecialFolderIdList(sfDrives, computer))
                    select = FindNode(computer.Data());
            }
            SetSelected(select);
        }
    } else if (data->DeviceKind == kDeviceKindNetwork) {
        if (data->EventType == DBT_DEVICEARRIVAL) {
            RefreshVisible();
            if (ShellComboBox_ != nullptr)
                ShellComboBox_->RebuildItems();
        } else {
            if (ShellComboBox_ != nullptr)
                ShellComboBox_->RebuildItems();
            SetSelected(Root());
            RefreshVisible();
        }
    }
}

// --- Mouse, keys and the context request ------------------------------------

bool TShellTreeView::OnItemLabel(const QModelIndex& index, QPoint point) const
{
    // Rows are highlighted across their width, so the whole row right of the
    // indentation is the item.
    return index.isValid() && visualRect(index).contains(point);
}

bool TShellTreeView::OnExpandButton(const QModelIndex& index, QPoint point) const
{
    if (!index.isValid() || !model_->hasChildren(index))
        return false;
    if (!index.parent().isValid() && !rootIsDecorated())
        return false;
    const QRect item = visualRect(index);
    const QRect button =
        isRightToLeft()
            ? QRect(item.right() + 1, item.top(), indentation(), item.height())
            : QRect(item.left() - indentation(), item.top(), indentation(), item.height());
    return button.contains(point);
}

void TShellTreeView::SetDropHighlight(TShellTreeNode* node)
{
    if (DropHighlight_ == node)
        return;
    TShellTreeNode* previous = DropHighlight_;
    DropHighlight_ = node;
    if (previous != nullptr)
        viewport()->update(visualRect(model_->IndexOf(previous)));
    if (node != nullptr)
        viewport()->update(visualRect(model_->IndexOf(node)));
}

void TShellTreeView::mousePressEvent(QMouseEvent* event)
{
    MouseState_ = msIdle;
    const QPoint point = event->position().toPoint();
    const QModelIndex index = indexAt(point);
    TShellTreeNode* node = model_->NodeOf(index);
    if (event->button() == Qt::LeftButton) {
        if (node != nullptr && OnItemLabel(index, point)) {
            SetDropHighlight(node);
            MouseState_ = msLeftPress;
            PressPoint_ = point;
        } else if (node != nullptr) {
            SetDropHighlight(nullptr);
        }
        if (OnExpandButton(index, point)) {
            // The view's own toggle would skip CanExpand.
            if (IsExpanded(node))
                CollapseNode(node);
            else
                ExpandNode(node);
            return;
        }
        QTreeView::mousePressEvent(event);
        return;
    }
    if (event->button() == Qt::RightButton) {
        if (node != nullptr && node->HasItem() && node->GetLevel() != 0) {
            SetDropHighlight(node);
            MouseState_ = msRightPress;
            PressPoint_ = point;
        }
        // The focus stays where the selection is: a right click acts on
        // nothing but its menu.
        const QModelIndex current = currentIndex();
        QTreeView::mousePressEvent(event);
        if (currentIndex() != current)
            selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
        return;
    }
    QTreeView::mousePressEvent(event);
}

void TShellTreeView::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton && MouseState_ == msLeftPress &&
        DropHighlight_ != nullptr && DropHighlight_->HasItem()) {
        MouseState_ = msIdle;
        SetSelected(DropHighlight_);
        SetDropHighlight(nullptr);
    }
    MouseState_ = msIdle;
    if (event->button() == Qt::LeftButton && OnExpandButton(indexAt(point), point))
        return;
    QTreeView::mouseReleaseEvent(event);
}

void TShellTreeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    const QPersistentModelIndex index(indexAt(point));
    if (event->button() != Qt::LeftButton || !index.isValid() || OnExpandButton(index, point)) {
        QTreeView::mouseDoubleClickEvent(event);
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
    TShellTreeNode* node = model_->NodeOf(index);
    if (node == nullptr || state() == QAbstractItemView::EditingState ||
        !model_->hasChildren(index))
        return;
    if (IsExpanded(node))
        CollapseNode(node);
    else
        ExpandNode(node);
}

void TShellTreeView::keyPressEvent(QKeyEvent* event)
{
    TShellTreeNode* node = model_->NodeOf(currentIndex());
    if (node != nullptr && (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Asterisk)) {
        // One level only: a whole file system must not unfold on a key.
        ExpandNode(node);
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

QModelIndex TShellTreeView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex current = currentIndex();
    TShellTreeNode* node = model_->NodeOf(current);
    if (cursorAction == MoveRight && node != nullptr && !IsExpanded(node) &&
        model_->hasChildren(current)) {
        ExpandNode(node);
        return current;
    }
    return QTreeView::moveCursor(cursorAction, modifiers);
}

void TShellTreeView::contextMenuEvent(QContextMenuEvent* event)
{
    bool handled = false;
    if (OnContextPopup)
        OnContextPopup(this, event->pos(), handled);
    if (!handled && MouseState_ == msRightPress && ShellPopupMenu_ != nullptr)
        ShowContextMenu(event->pos(), event->globalPos(), handled);
    SetDropHighlight(nullptr);
    MouseState_ = msIdle;
    if (!handled && PopupMenu_ != nullptr)
        PopupMenu_->popup(event->globalPos());
    event->accept();
}

void TShellTreeView::ShowContextMenu(QPoint, QPoint screenPoint, bool& handled)
{
    TShellTreeNode* node = DropHighlight_;
    if (node == nullptr || !node->HasItem() || node->GetLevel() == 0)
        return;
    StopWatching();
    TFinally resume([this] { ResumeWatching(); });
    const QPersistentModelIndex pressed(model_->IndexOf(node));
    const QPersistentModelIndex parentToSelect(node == Selected() ? model_->IndexOf(node->Parent())
                                                                  : QModelIndex());
    TShellFolderItem* item = node->FolderItem();
    PopupIdList_.Clear();
    PopupIdList_.SetParentIdList(item->GetParentIdList());
    PopupIdList_.Add(item->RelativeIdList.Data());
    ShellPopupMenu_->SetPopupComponent(this);
    handled = true;
    const int code = ShellPopupMenu_->Popup(PopupIdList_, screenPoint);
    // The lists belong to the item, which the menu may have done away with.
    PopupIdList_.Clear();
    PopupIdList_.SetParentIdList(nullptr);
    switch (code) {
    case kMenuDeleted:
        if (TShellTreeNode* parent = model_->NodeOf(parentToSelect); parent && parent->HasItem()) {
            if (ShellListView_ != nullptr) {
                ShellListView_->StopWatching();
                ShellListView_->OpenFolder(parent->FolderItem()->GetAbsoluteIdList());
            }
            MouseState_ = msIdle;
            SetSelected(parent);
        }
        RebuildComboAndRefresh();
        break;
    case kMenuRename:
        MouseState_ = msIdle;
        EditText(model_->NodeOf(pressed));
        break;
    case kMenuCut:
        if (TShellTreeNode* cut = model_->NodeOf(pressed))
            cut->SetCut(true);
        break;
    default:
        MouseState_ = msIdle;
        break;
    }
}

// --- Renaming --------------------------------------------------------------

void TShellTreeView::EditText(TShellTreeNode* node)
{
    if (node == nullptr)
        return;
    const QModelIndex index = model_->IndexOf(node);
    edit(index, AllEditTriggers, nullptr);
}

bool TShellTreeView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    // A slow second click only arms the view's timer, which asks again with
    // every trigger; check boxes and other delegate events pass through.
    const bool opensEditor =
        trigger == AllEditTriggers || (trigger != SelectedClicked && (editTriggers() & trigger));
    if (opensEditor && state() != EditingState) {
        TShellTreeNode* node = model_->NodeOf(index);
        if (node == nullptr || ReadOnly_ || !CanEdit(node))
            return false;
    }
    return QTreeView::edit(index, trigger, event);
}

bool TShellTreeView::CanEdit(TShellTreeNode* node)
{
    if (!node->HasItem() || MouseState_ != msIdle)
        return false;
    if (!node->FolderItem()->HasAttribute(iaCanRename) || node->GetLevel() == 0)
        return false;
    bool allowEdit = true;
    if (OnEditing)
        OnEditing(this, node, allowEdit);
    return allowEdit;
}

void TShellTreeView::LabelEdited(const QModelIndex& index, const QString& text)
{
    // The rename runs once the editor has closed: a message box shown while
    // it is still open would take its focus and have it commit again.
    const QPersistentModelIndex edited(index);
    const std::string name = QStringToPath(text);
    QMetaObject::invokeMethod(
        this,
        [this, edited, name] {
            if (TShellTreeNode* node = model_->NodeOf(edited))
                Edit(node, name);
        },
        Qt::QueuedConnection);
}

void TShellTreeView::Edit(TShellTreeNode* node, std::string text)
{
    if (OnEdited)
        OnEdited(this, node, text);
    node->SetText(text);
    if (!node->HasItem())
        return;
    StopWatching();
    TFinally resume([this] { ResumeWatching(); });
    if (ShellListView_ != nullptr)
        ShellListView_->StopWatching();
    TShellFolderItem* item = node->FolderItem();
    HRESULT result = S_OK;
    if (item->Rename(text, &result)) {
        if (ShellComboBox_ != nullptr) {
            if (item->GetLevel() == 1)
                ShellComboBox_->RebuildItems();
            ShellComboBox_->SelectIdList(item->GetAbsoluteIdList());
        }
        if (ShellListView_ != nullptr)
            ShellListView_->SetFileListFolder(item->GetAbsoluteIdList());
    } else {
        ShowRenameError(result, text);
    }
    if (ShellListView_ != nullptr)
        ShellListView_->ResumeWatching();
}

void TShellTreeView::ShowRenameError(HRESULT result, const std::string& name)
{
    ShowRenameFailure(window(), result, name);
}
