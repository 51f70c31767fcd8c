#include "app/PlayQueue.h"

#include "platform/core/FileIO.h"
#include "settings/Unt_Com.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <unistd.h>

namespace {

struct TExtensionGroup
{
    TFileType Switch;
    std::array<std::string_view, 3> Extensions;
};

// In test order; unused slots are empty.
constexpr std::array<TExtensionGroup, kFileTypeCount> kExtensionTable = {{
    {ftMP3, {".mp3", "", ""}},
    {ftWMA, {".wma", ".wmx", ""}},
    {ftMDI, {".mid", ".rmi", ".midi"}},
    {ftWAV, {".wav", "", ""}},
    {ftAIF, {".aif", ".aifc", ".aiff"}},
    {ftSND, {".au", ".snd", ""}},
}};

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
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    // No extension of the table is longer than five bytes: lowercase into a
    // small buffer instead of allocating.
    constexpr size_t kLongest = 5;
    const size_t length = path.size() - dot;
    if (length > kLongest)
        return false;
    char lowered[kLongest];
    for (size_t i = 0; i < length; ++i) {
        const char c = path[dot + i];
        lowered[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view extension(lowered, length);
    for (const TExtensionGroup& group : kExtensionTable) {
        if (!FileTypeSwitches[group.Switch])
            continue;
        for (const std::string_view candidate : group.Extensions) {
            if (extension == candidate)
                return true;
        }
    }
    return false;
}

bool IsPlaylistLine(const std::string& path)
{
    return path.find_first_of("\r\n") == std::string::npos;
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
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("ファイル " + fileName + " を作成できません");
    const bool written = WriteAll(fd, PlaylistBytes(paths));
    const bool closed = ::close(fd) == 0;
    if (!written || !closed)
        throw std::runtime_error("ファイル " + fileName + " に書き込めません");
}
