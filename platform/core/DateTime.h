#pragma once

#include <cstdint>
#include <optional>

// The program's two ways of telling time, and the conversions between them
// that the file search, the namespace and the file list share.
//
// A date-time value counts days since 30 December 1899, 0:00, with the time
// of day as its fraction. Before that day the whole part is negative and the
// fraction still counts forward from midnight: -1.25 is 29 December 1899,
// 6:00. A file time counts 100-ns units since 1 January 1601, 0:00, UTC, as
// find records and file-system times carry them; 0 means "no time".

using TDateTime = double;
using TFileTime = uint64_t;

constexpr TFileTime kFileTimeTicksPerSecond = 10'000'000;
constexpr TFileTime kFileTimeTicksPerDay = kFileTimeTicksPerSecond * 86'400;

/// A calendar date and time of day, as a file time decodes into.
struct TSystemTime
{
    int Year = 0;
    int Month = 0; // 1..12
    int Day = 0;   // 1..31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Milliseconds = 0;

    bool operator==(const TSystemTime&) const = default;
};

/// The file time of a POSIX time (seconds and nanoseconds since 1970, UTC);
/// none before 1601 or past the largest file time the calendar decodes.
std::optional<TFileTime> FileTimeFromUnixTime(int64_t seconds, int64_t nanoseconds);

/// Shifts a UTC file time by the local zone's offset in effect at that
/// instant (daylight saving included); none when the zone cannot tell or the
/// result leaves the file-time range.
std::optional<TFileTime> FileTimeToLocalFileTime(TFileTime utc);

/// The calendar date and time of a file time (proleptic Gregorian calendar);
/// none past the end of year 30827, the file times' limit.
std::optional<TSystemTime> FileTimeToSystemTime(TFileTime time);

/// The date-time value of a calendar time; none when a field is out of its
/// range (year 1..9999, a day the month does not have, hour 0..23, ...).
std::optional<TDateTime> TryEncodeDateTime(const TSystemTime& time);

/// FileTimeToLocalFileTime for a run of many conversions: it asks the zone
/// once per hour of UTC time and keeps the answer for that hour when the
/// offset is the same at both of its ends. It does not see a change of the
/// zone made while it lives, so make one for each run.
class TLocalFileTimeConverter
{
public:
    std::optional<TFileTime> ToLocal(TFileTime utc);

private:
    struct TSlot
    {
        uint64_t Hour = UINT64_MAX;
        int64_t OffsetTicks = 0;
    };
    static constexpr size_t kSlots = 64;
    TSlot slots_[kSlots];
};
