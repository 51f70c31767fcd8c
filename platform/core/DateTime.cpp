#include "platform/core/DateTime.h"

#include <algorithm>
#include <ctime>

namespace {

constexpr uint64_t kTicksPerSecond = kFileTimeTicksPerSecond;
constexpr uint64_t kTicksPerDay = kFileTimeTicksPerDay;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochSeconds = 11'644'473'600;
// The last file time of year 30827, the calendar's end for file times.
constexpr uint64_t kMaxFileTime = 9'223'149'887'999'999'999;

// Days from 1970-01-01 of a proleptic Gregorian date, and back
// (H. Hinnant's civil calendar algorithms).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + static_cast<int64_t>(dayOfEra) - 719'468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day)
{
    days += 719'468;
    const int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146'097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = static_cast<int>(static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2));
}

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

} // namespace

std::optional<TFileTime> FileTimeFromUnixTime(int64_t seconds, int64_t nanoseconds)
{
    // Range checks before any sum, so that no value can overflow.
    constexpr int64_t kMaxSeconds =
        static_cast<int64_t>(kMaxFileTime / kTicksPerSecond) - kUnixEpochSeconds;
    if (seconds < -kUnixEpochSeconds || seconds > kMaxSeconds || nanoseconds < 0)
        return std::nullopt;
    const uint64_t sinceEpoch = static_cast<uint64_t>(seconds + kUnixEpochSeconds);
    const uint64_t ticks = sinceEpoch * kTicksPerSecond + static_cast<uint64_t>(nanoseconds / 100);
    if (ticks > kMaxFileTime)
        return std::nullopt;
    return ticks;
}

std::optional<TFileTime> FileTimeToLocalFileTime(TFileTime utc)
{
    if (utc > kMaxFileTime)
        return std::nullopt;
    const int64_t unixSeconds = static_cast<int64_t>(utc / kTicksPerSecond) - kUnixEpochSeconds;
    const std::time_t when = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return std::nullopt;
    const int64_t offset =
        static_cast<int64_t>(local.tm_gmtoff) * static_cast<int64_t>(kTicksPerSecond);
    const int64_t shifted = static_cast<int64_t>(utc) + offset;
    if (shifted < 0)
        return std::nullopt;
    return static_cast<TFileTime>(shifted);
}

std::optional<TSystemTime> FileTimeToSystemTime(TFileTime time)
{
    if (time > kMaxFileTime)
        return std::nullopt;
    const int64_t days = static_cast<int64_t>(time / kTicksPerDay);
    const uint64_t ticksOfDay = time % kTicksPerDay;
    TSystemTime result;
    CivilFromDays(days + DaysFromCivil(1601, 1, 1), result.Year, result.Month, result.Day);
    const uint64_t milliseconds = ticksOfDay / 10'000;
    result.Hour = static_cast<int>(milliseconds / 3'600'000);
    result.Minute = static_cast<int>(milliseconds / 60'000 % 60);
    result.Second = static_cast<int>(milliseconds / 1000 % 60);
    result.Milliseconds = static_cast<int>(milliseconds % 1000);
    return result;
}

std::optional<TDateTime> TryEncodeDateTime(const TSystemTime& time)
{
    if (time.Year < 1 || time.Year > 9999 || time.Month < 1 || time.Month > 12 || time.Day < 1 ||
        time.Day > DaysInMonth(time.Year, time.Month) || time.Hour < 0 || time.Hour > 23 ||
        time.Minute < 0 || time.Minute > 59 || time.Second < 0 || time.Second > 59 ||
        time.Milliseconds < 0 || time.Milliseconds > 999)
        return std::nullopt;
    const int64_t days = DaysFromCivil(time.Year, static_cast<unsigned>(time.Month),
                                       static_cast<unsigned>(time.Day)) -
                         DaysFromCivil(1899, 12, 30);
    const double fraction = (time.Hour * 3'600'000.0 + time.Minute * 60'000.0 +
                             time.Second * 1000.0 + time.Milliseconds) /
                            86'400'000.0;
    // Before day zero the fraction still runs forward from midnight.
    return days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
}

std::optional<TFileTime> TLocalFileTimeConverter::ToLocal(TFileTime utc)
{
    constexpr uint64_t kTicksPerHour = kTicksPerSecond * 3600;
    if (utc > kMaxFileTime)
        return std::nullopt;
    const uint64_t hour = utc / kTicksPerHour;
    TSlot& slot = slots_[hour % kSlots];
    if (slot.Hour != hour) {
        const uint64_t start = hour * kTicksPerHour;
        const uint64_t end = std::min(start + kTicksPerHour - 1, kMaxFileTime);
        const std::optional<TFileTime> localStart = FileTimeToLocalFileTime(start);
        const std::optional<TFileTime> localEnd = FileTimeToLocalFileTime(end);
        const int64_t offsetStart = localStart ? static_cast<int64_t>(*localStart - start) : 0;
        const int64_t offsetEnd = localEnd ? static_cast<int64_t>(*localEnd - end) : 0;
        // An hour that holds a change of offset, or lies at the edge of the
        // range, is answered exactly every time.
        if (!localStart || !localEnd || offsetStart != offsetEnd)
            return FileTimeToLocalFileTime(utc);
        slot.Hour = hour;
        slot.OffsetTicks = offsetStart;
    }
    const int64_t shifted = static_cast<int64_t>(utc) + slot.OffsetTicks;
    if (shifted < 0)
        return std::nullopt;
    return static_cast<TFileTime>(shifted);
}
