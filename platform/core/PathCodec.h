#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

// Lossless conversion between file-system paths (byte strings, UTF-8 in
// practice) and UTF-16. Bytes that are not part of valid UTF-8 map to the
// lone surrogates U+DC80..U+DCFF and back, so a name that is not UTF-8 still
// reaches the player and the UI and comes back as the same bytes.
// QFile::decodeName loses such bytes and must not be used for paths.

/// Decodes a path into UTF-16; never fails.
QString PathToQString(const std::string& path);

/// Encodes UTF-16 back to path bytes; the exact inverse of PathToQString.
/// A lone surrogate outside U+DC80..U+DCFF (which PathToQString never makes)
/// is written as the UTF-8 replacement character.
std::string QStringToPath(const QString& text);

/// Length of the valid UTF-8 sequence at text[i], or 0 when the bytes there
/// are not one (overlong forms, surrogates and values past U+10FFFF are not
/// valid). The decoded code point goes to *codePoint when given.
size_t Utf8SequenceLength(std::string_view text, size_t i, char32_t* codePoint = nullptr);

/// The value of a hexadecimal digit (either case), or -1 for any other byte.
int HexDigitValue(char c);

/// The last component of a path, trailing "/" ignored; empty for the root
/// (and for an empty path), which has no name of its own.
std::string_view PathOwnName(std::string_view path);
