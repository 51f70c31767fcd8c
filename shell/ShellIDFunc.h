#pragma once

#include "platform/shellns/ItemIdList.h"
#include "platform/shellns/ShellNs.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// Functions that take item identifier lists apart and build them from their
// bytes. None of them throws; "no list" in gives the empty answer stated.
// Sizes are 16-bit, as in the list format: a size that would not fit is
// answered 0 and the list is refused (no copy). A returned list is new and
// the caller's; inputs are left as they are unless said otherwise.

/// Frees the list and leaves the holder empty; an empty holder is fine.
void ShFreeIdList(TItemIdList& list);
/// A zero-filled block of `size` bytes; no list when memory runs out.
TItemIdList ShAllocIdList(uint16_t size);

/// 0 for no list, an empty one or a first item too long to be copied; else
/// the first item's count plus the two bytes of a terminator.
uint16_t ShFirstItemSize(TItemIdPosition list);
/// 0 for no list or one past 16 bits; else every item's count plus the
/// terminator's two bytes.
uint16_t ShIdListSize(TItemIdPosition list);
/// The position after the item at `position` (no test for the terminator:
/// only call it on an item).
TItemIdPosition ShNextItem(TItemIdPosition position);
/// The next item; null when there is none, the count is 0 or the next one
/// is the terminator.
TItemIdPosition ShNextItemOrNil(TItemIdPosition position);

/// A one-item list of the first item; no list for no list or an empty one.
TItemIdList ShCopyFirstItem(TItemIdPosition list);
/// A byte copy of the whole list.
TItemIdList ShCopyIdList(TItemIdPosition list);
/// The items of `first`, then all of `second` with its terminator; no list
/// when either is missing or the two would not fit a 16-bit size.
TItemIdList ShConcatIdLists(TItemIdPosition first, TItemIdPosition second);
/// The two joined (or a copy of the one that is there); both inputs are
/// freed and their holders left empty.
TItemIdList ShAppendIdList(TItemIdList& accumulated, TItemIdList& added);
/// Every item but the last; no list for a list of fewer than two items.
TItemIdList ShParentIdList(TItemIdPosition list);
/// A one-item list of the last item; no list for no list or an empty one.
TItemIdList ShLastItem(TItemIdPosition list);

/// The special folders, each standing for a CSIDL value (ShSpecialFolderCsidl).
enum TShSpecialFolder : int
{
    sfDesktop,
    sfInternet,
    sfPrograms,
    sfControls,
    sfPrinters,
    sfPersonal,
    sfFavorites,
    sfStartup,
    sfRecent,
    sfSendTo,
    sfBitBucket,
    sfStartMenu,
    sfDesktopDirectory,
    sfDrives,
    sfNetwork,
    sfNetHood,
    sfFonts,
    sfTemplates,
    sfCommonStartMenu,
    sfCommonPrograms,
    sfCommonStartup,
    sfCommonDesktopDirectory,
    sfAppData,
    sfPrintHood,
    sfAltStartup,
    sfCommonAltStartup,
    sfCommonFavorites,
    sfInternetCache,
    sfCookies,
    sfHistory
};
constexpr int kShSpecialFolderCount = 30;

/// The CSIDL value of a special folder (12 to 15 and 28 have no member).
constexpr int ShSpecialFolderCsidl(TShSpecialFolder folder)
{
    constexpr std::array<int, kShSpecialFolderCount> kCsidl = {
        0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 16, 17, 18,
        19, 20, 21, 22, 23, 24, 25, 26, 27, 29, 30, 31, 32, 33, 34};
    return kCsidl[static_cast<size_t>(folder)];
}

/// The item attributes, each standing for an SFGAO mask (ShItemAttributeMask).
/// An attribute holds when every bit of its mask is set.
enum TShItemAttribute : int
{
    iaCanCopy,
    iaCanMove,
    iaCanLink,
    iaCanRename,
    iaCanDelete,
    iaHasPropSheet,
    iaDropTarget,
    iaCapabilityMask,
    iaLink,
    iaShare,
    iaReadOnly,
    iaGhosted,
    iaHidden,
    iaDisplayAttrMask,
    iaFileSysAncestor,
    iaFolder,
    iaFileSystem,
    iaHasSubFolder,
    iaContentsMask,
    iaValidate,
    iaRemovable,
    iaCompressed,
    iaBrowsable,
    iaNonEnumerated,
    iaNewContent
};
constexpr int kShItemAttributeCount = 25;

/// The SFGAO mask of an attribute; ghosted and hidden share one, as do
/// has-sub-folder and the contents mask.
constexpr uint32_t ShItemAttributeMask(TShItemAttribute attribute)
{
    constexpr std::array<uint32_t, kShItemAttributeCount> kMasks = {
        0x1,        0x2,        0x4,        0x10,       0x20,       0x40,      0x100,
        0x177,      0x10000,    0x20000,    0x40000,    0x80000,    0x80000,   0xF0000,
        0x10000000, 0x20000000, 0x40000000, 0x80000000, 0x80000000, 0x1000000, 0x2000000,
        0x4000000,  0x8000000,  0x100000,   0x200000};
    return kMasks[static_cast<size_t>(attribute)];
}

// Namespace helpers over the process's namespace (ShellNamespace()).

/// 3 when the folder or either list is missing or the folder's CompareIDs
/// (column 0) fails; else 0 equal, 1 first after second, 2 first before.
int ShCompareIdLists(const std::shared_ptr<IShellFolder>& folder, TItemIdPosition first,
                     TItemIdPosition second);
/// Whether the absolute list names the desktop, compared in `folder`; false
/// when the desktop's list cannot be had.
bool ShIsDesktop(const std::shared_ptr<IShellFolder>& folder, TItemIdPosition list);
/// -1 for no list or no desktop folder; 0 for the desktop; else the number
/// of items.
int ShItemCount(TItemIdPosition list);
/// The file-system path of an absolute list; false and empty otherwise.
bool ShPathFromIdList(TItemIdPosition list, std::string& path);
/// The absolute list of a path (or a display name the desktop parses).
bool ShIdListFromPath(const std::string& path, TItemIdList& list);
/// The absolute list of a special folder.
bool ShSpecialFolderIdList(TShSpecialFolder folder, TItemIdList& list);
/// The display name of a relative list in `folder` (SHGDN_* flags); false
/// when the folder or the list is missing or the call fails.
bool ShStrRetToString(const std::shared_ptr<IShellFolder>& folder, TItemIdPosition list,
                      uint32_t flags, std::string& name);
/// The system icon index of an absolute list, small unless `large`, open
/// when `open`; 0 for no list or when the namespace gives none.
int ShSysIconIndex(TItemIdPosition list, bool large, bool open);
/// The system image list of the size asked for; null on failure.
const TSysImageList* ShSysImageList(bool large);
