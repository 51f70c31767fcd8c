// Cost of the folder tree's three heavy steps against what the file system or
// the namespace must do for them at the least:
//  - expanding a folder of 5,000 sub-folders against readdir + fstatat of it
//    and a look into each sub-folder up to its first sub-folder (the look the
//    has-children flag needs);
//  - RefreshVisible over 200 expanded visible nodes, nothing changed, against
//    binding and enumerating those 200 folders and asking each other visible
//    node whether it has sub-folders (the re-attach the tree makes of them);
//  - SelectPath of a folder 12 levels below "/", none of it loaded, against
//    the same readdir floor over the folders the tree fills on the way.
// Each result is the median of a few repetitions, subject and floor taken in
// turn. A missed goal is printed, never an exit code: this is no test.
#include "bench/BenchSupport.h"
#include "platform/core/Posix.h"
#include "platform/shellns/LinuxShell.h"
#include "platform/shellns/ShellNs.h"
#include "shell/ShellIDFunc.h"
#include "shellctrls/ShellTreeView.h"
#include "tests/support/TestFiles.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWideFolders = 5'000;
constexpr int kRefreshedNodes = 200;
constexpr int kSelectDepth = 12;
constexpr int kBranchesPerLevel = 8;

// Whether a directory holds a directory, read up to the first one; the
// namespace's has-children look.
bool PlainHasSubFolder(int parentFd, const char* name)
{
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        if (IsDotOrDotDot(entry->d_name))
            continue;
        if (entry->d_type == DT_DIR) {
            found = true;
            break;
        }
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat status;
            if (fstatat(dirfd(dir), entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode)) {
                found = true;
                break;
            }
        }
    }
    closedir(dir);
    return found;
}

// readdir + fstatat of a folder and the has-children look into each of its
// sub-folders; answers the sub-folders, counting those with children.
long PlainFill(const std::string& path, long& withChildren)
{
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return 0;
    long folders = 0;
    while (const dirent* entry = readdir(dir)) {
        if (IsDotOrDotDot(entry->d_name))
            continue;
        struct stat status;
        if (fstatat(dirfd(dir), entry->d_name, &status, 0) != 0 || !S_ISDIR(status.st_mode))
            continue;
        ++folders;
        if (PlainHasSubFolder(dirfd(dir), entry->d_name))
            ++withChildren;
    }
    closedir(dir);
    return folders;
}

std::string Numbered(const char* prefix, int number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d", number);
    return prefix + std::string(text);
}

std::unique_ptr<TShellTreeView> FreshTree()
{
    auto tree = std::make_unique<TShellTreeView>();
    QCoreApplication::processEvents();
    return tree;
}

// The tree's node of a folder, reached the way a user's path is.
TShellTreeNode* Reach(TShellTreeView& tree, const std::string& path)
{
    tree.SelectPath(path);
    if (tree.SelectedPath() != path) {
        std::fprintf(stderr, "the tree did not reach %s (it shows %s)\n", path.c_str(),
                     tree.SelectedPath().c_str());
        std::exit(2);
    }
    return tree.Selected();
}

std::vector<TShellTreeNode*> ExpandedVisible(TShellTreeView& tree)
{
    std::vector<TShellTreeNode*> nodes;
    for (TShellTreeNode* node = tree.Root(); node != nullptr; node = tree.NextVisible(node)) {
        if (tree.IsExpanded(node) || node->FirstChild() != nullptr)
            nodes.push_back(node);
    }
    return nodes;
}

struct TResult
{
    const char* Name;
    double Subject;
    double Floor;
    double Goal;
};

void Print(const TResult& result)
{
    const double ratio = result.Subject / result.Floor;
    std::printf("%-34s tree %8.2f ms  floor %8.2f ms  ratio %5.2f (goal: at most %.0f)%s\n",
                result.Name, result.Subject * 1e3, result.Floor * 1e3, ratio, result.Goal,
                ratio > result.Goal ? "  OVER GOAL" : "");
}

