#pragma once

#include "platform/shellns/ItemIdList.h"
#include "platform/shellns/ShellNs.h"
#include "shell/ShellIDFunc.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A selection of items of one folder: the items' relative lists, in order,
// and ParentIdList, the folder's absolute list. Drag and drop, the context
// menu and the file list's selection pass it around.
//
// TShellIDListBase holds positions and answers every question about the
// selection; it owns nothing. TShellIDList fills it with lists that their
// items keep; TShellIDList2 owns the lists it is given and keeps the
// positions in step with them. Indexes are 0-based.

class TShellIDListBase
{
public:
    /// The number of items.
    int Count() const { return static_cast<int>(items_.size()); }
    /// Item `index`; null outside 0..Count()-1.
    TItemIdPosition Item(int index) const;
    TItemIdPosition operator[](int index) const { return Item(index); }
    /// The items as one array; null when there are none.
    const TItemIdPosition* List() const { return items_.empty() ? nullptr : items_.data(); }
    std::span<const TItemIdPosition> Items() const { return items_; }

    /// The folder's absolute list; null when not set.
    TItemIdPosition ParentIdList() const { return parent_; }

    /// ShItemCount of ParentIdList: 0 for the desktop, -1 when not set.
    int GetRootLevel() const;
    /// The folder the items are relative to: the desktop at root level 0,
    /// else ParentIdList bound in the desktop. False when there is none.
    bool GetFolder(std::shared_ptr<IShellFolder>& folder) const;
    /// The capability bits (SFGAO_CAPABILITYMASK) that every item has; 0
    /// without a folder or items, or when the folder cannot tell.
    uint32_t GetCommonAttributes() const;
    /// Whether every item has the attribute (every bit of its mask); false
    /// without a folder or items.
    bool HasAttribute(TShItemAttribute attribute) const;
    /// The file-system path of item `index` (ParentIdList joined with it);
    /// empty when either is missing or the item is not in the file system.
    std::string GetItemPath(int index) const;

protected:
    TShellIDListBase() = default;
    ~TShellIDListBase() = default;
    TShellIDListBase(const TShellIDListBase&) = default;
    TShellIDListBase& operator=(const TShellIDListBase&) = default;

    std::vector<TItemIdPosition> items_;
    TItemIdPosition parent_ = nullptr;
};

/// A selection over lists that others own; they must outlive their use here.
class TShellIDList : public TShellIDListBase
{
public:
    TShellIDList() = default;

    /// Appends an item; answers its index.
    int Add(TItemIdPosition item);
    /// Removes item `index` (nothing outside the range).
    void Delete(int index);
    /// Forgets the items; ParentIdList stays.
    void Clear() { items_.clear(); }
    void SetParentIdList(TItemIdPosition parent) { parent_ = parent; }
};

/// A selection that owns its lists and ParentIdList. Not copied or moved, so
/// positions handed out stay valid until the list they point into is freed.
class TShellIDList2 : public TShellIDListBase
{
public:
    TShellIDList2() = default;
    /// Frees ParentIdList, then clears.
    ~TShellIDList2();
    TShellIDList2(const TShellIDList2&) = delete;
    TShellIDList2& operator=(const TShellIDList2&) = delete;

    /// Takes an item over; answers its index.
    int Add(TItemIdList item);
    /// Frees item `index` and removes it (nothing outside the range).
    void Delete(int index);
    /// Frees every item and ParentIdList.
    void Clear();
    /// Takes the folder's list over, freeing the one held before.
    void SetParentIdList(TItemIdList parent);

private:
    std::vector<TItemIdList> lists_;
    TItemIdList parentList_;
};
