#pragma once

#include "platform/core/DateTime.h"

#include <cstdint>
#include <string>

// Path, volume, time and key-state helpers that the browsing controls share.

/// The path with "/" appended unless its last byte already is one.
std::string ShIncludeBackslash(const std::string& path);

/// The date-time value of a file time in local time; 0 when either 32-bit
/// half of the file time is 0 (also when it cannot be converted).
TDateTime ShFileTimeToDateTime(TFileTime fileTime);

/// The label of the volume mounted at `rootPath`, lower-cased and then given
/// a capital first letter when that is a to z ("MUSIC" comes back "Music");
/// empty when nothing is mounted there or the volume has no label.
std::string ShVolumeLabel(const std::string& rootPath);

/// Key states of a drag, with the values they have in drag events.
constexpr uint32_t MK_LBUTTON = 0x1;
constexpr uint32_t MK_RBUTTON = 0x2;
constexpr uint32_t MK_SHIFT = 0x4;
constexpr uint32_t MK_CONTROL = 0x8;
constexpr uint32_t MK_MBUTTON = 0x10;
constexpr uint32_t MK_ALT = 0x20;

/// The shift-state set: keys and mouse buttons held.
enum TShiftFlag : uint8_t
{
    ssShift = 0x1,
    ssAlt = 0x2,
    ssCtrl = 0x4,
    ssLeft = 0x8,
    ssRight = 0x10,
    ssMiddle = 0x20
};
using TShiftState = uint8_t;

/// The shift-state set of a drag's key state.
TShiftState ShKeyStateToShift(uint32_t keyState);