TResult ExpandWide(const std::string& base)
{
    const std::string wide = base + "/広いフォルダ";
    MakeDir(wide);
    for (int i = 0; i < kWideFolders; ++i) {
        const std::string child = wide + "/" + Numbered("フォルダ ", i);
        MakeDir(child);
        MakeDir(child + "/中");
    }
    sync();

    long withChildren = 0;
    PlainFill(wide, withChildren);
    {
        std::unique_ptr<TShellTreeView> tree = FreshTree();
        tree->ExpandNode(Reach(*tree, wide));
    }
    std::vector<double> subject;
    std::vector<double> floor;
    for (int round = 0; round < 5; ++round) {
        std::unique_ptr<TShellTreeView> tree = FreshTree();
        TShellTreeNode* node = Reach(*tree, wide);
        subject.push_back(Seconds([&] { tree->ExpandNode(node); }));
        int flagged = 0;
        for (int row = 0; row < node->ChildCount(); ++row)
            flagged += node->Child(row)->HasChildrenFlag() ? 1 : 0;
        if (node->ChildCount() != kWideFolders || flagged != kWideFolders) {
            std::fprintf(stderr, "expanded %d nodes, %d with children\n", node->ChildCount(),
                         flagged);
            std::exit(2);
        }
        withChildren = 0;
        long folders = 0;
        floor.push_back(Seconds([&] { folders = PlainFill(wide, withChildren); }));
        if (folders != kWideFolders || withChildren != kWideFolders)
            std::exit(2);
    }
    return {"expand 5,000 sub-folders", Median(subject), Median(floor), 3};
}

// A folder whose children, and theirs, are expanded until 200 visible nodes
// are; each grandchild holds nothing, so stays collapsed.
TResult RefreshExpanded(const std::string& base)
{
    const std::string top = base + "/更新";
    MakeDir(top);
    size_t above = 0;
    {
        std::unique_ptr<TShellTreeView> tree = FreshTree();
        Reach(*tree, top);
        above = ExpandedVisible(*tree).size();
    }
    const int children = kRefreshedNodes - static_cast<int>(above) - 1;
    for (int i = 0; i < children; ++i) {
        const std::string child = top + "/" + Numbered("子 ", i);
        MakeDir(child);
        MakeDir(child + "/孫 1");
        MakeDir(child + "/孫 2");
    }
    sync();

    std::unique_ptr<TShellTreeView> tree = FreshTree();
    TShellTreeNode* node = Reach(*tree, top);
    tree->ExpandNode(node);
    for (int row = 0; row < node->ChildCount(); ++row)
        tree->ExpandNode(node->Child(row));
    QCoreApplication::processEvents();
    const std::vector<TShellTreeNode*> expanded = ExpandedVisible(*tree);
    if (expanded.size() != static_cast<size_t>(kRefreshedNodes)) {
        std::fprintf(stderr, "%zu expanded visible nodes\n", expanded.size());
        std::exit(2);
    }
    int visible = 0;
    for (TShellTreeNode* shown = tree->Root(); shown != nullptr; shown = tree->NextVisible(shown))
        ++visible;
    std::printf("RefreshVisible over %d visible nodes, %zu of them expanded\n", visible,
                expanded.size());

    // The floor binds each folder from the folder it lies in, which the tree's
    // items hold already, and enumerates it with the tree's flags.
    struct TFolderToEnumerate
    {
        std::shared_ptr<IShellFolder> Parent;
        TItemIdList Relative; // empty for the desktop, which is its own folder
    };
    std::vector<TFolderToEnumerate> folders;
    for (TShellTreeNode* shown : expanded) {
        TShellFolderItem* item = shown->FolderItem();
        item->GetParentFolder();
        folders.push_back({item->ParentFolder, item->GetLevel() == 0
                                                   ? TItemIdList()
                                                   : ShCopyIdList(item->RelativeIdList.Data())});
    }
    // The design re-attaches every other visible node, which asks whether it
    // has sub-folders: a look the tree must make, as the expansion floor's.
    std::vector<TFolderToEnumerate> looks;
    for (TShellTreeNode* shown = tree->Root(); shown != nullptr; shown = tree->NextVisible(shown)) {
        if (tree->IsExpanded(shown) || shown->FirstChild() != nullptr || !shown->HasItem())
            continue;
        TShellFolderItem* item = shown->FolderItem();
        item->GetParentFolder();
        looks.push_back({item->ParentFolder, ShCopyIdList(item->RelativeIdList.Data())});
    }
    std::printf("  the floor also asks %zu collapsed nodes whether they have sub-folders\n",
                looks.size());
    auto enumerateAll = [&] {
        long count = 0;
        for (const TFolderToEnumerate& look : looks) {
            const TItemIdPosition list = look.Relative.Data();
            uint32_t attributes = SFGAO_HASSUBFOLDER;
            if (look.Parent && SUCCEEDED(look.Parent->GetAttributesOf({&list, 1}, attributes)))
                count += (attributes & SFGAO_HASSUBFOLDER) != 0 ? 1 : 0;
        }
        for (const TFolderToEnumerate& entry : folders) {
            std::shared_ptr<IShellFolder> folder = entry.Parent;
            if (entry.Relative && FAILED(entry.Parent->BindToObject(entry.Relative.Data(), folder)))
                continue;
            std::shared_ptr<IEnumIDList> items;
            if (FAILED(
                    folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN, items)) ||
                !items)
                continue;
            TItemIdList item;
            while (items->Next(item) == S_OK)
                ++count;
        }
        return count;
    };

    const auto nodeCount = [&] {
        long count = 0;
        tree->TreeModel()->ForEachNode([&count](TShellTreeNode*) { ++count; });
        return count;
    };
    const long nodesBefore = nodeCount();
    enumerateAll();
    tree->RefreshVisible();
    QCoreApplication::processEvents();
    std::vector<double> subject;
    std::vector<double> floor;
    for (int round = 0; round < 9; ++round) {
        subject.push_back(Seconds([&] { tree->RefreshVisible(); }));
        QCoreApplication::processEvents(); // the watch update it schedules, untimed
        long enumerated = 0;
        floor.push_back(Seconds([&] { enumerated = enumerateAll(); }));
        if (enumerated == 0)
            std::exit(2);
    }
    if (nodeCount() != nodesBefore || ExpandedVisible(*tree).size() != expanded.size())
        std::fprintf(stderr, "note: the tree changed during the refreshes (%ld -> %ld nodes)\n",
                     nodesBefore, nodeCount());
    return {"RefreshVisible, 200 expanded", Median(subject), Median(floor), 2};
}

