#pragma once

#include "platform/shellns/ItemIdList.h"
#include "platform/shellns/Ole.h"
#include "platform/shellns/ShellNs.h"
#include "shell/ShellIDFunc.h"
#include "shell/ShellIDList.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class QWidget;

// The namespace items as the browsing controls see them: an item's lists, the
// folder it lives in, and facts about it fetched from the namespace on first
// use. Everything here lives on the UI thread. No operation throws, except the
// creation of a TShellDragObject without data.

/// The kind of an item (GetItemType). itInterNet is never produced.
enum TShItemIDType : int
{
    itDeskTop,
    itMyComputer,
    itRootDrive,
    itFolder,
    itFile,
    itInterNet,
    itBitBucket,
    itNetWork,
    itVirtual,
    itUnknown
};

/// The virtual kinds: itBitBucket..itVirtual.
using TShVirtuaItem = TShItemIDType;
constexpr TShVirtuaItem kShVirtuaItemFirst = itBitBucket;
constexpr TShVirtuaItem kShVirtuaItemLast = itVirtual;

/// Whether a kind lies in the virtual subrange.
constexpr bool IsShVirtuaItem(TShItemIDType type)
{
    return type >= kShVirtuaItemFirst && type <= kShVirtuaItemLast;
}

/// A set of virtual kinds (the virtual folders a control shows). Kinds
/// outside itBitBucket..itVirtual are never members: including one does
/// nothing.
class TShVirtuaItems
{
public:
    constexpr TShVirtuaItems() = default;
    constexpr TShVirtuaItems(std::initializer_list<TShVirtuaItem> items)
    {
        for (TShVirtuaItem item : items)
            Include(item);
    }

    constexpr bool Contains(TShItemIDType type) const
    {
        return IsShVirtuaItem(type) && (bits_ & Bit(type)) != 0;
    }
    constexpr void Include(TShItemIDType type)
    {
        if (IsShVirtuaItem(type))
            bits_ = static_cast<uint8_t>(bits_ | Bit(type));
    }
    constexpr void Exclude(TShItemIDType type)
    {
        if (IsShVirtuaItem(type))
            bits_ = static_cast<uint8_t>(bits_ & ~Bit(type));
    }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const TShVirtuaItems&) const = default;

private:
    static constexpr uint8_t Bit(TShItemIDType type)
    {
        return static_cast<uint8_t>(1u << (type - kShVirtuaItemFirst));
    }
    uint8_t bits_ = 0;
};

/// The kind of a child of the desktop that is one of the special folders
/// with a kind of its own (computer, network, recycle bin), compared in
/// `desktop`; itUnknown for any other.
TShItemIDType SpecialFolderKind(const std::shared_ptr<IShellFolder>& desktop, TItemIdPosition list);

/// One namespace item. The base class holds the lists and the cached facts;
/// the derived classes (tree folders, list rows) say where the item stands.
///
/// Lists handed out (GetAbsoluteIdList, GetParentIdList) stay owned by the
/// item and are valid until it changes them (Rename) or goes away.
class TShellDataItem
{
public:
    TShellDataItem() = default;
    virtual ~TShellDataItem() = default;
    TShellDataItem(const TShellDataItem&) = delete;
    TShellDataItem& operator=(const TShellDataItem&) = delete;

    /// The small system icon index, fetched once into IconIndex: confirmed
    /// by the folder's icon interface, else the item's icon extractor, else
    /// the image list's index of the absolute list; -1 while the parent
    /// folder cannot be had. Set IconIndex to -1 to have it fetched again.
    virtual int GetIconIndex();
    /// The item's index among all items of its view; -1 when not shown.
    virtual int GetAbsoluteIndex() = 0;
    /// 0 for the desktop, 1 for its children, and so on; -1 when unknown.
    virtual int GetLevel() = 0;
    /// The absolute list of the folder holding the item; null when none.
    virtual TItemIdPosition GetParentIdList() = 0;
    /// The item's absolute list; null when none.
    virtual TItemIdPosition GetAbsoluteIdList() = 0;
    /// The small open-state icon index, fetched once into OpenIconIndex.
    virtual int GetOpenIconIndex();
    /// Whether the item has the lists it needs to be asked anything.
    virtual bool IsValid() = 0;

    /// Binds ParentFolder on first use: the desktop folder at levels 0 and 1,
    /// else the desktop's folder of GetParentIdList. Whether it is present.
    bool GetParentFolder();
    /// The in-folder display name, cached once it is not empty (an empty
    /// answer is asked for again on the next call).
    std::string GetDisplayName();
    /// Whether every bit of the attribute's mask is set; asked each call.
    bool HasAttribute(TShItemAttribute attribute);
    /// The file-system path; empty for items outside the file system.
    std::string GetPath();
    /// The namespace's drop target for the item; null when it offers none.
    std::shared_ptr<IDropTarget> GetDropTarget();
    /// The 0-based overlay slot (0 shared, 1 link); -1 for none.
    int GetOverlayIndex();
    /// The item's kind, worked out afresh on each call; itUnknown when the
    /// desktop, the level or the parent folder cannot be had.
    TShItemIDType GetItemType();

