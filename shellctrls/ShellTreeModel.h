#pragma once

#include "shell/ShellDataItem.h"

#include <QAbstractItemModel>
#include <memory>
#include <string>
#include <vector>

class TShellTreeModel;
class TShellTreeView;

/// One node of the folder tree. It owns its TShellFolderItem, which is
/// destroyed with the node; every other fact of it (text, has-children flag,
/// overlay, cut state) is what the view shows.
class TShellTreeNode final : public IShellTreeNode
{
public:
    TShellTreeNode(TShellTreeModel& model, TShellTreeNode* parent,
                   std::unique_ptr<TShellFolderItem> item, std::string text);
    ~TShellTreeNode() override;

    // IShellTreeNode
    void SetHasChildren(bool hasChildren) override;
    void SetOverlayIndex(int overlayIndex) override;
    void SetText(const std::string& text) override;
    bool Expanded() const override;
    void DeleteChildren() override;
    TShellTreeNode* Parent() const override { return parent_; }
    void SortChildren(const TCompare& compare) override;
    void FillChildren() override;
    void Expand(bool recursive = false) override;
    QWidget* TreeWindow() const override;
    int AbsoluteIndex() const override;
    TShellFolderItem* FolderItem() const override { return item_.get(); }

    /// Whether the node has an item that is valid; every tree step skips
    /// nodes without.
    bool HasItem() const { return item_ && item_->IsValid(); }
    /// The item's level; -1 without an item.
    int GetLevel() const;
    const std::string& Text() const { return text_; }
    bool HasChildrenFlag() const { return hasChildren_; }
    int OverlayIndex() const { return overlayIndex_; }
    bool Cut() const { return cut_; }
    void SetCut(bool cut);
    bool Checked() const { return checked_; }

    int ChildCount() const { return static_cast<int>(children_.size()); }
    TShellTreeNode* Child(int row) const;
    TShellTreeNode* FirstChild() const { return Child(0); }
    TShellTreeNode* NextSibling() const;
    TShellTreeNode* PrevSibling() const;
    /// The row among its siblings (top-level nodes among the top level);
    /// -1 while the node is not in the model.
    int Row() const { return row_; }
    /// Whether `ancestor` is this node or one above it.
    bool IsWithin(const TShellTreeNode* ancestor) const;

private:
    friend class TShellTreeModel;
    friend class TShellTreeView;

    TShellTreeModel& model_;
    TShellTreeNode* parent_;
    std::vector<std::unique_ptr<TShellTreeNode>> children_;
    std::unique_ptr<TShellFolderItem> item_;
    std::string text_;
    int row_ = -1;
    bool hasChildren_ = false;
    int overlayIndex_ = -1;
    bool cut_ = false;
    bool checked_ = false;
};

/// The nodes of one folder tree as a Qt model of one column. Adding and
/// deleting nodes are row insertions and removals, a sort of siblings is a
/// layout change with the persistent indexes moved, so that expanded
/// sub-trees, the selection and the scroll position of the view survive.
/// The tree that owns the model decides what the nodes are; the model calls
/// back into it for icons, expansion, fills and edits.
class TShellTreeModel final : public QAbstractItemModel
{
public:
    /// The icon of the selected state; the delegate draws it for the
    /// selected node.
    static constexpr int SelectedIconRole = Qt::UserRole + 1;
    /// The 0-based overlay slot, -1 for none.
    static constexpr int OverlayRole = Qt::UserRole + 2;
    /// Whether the node is drawn ghosted.
    static constexpr int CutRole = Qt::UserRole + 3;

    explicit TShellTreeModel(TShellTreeView& tree);
    ~TShellTreeModel() override;

    TShellTreeView& Tree() const { return tree_; }

    /// The first top-level node (the desktop root); null when there is none.
    TShellTreeNode* Root() const;
    /// A node of this model for `parent` (null: a top-level node), not yet
    /// in the model: setting its facts tells no view.
    std::unique_ptr<TShellTreeNode>
    MakeNode(TShellTreeNode* parent, std::unique_ptr<TShellFolderItem> item, std::string text);
    /// Adds a node as the last child of `parent` (null: a top-level node).
    TShellTreeNode* AddChild(TShellTreeNode* parent, std::unique_ptr<TShellFolderItem> item,
                             std::string text);
    /// Adds nodes made for `parent` after its last child, as one insertion.
    void AppendNodes(TShellTreeNode* parent, std::vector<std::unique_ptr<TShellTreeNode>> nodes);
    /// Inserts a node made for the parent of `sibling` just before it.
    TShellTreeNode* InsertBefore(TShellTreeNode* sibling, std::unique_ptr<TShellTreeNode> node);
    /// Deletes a node with its sub-tree; the tree hears of each node first.
    void DeleteNode(TShellTreeNode* node);
    void DeleteChildren(TShellTreeNode* parent);
    /// Deletes `first` and every sibling after it.
    void DeleteFrom(TShellTreeNode* first);
    void DeleteAll();
    /// Orders the children of `parent` by `compare` (stable).
    void SortChildren(TShellTreeNode* parent, const IShellTreeNode::TCompare& compare);
    /// Whether check boxes are offered (Qt::CheckStateRole).
    void SetCheckboxes(bool checkboxes);

    QModelIndex IndexOf(const TShellTreeNode* node) const;
    TShellTreeNode* NodeOf(const QModelIndex& index) const;
    /// Has the views repaint a node.
    void NodeChanged(TShellTreeNode* node, const QList<int>& roles = {});
    /// Has the views repaint every node (icons fetched again).
    void AllNodesChanged();

    /// Visits every node in display order (pre-order), parents first.
    template <class F> void ForEachNode(F&& visit) const
    {
        for (const auto& node : topLevel_)
            VisitSubTree(node.get(), visit);
    }

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    friend class TShellTreeNode;

    template <class F> static void VisitSubTree(TShellTreeNode* node, F& visit)
    {
        visit(node);
        for (const auto& child : node->children_)
            VisitSubTree(child.get(), visit);
    }
    std::vector<std::unique_ptr<TShellTreeNode>>& SiblingsOf(TShellTreeNode* parent);
    const std::vector<std::unique_ptr<TShellTreeNode>>&
    SiblingsOf(const TShellTreeNode* parent) const;
    void InsertNodes(TShellTreeNode* parent, int row,
                     std::vector<std::unique_ptr<TShellTreeNode>> nodes);
    static void Renumber(std::vector<std::unique_ptr<TShellTreeNode>>& siblings, size_t from);
    void RemoveRows(TShellTreeNode* parent, int first, int last);
    void ForgetSubTree(TShellTreeNode* node);

    TShellTreeView& tree_;
    std::vector<std::unique_ptr<TShellTreeNode>> topLevel_;
    bool checkboxes_ = false;
};
