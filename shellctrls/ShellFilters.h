#pragma once

#include "shell/ShellDataItem.h"

/// Whether a child of kind `childType` in a folder of `parentLevel` and
/// `parentType` is shown with the virtual kinds `shown`: at the desktop the
/// recycle bin and the network only when shown and other virtual items
/// never; inside the computer virtual items only when shown; inside the
/// network nothing unless the network is shown. The folder tree and the
/// file list filter their enumerations by it.
inline bool KeptByFilter(int parentLevel, TShItemIDType parentType, TShItemIDType childType,
                         TShVirtuaItems shown)
{
    if (parentLevel == 0) {
        switch (childType) {
        case itBitBucket:
        case itNetWork:
            return shown.Contains(childType);
        case itVirtual:
            return false;
        default:
            return true;
        }
    }
    if (parentLevel == 1 && parentType == itMyComputer)
        return childType != itVirtual || shown.Contains(itVirtual);
    if (parentLevel == 1 && parentType == itNetWork)
        return shown.Contains(itNetWork);
    return true;
}
