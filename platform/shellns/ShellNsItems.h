#pragma once

#include "platform/core/DateTime.h"
#include "platform/shellns/ItemIdList.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The private bytes of the items of the Linux desktop namespace. Every item
// is one list entry:
//
//   count (u16) | signature 0xA7 (u8) | kind (u8) | flags (u8) |
//   attributes (u32) | size (u64) | creation, last access, last write (u64) |
//   name bytes (count - 41 of them, no terminator)
//
// little-endian, byte-packed. The facts are those found when the item was
// made (enumerated or parsed), so that sorting a folder never touches the
// disk again. Lists that come from outside may hold anything: the decoder
// checks the signature, the kind, the lengths and the name, and answers none
// rather than guess.

enum class TNsItemKind : uint8_t
{
    Computer = 1,     // the volumes
    Home = 2,         // the home directory
    Network = 3,      // the network mounts
    Trash = 4,        // the user's Trash
    Volume = 5,       // a mounted volume; Name is its mount point
    NetworkMount = 6, // a network mount under Network; Name is its mount point
    Entry = 7,        // a file-system entry; Name is its name in its directory
    TrashEntry = 8    // a trashed file; Name is its name in Trash/files
};

constexpr uint8_t kNsItemSignature = 0xA7;
constexpr size_t kNsItemHeaderSize = 41;

// Flags of an item.
constexpr uint8_t kNsFlagFolder = 0x1;    // a directory, or a link to one
constexpr uint8_t kNsFlagLink = 0x2;      // a symbolic link
constexpr uint8_t kNsFlagRemovable = 0x4; // a volume on removable media
constexpr uint8_t kNsFlagOptical = 0x8;   // a volume of an optical file system
constexpr uint8_t kNsFlagNetwork = 0x10;  // a volume that may stall (network, FUSE)

struct TNsItem
{
    TNsItemKind Kind = TNsItemKind::Entry;
    uint8_t Flags = 0;
    uint32_t Attributes = 0; // FILE_ATTRIBUTE_* of an entry
    uint64_t Size = 0;
    TFileTime CreationTime = 0; // 0 when unknown
    TFileTime LastAccessTime = 0;
    TFileTime LastWriteTime = 0;
    std::string Name;

    bool IsFolder() const { return (Flags & kNsFlagFolder) != 0; }
};

/// The one-item list of an item; none when the name is too long for a
/// 16-bit count or not valid for its kind.
TItemIdList EncodeNsItem(const TNsItem& item);

/// One list of several items; none when an item cannot be encoded or the
/// whole would not fit a 16-bit size.
TItemIdList EncodeNsItems(const std::vector<TNsItem>& items);

/// The item at a position of a list whose counts are known to be sound
/// (made here, or checked by TItemIdList::FromUntrustedBytes); none for the
/// terminator, a foreign item, an unknown kind or a name that is not valid
/// for its kind.
std::optional<TNsItem> DecodeNsItem(TItemIdPosition position);

/// The same, with the name left in the list's bytes: `name` views them
/// (valid while the list lives) and the item's Name stays empty.
std::optional<TNsItem> DecodeNsItemFacts(TItemIdPosition position, std::string_view& name);

/// Every item of a sound list, in order; none when any item does not decode.
std::optional<std::vector<TNsItem>> DecodeNsList(TItemIdPosition list);

/// Whether a name may stand for its kind: an entry name is not empty, not
/// "." or "..", and holds no "/" or NUL; a mount point is absolute and holds
/// no NUL; special items have no name.
bool IsValidNsItemName(TNsItemKind kind, std::string_view name);
