#pragma once

#include <QString>
#include <string>

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
