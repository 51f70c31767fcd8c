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
