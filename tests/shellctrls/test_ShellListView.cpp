#include "shellctrls/ShellListView.h"

#include "shell/ShellIDFunc.h"
#include "shellctrls/ShellTreeView.h"
#include "tests/shellctrls/ShellCtrlsDesktop.h"
#include "tests/support/FakeShell.h"
#include "tests/support/TestFiles.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace {

void MakeFile(const std::string& path, off_t size)
{
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    Check(fd >= 0 && ftruncate(fd, size) == 0, path);
    close(fd);
}

// A shown list in report view over a folder of the test desktop; the model
// is checked by Qt's tester throughout.
class ShellListView : public ::testing::Test, public TShellCtrlsDesktop
{
protected:
    ShellListView()
    {
        list = std::make_unique<TShellListView>();
        list->SetLayoutFile(dir.File("layout.ini"));
        list->SetMultiSelect(true);
        list->SetViewStyle(vsReport);
        list->OnShSelChange = [this](TShellListView*, uint64_t size) { selectedSize = size; };
        list->OnShListChange = [this](TShellListView*, TShellFileList*) { ++listChanges; };
        list->resize(700, 400);
        list->show();
        tester = std::make_unique<QAbstractItemModelTester>(
            list->ListModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    void Open(const std::string& path)
    {
        TItemIdList folder;
        ASSERT_TRUE(ShIdListFromPath(path, folder)) << path;
        list->OpenFolder(folder.Data());
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int row = 0; row < list->RowCount(); ++row)
            names.push_back(list->FileList()->GetItem(row)->GetDisplayName());
        return names;
    }

    int RowOf(const std::string& name) const
    {
        const std::vector<std::string> names = Names();
        const auto found = std::find(names.begin(), names.end(), name);
        return found == names.end() ? -1 : static_cast<int>(found - names.begin());
    }

    std::unique_ptr<TShellListView> list;
    std::unique_ptr<QAbstractItemModelTester> tester;
    uint64_t selectedSize = 0;
    int listChanges = 0;
};

TEST_F(ShellListView, SelectionSizeFollowsTheSelectedFilesBeyondFourGigabytes)
{
    const std::string base = dir.File("t");
    for (const auto& [name, size] : {std::pair<const char*, off_t>{"a.bin", 1},
                                     {"b.bin", 2},
                                     {"c.bin", 4},
                                     {"huge.bin", off_t{5} << 30}})
        MakeFile(base + "/" + name, size);
    Open(base);
    ASSERT_EQ(list->RowCount(), 4);
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        list->SetRowSelected(RowOf(name), true);
    EXPECT_EQ(selectedSize, 7u);
    list->SetRowSelected(-1, true);
    EXPECT_EQ(selectedSize, 7u + (uint64_t{5} << 30));
    list->SetRowSelected(-1, false);
    EXPECT_EQ(selectedSize, 0u);
}

TEST_F(ShellListView, TypingFindsANameContainingTheLettersAndWraps)
{
    for (const char* name : {"alpha.txt", "track.mp3", "zz.txt"})
        MakeFile(dir.File("t/") + name, 1);
    Open(dir.File("t"));
    list->SetFocusedRow(RowOf("zz.txt"));
    QTest::keyClicks(list->ReportView(), QStringLiteral("MP"));
    EXPECT_EQ(list->FocusedRow(), RowOf("track.mp3"));
    EXPECT_TRUE(list->IsRowSelected(RowOf("track.mp3")));
}

TEST_F(ShellListView, HeaderClicksSortDescendingFirstThenAscending)
{
    for (const auto& [name, size] :
         {std::pair<const char*, off_t>{"m.bin", 20}, {"s.bin", 10}, {"l.bin", 30}})
        MakeFile(dir.File("t/") + name, size);
    Open(dir.File("t"));
    const int sizeColumn = 1;
    Q_EMIT list->ReportView()->header()->sectionClicked(sizeColumn);
    EXPECT_EQ(Names(), (std::vector<std::string>{"l.bin", "m.bin", "s.bin"}));
    Q_EMIT list->ReportView()->header()->sectionClicked(sizeColumn);
    EXPECT_EQ(Names(), (std::vector<std::string>{"s.bin", "m.bin", "l.bin"}));
}

TEST_F(ShellListView, ActivatingAFolderOpensItAndTheTreeFollows)
{
    Mkdir(dir.File("t/inner"));
    MakeFile(dir.File("t/song.mp3"), 1);
    TShellTreeView tree;
    tree.SetShellListView(list.get());
    tree.SelectPath(dir.File("t"));
    ASSERT_EQ(Names(), (std::vector<std::string>{"inner", "song.mp3"}));
    TShellFileItem* executed = nullptr;
    list->OnShExecute = [&](TShellListView*, TShellFileItem* item, Qt::KeyboardModifiers, int, int,
                            int, bool& defaultAction) {
        executed = item;
        defaultAction = false;
    };
    const auto activate = [&](int row) {
        list->SetFocusedRow(row);
        QTest::keyClick(list->ReportView(), Qt::Key_Return);
    };
    activate(RowOf("song.mp3"));
    EXPECT_NE(executed, nullptr);
    executed = nullptr;
    activate(RowOf("inner"));
    EXPECT_EQ(executed, nullptr);
    std::string path;
    EXPECT_TRUE(list->GetFolderPath(path));
    EXPECT_EQ(path, dir.File("t/inner"));
    EXPECT_EQ(tree.SelectedPath(), dir.File("t/inner"));

    // The folder already shown is not filled again.
    const int changes = listChanges;
    Open(dir.File("t/inner"));
    EXPECT_EQ(listChanges, changes);
}

TEST_F(ShellListView, LayoutIsLoadedAppliedAndSaved)
{
    for (const auto& [name, size] :
         {std::pair<const char*, off_t>{"b.bin", 30}, {"a.bin", 20}, {"c.bin", 10}})
        MakeFile(dir.File("t/") + name, size);
    Open(dir.File("t"));
    // No file: every column 30 pixels, large icons, sorted by name.
    list->LoadSettings("ShellFileSetting");
    EXPECT_EQ(list->ColumnWidths(), std::vector<int>(5, 30));
    EXPECT_EQ(list->ViewStyle(), vsIcon);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.bin", "b.bin", "c.bin"}));

    Check(WriteFileBytes(dir.File("layout.ini"), "[ShellFileSetting]\nColumnsCount=5\n"
                                                 "Columns0=4\nColumns1=0\nColumns2=1\n"
                                                 "Columns3=2\nColumns4=3\nColumnsWidth1=99\n"
                                                 "ViewStyle=3\nSortOrder1=-1\nSortType=1\n"),
          "layout");
    list->LoadSettings("ShellFileSetting");
    EXPECT_EQ(list->ViewStyle(), vsReport);
    EXPECT_EQ(list->ColumnOrder(), (std::vector<int>{4, 0, 1, 2, 3}));
    EXPECT_EQ(list->ColumnWidths()[1], 99);
    EXPECT_EQ(Names(), (std::vector<std::string>{"c.bin", "a.bin", "b.bin"})); // by size, up
    list->SaveSettings("ShellFileSetting");
    const std::string saved = ReadFileBytes(dir.File("layout.ini"));
    EXPECT_NE(saved.find("SortOrder1=1\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Columns0=4\n"), std::string::npos) << saved;
}

TEST_F(ShellListView, ARowIsRenamedInPlace)
{
    MakeFile(dir.File("t/old.mp3"), 1);
    Open(dir.File("t"));
    list->SetRowSelected(0, true);
    list->EditCaption(0);
    QLineEdit* editor = nullptr;
    for (QLineEdit* open : list->ReportView()->viewport()->findChildren<QLineEdit*>())
        editor = open->isVisible() ? open : editor;
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("新.mp3"));
    QTest::keyClick(editor, Qt::Key_Return);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!FileExists(dir.File("t/新.mp3")) && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(FileExists(dir.File("t/新.mp3")));
    EXPECT_EQ(Names(), std::vector<std::string>{"新.mp3"});
}

