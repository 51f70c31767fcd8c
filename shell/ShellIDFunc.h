#pragma once

#include "platform/ItemIdList.h"

#include <cstdint>

// Functions that take item identifier lists apart and build them from their
// bytes. None of them throws; "no list" in gives the empty answer stated.
// Sizes are 16-bit, as in the list format. A returned list is new and the
// caller's; inputs are left as they are unless said otherwise.

/// Frees the list and leaves the holder empty; an empty holder is fine.
void ShFreeIdList(TItemIdList& list);
/// A zero-filled block of `size` bytes; no list when memory runs out.
TItemIdList ShAllocIdList(uint16_t size);

/// 0 for no list or an empty one; else the first item's count plus the two
/// bytes of a terminator.
uint16_t ShFirstItemSize(TItemIdPosition list);
/// 0 for no list; else every item's count plus the terminator's two bytes.
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
