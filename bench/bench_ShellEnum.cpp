// Cost of listing a folder the way the file list does (display name, type
// name, size, modified time and icon index of every item) against a plain
// readdir + fstatat loop over the same folder.
#include "platform/shellns/ShellNs.h"
#include "shell/ShellIDFunc.h"
#include "shell/ShellUtils.h"
#include "tests/support/TestFiles.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFiles = 10'000;

template <typename Function> double Seconds(Function&& function)
{
    const auto start = Clock::now();
    function();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A music folder: mostly songs, some pictures, playlists and text, and a few
// sub-folders.
void BuildFolder(const std::string& base)
{
    const char* extensions[] = {".mp3", ".mp3", ".flac", ".m4a", ".ogg", ".jpg", ".m3u", ".txt"};
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = base + "/曲 " + std::to_string(i) + extensions[i % 8];
        close(open(path.c_str(), O_CREAT | O_WRONLY, 0644));
    }
}

long PlainListing(const std::string& directory)
{
    long count = 0;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr)
        return 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.' &&
            (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0')))
            continue;
        struct stat status;
        if (fstatat(dirfd(dir), entry->d_name, &status, 0) == 0)
            ++count;
    }
    closedir(dir);
    return count;
}

long NamespaceListing(const std::string& directory)
{
    TItemIdList folderList;
    std::shared_ptr<IShellFolder> desktop;
    std::shared_ptr<IShellFolder> folder;
    if (!ShIdListFromPath(directory, folderList) ||
        FAILED(ShellNamespace()->GetDesktopFolder(desktop)) ||
        FAILED(desktop->BindToObject(folderList.Data(), folder)))
        return 0;
    std::shared_ptr<IEnumIDList> children;
    if (FAILED(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, children)))
        return 0;
    const std::shared_ptr<IShellIcon> icons = folder->QueryShellIcon();
    long count = 0;
    size_t checksum = 0;
    TItemIdList item;
    while (children->Next(item) == S_OK) {
        std::string name;
        ShStrRetToString(folder, item.Data(), SHGDN_INFOLDER, name);
        TWin32FindData data;
        folder->GetDataFromIDList(item.Data(), data);
        const TDateTime modified = ShFileTimeToDateTime(data.LastWriteTime);
        const TItemIdList absolute = ShConcatIdLists(folderList.Data(), item.Data());
        TShFileInfo info;
        ShellNamespace()->GetFileInfo(absolute.Data(), SHGFI_PIDL | SHGFI_TYPENAME, info);
        int icon = -1;
        if (icons)
            icons->GetIconOf(item.Data(), GIL_FORSHELL, icon);
        checksum += name.size() + info.TypeName.size() + data.FileSize + static_cast<size_t>(icon) +
                    (modified != 0);
        ++count;
    }
    return checksum != 0 ? count : 0;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    TTestDir folder;
    std::printf("building a folder of %d files...\n", kFiles);
    BuildFolder(folder.Path());
    sync();

    long plainCount = 0;
    long namespaceCount = 0;
    PlainListing(folder.Path());
    NamespaceListing(folder.Path()); // fills the per-type caches, as any first listing does
    double plain = 1e30;
    double listing = 1e30;
    for (int round = 0; round < 9; ++round) {
        plain = std::min(plain, Seconds([&] { plainCount = PlainListing(folder.Path()); }));
        listing =
            std::min(listing, Seconds([&] { namespaceCount = NamespaceListing(folder.Path()); }));
    }
    std::printf("readdir + fstatat:  %8.2f ms (%ld entries)\n", plain * 1e3, plainCount);
    std::printf("namespace listing:  %8.2f ms (%ld entries)\n", listing * 1e3, namespaceCount);
    std::printf("ratio %.2f (goal: at most 3)\n", listing / plain);
    return plainCount == kFiles && namespaceCount == kFiles ? 0 : 1;
}
