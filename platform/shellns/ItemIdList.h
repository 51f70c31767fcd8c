#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// An item identifier list: the bytes that name one namespace item. A run of
// items, each an unsigned 16-bit little-endian byte count (counting its own
// two bytes) and that many bytes less two of private data, ended by a 16-bit
// zero. The terminator alone names the desktop. An absolute list is relative
// to the desktop; a relative list holds the one item that names a child in
// its parent folder. Item bytes are the namespace's own business.
//
// TItemIdList owns one such block and frees it exactly once; it moves but
// does not copy (copies are made on purpose, with ShCopyIdList). An empty
// holder is "no list", which every list function answers emptily.

/// A place inside a list: the start of an item or of the terminator; null
/// for no list.
using TItemIdPosition = const uint8_t*;

class TItemIdList
{
public:
    TItemIdList() = default;
    TItemIdList(TItemIdList&& other) noexcept = default;
    TItemIdList& operator=(TItemIdList&& other) noexcept = default;
    TItemIdList(const TItemIdList&) = delete;
    TItemIdList& operator=(const TItemIdList&) = delete;

    /// A zero-filled block of `size` bytes (at least the two of a
    /// terminator); no list when the memory cannot be had.
    static TItemIdList Allocate(uint16_t size);

    /// A list made from bytes that came from outside (drag and drop, the
    /// clipboard): no list unless the counts walk to a terminator inside
    /// `size` bytes, no count is 1 (which could not hold itself) and the
    /// whole fits 16-bit sizes. Bytes after the terminator are not kept.
    static TItemIdList FromUntrustedBytes(const void* bytes, size_t size);

    explicit operator bool() const { return bytes_ != nullptr; }
    /// The first item; null for no list.
    TItemIdPosition Data() const { return bytes_.get(); }
    /// For the functions that fill a freshly allocated block.
    uint8_t* MutableData() { return bytes_.get(); }
    /// The bytes of the block (0 for no list).
    size_t BlockSize() const { return size_; }

    /// Frees the block now; the holder is then no list.
    void Reset()
    {
        bytes_.reset();
        size_ = 0;
    }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0;
};

/// The 16-bit count at a position (the caller knows the bytes are there).
inline uint16_t ItemIdCount(TItemIdPosition position)
{
    return static_cast<uint16_t>(position[0] | (position[1] << 8));
}

// Walkers over lists whose counts are known to be sound (made here, or
// checked by TItemIdList::FromUntrustedBytes).

/// Whether a position is the terminator.
inline bool IsItemIdEnd(TItemIdPosition position)
{
    return ItemIdCount(position) == 0;
}

/// The item after the one at `position` (which is not the terminator).
inline TItemIdPosition NextItemId(TItemIdPosition position)
{
    return position + ItemIdCount(position);
}

/// Whether the list at `position` holds two items or more.
inline bool HasSeveralItemIds(TItemIdPosition position)
{
    return !IsItemIdEnd(position) && !IsItemIdEnd(NextItemId(position));
}

/// The number of items before the terminator.
size_t ItemIdItemCount(TItemIdPosition list);

/// The bytes of the first `maxItems` items (all of them by default),
/// terminator excluded.
size_t ItemIdBytesSize(TItemIdPosition list, size_t maxItems = SIZE_MAX);

/// A one-item list of the item at `position`; no list at the terminator.
TItemIdList CopyFirstItemId(TItemIdPosition position);

/// Every item but the last, and where the last one starts in `list`.
TItemIdList CopyAllButLastItemId(TItemIdPosition list, TItemIdPosition& last);

/// One list of `firstSize` item bytes followed by `secondSize` item bytes
/// (terminators excluded); no list when the whole would not fit a 16-bit
/// size.
TItemIdList JoinItemIdBytes(const uint8_t* first, size_t firstSize, const uint8_t* second,
                            size_t secondSize);
