#pragma once

#include "platform/core/ShellResult.h"
#include "platform/shellns/ItemIdList.h"
#include "platform/shellns/Ole.h"
#include "shell/ShellDataItem.h"
#include "shell/ShellDbt.h"
#include "shell/ShellIDList.h"
#include "shellctrls/ShellCtrlLinks.h"
#include "shellctrls/ShellTreeModel.h"

#include <QPoint>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMenu;
class TShDirWatcher;
class TDeviceChangeData;

/// The folder tree of the desktop namespace: the desktop as its one root
/// node, folders only below it. Children are enumerated when a node is
/// expanded and merged into the nodes already shown, so that expanded
/// sub-trees survive a refresh. Selecting a node has the linked file list
/// and folder combo box show that folder. A directory watcher over the shown
/// folders and the registry of shell controls keep the tree in step with the
/// file system and with volumes that come and go.
///
/// Steps and events: each overridable step (CanChange, Change, CanExpand,
/// CanEdit, Edit, Delete, GetImageIndex, GetSelectedIndex)
/// runs the tree's own work and fires its event (OnChanging, OnChange, ...)
/// when that is set; veto flags are `bool&` that start true. Events get the
/// tree and the node concerned. Everything runs on the UI thread.
class TShellTreeView : public QTreeView, public IShellTreeDeviceClient
{
public:
    /// `MouseState` values.
    enum : uint8_t
    {
        msIdle = 0,
        msLeftPress = 1,
        msRightPress = 2,
        msDragging = 3
    };

    /// Builds the root (when the namespace gives the desktop), starts the
    /// directory watcher and registers with the registry of shell controls.
    explicit TShellTreeView(QWidget* parent = nullptr);
    ~TShellTreeView() override;

    // Properties.
    bool IncludeHidden() const { return IncludeHidden_; }
    void SetIncludeHidden(bool value);
    bool Checkboxes() const { return Checkboxes_; }
    void SetCheckboxes(bool value);
    TShVirtuaItems ShVirtuaItems() const { return ShVirtuaItems_; }
    void SetShVirtuaItems(TShVirtuaItems value);
    IShellListViewLink* ShellListView() const { return ShellListView_; }
    void SetShellListView(IShellListViewLink* list);
    IShellComboBoxLink* ShellComboBox() const { return ShellComboBox_; }
    void SetShellComboBox(IShellComboBoxLink* combo);
    IShellPopupMenuLink* ShellPopupMenu() const { return ShellPopupMenu_; }
    void SetShellPopupMenu(IShellPopupMenuLink* menu);
    /// The ordinary popup menu, shown when no shell context menu takes a
    /// right click; not owned.
    QMenu* PopupMenu() const { return PopupMenu_; }
    void SetPopupMenu(QMenu* menu) { PopupMenu_ = menu; }
    /// The indentation of a level, in pixels.
    int Indent() const { return indentation(); }
    void SetIndent(int indent) { setIndentation(indent); }
    /// Whether top-level nodes get an expand button.
    bool ShowRoot() const { return rootIsDecorated(); }
    void SetShowRoot(bool showRoot) { setRootIsDecorated(showRoot); }
    /// Whether labels may not be edited.
    bool ReadOnly() const { return ReadOnly_; }
    void SetReadOnly(bool readOnly);

    // Events.
    using TNodeEvent = std::function<void(TShellTreeView*, TShellTreeNode*)>;
    using TNodeVetoEvent = std::function<void(TShellTreeView*, TShellTreeNode*, bool&)>;
    using TNodeIndexEvent = std::function<void(TShellTreeView*, TShellTreeNode*, int&)>;
    /// (tree, node, press point, x, y, CanDrag): asked before a drag of a
    /// folder starts.
    std::function<void(TShellTreeView*, TShellTreeNode*, QPoint, int, int, bool&)> OnShBeginDrag;
    TNodeVetoEvent OnChanging;
    TNodeEvent OnChange;
    TNodeVetoEvent OnExpanding;
    TNodeVetoEvent OnEditing;
    /// (tree, node, the typed text, which the handler may change)
    std::function<void(TShellTreeView*, TShellTreeNode*, std::string&)> OnEdited;
    /// Fired for every deleted node, after its item is gone.
    TNodeEvent OnDeletion;
    TNodeIndexEvent OnGetImageIndex;
    TNodeIndexEvent OnGetSelectedIndex;
    /// (tree, client point, Handled)
    std::function<void(TShellTreeView*, QPoint, bool&)> OnContextPopup;

    // Operations.
    /// Selects the folder of a path or a display name the desktop parses;
    /// nothing when the text cannot be parsed.
    void SelectPath(const std::string& path);
    /// The file-system path of the selected node; empty when nothing is
    /// selected or the folder has none. The root gives the desktop directory.
    std::string SelectedPath();
    /// Selects the node of an absolute list, loading the tree on the way.
    void SelectIdList(TItemIdPosition idList);
    /// The selected node's absolute list, else the root's; null when there is
    /// neither. Owned by the node's item.
    TItemIdPosition SelectedIdList();
    /// The node of an absolute list, loading and expanding nodes on the way;
    /// the root when the list cannot be followed.
    TShellTreeNode* FindNode(TItemIdPosition idList);
    /// Merges the node's children with a fresh enumeration.
    void FillChildren(TShellTreeNode* node);
    /// Re-merges every visible node that is expanded or has loaded children.
    void RefreshVisible();
    /// Enumerates the sub-folders of `parentItem` in `folder`, filters them
    /// by the virtual kinds shown and sorts them; answers how many.
    int EnumChildFolders(const std::shared_ptr<IShellFolder>& folder, TShellFolderItem* parentItem,
                         std::vector<std::unique_ptr<TShellFolderItem>>& list);