int Depth(const std::string& path)
{
    return static_cast<int>(std::count(path.begin(), path.end(), '/'));
}

// A chain of folders down to 12 levels below "/", each level with a few
// sibling folders that have a folder of their own.
TResult SelectDeep(const std::string& base)
{
    std::string path = base + "/選択";
    MakeDir(path);
    // The tree fills "/" and every folder below it on the way, not the target.
    std::vector<std::string> filled = {"/"};
    for (std::string above = path; above.size() > 1; above = above.substr(0, above.rfind('/')))
        filled.insert(filled.begin() + 1, above);
    while (Depth(path) < kSelectDepth) {
        for (int i = 0; i < kBranchesPerLevel; ++i) {
            const std::string branch = path + "/" + Numbered("枝 ", i);
            MakeDir(branch);
            MakeDir(branch + "/葉");
        }
        path += "/段 " + std::to_string(Depth(path) + 1);
        MakeDir(path);
        if (Depth(path) < kSelectDepth)
            filled.push_back(path);
    }
    const std::string target = path;
    sync();

    auto plainFills = [&] {
        long folders = 0;
        long withChildren = 0;
        for (const std::string& folder : filled)
            folders += PlainFill(folder, withChildren);
        return folders;
    };
    plainFills();
    {
        std::unique_ptr<TShellTreeView> tree = FreshTree();
        Reach(*tree, target);
    }
    std::vector<double> subject;
    std::vector<double> floor;
    for (int round = 0; round < 9; ++round) {
        std::unique_ptr<TShellTreeView> tree = FreshTree();
        subject.push_back(Seconds([&] { tree->SelectPath(target); }));
        if (tree->SelectedPath() != target)
            std::exit(2);
        long folders = 0;
        floor.push_back(Seconds([&] { folders = plainFills(); }));
        if (folders == 0)
            std::exit(2);
    }
    std::printf("SelectPath of %s\n  fills %zu folders: ", target.c_str(), filled.size());
    for (const std::string& folder : filled)
        std::printf("%s%s", folder == filled.front() ? "" : ", ",
                    folder.size() > base.size() ? folder.c_str() + base.size() + 1
                                                : folder.c_str());
    std::printf("\n");
    return {"SelectPath 12 levels down", Median(subject), Median(floor), 3};
}

} // namespace

int main(int argc, char** argv)
{
    TTestDir dir;
    UseOwnDesktop(dir);
    QApplication application(argc, argv);
    SetShellNamespace(std::make_shared<TLinuxShellNamespace>());

    const std::string base = dir.File("t");
    std::printf("building the folders under %s...\n", base.c_str());
    // One name (expand, refresh, select) runs that one alone, for a profiler.
    const std::string only = argc > 1 ? argv[1] : "";
    std::vector<TResult> results;
    if (only.empty() || only == "expand")
        results.push_back(ExpandWide(base));
    if (only.empty() || only == "refresh")
        results.push_back(RefreshExpanded(base));
    if (only.empty() || only == "select")
        results.push_back(SelectDeep(base));
    for (const TResult& result : results)
        Print(result);
    SetShellNamespace(nullptr);
    return 0;
}
