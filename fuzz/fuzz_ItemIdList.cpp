// Feeds arbitrary bytes to the decoders of lists that come from outside (a
// drop, the clipboard): each must refuse what it cannot read and never read
// past the end.
#include "platform/shellns/ItemIdList.h"
#include "platform/shellns/Ole.h"
#include "platform/shellns/ShellNsItems.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TItemIdList list = TItemIdList::FromUntrustedBytes(data, size);
    if (list) {
        // Walk every item as the namespace does, also those that fail.
        for (TItemIdPosition position = list.Data(); ItemIdCount(position) != 0;
             position += ItemIdCount(position))
            (void)DecodeNsItem(position);
        (void)DecodeNsList(list.Data());
    }
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto selection = DecodeShellIdListArray(bytes)) {
        (void)DecodeNsList(selection->Parent.Data());
        for (const TItemIdList& item : selection->Items)
            (void)DecodeNsList(item.Data());
    }
    return 0;
}
