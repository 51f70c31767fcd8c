#include "shellctrls/ShellFileList.h"

#include "platform/mounts/Mounts.h"
#include "platform/shellns/LinuxShell.h"
#include "shell/ShellNotify.h"
#include "shellctrls/ShellTreeView.h"
#include "tests/support/FakeShell.h"
#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono;

bool WaitUntil(const std::function<bool()>& done)
{
    for (const auto deadline = steady_clock::now() + seconds(6); !done();) {
        if (steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The list as the store drives it: a row selection, a focus, the columns as
// last made, and counts of the list's steps.
struct TFakeListView : IShellFileListView
{
    QWidget* ListWindow() override { return nullptr; }
    bool WindowReady() const override { return true; }
    bool IncludeHidden() const override { return false; }
    TShVirtuaItems ShVirtuaItems() const override { return Shown; }
    uint8_t MouseState() const override { return 0; }
    TViewStyle ViewStyle() const override { return vsReport; }
    TShellTreeView* LinkedTree() const override { return Tree; }
    int ColumnCount() const override { return static_cast<int>(Columns.size()); }
    std::vector<int> ColumnOrder() const override { return Order; }
    std::vector<int> ColumnWidths() const override
    {
        std::vector<int> widths;
        for (const TShellListColumn& column : Columns)
            widths.push_back(column.Width);
        return widths;
    }
    int ListWidth() const override { return 1000; }
    void SetColumns(const std::vector<TShellListColumn>& columns,
                    const std::vector<int>& order) override
    {
        Columns = columns;
        Order = order;
    }
    void BeginRowsUpdate() override {}
    void EndRowsUpdate() override { Selected.assign(static_cast<size_t>(Store->Count()), false); }
    void RowsReordered() override {}
    void RowsRefreshed() override { ++Refreshes; }
    void ScrollToRow(int) override {}
    int FocusedRow() const override { return Focus; }
    void SetFocusedRow(int row) override { Focus = row; }
    bool IsRowSelected(int row) const override { return Selected.at(static_cast<size_t>(row)); }
    int SelectedRowCount() const override { return std::ranges::count(Selected, true); }
    void SetRowSelected(int row, bool selected) override
    {
        const auto first = Selected.begin() + std::max(row, 0);
        std::fill(first, row < 0 ? Selected.end() : first + 1, selected);
    }
    void DoShListChange(TShellFileList*) override { ++ListChanges; }
    bool DoShFilter(TShellFileItem*) override { return true; }
    void ChangeSelChangeLock(int delta) override { SelChanges += (Lock += delta) == 0; }

    TShellFileList* Store = nullptr;
    TShellTreeView* Tree = nullptr;
    TShVirtuaItems Shown;
    std::vector<TShellListColumn> Columns;
    std::vector<int> Order;
    std::vector<bool> Selected;
    int Focus = -1, ListChanges = 0, Lock = 0, SelChanges = 0, Refreshes = 0;
};

// The rows' names, each followed by a blank.
std::string Names(TShellFileList& store, bool selectedOnly = false)
{
    std::string names;
    for (int row = 0; row < store.Count(); ++row) {
        if (!selectedOnly || static_cast<TFakeListView*>(store.ListView())->IsRowSelected(row))
            names += store.GetItem(row)->GetDisplayName() + " ";
    }
    return names;
}

TShellFileItem* ItemNamed(TShellFileList& store, const std::string& name)
{
    for (int row = 0; row < store.Count(); ++row) {
        if (store.GetItem(row)->GetDisplayName() == name)
            return store.GetItem(row);
    }
    return nullptr;
}

// The scripted namespace with a file-system folder of three files that each
// column orders differently (column 4 by the namespace's attribute bits); or,
// after UseFiles, the real one over a temporary folder "t" holding "sub",
// with a user of its own and a mount table of the root file system alone.
class ShellFileList : public ::testing::Test
{
protected:
    ShellFileList() : savedSources(MountSources())
    {
        const uint32_t fs = SFGAO_FILESYSTEM;
        music.AddFile("a",
                      {.Attributes = fs | 2, .TypeName = "Y", .FileSize = 2, .LastWriteTime = 1});
        music.AddFile("b",
                      {.Attributes = fs | 1, .TypeName = "Z", .FileSize = 1, .LastWriteTime = 3});
        music.AddFile("c", {.Attributes = fs, .TypeName = "X", .FileSize = 3, .LastWriteTime = 2});
        for (const char* name : {"home", "t", "t/sub"})
            Check(mkdir(dir.File(name).c_str(), 0755) == 0, name);
        Check(WriteFileBytes(dir.File("mountinfo"), "20 1 0:20 / / rw - ext4 /dev/vda1 rw\n"), "");
        SetMountSources({.MountTable = dir.File("mountinfo")});
        view.Store = &store;
    }
    ~ShellFileList() override { SetMountSources(savedSources); }
    void UseFiles() { SetShellNamespace(std::make_shared<TLinuxShellNamespace>()); }
    void Show(TFakeNode& node) { store.SetFolder(node.AbsoluteIdList().Data()); }
    void Show(const std::string& name)
    {
        TItemIdList list;
        ASSERT_TRUE(ShIdListFromPath(dir.File(name), list));
        store.SetFolder(list.Data());
    }
    void MakeFile(const std::string& name, off_t size)
    {
        const int fd = open(dir.File("t/" + name).c_str(), O_CREAT | O_WRONLY, 0644);
        Check(fd >= 0 && ftruncate(fd, size) == 0 && close(fd) == 0, name);
    }

    TTestDir dir;
    TScopedVariable home{"HOME", dir.File("home")};
    TMountSources savedSources;
    TFakeShell shell;
    TFakeShellScope scope{shell};
    TFakeNode& music =
        shell.Desktop().AddFolder("m", {.Attributes = SFGAO_FILESYSTEM, .Path = "/m"});
    TFakeListView view;
    TShellFileList store{&view};
};

TEST_F(ShellFileList, SizeTextsRoundUpToKilobytesWithoutWrapping)
{
    UseFiles();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const std::tuple<const char*, off_t, const char*> table[] = {
        {"zero", 0, "0KB"},        {"one", 1, "1KB"},
        {"k", 1024, "1KB"},        {"k+1", 1025, "2KB"},
        {"m", 1048576, "1,024KB"}, {"4g+1", (off_t{1} << 32) + 1, "4,194,305KB"}};
    for (const auto& [name, size, text] : table)
        MakeFile(name, size);
    Show("t");
    for (const auto& [name, size, text] : table) {
        ASSERT_TRUE(ItemNamed(store, name)) << name;
        EXPECT_EQ(ItemNamed(store, name)->GetSizeText(), text) << name;
    }
    EXPECT_EQ(ItemNamed(store, "sub")->GetSizeText(), "");
    store.SortOrders[1] = -1;
    store.Sort(1);
    EXPECT_EQ(store.GetItem(0)->GetDisplayName(), "4g+1");
    QLocale::setDefault(QLocale::system());
}

TEST_F(ShellFileList, SwitchingToTheComputerAndBackRestoresTheColumns)
{
    UseFiles();
    for (int width : {200, 80, 120, 140, 60}) // both number columns right-aligned
        view.Columns.push_back({QString(), width, width < 100});
    view.Order = {0, 2, 1, 3, 4};
    Show("t");
    EXPECT_EQ(view.ColumnCount(), 5);
    TItemIdList computer;
    ASSERT_TRUE(ShSpecialFolderIdList(sfDrives, computer));
    store.SetFolder(computer.Data());
    ASSERT_EQ(view.ColumnCount(), 1);
    EXPECT_EQ(view.Columns[0].Caption, QStringLiteral("名前"));
    EXPECT_EQ(view.Columns[0].Width, 500);
    EXPECT_EQ(Names(store), "ローカル ディスク (/) ");
    Show("t");
    ASSERT_EQ(view.ColumnCount(), 5);
    EXPECT_EQ(view.ColumnWidths(), (std::vector<int>{200, 80, 120, 140, 60}));
    EXPECT_EQ(view.Order, (std::vector<int>{0, 2, 1, 3, 4}));
    for (size_t column = 0; column < 5; ++column) {
        EXPECT_EQ(view.Columns[column].Caption, ShellListColumnCaption(static_cast<int>(column)));
        EXPECT_EQ(view.Columns[column].RightAligned, column == 1) << column;
    }
}

TEST_F(ShellFileList, FilesCreatedChangedRenamedAndRemovedShowAfterTheQuietTime)
{
    UseFiles();
    Show("t");
    ASSERT_TRUE(WaitUntil([&] { // the watchers' threads open the watches
        return store.NameWatcher()->WatchCount() > 0 && store.ChangeWatcher()->WatchCount() > 0;
    }));
    // A watcher watches again after each report; each step waits for that,
    // so that the next change falls into a watch.
    TShFilesWatcher* names = store.NameWatcher();
    TShFilesWatcher* contents = store.ChangeWatcher();
    const auto step = [&](TShFilesWatcher* watcher, const std::function<void()>& change,
                          const std::function<bool()>& shown) {
        const int watches = watcher->WatchCount();
        const auto start = steady_clock::now();
        change();
        EXPECT_TRUE(WaitUntil([&] { return shown() && watcher->WatchCount() > watches; }));
        EXPECT_GE(steady_clock::now() - start, milliseconds(1900));
    };
    const int contentWatches = contents->WatchCount();
    step(
        names, [&] { MakeFile("new", 10); }, [&] { return ItemNamed(store, "new"); });
    ASSERT_TRUE(WaitUntil([&] { return contents->WatchCount() > contentWatches; })); // the write
    // The new size itself, not a refresh count that the creation may have
    // raised already.
    step(
        contents, [&] { MakeFile("new", 5000); },
        [&] { return ItemNamed(store, "new")->GetSizeText() == "5KB"; });
    EXPECT_EQ(ItemNamed(store, "new")->GetSizeText(), "5KB");
    step(
        names,
        [&] { Check(rename(dir.File("t/new").c_str(), dir.File("t/old").c_str()) == 0, ""); },
        [&] { return Names(store) == "sub old "; });
    step(
        names, [&] { Check(unlink(dir.File("t/old").c_str()) == 0, ""); },
        [&] { return Names(store) == "sub "; });
}

TEST_F(ShellFileList, ADeletedFolderFallsBackToTheTreesFolder)
{
    UseFiles();
    TShellTreeView tree;
    tree.SelectPath(dir.File("t"));
    view.Tree = &tree;
    Show("t/sub");
    // Gone before the watchers watch, the folder would never be reported.
    ASSERT_TRUE(WaitUntil([&] {
        return store.NameWatcher()->WatchCount() > 0 && store.ChangeWatcher()->WatchCount() > 0;
    }));
    std::filesystem::remove_all(dir.File("t/sub"));
    std::string path;
    EXPECT_TRUE(WaitUntil([&] { return store.GetFolderPath(path) && path == dir.File("t"); }));
    EXPECT_EQ(store.Count(), 0);
}

TEST_F(ShellFileList, SortsByEachColumnInBothDirections)
{
    const std::string orders[][2] = {{"a b c ", "c b a "},
                                     {"b a c ", "c a b "},
                                     {"c a b ", "b a c "},
                                     {"a c b ", "b c a "},
                                     {"c b a ", "a b c "}};
    Show(music);
    for (int column = 0; column < 5; ++column) {
        for (int direction : {1, -1}) {
            store.SortOrders[static_cast<size_t>(column)] = direction;
            store.Sort(column);
            EXPECT_EQ(Names(store), orders[column][direction < 0]) << column << " " << direction;
        }
    }
    music.Remove(*music.Child("b"));
    for (const char* name : {"c", "a"}) { // leaves 1, then 0 items
        music.Remove(*music.Child(name));
        Show(music);
        shell.Counters().Reset();
        store.Sort(1);
        EXPECT_EQ(shell.Counters().CompareIDs, 0) << store.Count() << " items";
    }
}

TEST_F(ShellFileList, SortKeepsSelectionAndFocusAndDeleteTakesTheSelectedRows)
{
    for (const char* name : {"d", "e"})
        music.AddFile(name, {.Attributes = SFGAO_FILESYSTEM});
    // The selected rows are the smaller set in one case, the larger in the other.
    for (const std::string selected : {"a ", "a c d e "}) {
        Show(music);
        for (int row = 0; row < store.Count(); ++row)
            view.Selected[row] =
                selected.find(Names(store).substr(2 * row, 2)) != std::string::npos;
        view.SetFocusedRow(store.IndexOf(ItemNamed(store, "c")));
        view.SelChanges = 0;
        store.SortOrders[0] = -1;
        store.SortKeepSelection(0);
        EXPECT_EQ(Names(store), "e d c b a ");
        EXPECT_EQ(Names(store, true), std::string(selected.rbegin() + 1, selected.rend()) + " ");
        EXPECT_EQ(view.FocusedRow(), 2);
        EXPECT_EQ(view.Lock, 0);
        EXPECT_EQ(view.SelChanges, 1);
    }
    const int changes = view.ListChanges;
    store.DeleteSelected();
    EXPECT_EQ(Names(store), "b ");
    EXPECT_EQ(view.SelectedRowCount(), 0);
    EXPECT_EQ(view.ListChanges, changes + 1);
}

TEST_F(ShellFileList, ModifiedTimeWithAZeroHalfIsTheZeroDateTime)
{
    const TLocalZone zone("UTC");
    const auto text = [](QDate date, QTime time) {
        const QLocale locale;
        return (locale.toString(date, QLocale::ShortFormat) + QLatin1Char(' ') +
                locale.toString(time, QLocale::ShortFormat))
            .toStdString();
    };
    const std::string zero = text({1899, 12, 30}, {0, 0});
    const std::pair<TFileTime, std::string> table[] = {
        {0xFFFFFFFF, zero},
        {TFileTime{0x01D6} << 32, zero},
        {132224078400000000, text({2020, 1, 2}, {3, 4})}};
    for (const auto& [time, shown] : table) {
        music.Child("a")->Options.LastWriteTime = time;
        Show(music);
        EXPECT_EQ(ItemNamed(store, "a")->GetModifiedText(), shown) << time;
    }
}

TEST_F(ShellFileList, FiltersTheVirtualKindsAtTheDesktopAndInsideTheComputer)
{
    TFakeNode& desktop = shell.Desktop();
    TFakeNode& computer = desktop.AddFolder("PC", {.Csidl = 17});
    computer.AddFolder("C", {.Attributes = SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR, .Path = "/c"});
    computer.AddFolder("printers");
    desktop.AddFolder("trash", {.Csidl = 10});
    TFakeNode& network = desktop.AddFolder("net", {.Csidl = 18});
    network.AddFolder("server");
    network.AddFile("share"); // virtual
    desktop.AddFolder("panel");
    const std::tuple<TShVirtuaItems, const char*, const char*, const char*> table[] = {
        {{}, "PC m ", "C ", ""},
        {{itNetWork}, "PC m net ", "C ", "server share "},
        {{itBitBucket, itNetWork, itVirtual}, "PC m net trash ", "C printers ", "server share "}};
    for (const auto& [shown, atDesktop, inComputer, inNetwork] : table) {
        view.Shown = shown;
        Show(desktop);
        EXPECT_EQ(Names(store), atDesktop);
        Show(computer);
        EXPECT_EQ(Names(store), inComputer);
        Show(network);
        EXPECT_EQ(Names(store), inNetwork);
    }
    EXPECT_EQ(ItemNamed(store, "share")->GetSizeText(), "");
}

} // namespace
