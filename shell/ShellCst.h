#pragma once

#include "platform/shellns/Ole.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

// The data formats the browsing controls offer and look for in a drag or on
// the clipboard, each as a full format description. Formats are named by
// fixed MIME types (platform/Ole.h), so nothing has to be registered before
// use.

constexpr uint32_t DVASPECT_CONTENT = 1;
constexpr uint32_t TYMED_HGLOBAL = 1;

/// One data format as a data object is asked for it.
struct TFormatEtc
{
    QString Format;
    void* TargetDevice = nullptr;
    uint32_t Aspect = DVASPECT_CONTENT;
    int32_t Index = -1;
    uint32_t Tymed = TYMED_HGLOBAL;
};

namespace ShellCst {

/// Positions in Formats(); the controls ask a dropped data object for the
/// first two.
enum TFormatIndex : size_t
{
    fiHDrop,
    fiShellIdList,
    fiFileNameMap,
    fiFileNameMapW,
    fiShellObjectOffsets,
    fiPerformedDropEffect
};
constexpr size_t kFormatCount = 6;

/// The six formats in the order of TFormatIndex: the whole content, no target
/// device, index -1, in memory.
const std::array<TFormatEtc, kFormatCount>& Formats();

inline const TFormatEtc& HDropFormat()
{
    return Formats()[fiHDrop];
}
inline const TFormatEtc& IdListFormat()
{
    return Formats()[fiShellIdList];
}
inline const TFormatEtc& FileNameMapFormat()
{
    return Formats()[fiFileNameMap];
}
inline const TFormatEtc& FileNameMapWFormat()
{
    return Formats()[fiFileNameMapW];
}
inline const TFormatEtc& ShellObjectOffsetsFormat()
{
    return Formats()[fiShellObjectOffsets];
}
inline const TFormatEtc& PerformedDropEffectFormat()
{
    return Formats()[fiPerformedDropEffect];
}

} // namespace ShellCst
