#include "platform/shellns/ShellNsItems.h"

#include <cstring>

namespace {

void PutUnsigned(uint8_t* out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetUnsigned(const uint8_t* in, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

bool IsSpecialKind(TNsItemKind kind)
{
    return kind == TNsItemKind::Computer || kind == TNsItemKind::Home ||
           kind == TNsItemKind::Network || kind == TNsItemKind::Trash;
}

} // namespace

bool IsValidNsItemName(TNsItemKind kind, std::string_view name)
{
    if (name.find('\0') != std::string_view::npos)
        return false;
    switch (kind) {
    case TNsItemKind::Computer:
    case TNsItemKind::Home:
    case TNsItemKind::Network:
    case TNsItemKind::Trash:
        return name.empty();
    case TNsItemKind::Volume:
    case TNsItemKind::NetworkMount:
        return !name.empty() && name.front() == '/';
    case TNsItemKind::Entry:
    case TNsItemKind::TrashEntry:
        return !name.empty() && name != "." && name != ".." &&
               name.find('/') == std::string_view::npos;
    }
    return false;
}

TItemIdList EncodeNsItem(const TNsItem& item)
{
    if (!IsValidNsItemName(item.Kind, item.Name))
        return {};
    // The item and the terminator must fit a 16-bit list size.
    const size_t count = kNsItemHeaderSize + item.Name.size();
    if (count + 2 > UINT16_MAX)
        return {};
    TItemIdList list = TItemIdList::Allocate(static_cast<uint16_t>(count + 2));
    if (!list)
        return {};
    uint8_t* out = list.MutableData();
    PutUnsigned(out, count, 2);
    out[2] = kNsItemSignature;
    out[3] = static_cast<uint8_t>(item.Kind);
    out[4] = item.Flags;
    PutUnsigned(out + 5, item.Attributes, 4);
    PutUnsigned(out + 9, item.Size, 8);
    PutUnsigned(out + 17, item.CreationTime, 8);
    PutUnsigned(out + 25, item.LastAccessTime, 8);
    PutUnsigned(out + 33, item.LastWriteTime, 8);
    if (!item.Name.empty())
        std::memcpy(out + kNsItemHeaderSize, item.Name.data(), item.Name.size());
    return list;
}

TItemIdList EncodeNsItems(const std::vector<TNsItem>& items)
{
    std::string bytes;
    for (const TNsItem& item : items) {
        TItemIdList one = EncodeNsItem(item);
        if (!one)
            return {};
        bytes.append(reinterpret_cast<const char*>(one.Data()), ItemIdCount(one.Data()));
    }
    return JoinItemIdBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), nullptr,
                           0);
}

std::optional<TNsItem> DecodeNsItemFacts(TItemIdPosition position, std::string_view& name)
{
    if (!position)
        return std::nullopt;
    const uint16_t count = ItemIdCount(position);
    if (count < kNsItemHeaderSize || position[2] != kNsItemSignature)
        return std::nullopt;
    const uint8_t kind = position[3];
    if (kind < static_cast<uint8_t>(TNsItemKind::Computer) ||
        kind > static_cast<uint8_t>(TNsItemKind::TrashEntry))
        return std::nullopt;
    TNsItem item;
    item.Kind = static_cast<TNsItemKind>(kind);
    item.Flags = position[4];
    item.Attributes = static_cast<uint32_t>(GetUnsigned(position + 5, 4));
    item.Size = GetUnsigned(position + 9, 8);
    item.CreationTime = GetUnsigned(position + 17, 8);
    item.LastAccessTime = GetUnsigned(position + 25, 8);
    item.LastWriteTime = GetUnsigned(position + 33, 8);
    const std::string_view bytes(reinterpret_cast<const char*>(position + kNsItemHeaderSize),
                                 count - kNsItemHeaderSize);
    if (!IsValidNsItemName(item.Kind, bytes))
        return std::nullopt;
    if (IsSpecialKind(item.Kind) && (item.Flags != 0 || item.Size != 0))
        return std::nullopt;
    name = bytes;
    return item;
}

std::optional<TNsItem> DecodeNsItem(TItemIdPosition position)
{
    std::string_view name;
    std::optional<TNsItem> item = DecodeNsItemFacts(position, name);
    if (item)
        item->Name.assign(name);
    return item;
}

std::optional<std::vector<TNsItem>> DecodeNsList(TItemIdPosition list)
{
    if (!list)
        return std::nullopt;
    std::vector<TNsItem> items;
    for (TItemIdPosition position = list; !IsItemIdEnd(position); position = NextItemId(position)) {
        std::optional<TNsItem> item = DecodeNsItem(position);
        if (!item)
            return std::nullopt;
        items.push_back(std::move(*item));
    }
    return items;
}
