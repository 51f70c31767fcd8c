#include "platform/shellns/ItemIdList.h"

#include <cstring>
#include <new>

TItemIdList TItemIdList::Allocate(uint16_t size)
{
    TItemIdList list;
    const size_t blockSize = size < 2 ? 2 : size;
    list.bytes_.reset(new (std::nothrow) uint8_t[blockSize]());
    if (list.bytes_)
        list.size_ = blockSize;
    return list;
}

TItemIdList TItemIdList::FromUntrustedBytes(const void* bytes, size_t size)
{
    if (bytes == nullptr)
        return {};
    const auto* data = static_cast<const uint8_t*>(bytes);
    size_t offset = 0;
    while (true) {
        if (size < 2 || offset > size - 2)
            return {};
        const uint16_t count = ItemIdCount(data + offset);
        if (count == 0)
            break;
        if (count < 2 || count > size - offset)
            return {};
        offset += count;
    }
    const size_t length = offset + 2;
    if (length > UINT16_MAX)
        return {};
    TItemIdList list = Allocate(static_cast<uint16_t>(length));
    if (list)
        std::memcpy(list.MutableData(), data, length);
    return list;
}

size_t ItemIdItemCount(TItemIdPosition list)
{
    size_t count = 0;
    for (TItemIdPosition position = list; !IsItemIdEnd(position); position = NextItemId(position))
        ++count;
    return count;
}

size_t ItemIdBytesSize(TItemIdPosition list, size_t maxItems)
{
    size_t size = 0;
    for (size_t i = 0; i < maxItems && !IsItemIdEnd(list + size); ++i)
        size += ItemIdCount(list + size);
    return size;
}

TItemIdList CopyFirstItemId(TItemIdPosition position)
{
    if (IsItemIdEnd(position))
        return {};
    return JoinItemIdBytes(position, ItemIdCount(position), nullptr, 0);
}

TItemIdList CopyAllButLastItemId(TItemIdPosition list, TItemIdPosition& last)
{
    last = list;
    for (TItemIdPosition position = list; !IsItemIdEnd(position); position = NextItemId(position))
        last = position;
    return JoinItemIdBytes(list, static_cast<size_t>(last - list), nullptr, 0);
}

TItemIdList JoinItemIdBytes(const uint8_t* first, size_t firstSize, const uint8_t* second,
                            size_t secondSize)
{
    const size_t total = firstSize + secondSize + 2;
    if (total > UINT16_MAX)
        return {};
    TItemIdList list = TItemIdList::Allocate(static_cast<uint16_t>(total));
    if (!list)
        return {};
    if (firstSize != 0)
        std::memcpy(list.MutableData(), first, firstSize);
    if (secondSize != 0)
        std::memcpy(list.MutableData() + firstSize, second, secondSize);
    return list;
}
