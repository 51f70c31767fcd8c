#pragma once

#include <ostream>
#include <string>
#include <vector>

// Small playable media files for tests, one per file-type group, each about
// 0.3 s long. Encoded files are made by a GStreamer pipeline run in this
// process; MIDI and AU are written by hand. Paths are byte strings and may be
// any bytes the file system accepts (names that are not UTF-8 included).

enum class TMediaKind
{
    Mid,
    Wma,
    Wav,
    Mp3,
    Aiff,
    Au
};

/// Every kind, in the order above.
std::vector<TMediaKind> AllMediaKinds();
/// The file name extension with its dot (".mid", ".wma", ...).
std::string MediaExtension(TMediaKind kind);
/// Names a kind by its extension in test output.
void PrintTo(TMediaKind kind, std::ostream* out);

/// The tags written into every MP3 (ID3v2); the other kinds carry none.
inline constexpr const char* kMediaTitle = "試験の曲";
inline constexpr const char* kMediaArtist = "Tunemill Testers";

/// Writes one playable file of `kind` to `path` (created or replaced).
/// Returns false with a reason in `error` (when given) on failure.
bool WriteMediaFileAt(const std::string& path, TMediaKind kind, std::string* error = nullptr);

/// Writes `directory`/`stem` + MediaExtension(kind); returns the path, or an
/// empty string on failure.
std::string WriteMediaFile(const std::string& directory, TMediaKind kind,
                           const std::string& stem = "sample");

/// Writes an M3U playlist listing `entries` (byte paths, written as given),
/// after an "#EXTM3U" line; CR LF line ends when `crlf`. False on failure.
bool WriteM3u(const std::string& path, const std::vector<std::string>& entries, bool crlf = false);