TEST(ShellListViewLetters, AttributesShowAsLetters)
{
    TFakeShell shell;
    TFakeNode& desktop = shell.Desktop();
    desktop.AddFolder("desk", {.Csidl = 16, .Attributes = SFGAO_FILESYSTEM, .Path = "/d"});
    TFakeNode& folder = desktop.AddFolder("f", {.Attributes = SFGAO_FILESYSTEM, .Path = "/f"});
    folder.AddFile("ra.txt", {.Attributes = SFGAO_FILESYSTEM, .FileAttributes = 0x21});
    folder.AddFile("hs.txt", {.Attributes = SFGAO_FILESYSTEM, .FileAttributes = 0x6});
    TFakeShellScope scope(shell);
    TShellListView list;
    list.SetViewStyle(vsReport);
    list.show();
    list.OpenFolder(folder.AbsoluteIdList().Data());
    ASSERT_EQ(list.RowCount(), 2);
    std::map<std::string, std::string> letters;
    for (int row = 0; row < 2; ++row)
        letters[list.FileList()->GetItem(row)->GetDisplayName()] =
            list.ListModel()->index(row, 4).data().toString().toStdString();
    EXPECT_EQ(letters, (std::map<std::string, std::string>{{"hs.txt", "HS"}, {"ra.txt", "RA"}}));
}

} // namespace
