// Cost of the file list (a shown TShellListView in report view over the real
// namespace) in its four heavy moments:
//  - opening a folder of 10,000 files: the fill, its sort by name and the
//    texts and icons of the first 40 rows, against readdir + fstatat of the
//    same folder;
//  - the memory a row of a 100,000-file folder holds once filled, all
//    selected and every row's texts asked for (the process's resident size
//    before and after, per row);
//  - a header click on each column over those 100,000 rows, against a
//    std::sort of the same rows by keys computed beforehand (the QCollator
//    keys of the names; for the others the column's value, then the name);
//  - how long a refill of those 100,000 rows, and opening their folder from
//    another one, keeps the UI thread.
// Each time is the median of a few repetitions. A missed goal is printed,
// never an exit code: this is no test; only a broken set-up exits non-zero.
#include "bench/BenchSupport.h"
#include "platform/core/Posix.h"
#include "platform/shellns/FsFolder.h"
#include "platform/shellns/LinuxShell.h"
#include "platform/shellns/ShellNs.h"
#include "shell/ShellIDFunc.h"
#include "shellctrls/ShellListView.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QCollator>
#include <QCollatorSortKey>
#include <QHeaderView>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kOpenedFiles = 10'000;
constexpr int kLargeFiles = 100'000;
constexpr int kOtherFiles = 20;
constexpr int kFirstRows = 40;

[[noreturn]] void SetUpBroken(const char* what)
{
    std::fprintf(stderr, "set-up broken: %s\n", what);
    std::exit(2);
}

