#include "shellctrls/ShellTreeModel.h"

#include "platform/core/PathCodec.h"
#include "shellctrls/ShellTreeView.h"

#include <QIcon>
#include <algorithm>

TShellTreeNode::TShellTreeNode(TShellTreeModel& model, TShellTreeNode* parent,
                               std::unique_ptr<TShellFolderItem> item, std::string text)
    : model_(model), parent_(parent), item_(std::move(item)), text_(std::move(text))
{
}

TShellTreeNode::~TShellTreeNode() = default;

void TShellTreeNode::SetHasChildren(bool hasChildren)
{
    if (hasChildren_ == hasChildren)
        return;
    hasChildren_ = hasChildren;
    model_.NodeChanged(this);
}

void TShellTreeNode::SetOverlayIndex(int overlayIndex)
{
    if (overlayIndex_ == overlayIndex)
        return;
    overlayIndex_ = overlayIndex;
    model_.NodeChanged(this, {TShellTreeModel::OverlayRole});
}

void TShellTreeNode::SetText(const std::string& text)
{
    if (text_ == text)
        return;
    text_ = text;
    model_.NodeChanged(this, {Qt::DisplayRole});
}

void TShellTreeNode::SetCut(bool cut)
{
    if (cut_ == cut)
        return;
    cut_ = cut;
    model_.NodeChanged(this, {TShellTreeModel::CutRole});
}

bool TShellTreeNode::Expanded() const
{
    return model_.Tree().IsExpanded(this);
}

void TShellTreeNode::DeleteChildren()
{
    model_.DeleteChildren(this);
}

void TShellTreeNode::SortChildren(const TCompare& compare)
{
    model_.SortChildren(this, compare);
}

void TShellTreeNode::FillChildren()
{
    model_.Tree().FillChildren(this);
}

void TShellTreeNode::Expand(bool recursive)
{
    model_.Tree().ExpandNode(this);
    if (recursive) {
        for (int row = 0; row < ChildCount(); ++row)
            Child(row)->Expand(true);
    }
}

QWidget* TShellTreeNode::TreeWindow() const
{
    return &model_.Tree();
}

int TShellTreeNode::AbsoluteIndex() const
{
    int index = 0;
    int found = -1;
    model_.ForEachNode([&](TShellTreeNode* node) {
        if (node == this)
            found = index;
        ++index;
    });
    return found;
}

int TShellTreeNode::GetLevel() const
{
    return item_ ? item_->GetLevel() : -1;
}

TShellTreeNode* TShellTreeNode::Child(int row) const
{
    if (row < 0 || row >= ChildCount())
        return nullptr;
    return children_[static_cast<size_t>(row)].get();
}

TShellTreeNode* TShellTreeNode::NextSibling() const
{
    if (row_ < 0)
        return nullptr;
    const auto& siblings = model_.SiblingsOf(parent_);
    const size_t next = static_cast<size_t>(row_) + 1;
    return next < siblings.size() ? siblings[next].get() : nullptr;
}

TShellTreeNode* TShellTreeNode::PrevSibling() const
{
    return row_ > 0 ? model_.SiblingsOf(parent_)[static_cast<size_t>(row_ - 1)].get() : nullptr;
}

bool TShellTreeNode::IsWithin(const TShellTreeNode* ancestor) const
{
    for (const TShellTreeNode* node = this; node != nullptr; node = node->parent_) {
        if (node == ancestor)
            return true;
    }
    return false;
}

TShellTreeModel::TShellTreeModel(TShellTreeView& tree) : QAbstractItemModel(&tree), tree_(tree) {}

TShellTreeModel::~TShellTreeModel()
{
    // The items go with their nodes; nobody is told, the tree is going.
    topLevel_.clear();
}

TShellTreeNode* TShellTreeModel::Root() const
{
    return topLevel_.empty() ? nullptr : topLevel_.front().get();
}

std::vector<std::unique_ptr<TShellTreeNode>>& TShellTreeModel::SiblingsOf(TShellTreeNode* parent)
{
    return parent != nullptr ? parent->children_ : topLevel_;
}

const std::vector<std::unique_ptr<TShellTreeNode>>&
TShellTreeModel::SiblingsOf(const TShellTreeNode* parent) const
{
    return parent != nullptr ? parent->children_ : topLevel_;
}

void TShellTreeModel::Renumber(std::vector<std::unique_ptr<TShellTreeNode>>& siblings, size_t from)
{
    for (size_t row = from; row < siblings.size(); ++row)
        siblings[row]->row_ = static_cast<int>(row);
}

