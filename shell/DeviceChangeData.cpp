#include "shell/DeviceChangeData.h"

#include "shell/ShellIDFunc.h"

TDeviceChangeData::TDeviceChangeData(std::string caption, TItemIdPosition idList,
                                     uint16_t deviceKind, uint32_t eventType)
    : Caption(std::move(caption)), EventType(eventType), DeviceKind(deviceKind),
      IdList(ShCopyIdList(idList))
{
}
