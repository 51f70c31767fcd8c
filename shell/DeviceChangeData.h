#pragma once

#include "platform/shellns/ItemIdList.h"

#include <cstdint>
#include <string>

// One volume notice, as the folder tree hands it through its directory
// watcher and gets it back once notices have settled.

constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

/// Device kinds of a notice.
constexpr uint16_t kDeviceKindRemovable = 1;
constexpr uint16_t kDeviceKindNetwork = 2;

class TDeviceChangeData
{
public:
    /// Keeps a copy of `idList` (none stays none).
    TDeviceChangeData(std::string caption, TItemIdPosition idList, uint16_t deviceKind,
                      uint32_t eventType);

    /// "label (mount point)" on arrival of media, " (mount point)" on
    /// removal, empty for network volumes.
    std::string Caption;
    uint32_t EventType;
    uint16_t DeviceKind;
    /// The volume root's absolute list; none for network volumes.
    TItemIdList IdList;
};