// A music collection poured into one folder: numbered songs of several types
// and sizes, some pictures and playlists; empty files of those sizes.
void BuildFolder(const std::string& path, int files)
{
    MakeDir(path);
    const char* extensions[] = {".mp3", ".mp3", ".flac", ".m4a", ".ogg", ".jpg", ".m3u", ".MP3"};
    for (int i = 0; i < files; ++i) {
        const std::string file = path + "/" + (i % 3 == 0 ? "曲 " : "Track ") +
                                 std::to_string(i % 9'973) + " " + std::to_string(i) +
                                 extensions[i % 8];
        const int fd = open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        Check(fd >= 0 && ftruncate(fd, (i * 7'919) % 5'000'000) == 0, file);
        close(fd);
    }
}

// What any listing must do at the least: read the names and stat each.
long PlainList(const std::string& path)
{
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return 0;
    long entries = 0;
    while (const dirent* entry = readdir(dir)) {
        if (IsDotOrDotDot(entry->d_name))
            continue;
        struct stat status;
        if (fstatat(dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0)
            ++entries;
    }
    closedir(dir);
    return entries;
}

TItemIdList IdListOf(const std::string& path)
{
    TItemIdList list;
    if (!ShIdListFromPath(path, list))
        SetUpBroken("no item list for a folder");
    return list;
}

// The namespace's own enumeration of a folder, which the fill goes through.
long EnumerateOnly(TItemIdPosition idList)
{
    std::shared_ptr<IShellFolder> desktop;
    std::shared_ptr<IShellFolder> folder;
    std::shared_ptr<IEnumIDList> children;
    if (FAILED(ShellNamespace()->GetDesktopFolder(desktop)) ||
        FAILED(desktop->BindToObject(idList, folder)) ||
        FAILED(folder->EnumObjects(
            nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, children)) ||
        !children)
        SetUpBroken("cannot enumerate a folder");
    long count = 0;
    for (TItemIdList item; children->Next(item) == S_OK;)
        ++count;
    return count;
}

std::unique_ptr<TShellListView> FreshList()
{
    auto list = std::make_unique<TShellListView>();
    list->resize(800, 600);
    list->SetViewStyle(vsReport);
    list->show();
    QCoreApplication::processEvents();
    if (!list->WindowReady())
        SetUpBroken("the list's window is not ready after show()");
    return list;
}

// The texts of every column and the icon of the name, as a view draws a row.
long AskRow(TShellListView& list, int row, bool withIcon)
{
    const TShellListModel* model = list.ListModel();
    long answered = 0;
    for (int column = 0; column < kShellListColumnCount; ++column)
        answered += model->index(row, column).data(Qt::DisplayRole).toString().size();
    if (withIcon && !model->index(row, 0).data(Qt::DecorationRole).isNull())
        ++answered;
    return answered;
}

long ResidentBytes()
{
    long pages = 0;
    long resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    if (resident == 0)
        SetUpBroken("cannot read /proc/self/statm");
    return resident * sysconf(_SC_PAGESIZE);
}

void PrintRatio(const char* name, double subject, double floor, double goal)
{
    const double ratio = subject / floor;
    std::printf("%-34s list %9.2f ms  floor %8.2f ms  ratio %6.2f (goal: at most %.0f)%s\n", name,
                subject * 1e3, floor * 1e3, ratio, goal, ratio > goal ? "  OVER GOAL" : "");
}

void OpenTenThousand(const std::string& folder)
{
    const TItemIdList idList = IdListOf(folder);
    {
        // Icons, type names and the collator are loaded once per process.
        std::unique_ptr<TShellListView> list = FreshList();
        list->OpenFolder(idList.Data());
        for (int row = 0; row < kFirstRows; ++row)
            AskRow(*list, row, true);
    }
    PlainList(folder);
    std::vector<double> subject;
    std::vector<double> opening;
    std::vector<double> sortByName;
    std::vector<double> enumeration;
    std::vector<double> floor;
    for (int round = 0; round < 5; ++round) {
        std::unique_ptr<TShellListView> list = FreshList();
        long answered = 0;
        double opened = 0;
        subject.push_back(Seconds([&] {
            opened = Seconds([&] { list->OpenFolder(idList.Data()); });
            for (int row = 0; row < kFirstRows; ++row)
                answered += AskRow(*list, row, true);
        }));
        opening.push_back(opened);
        if (list->RowCount() != kOpenedFiles || answered == 0)
            SetUpBroken("the list did not show the 10,000 files");
        sortByName.push_back(Seconds([&] { list->FileList()->Sort(0); }));
        QCoreApplication::processEvents();
        enumeration.push_back(Seconds([&] { EnumerateOnly(idList.Data()); }));
        long listed = 0;
        floor.push_back(Seconds([&] { listed = PlainList(folder); }));
        if (listed != kOpenedFiles)
            SetUpBroken("readdir did not find the 10,000 files");
    }
    PrintRatio("open 10,000 files, first 40 rows", Median(subject), Median(floor), 4);
    std::printf("  of it: OpenFolder %.2f ms (the namespace's enumeration alone: %.2f ms, a sort "
                "by name alone: %.2f ms), the 40 rows %.2f ms\n",
                Median(opening) * 1e3, Median(enumeration) * 1e3, Median(sortByName) * 1e3,
                (Median(subject) - Median(opening)) * 1e3);
}

// The floor's key of a row: what the column orders by, computed beforehand.
struct TFloorKey
{
    uint64_t Value = 0;
    std::optional<QCollatorSortKey> Type;
    QCollatorSortKey Name;
};

bool FloorLess(const TFloorKey& first, const TFloorKey& second)
{
    if (first.Value != second.Value)
        return first.Value < second.Value;
    if (first.Type) {
        const int order = first.Type->compare(*second.Type);
        if (order != 0)
            return order < 0;
    }
    return first.Name.compare(second.Name) < 0;
}

void HeaderClicks(TShellListView& list)
{
    TShellFileList& store = *list.FileList();
    const int rows = store.Count();
    QCollator collator(NsCollationLocale());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::vector<TFloorKey> nameKeys;
    nameKeys.reserve(static_cast<size_t>(rows));
    for (int row = 0; row < rows; ++row)
        nameKeys.push_back(
            {0, std::nullopt,
             collator.sortKey(QString::fromStdString(store.GetItem(row)->GetDisplayName()))});
    std::vector<TFloorKey> keys;
    std::vector<int> start(static_cast<size_t>(rows));
    std::iota(start.begin(), start.end(), 0);

    // Few rows are selected at a click as a rule; none here.
    list.SetRowSelected(-1, false);
    const char* names[] = {"名前", "サイズ", "ファイルの種類", "更新日時", "属性"};
    for (int column = 0; column < kShellListColumnCount; ++column) {
        keys = nameKeys;
        for (int row = 0; row < rows; ++row) {
            TShellFileItem* item = store.GetItem(row);
            TFloorKey& key = keys[static_cast<size_t>(row)];
            const TWin32FindData data = item->GetFindData();
            if (column == 1)
                key.Value = data.FileSize;
            else if (column == 2)
                key.Type = collator.sortKey(QString::fromStdString(item->GetTypeName()));
            else if (column == 3)
                key.Value = data.LastWriteTime;
            else if (column == 4)
                key.Value = data.FileAttributes;
        }
        std::vector<double> clicks;
        std::vector<double> floor;
        for (int round = 0; round < 3; ++round) {
            const TShellFileItem* firstBefore = store.GetItem(0);
            clicks.push_back(
                Seconds([&] { Q_EMIT list.ReportView()->header()->sectionClicked(column); }));
            QCoreApplication::processEvents();
            if (store.Count() != rows || (column == 0 && store.GetItem(0) == firstBefore))
                SetUpBroken("the header click did not re-sort the rows");
            std::vector<int> order = start;
            floor.push_back(Seconds([&] {
                if (column == 0)
                    std::sort(order.begin(), order.end(), [&](int a, int b) {
                        return nameKeys[static_cast<size_t>(a)].Name.compare(
                                   nameKeys[static_cast<size_t>(b)].Name) < 0;
                    });
                else
                    std::sort(order.begin(), order.end(), [&](int a, int b) {
                        return FloorLess(keys[static_cast<size_t>(a)],
                                         keys[static_cast<size_t>(b)]);
                    });
            }));
        }
        std::vector<double> sorts;
        for (int round = 0; round < 3; ++round)
            sorts.push_back(Seconds([&] { store.Sort(column); }));
        // The folder's keys of the rows, which the store's sort fetches first.
        const std::shared_ptr<IShellFolder> folder = store.GetFolder();
        std::vector<TItemIdPosition> lists;
        for (int row = 0; row < rows; ++row)
            lists.push_back(store.GetItem(row)->RelativeIdList.Data());
        std::vector<double> fetches;
        for (int round = 0; round < 3; ++round) {
            std::vector<TSortKey> sortKeys;
            fetches.push_back(Seconds([&] { folder->GetSortKeys(column, lists, sortKeys); }));
        }
        const std::string name = std::string("header click \"") + names[column] + "\"";
        if (column == 0)
            PrintRatio(name.c_str(), Median(clicks), Median(floor), 2);
        else
            std::printf("%-34s list %9.2f ms  floor %8.2f ms  ratio %6.2f\n", name.c_str(),
                        Median(clicks) * 1e3, Median(floor) * 1e3, Median(clicks) / Median(floor));
        std::printf("  of it the store's sort alone: %.2f ms, of which the folder's sort keys "
                    "%.2f ms\n",
                    Median(sorts) * 1e3, Median(fetches) * 1e3);
    }
    // The same click while every row is selected, which the click keeps.
    list.SetRowSelected(-1, true);
    std::vector<double> clicks;
    for (int round = 0; round < 3; ++round) {
        clicks.push_back(Seconds([&] { Q_EMIT list.ReportView()->header()->sectionClicked(0); }));
        QCoreApplication::processEvents();
    }
    if (list.SelectedRowCount() != rows)
        SetUpBroken("the header click lost the selection");
    std::printf("  \"名前\" with all %d rows selected: %.2f ms\n", rows, Median(clicks) * 1e3);
}

void LargeFolder(const std::string& folder, const std::string& other)
{
    const TItemIdList idList = IdListOf(folder);
    const TItemIdList otherIdList = IdListOf(other);
    {
        // Icons, type names and the collator are loaded once per process, not
        // per row.
        std::unique_ptr<TShellListView> list = FreshList();
        list->OpenFolder(otherIdList.Data());
        for (int row = 0; row < list->RowCount(); ++row)
            AskRow(*list, row, true);
    }
    std::unique_ptr<TShellListView> list = FreshList();
    const long before = ResidentBytes();
    double fill = 0;
    fill = Seconds([&] { list->OpenFolder(idList.Data()); });
    const int rows = list->RowCount();
    if (rows != kLargeFiles)
        SetUpBroken("the list did not show the 100,000 files");
    const long filled = ResidentBytes();
    list->SetRowSelected(-1, true);
    if (list->SelectedRowCount() != rows)
        SetUpBroken("select-all did not select every row");
    const long selected = ResidentBytes();
    long answered = 0;
    for (int row = 0; row < rows; ++row)
        answered += AskRow(*list, row, false);
    const long texts = ResidentBytes();
    for (int row = 0; row < rows; ++row)
        answered += AskRow(*list, row, true);
    const long icons = ResidentBytes();
    if (answered == 0)
        SetUpBroken("no row answered");
    const auto perRow = [&](long after) { return double(after - before) / rows; };
    std::printf("memory of %d rows: after the fill %.0f B/row, after select-all %.0f B/row, "
                "after every row's texts %.0f B/row (goal: at most 1024)%s; with the icons "
                "too %.0f B/row\n",
                rows, perRow(filled), perRow(selected), perRow(texts),
                perRow(texts) > 1024 ? "  OVER GOAL" : "", perRow(icons));

    // What a row holds: the item, its relative list and, once its type name
    // was asked, its absolute list.
    double relativeBytes = 0;
    double absoluteBytes = 0;
    for (int row = 0; row < rows; ++row) {
        TShellFileItem* item = list->FileList()->GetItem(row);
        relativeBytes += ShIdListSize(item->RelativeIdList.Data());
        absoluteBytes += ShIdListSize(item->AbsoluteIdList.Data());
    }
    std::printf("  a row: the item %zu B (its find record %zu B), its relative list %.0f B, its "
                "absolute list %.0f B\n",
                sizeof(TShellFileItem), sizeof(TWin32FindData), relativeBytes / rows,
                absoluteBytes / rows);

    HeaderClicks(*list);

    // The header clicks left every row selected; a refill drops the selection.
    const double selectedRefill = Seconds([&] { list->RefreshList(); });
    QCoreApplication::processEvents();
    std::vector<double> refills;
    for (int round = 0; round < 3; ++round) {
        refills.push_back(Seconds([&] { list->RefreshList(); }));
        QCoreApplication::processEvents();
        if (list->RowCount() != rows || list->SelectedRowCount() != 0)
            SetUpBroken("the refill lost rows or kept a selection");
    }
    std::printf("a refill with every row selected: %.2f ms\n", selectedRefill * 1e3);
    std::vector<double> opens{fill};
    std::vector<double> sorts;
    for (int round = 0; round < 3; ++round) {
        list->OpenFolder(otherIdList.Data());
        QCoreApplication::processEvents();
        if (list->RowCount() != kOtherFiles)
            SetUpBroken("the list did not show the other folder");
        opens.push_back(Seconds([&] { list->OpenFolder(idList.Data()); }));
        QCoreApplication::processEvents();
        if (list->RowCount() != rows)
            SetUpBroken("the list did not show the 100,000 files again");
        sorts.push_back(Seconds([&] { list->FileList()->Sort(0); }));
    }
    std::vector<double> floor;
    std::vector<double> enumeration;
    for (int round = 0; round < 3; ++round) {
        floor.push_back(Seconds([&] { PlainList(folder); }));
        enumeration.push_back(Seconds([&] { EnumerateOnly(idList.Data()); }));
    }
    std::printf("UI thread held by a refill of %d rows (RefreshList): %.2f ms; by OpenFolder from "
                "another folder: %.2f ms\n  of it a sort by name alone: %.2f ms, the namespace's "
                "enumeration alone: %.2f ms; readdir + fstatat of the folder: %.2f ms\n",
                rows, Median(refills) * 1e3, Median(opens) * 1e3, Median(sorts) * 1e3,
                Median(enumeration) * 1e3, Median(floor) * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    TTestDir dir;
    UseOwnDesktop(dir);
    QApplication application(argc, argv);
    SetShellNamespace(std::make_shared<TLinuxShellNamespace>());

    const std::string base = dir.File("t");
    // One name (open, large) runs that one alone, for a profiler.
    const std::string only = argc > 1 ? argv[1] : "";
    std::printf("building the folders under %s...\n", base.c_str());
    const std::string opened = base + "/一万曲";
    const std::string large = base + "/十万曲";
    const std::string other = base + "/別のフォルダ";
    BuildFolder(other, kOtherFiles);
    if (only.empty() || only == "open")
        BuildFolder(opened, kOpenedFiles);
    if (only.empty() || only == "large")
        BuildFolder(large, kLargeFiles);
    sync();

    // The memory figure comes first, before other lists leave freed memory
    // for it to reuse.
    if (only.empty() || only == "large")
        LargeFolder(large, other);
    if (only.empty() || only == "open")
        OpenTenThousand(opened);
    // The list worked in the folders, which go with the temporary directory.
    if (chdir("/") != 0)
        std::fprintf(stderr, "note: cannot leave the temporary folder\n");
    SetShellNamespace(nullptr);
    return 0;
}