std::unique_ptr<TShellTreeNode> TShellTreeModel::MakeNode(TShellTreeNode* parent,
                                                          std::unique_ptr<TShellFolderItem> item,
                                                          std::string text)
{
    return std::make_unique<TShellTreeNode>(*this, parent, std::move(item), std::move(text));
}

void TShellTreeModel::InsertNodes(TShellTreeNode* parent, int row,
                                  std::vector<std::unique_ptr<TShellTreeNode>> nodes)
{
    if (nodes.empty())
        return;
    auto& siblings = SiblingsOf(parent);
    const bool firstChildren = parent != nullptr && siblings.empty();
    beginInsertRows(IndexOf(parent), row, row + static_cast<int>(nodes.size()) - 1);
    siblings.insert(siblings.begin() + row, std::make_move_iterator(nodes.begin()),
                    std::make_move_iterator(nodes.end()));
    Renumber(siblings, static_cast<size_t>(row));
    endInsertRows();
    // A parent without the flag now has children to show.
    if (firstChildren)
        NodeChanged(parent);
}

TShellTreeNode* TShellTreeModel::AddChild(TShellTreeNode* parent,
                                          std::unique_ptr<TShellFolderItem> item, std::string text)
{
    std::vector<std::unique_ptr<TShellTreeNode>> nodes;
    nodes.push_back(MakeNode(parent, std::move(item), std::move(text)));
    TShellTreeNode* added = nodes.front().get();
    AppendNodes(parent, std::move(nodes));
    return added;
}

void TShellTreeModel::AppendNodes(TShellTreeNode* parent,
                                  std::vector<std::unique_ptr<TShellTreeNode>> nodes)
{
    InsertNodes(parent, static_cast<int>(SiblingsOf(parent).size()), std::move(nodes));
}

TShellTreeNode* TShellTreeModel::InsertBefore(TShellTreeNode* sibling,
                                              std::unique_ptr<TShellTreeNode> node)
{
    TShellTreeNode* added = node.get();
    std::vector<std::unique_ptr<TShellTreeNode>> nodes;
    nodes.push_back(std::move(node));
    InsertNodes(sibling->parent_, sibling->Row(), std::move(nodes));
    return added;
}

void TShellTreeModel::RemoveRows(TShellTreeNode* parent, int first, int last)
{
    auto& siblings = SiblingsOf(parent);
    if (first > last)
        return;
    for (int row = first; row <= last; ++row)
        tree_.NodeAboutToBeDeleted(siblings[static_cast<size_t>(row)].get());
    beginRemoveRows(IndexOf(parent), first, last);
    std::vector<std::unique_ptr<TShellTreeNode>> removed(
        std::make_move_iterator(siblings.begin() + first),
        std::make_move_iterator(siblings.begin() + last + 1));
    siblings.erase(siblings.begin() + first, siblings.begin() + last + 1);
    Renumber(siblings, static_cast<size_t>(first));
    endRemoveRows();
    // The tree hears of each node once it is out of the model, children
    // before their parent, as the items go.
    for (auto& node : removed)
        ForgetSubTree(node.get());
    if (parent != nullptr && siblings.empty())
        NodeChanged(parent);
}

void TShellTreeModel::ForgetSubTree(TShellTreeNode* node)
{
    for (auto& child : node->children_)
        ForgetSubTree(child.get());
    node->row_ = -1;
    tree_.Delete(node);
}

void TShellTreeModel::DeleteNode(TShellTreeNode* node)
{
    const int row = node->Row();
    RemoveRows(node->parent_, row, row);
}

void TShellTreeModel::DeleteChildren(TShellTreeNode* parent)
{
    RemoveRows(parent, 0, static_cast<int>(SiblingsOf(parent).size()) - 1);
}

void TShellTreeModel::DeleteFrom(TShellTreeNode* first)
{
    RemoveRows(first->parent_, first->Row(),
               static_cast<int>(SiblingsOf(first->parent_).size()) - 1);
}

void TShellTreeModel::DeleteAll()
{
    RemoveRows(nullptr, 0, static_cast<int>(topLevel_.size()) - 1);
}

