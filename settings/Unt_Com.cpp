#include "settings/Unt_Com.h"

#include "platform/core/AppDir.h"
#include "platform/core/FileIO.h"
#include "platform/registry/Registry.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

std::array<bool, kFileTypeCount> FileTypeSwitches = {false, false, false, false, false, false};
const char* const kOptionKey = "\\SOFTWARE\\LumeskSoft\\Tunemill\\Option";

namespace {

const char* const kMaker = "Lumesk";
const char* const kModule = "Unt_Com";

struct TSwitchValue
{
    const char* Name;
    TFileType Index;
};

// The store's value order, which is not the switches' order.
constexpr std::array<TSwitchValue, kFileTypeCount> kStoreOrder = {{
    {"playAIF", ftAIF},
    {"playMDI", ftMDI},
    {"playMP3", ftMP3},
    {"playSND", ftSND},
    {"playWAV", ftWAV},
    {"playWMA", ftWMA},
}};

TLogClock gLogClock;

std::tm LocalTime(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

std::string Format(const char* format, const std::tm& local)
{
    char buffer[128];
    const size_t length = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, length);
}

std::string Column(const std::string& text)
{
    constexpr size_t kWidth = 20;
    if (text.size() >= kWidth)
        return text.substr(0, kWidth);
    return text + std::string(kWidth - text.size(), ' ');
}

std::system_error LogError(const std::string& fileName)
{
    return std::system_error(errno, std::generic_category(), "エラーログ " + fileName);
}

} // namespace

void LoadOptions()
{
    try {
        TRegistry registry;
        registry.OpenKey(kOptionKey, true);
        if (const auto malformed = registry.TakeMalformedStore()) {
            WriteErrorLog(kMaker, kModule, "prc_LoadTMLOption-E",
                          "設定ファイル " + malformed->FileName + " を読み込めません (" +
                              malformed->Reason + ")。元のファイルは " + malformed->KeptAs +
                              " に保存しました",
                          0);
        }
        for (const TSwitchValue& value : kStoreOrder) {
            if (registry.ValueExists(value.Name))
                FileTypeSwitches[value.Index] = registry.ReadInteger(value.Name) != 0;
        }
    } catch (const std::exception& error) {
        WriteErrorLog(kMaker, kModule, "prc_LoadTMLOption-E", error.what(), 0);
    }
}

void SaveOptions()
{
    try {
        TRegistry registry;
        registry.OpenKey(kOptionKey, true);
        for (const TSwitchValue& value : kStoreOrder)
            registry.WriteInteger(value.Name, FileTypeSwitches[value.Index] ? 1 : 0);
    } catch (const std::exception& error) {
        WriteErrorLog(kMaker, kModule, "prc_SaveTMLOption-E", error.what(), 0);
    }
}

void SetLogClock(TLogClock clock)
{
    gLogClock = std::move(clock);
}

std::string ErrorLogFileName(std::time_t when)
{
    return WithoutTrailingSeparator(ApplicationDirectory()) + "/TML-" +
           Format("%y%m%d", LocalTime(when)) + ".LOG";
}

void WriteErrorLog(const std::string& maker, const std::string& module, const std::string& tag,
                   const std::string& message, int32_t level)
{
    // One clock reading, so that a line written at midnight names the same
    // day in its file name and in its date column.
    const std::time_t now = gLogClock ? gLogClock() : std::time(nullptr);
    const std::tm local = LocalTime(now);
    const std::string fileName = ErrorLogFileName(now);

    std::string line = Format("%Y/%m/%d", local);
    line += ' ';
    line += Format("%X", local);
    line += ' ' + Column(maker) + ' ' + Column(module) + ' ' + Column(tag) + ' ';
    line += std::to_string(level > 10 ? 9 : level);
    line += ' ' + message + "\r\n";

    const int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw LogError(fileName);
    if (!WriteAll(fd, line)) {
        const std::system_error error = LogError(fileName);
        ::close(fd);
        throw error;
    }
    if (::close(fd) != 0)
        throw LogError(fileName);
}