    /// The window that namespace calls are made for (the application's main
    /// window); null until set. Held unguarded, since this layer links no
    /// widgets: the window sets it back to null before it goes.
    static void SetOwnerWindow(QWidget* owner);
    static QWidget* OwnerWindow();

    /// The folder in which RelativeIdList is valid; bound by GetParentFolder.
    std::shared_ptr<IShellFolder> ParentFolder;
    /// The item within ParentFolder.
    TItemIdList RelativeIdList;
    /// The item from the desktop.
    TItemIdList AbsoluteIdList;
    /// Cache of the parent folder's absolute list.
    TItemIdList ParentIdList;
    /// Cached icon indexes; -1 until fetched.
    int OpenIconIndex = -1;
    int IconIndex = -1;
    /// Cached display name; empty until fetched.
    std::string DisplayName;

private:
    /// The list that names the item in ParentFolder: at level 0 the absolute
    /// list, else the relative one.
    TItemIdPosition ListInFolder();
};

class TShellFolderItem;

/// What a folder item needs of the tree node that shows it. The folder tree
/// implements it; the node owns its TShellFolderItem.
class IShellTreeNode
{
public:
    /// A comparison of two sibling nodes: negative, 0 or positive.
    using TCompare = std::function<int(IShellTreeNode* first, IShellTreeNode* second)>;

    virtual ~IShellTreeNode() = default;
    virtual void SetHasChildren(bool hasChildren) = 0;
    virtual void SetOverlayIndex(int overlayIndex) = 0;
    virtual void SetText(const std::string& text) = 0;
    virtual bool Expanded() const = 0;
    /// Deletes the child nodes with their sub-trees and items.
    virtual void DeleteChildren() = 0;
    /// The parent node; null for a top-level node.
    virtual IShellTreeNode* Parent() const = 0;
    virtual void SortChildren(const TCompare& compare) = 0;
    /// Has the tree merge the node's children with a fresh enumeration.
    virtual void FillChildren() = 0;
    virtual void Expand(bool recursive = false) = 0;
    /// The tree's window, the owner of calls made for the node.
    virtual QWidget* TreeWindow() const = 0;
    /// The node's index among all nodes of the tree.
    virtual int AbsoluteIndex() const = 0;
    /// The node's item; null when it has none.
    virtual TShellFolderItem* FolderItem() const = 0;
};

/// The data of one folder-tree node.
class TShellFolderItem : public TShellDataItem
{
public:
    /// Takes both lists. The node may be null and attached later.
    TShellFolderItem(IShellTreeNode* node, TItemIdList relativeIdList, TItemIdList absoluteIdList);

    /// The node's absolute index; -1 without a node.
    int GetAbsoluteIndex() override;
    /// ShItemCount of AbsoluteIdList.
    int GetLevel() override;
    /// Cached: the desktop's list at level 1, else AbsoluteIdList less its
    /// last item.
    TItemIdPosition GetParentIdList() override;
    TItemIdPosition GetAbsoluteIdList() override { return AbsoluteIdList.Data(); }
    /// Both RelativeIdList and AbsoluteIdList are present.
    bool IsValid() override;

    /// Binds the item to its node and gives the node its has-children flag
    /// (HASSUBFOLDER) and overlay index.
    void AttachNode(IShellTreeNode* node);

    /// Gives the folder a new name when it may be renamed. On success the
    /// lists name the renamed folder, the cached name is dropped, pending
    /// change notices are delivered and the node's children are reloaded
    /// (and the node expanded again when it was) after the parent re-sorts.
    /// The node's text is set to the display name either way. Whether the
    /// namespace renamed it; `result`, when given, gets the namespace's
    /// answer (E_ACCESSDENIED when the folder may not be renamed, E_FAIL when
    /// its parent folder cannot be had).
    bool Rename(const std::string& newName, HRESULT* result = nullptr);

    /// The order of two sibling nodes by their items (name column); 0 when
    /// either has no item or the comparison fails.
    static int CompareFolderNodes(IShellTreeNode* first, IShellTreeNode* second);

    IShellTreeNode* Node = nullptr;
};

/// What is dragged over a control: the data and, once the control has read
/// them, its file names (path bytes) and item lists.
class TShellDragObject
{
public:
    /// Throws std::invalid_argument when `dataObject` is null.
    explicit TShellDragObject(std::shared_ptr<IDataObject> dataObject);

    // Declared in this order so that destruction frees the lists first and
    // lets go of the data last.
    std::shared_ptr<IDataObject> DataObject;
    std::vector<std::string> FileNames;
    TShellIDList2 IdLists;
};
