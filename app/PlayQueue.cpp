#include "app/PlayQueue.h"

#include "platform/core/FileIO.h"
#include "platform/core/PathCodec.h"
#include "platform/core/Posix.h"
#include "platform/shellns/FsFolder.h"
#include "settings/Unt_Com.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <stdexcept>
#include <unistd.h>

namespace {

// An extension after its dot (at most four bytes, lowercase) and its length,
// as one integer, so that the file-type test is one switch.
constexpr uint64_t ExtensionKey(const char* text, size_t length)
{
    uint64_t key = length << 32;
    for (size_t i = 0; i < length; ++i)
        key |= uint64_t(static_cast<unsigned char>(text[i])) << (8 * i);
    return key;
}

constexpr uint64_t operator""_ext(const char* text, size_t length)
{
    return ExtensionKey(text, length);
}

// No extension of the six groups is longer than this, dot included.
constexpr size_t kLongestExtension = 5;

} // namespace

std::string FileExtension(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < componentStart)
        return {};
    return path.substr(dot);
}

bool IsMusicFile(const std::string& path)
{
    // Only the last five bytes can hold a dot that starts an extension of the
    // table; a "/" met first means the final component has none there.
    const size_t size = path.size();
    const size_t window = size < kLongestExtension ? size : kLongestExtension;
    size_t dot = size;
    for (size_t i = 1; i <= window; ++i) {
        const char c = path[size - i];
        if (c == '.') {
            dot = size - i;
            break;
        }
        if (c == '/')
            return false;
    }
    if (dot == size)
        return false;
    char folded[kLongestExtension - 1];
    const size_t length = size - dot - 1;
    for (size_t i = 0; i < length; ++i) {
        const char c = path[dot + 1 + i];
        folded[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    switch (ExtensionKey(folded, length)) {
    case "mp3"_ext:
        return FileTypeSwitches[ftMP3];
    case "wma"_ext:
    case "wmx"_ext:
        return FileTypeSwitches[ftWMA];
    case "mid"_ext:
    case "rmi"_ext:
    case "midi"_ext:
        return FileTypeSwitches[ftMDI];
    case "wav"_ext:
        return FileTypeSwitches[ftWAV];
    case "aif"_ext:
    case "aifc"_ext:
    case "aiff"_ext:
        return FileTypeSwitches[ftAIF];
    case "au"_ext:
    case "snd"_ext:
        return FileTypeSwitches[ftSND];
    default:
        return false;
    }
}

bool IsPlaylistLine(const std::string& path)
{
    return std::memchr(path.data(), '\r', path.size()) == nullptr &&
           std::memchr(path.data(), '\n', path.size()) == nullptr;
}

std::string PlaylistBytes(const TPendingFiles& paths)
{
    size_t size = 0;
    for (const std::string& path : paths)
        size += path.size() + 2;
    std::string bytes;
    bytes.reserve(size);
    for (const std::string& path : paths) {
        bytes += path;
        bytes += "\r\n";
    }
    return bytes;
}

void WritePlaylistFile(const std::string& fileName, const TPendingFiles& paths)
{
    // Something else at the name (a FIFO, a device) is refused, never opened
    // for good.
    TUniqueFd fd(OpenRegularFile(fileName, O_WRONLY | O_CREAT | O_TRUNC));
    if (!fd)
        throw std::runtime_error("ファイル " + fileName + " を作成できません");
    const bool written = WriteAll(fd.Get(), PlaylistBytes(paths));
    const bool closed = ::close(fd.Release()) == 0;
    if (!written || !closed)
        throw std::runtime_error("ファイル " + fileName + " に書き込めません");
}

void SortByPath(TPendingFiles& paths)
{
    QCollator collator(NsCollationLocale());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(paths.size());
    for (const std::string& path : paths)
        keys.push_back(collator.sortKey(PathToQString(path)));
    std::vector<size_t> order(paths.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t first, size_t second) {
        const int compared = keys[first].compare(keys[second]);
        return compared != 0 ? compared < 0 : paths[first] < paths[second];
    });
    TPendingFiles sorted;
    for (const size_t index : order)
        sorted.push_back(std::move(paths[index]));
    paths.swap(sorted);
}