    // The nodes.
    TShellTreeModel* TreeModel() const { return model_; }
    /// The first node (the desktop root); null when there is none.
    TShellTreeNode* Root() const { return model_->Root(); }
    TShellTreeNode* Selected() const;
    /// Selects a node (CanChange may refuse); null or the node already
    /// selected changes nothing.
    void SetSelected(TShellTreeNode* node);
    TShellTreeNode* DropHighlightNode() const { return DropHighlight_; }
    /// Expands a node through CanExpand; false when refused.
    bool ExpandNode(TShellTreeNode* node);
    void CollapseNode(TShellTreeNode* node);
    bool IsExpanded(const TShellTreeNode* node) const;
    /// Starts editing the node's label (CanEdit may refuse).
    void EditText(TShellTreeNode* node);
    /// Whether a node is shown: all its ancestors are expanded.
    bool IsVisibleNode(const TShellTreeNode* node) const;
    /// The node after `node` among the visible ones, in display order.
    TShellTreeNode* NextVisible(const TShellTreeNode* node) const;

    // State.
    uint8_t MouseState() const { return MouseState_; }
    QPoint PressPoint() const { return PressPoint_; }
    bool WindowGone() const { return WindowGone_; }
    /// The directory watcher; null once it has ended.
    TShDirWatcher* DirWatcher() const { return DirWatcher_; }
    /// The directories the watcher was last given.
    const std::vector<std::string>& WatchedDirectories() const { return watched_; }

    /// Gives the watcher the directories of the shown folders, and from now
    /// on after every change of what is shown.
    void ResumeWatching();
    /// Gives the watcher no directories until ResumeWatching.
    void StopWatching();
    /// Lets go of the drop targets of finished drops that nobody else holds.
    void ReleaseDropTargets();

    // IShellTreeDeviceClient
    void DeviceChange(const std::string& caption, uint32_t event, TItemIdPosition list,
                      uint16_t kind) override;

protected:
    /// Whether the selection may move to `node`: not while a press waits for
    /// its release or while the window is gone; then OnChanging.
    virtual bool CanChange(TShellTreeNode* node);
    /// The selection moved to `node`: OnChange, then the combo box and the
    /// file list show the folder.
    virtual void Change(TShellTreeNode* node);
    /// Fills the node before it expands; false refuses the expansion
    /// (OnExpanding may).
    virtual bool CanExpand(TShellTreeNode* node);
    /// Whether the label may be edited: not during a press or a drag, only a
    /// renameable folder below the root; then OnEditing.
    virtual bool CanEdit(TShellTreeNode* node);
    /// The end of label editing with a text: OnEdited, then the rename.
    virtual void Edit(TShellTreeNode* node, std::string text);
    /// A node is deleted: its item is destroyed, then OnDeletion.
    virtual void Delete(TShellTreeNode* node);
    virtual int GetImageIndex(TShellTreeNode* node);
    virtual int GetSelectedIndex(TShellTreeNode* node);
    /// Shows why a rename failed, in a message box owned by the window.
    virtual void ShowRenameError(HRESULT result, const std::string& name);

    // QTreeView
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    friend class TShellTreeModel;
    friend class TShellTreeNode;

    void CreateWnd();
    void DestroyWnd();
    void BuildRoot();
    void RefreshIcons();
    void SelectNode(TShellTreeNode* node, bool checked);
    void SetDropHighlight(TShellTreeNode* node);
    /// Called by the model before it deletes a node with its sub-tree.
    void NodeAboutToBeDeleted(TShellTreeNode* node);
    void LabelEdited(const QModelIndex& index, const QString& text);
    void DirectoryChanged();
    void DeviceChanged(std::unique_ptr<TDeviceChangeData> data);
    void ShowContextMenu(QPoint clientPoint, QPoint screenPoint, bool& handled);
    void WatchLink(QObject* object);
    void LinkRemoved(QObject* object);
    void ScheduleWatchUpdate();
    void UpdateWatchedDirectories();
    bool OnItemLabel(const QModelIndex& index, QPoint point) const;
    bool OnExpandButton(const QModelIndex& index, QPoint point) const;
    void RebuildComboAndRefresh();
    /// Has the linked combo box rebuild its entries and show the selection.
    void ResyncComboBox();

    TShellTreeModel* model_;
    bool IncludeHidden_ = true;
    bool Checkboxes_ = false;
    bool WindowGone_ = false;
    TItemIdList SavedSelection_;
    int32_t DragHoverCount_ = 0;
    uint8_t MouseState_ = msIdle;
    QPoint PressPoint_;
    TShVirtuaItems ShVirtuaItems_{itBitBucket, itNetWork};
    bool RightButtonDrag_ = false;
    TShellIDList PopupIdList_;
    TShDirWatcher* DirWatcher_ = nullptr;
    std::vector<std::shared_ptr<IDropTarget>> HeldDropTargets_;
    IShellPopupMenuLink* ShellPopupMenu_ = nullptr;
    IShellComboBoxLink* ShellComboBox_ = nullptr;
    IShellListViewLink* ShellListView_ = nullptr;
    QObject* popupObject_ = nullptr;
    QObject* comboObject_ = nullptr;
    QObject* listObject_ = nullptr;
    QMenu* PopupMenu_ = nullptr;
    bool ReadOnly_ = false;

    TShellTreeNode* DropHighlight_ = nullptr;
    bool destroying_ = false;
    bool watching_ = false;
    bool watchUpdatePending_ = false;
    std::vector<std::string> watched_;
};
