#include "platform/shellns/Ole.h"

namespace {

void AppendUnsigned32(QByteArray& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>(value >> (8 * i)));
}

uint32_t Unsigned32At(const QByteArray& bytes, qsizetype offset)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + i])) << (8 * i);
    return value;
}

size_t ListSize(TItemIdPosition list)
{
    return ItemIdBytesSize(list) + 2;
}

} // namespace

HRESULT TMemoryDataObject::QueryGetData(const QString& format) const
{
    return data_.count(format) != 0 ? S_OK : DV_E_FORMATETC;
}

HRESULT TMemoryDataObject::GetData(const QString& format, QByteArray& data) const
{
    const auto found = data_.find(format);
    if (found == data_.end())
        return DV_E_FORMATETC;
    data = found->second;
    return S_OK;
}

QByteArray EncodeShellIdListArray(TItemIdPosition parent, const std::vector<TItemIdPosition>& items)
{
    if (!parent)
        return {};
    std::vector<TItemIdPosition> lists;
    lists.push_back(parent);
    for (TItemIdPosition item : items) {
        if (!item)
            return {};
        lists.push_back(item);
    }
    QByteArray out;
    AppendUnsigned32(out, static_cast<uint32_t>(items.size()));
    uint32_t offset = static_cast<uint32_t>(4 * (lists.size() + 1));
    for (TItemIdPosition list : lists) {
        AppendUnsigned32(out, offset);
        offset += static_cast<uint32_t>(ListSize(list));
    }
    for (TItemIdPosition list : lists)
        out.append(reinterpret_cast<const char*>(list), static_cast<qsizetype>(ListSize(list)));
    return out;
}

std::optional<TShellIdListArray> DecodeShellIdListArray(const QByteArray& bytes)
{
    const auto size = static_cast<uint64_t>(bytes.size());
    if (size < 4)
        return std::nullopt;
    const uint64_t count = Unsigned32At(bytes, 0);
    // Every list takes at least its two terminator bytes besides its offset.
    if ((count + 1) * 6 > size - 4)
        return std::nullopt;
    TShellIdListArray selection;
    for (uint64_t i = 0; i <= count; ++i) {
        const uint64_t offset = Unsigned32At(bytes, static_cast<qsizetype>(4 + 4 * i));
        if (offset >= size)
            return std::nullopt;
        TItemIdList list =
            TItemIdList::FromUntrustedBytes(bytes.constData() + offset, size - offset);
        if (!list)
            return std::nullopt;
        if (i == 0)
            selection.Parent = std::move(list);
        else
            selection.Items.push_back(std::move(list));
    }
    return selection;
}
