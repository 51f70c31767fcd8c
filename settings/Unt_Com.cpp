#include "settings/Unt_Com.h"

#include "platform/core/AppDir.h"
#include "platform/core/FileIO.h"
#include "platform/registry/Registry.h"

#include "platform/core/Posix.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// The raised error names the log and why it failed, and carries the entry
// that could not be written: the caller raises it from inside its own error
// handler, and would otherwise lose what it was handling.
class EErrorLogFailure : public std::system_error
{
public:
    EErrorLogFailure(int error, std::string message)
        : std::system_error(error, std::generic_category()), message_(std::move(message))
    {
    }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

[[noreturn]] void FailLog(int error, const std::string& problem, const std::string& tag,
                          const std::string& message)
{
    // Standard error is the last place the entry can still go.
    std::fprintf(stderr, "%s\n%s %s\n", problem.c_str(), tag.c_str(), message.c_str());
    std::fflush(stderr);
    throw EErrorLogFailure(error, problem + "。記録できなかったエラー: " + tag + " " + message);
}

[[noreturn]] void FailLogFile(int error, const std::string& fileName, const std::string& tag,
                              const std::string& message)
{
    FailLog(error, "エラーログ " + fileName + " に書き込めません (" + FileErrorText(error) + ")",
            tag, message);
}

// Appends `line` whole or not at all: a short write (a full disk) is cut
// back to the size seen before it, under the log's lock, since two running
// copies may append to one log.
bool AppendWhole(int fd, const std::string& line)
{
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR)
            return false;
    struct stat facts;
    if (::fstat(fd, &facts) != 0)
        return false;
    if (WriteAll(fd, line))
        return true;
    const int error = errno;
    ::ftruncate(fd, facts.st_size);
    errno = error;
    return false;
}

} // namespace

std::string MalformedStoreMessage(const TMalformedStore& malformed)
{
    std::string message =
        "設定ファイル " + malformed.FileName + " を読み込めません (" + malformed.Reason + ")。";
    message += malformed.KeptAs.empty() ? "ファイルはそのまま残しました"
                                        : "元のファイルは " + malformed.KeptAs + " に保存しました";
    return message;
}

void LoadOptions()
{
    try {
        TRegistry registry;
        const bool opened = registry.OpenKey(kOptionKey, true);
        if (const auto malformed = registry.TakeMalformedStore()) {
            WriteErrorLog(kMaker, kModule, "prc_LoadTMLOption-E", MalformedStoreMessage(*malformed),
                          0);
        } else if (!opened && !registry.LastError().empty()) {
            WriteErrorLog(kMaker, kModule, "prc_LoadTMLOption-E",
                          "設定ファイルを開けません (" + registry.LastError() + ")", 0);
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
    const std::string directory = ApplicationDirectory();
    if (directory.empty())
        return {};
    return WithoutTrailingSeparator(directory) + "/TML-" + Format("%y%m%d", LocalTime(when)) +
           ".LOG";
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

    if (fileName.empty())
        FailLog(ENOENT,
                "エラーログを書くフォルダがありません (" + ApplicationDirectoryError() + ")", tag,
                message);
    TUniqueFd fd(OpenRegularFile(fileName, O_WRONLY | O_APPEND | O_CREAT, 0644));
    if (!fd || !AppendWhole(fd.Get(), line))
        FailLogFile(errno, fileName, tag, message);
    if (::close(fd.Release()) != 0)
        FailLogFile(errno, fileName, tag, message);
}
