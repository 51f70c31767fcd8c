#include "shell/ShellUtils.h"

#include "platform/shellns/LinuxShell.h"
#include "platform/shellns/ShellNs.h"

std::string ShIncludeBackslash(const std::string& path)
{
    return !path.empty() && path.back() == '/' ? path : path + '/';
}

TDateTime ShFileTimeToDateTime(TFileTime fileTime)
{
    if ((fileTime & 0xFFFFFFFFu) == 0 || (fileTime >> 32) == 0)
        return 0;
    const std::optional<TFileTime> local = FileTimeToLocalFileTime(fileTime);
    if (!local)
        return 0;
    const std::optional<TSystemTime> calendar = FileTimeToSystemTime(*local);
    if (!calendar)
        return 0;
    return TryEncodeDateTime(*calendar).value_or(0);
}

std::string ShVolumeLabel(const std::string& rootPath)
{
    std::string root = rootPath;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return ShownVolumeLabel(ShellNamespace()->GetVolumeLabel(root));
}

TShiftState ShKeyStateToShift(uint32_t keyState)
{
    TShiftState state = 0;
    if (keyState & MK_SHIFT)
        state |= ssShift;
    if (keyState & MK_CONTROL)
        state |= ssCtrl;
    if (keyState & MK_ALT)
        state |= ssAlt;
    if (keyState & MK_LBUTTON)
        state |= ssLeft;
    if (keyState & MK_RBUTTON)
        state |= ssRight;
    if (keyState & MK_MBUTTON)
        state |= ssMiddle;
    return state;
}