void TShellTreeModel::SortChildren(TShellTreeNode* parent, const IShellTreeNode::TCompare& compare)
{
    auto& siblings = SiblingsOf(parent);
    if (siblings.size() < 2)
        return;
    const QList<QPersistentModelIndex> parents{QPersistentModelIndex(IndexOf(parent))};
    Q_EMIT layoutAboutToBeChanged(parents, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<TShellTreeNode*> nodesBefore;
    nodesBefore.reserve(static_cast<size_t>(before.size()));
    for (const QModelIndex& index : before)
        nodesBefore.push_back(NodeOf(index));
    std::stable_sort(siblings.begin(), siblings.end(), [&](const auto& first, const auto& second) {
        return compare(first.get(), second.get()) < 0;
    });
    Renumber(siblings, 0);
    QModelIndexList after;
    after.reserve(before.size());
    for (size_t i = 0; i < nodesBefore.size(); ++i)
        after.push_back(nodesBefore[i]
                            ? createIndex(nodesBefore[i]->Row(), before[i].column(), nodesBefore[i])
                            : QModelIndex());
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged(parents, QAbstractItemModel::VerticalSortHint);
}

void TShellTreeModel::SetCheckboxes(bool checkboxes)
{
    checkboxes_ = checkboxes;
}

QModelIndex TShellTreeModel::IndexOf(const TShellTreeNode* node) const
{
    if (node == nullptr || node->row_ < 0)
        return {};
    return createIndex(node->row_, 0, const_cast<TShellTreeNode*>(node));
}

TShellTreeNode* TShellTreeModel::NodeOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<TShellTreeNode*>(index.internalPointer());
}

void TShellTreeModel::NodeChanged(TShellTreeNode* node, const QList<int>& roles)
{
    if (node->row_ < 0)
        return;
    const QModelIndex index = IndexOf(node);
    Q_EMIT dataChanged(index, index, roles);
}

void TShellTreeModel::AllNodesChanged()
{
    ForEachNode([this](TShellTreeNode* node) { NodeChanged(node, {Qt::DecorationRole}); });
}

QModelIndex TShellTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0)
        return {};
    const auto& siblings = SiblingsOf(NodeOf(parent));
    if (row < 0 || row >= static_cast<int>(siblings.size()))
        return {};
    return createIndex(row, 0, siblings[static_cast<size_t>(row)].get());
}

QModelIndex TShellTreeModel::parent(const QModelIndex& child) const
{
    const TShellTreeNode* node = NodeOf(child);
    return node != nullptr ? IndexOf(node->parent_) : QModelIndex();
}

int TShellTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    return static_cast<int>(SiblingsOf(NodeOf(parent)).size());
}

int TShellTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool TShellTreeModel::hasChildren(const QModelIndex& parent) const
{
    const TShellTreeNode* node = NodeOf(parent);
    if (node == nullptr)
        return parent.isValid() ? false : !topLevel_.empty();
    return !node->children_.empty() || node->hasChildren_;
}

QVariant TShellTreeModel::data(const QModelIndex& index, int role) const
{
    TShellTreeNode* node = NodeOf(index);
    if (node == nullptr)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(node->text_);
    case Qt::EditRole: {
        // The editor starts from the name's own bytes, so that a part the
        // user leaves alone keeps bytes that are not UTF-8.
        std::string name;
        if (node->HasItem() && node->item_->GetParentFolder() &&
            SUCCEEDED(node->item_->ParentFolder->GetDisplayNameOf(
                node->item_->RelativeIdList.Data(), SHGDN_INFOLDER | SHGDN_FORPARSING, name)) &&
            !name.empty())
            return PathToQString(name);
        return QString::fromStdString(node->text_);
    }
    case Qt::DecorationRole:
    case SelectedIconRole: {
        const int imageIndex =
            role == Qt::DecorationRole ? tree_.GetImageIndex(node) : tree_.GetSelectedIndex(node);
        const TSysImageList* images = ShSysImageList(false);
        return images != nullptr && imageIndex >= 0 ? images->Icon(imageIndex) : QIcon();
    }
    case OverlayRole:
        return node->overlayIndex_;
    case CutRole:
        return node->cut_;
    case Qt::CheckStateRole:
        if (checkboxes_)
            return node->checked_ ? Qt::Checked : Qt::Unchecked;
        return {};
    default:
        return {};
    }
}

bool TShellTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    TShellTreeNode* node = NodeOf(index);
    if (node == nullptr)
        return false;
    if (role == Qt::CheckStateRole && checkboxes_) {
        node->checked_ = value.toInt() == Qt::Checked;
        NodeChanged(node, {Qt::CheckStateRole});
        return true;
    }
    if (role != Qt::EditRole)
        return false;
    tree_.LabelEdited(index, value.toString());
    return true;
}

Qt::ItemFlags TShellTreeModel::flags(const QModelIndex& index) const
{
    if (NodeOf(index) == nullptr)
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    if (checkboxes_)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}
