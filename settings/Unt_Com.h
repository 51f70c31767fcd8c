#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

struct TMalformedStore;

// Common services: the six file-type switches with their persistence in the
// settings store, and the error log that every procedure of the program
// writes the errors it catches to.

/// Indexes of FileTypeSwitches; the order is the options dialog's row order.
enum TFileType : int
{
    ftMDI = 0,
    ftWMA = 1,
    ftWAV = 2,
    ftMP3 = 3,
    ftAIF = 4,
    ftSND = 5
};
constexpr int kFileTypeCount = 6;

/// The switches, one set per process; all off until loaded or switched on.
extern std::array<bool, kFileTypeCount> FileTypeSwitches;

/// The settings key of the switches.
extern const char* const kOptionKey;

/// Reads the switches that exist in the store. The first error ends the load
/// and is logged under "prc_LoadTMLOption-E"; switches read before it keep
/// their new state. A malformed store file found on the way is logged too.
void LoadOptions();

/// The log's words for a store file that could not be read: where it is,
/// why, and where it was kept.
std::string MalformedStoreMessage(const TMalformedStore& malformed);

/// Writes all six switches as 0 or 1. The first error ends the save and is
/// logged under "prc_SaveTMLOption-E".
void SaveOptions();

/// Appends one line to today's "TML-YYMMDD.LOG" in the application directory:
/// date, local time, maker, module and tag in 20-byte columns, level (above
/// 10 written as 9), message. A line is appended whole or not at all, under
/// an flock of the log. Input/output errors (a special file at the log's name
/// included, which is never opened for real) throw std::system_error whose
/// message names the log, the reason, and the tag and message that could not
/// be written; both are also written to standard error.
void WriteErrorLog(const std::string& maker, const std::string& module, const std::string& tag,
                   const std::string& message, int32_t level);

/// The clock the log reads; the system clock when empty (tests set one).
using TLogClock = std::function<std::time_t()>;
void SetLogClock(TLogClock clock);

/// The name of the log file that a line written at `when` goes to; empty when
/// there is no application directory.
std::string ErrorLogFileName(std::time_t when);
