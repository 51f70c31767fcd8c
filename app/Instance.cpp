#include "app/Instance.h"

#include "app/Unt_Main.h"
#include "platform/core/FileIO.h"
#include "platform/core/PathCodec.h"
#include "platform/mounts/Mounts.h"
#include "shellctrls/ShellTreeView.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;

const QString kServiceName = u"com.lumesksoft.Tunemill"_s;
const QString kObjectPath = u"/com/lumesksoft/Tunemill"_s;
const QString kInterfaceName = u"com.lumesksoft.Tunemill"_s;
constexpr int kHandOverTimeoutMs = 2000;

void Warn(const QString& message)
{
    std::fprintf(stderr, "tunemill: %s\n", message.toLocal8Bit().constData());
}

void RegisterBusTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<QByteArrayList>();
        return true;
    }();
    (void)registered;
}

// Logical, as the shell keeps it ($PWD when it still names this directory),
// so that paths below a linked folder keep the names the user sees.
std::string CurrentDirectory()
{
    const std::unique_ptr<char, decltype(&std::free)> directory(::get_current_dir_name(),
                                                                &std::free);
    return directory ? std::string(directory.get()) : std::string();
}

// A URL's scheme is case-insensitive.
bool IsFileUrl(std::string_view text)
{
    return text.size() >= 5 &&
           QByteArrayView(text.data(), 5).compare("file:", Qt::CaseInsensitive) == 0;
}

// "file:///a%20b", "file://localhost/a%20b" and "file:/a%20b" name local
// paths. The escapes are bytes, so a name that is not UTF-8 comes through
// whole.
std::string FileUrlPath(std::string_view url)
{
    url.remove_prefix(5);
    if (url.starts_with("//")) {
        url.remove_prefix(2);
        const size_t slash = url.find('/');
        const std::string_view host = url.substr(0, slash);
        if (slash == std::string_view::npos || !(host.empty() || host == "localhost"))
            return {};
        url.remove_prefix(slash);
    }
    if (!url.starts_with('/'))
        return {};
    std::string path;
    for (size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size() && HexDigitValue(url[i + 1]) >= 0 &&
            HexDigitValue(url[i + 2]) >= 0) {
            path += static_cast<char>(HexDigitValue(url[i + 1]) * 16 + HexDigitValue(url[i + 2]));
            i += 2;
        } else {
            path += url[i];
        }
    }
    // An escaped NUL would cut the name short for every system call.
    return path.find('\0') == std::string::npos ? path : std::string();
}

std::string FoldedPath(std::string_view path)
{
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string folded;
    for (const std::string_view part : parts)
        folded.append("/").append(part);
    return folded.empty() ? "/" : folded;
}

// The tree may not reach a folder (hidden, or no folder after all): the list
// then still shows another one, whose files must not be taken.
bool SelectFolder(Tfrm_Main& window, const std::string& folder)
{
    window.STV()->SelectPath(folder);
    return window.STV()->SelectedPath() == folder;
}

struct TGivenName
{
    std::string Path;
    bool Folder = false;
};

// What each name is, decided without opening anything. On a mount that may
// stall, the name is all there is to go by: a music name is taken for a
// file, anything else for a folder, which the tree then confirms or not.
std::vector<TGivenName> Classify(const std::vector<std::string>& files)
{
    const std::string directory = CurrentDirectory();
    const std::vector<TMount> mounts = ReadMounts();
    TLinkAnswers links;
    std::vector<TGivenName> names;
    for (const std::string& file : files) {
        std::string path = ArgumentPath(file, directory);
        if (path.empty())
            continue;
        bool folder = !IsMusicFile(path);
        if (!PathMayStall(mounts, path, &links)) {
            struct stat info;
            if (::stat(path.c_str(), &info) != 0)
                continue;
            folder = S_ISDIR(info.st_mode);
            if (!folder && !(S_ISREG(info.st_mode) && IsMusicFile(path)))
                continue;
        }
        names.push_back({std::move(path), folder});
    }
    return names;
}

} // namespace

std::vector<std::string> CommandLineFiles(const QStringList& arguments)
{
    std::string commandLine;
    ReadRegularFile("/proc/self/cmdline", commandLine);
    std::vector<std::string> raw;
    for (size_t start = 0; start < commandLine.size();) {
        const size_t end = commandLine.find('\0', start);
        raw.push_back(commandLine.substr(start, end - start));
        start = end == std::string::npos ? commandLine.size() : end + 1;
    }
    std::vector<std::string> files;
    size_t next = 1;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        size_t match = next;
        while (match < raw.size() && QString::fromLocal8Bit(raw[match]) != arguments[i])
            ++match;
        if (match < raw.size()) {
            files.push_back(raw[match]);
            next = match + 1;
        } else {
            files.push_back(QStringToPath(arguments[i]));
        }
    }
    return files;
}

std::string ArgumentPath(const std::string& argument, const std::string& directory)
{
    if (IsFileUrl(argument)) {
        const std::string path = FileUrlPath(argument);
        return path.empty() ? path : FoldedPath(path);
    }
    if (argument.empty() || (argument.front() != '/' && directory.empty()))
        return {};
    return FoldedPath(argument.front() == '/' ? argument : directory + "/" + argument);
}

bool HandOverToRunningInstance(const std::vector<std::string>& files)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        Warn(u"no session bus, so this copy runs on its own ("_s + bus.lastError().message() +
             u")"_s);
        return false;
    }
    RegisterBusTypes();
    // The running copy may have another current directory.
    const std::string directory = CurrentDirectory();
    QByteArrayList paths;
    for (const std::string& file : files) {
        const std::string path = ArgumentPath(file, directory);
        if (!path.empty())
            paths << QByteArray(path.data(), static_cast<qsizetype>(path.size()));
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kServiceName, kObjectPath, kInterfaceName, u"OpenFiles"_s);
    call.setAutoStartService(false);
    call << QVariant::fromValue(paths);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kHandOverTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    // Nobody owns the name: this is the first copy.
    if (reply.errorName() == u"org.freedesktop.DBus.Error.ServiceUnknown"_s ||
        reply.errorName() == u"org.freedesktop.DBus.Error.NameHasNoOwner"_s)
        return false;
    Warn(u"the running copy did not take the files, so this copy runs on its own ("_s +
         reply.errorMessage() + u")"_s);
    return false;
}

TInstanceService::TInstanceService(Tfrm_Main& window) : QObject(&window), window_(window)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Without a bus the hand-over has already said so.
    if (!bus.isConnected())
        return;
    RegisterBusTypes();
    if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots)) {
        Warn(u"cannot offer "_s + kObjectPath + u" on the session bus"_s);
        return;
    }
    if (!bus.registerService(kServiceName)) {
        bus.unregisterObject(kObjectPath);
        Warn(u"the bus name "_s + kServiceName +
             u" is taken, so later starts run on their own ("_s + bus.lastError().message() +
             u")"_s);
        return;
    }
    registered_ = true;
}

TInstanceService::~TInstanceService()
{
    if (!registered_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(kServiceName);
    bus.unregisterObject(kObjectPath);
}

void TInstanceService::OpenFiles(const QByteArrayList& paths)
{
    std::vector<std::string> files;
    for (const QByteArray& path : paths)
        files.emplace_back(path.constData(), static_cast<size_t>(path.size()));
    // The caller waits only for the answer; the window's own errors go to its
    // own report.
    QTimer::singleShot(0, &window_, [&window = window_, files = std::move(files)] {
        window.BringToFront();
        ::OpenFiles(window, files);
    });
}

void OpenFiles(Tfrm_Main& window, const std::vector<std::string>& files)
{
    if (files.empty())
        return;
    const std::vector<TGivenName> names = Classify(files);
    if (names.empty())
        return;
    if (names.size() == 1 && names.front().Folder) {
        if (SelectFolder(window, names.front().Path))
            window.PMN_STV_0Click();
        return;
    }
    window.PendingFiles.clear();
    window.WMP().Stop();
    window.WMP().Cancel();
    std::optional<std::string> firstFolder;
    for (const TGivenName& name : names) {
        if (!name.Folder) {
            window.PendingFiles.push_back(name.Path);
        } else if (SelectFolder(window, name.Path)) {
            window.GatherListRows(false);
            if (!firstFolder)
                firstFolder = name.Path;
        }
    }
    if (firstFolder && window.STV()->SelectedPath() != *firstFolder)
        window.STV()->SelectPath(*firstFolder);
    if (window.PendingFiles.empty())
        return;
    window.StartPlaylist(true);
}
