#include "shellctrls/ShellTreeView.h"

#include "platform/mounts/Mounts.h"
#include "platform/shellns/LinuxShell.h"
#include "shell/ShellDbt.h"
#include "shell/ShellNotify.h"
#include "tests/shellctrls/ShellCtrlsDesktop.h"
#include "tests/support/FakeShell.h"
#include "tests/support/TestFiles.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<std::string> ChildTexts(const TShellTreeNode* node)
{
    std::vector<std::string> texts;
    for (int row = 0; node != nullptr && row < node->ChildCount(); ++row)
        texts.push_back(node->Child(row)->Text());
    return texts;
}

TShellTreeNode* ChildNamed(const TShellTreeNode* node, const std::string& text)
{
    for (int row = 0; node != nullptr && row < node->ChildCount(); ++row) {
        if (node->Child(row)->Text() == text)
            return node->Child(row);
    }
    return nullptr;
}

// A user of their own and a mount table of the test's: the root file system,
// and whatever a test adds. The tree runs over the real namespace and the
// model is checked by Qt's tester throughout.
class ShellTreeView : public ::testing::Test, public TShellCtrlsDesktop
{
protected:
    ~ShellTreeView() override
    {
        tester.reset();
        tree.reset();
    }

    void MakeTree()
    {
        tree = std::make_unique<TShellTreeView>();
        tree->OnChange = [this](TShellTreeView*, TShellTreeNode*) { ++changes; };
        tester = std::make_unique<QAbstractItemModelTester>(
            tree->TreeModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    // The node of a folder, selected, with its children loaded.
    TShellTreeNode* Open(const std::string& path)
    {
        tree->SelectPath(path);
        TShellTreeNode* node = tree->Selected();
        EXPECT_EQ(tree->SelectedPath(), path);
        tree->ExpandNode(node);
        return node;
    }

    std::unique_ptr<TShellTreeView> tree;
    std::unique_ptr<QAbstractItemModelTester> tester;
    int changes = 0;
};

TEST_F(ShellTreeView, RootShowsTheDesktopWithItsFirstChildExpanded)
{
    MakeTree();
    TShellTreeNode* root = tree->Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(tree->Selected(), root);
    EXPECT_EQ(tree->SelectedPath(), home); // no Desktop folder: the home stands in
    const std::vector<std::string> top = ChildTexts(root);
    ASSERT_GE(top.size(), 2u);
    EXPECT_EQ(top[0], "コンピューター");
    EXPECT_TRUE(tree->IsExpanded(root->FirstChild()));
    EXPECT_EQ(ChildTexts(root->FirstChild()), std::vector<std::string>{"ローカル ディスク (/)"});
}

TEST_F(ShellTreeView, MergeKeepsSurvivorsAndTheirExpansion)
{
    const std::string base = dir.File("t");
    for (const char* name : {"a", "b", "b/x", "c", "h", "h/i"})
        Mkdir(base + "/" + name);
    MakeTree();
    TShellTreeNode* node = Open(base);
    ASSERT_EQ(ChildTexts(node), (std::vector<std::string>{"a", "b", "c", "h"}));
    TShellTreeNode* b = ChildNamed(node, "b");
    ASSERT_TRUE(tree->ExpandNode(b));

    Mkdir(base + "/d");
    Check(rmdir((base + "/a").c_str()) == 0, "rmdir");
    Check(rename((base + "/c").c_str(), (base + "/e").c_str()) == 0, "rename");
    tree->RefreshVisible();
    EXPECT_EQ(ChildTexts(node), (std::vector<std::string>{"b", "d", "e", "h"}));
    EXPECT_EQ(ChildNamed(node, "b"), b);
    EXPECT_TRUE(tree->IsExpanded(b));
    EXPECT_EQ(ChildTexts(b), std::vector<std::string>{"x"});

    // A folder whose sub-folders are gone loses its expand button when it
    // is expanded.
    TShellTreeNode* h = ChildNamed(node, "h");
    EXPECT_TRUE(tree->TreeModel()->hasChildren(tree->TreeModel()->IndexOf(h)));
    Check(rmdir((base + "/h/i").c_str()) == 0, "rmdir");
    tree->ExpandNode(h);
    EXPECT_FALSE(tree->TreeModel()->hasChildren(tree->TreeModel()->IndexOf(h)));
}

TEST_F(ShellTreeView, DeletedSelectionMovesToTheNearestSurvivingAncestor)
{
    const std::string base = dir.File("t");
    for (const char* name : {"a", "a/deep", "a/deep/er", "z"})
        Mkdir(base + "/" + name);
    MakeTree();
    TShellTreeNode* node = Open(base);
    tree->SelectPath(base + "/a/deep/er");
    ASSERT_EQ(tree->SelectedPath(), base + "/a/deep/er");
    std::filesystem::remove_all(base + "/a");
    changes = 0;
    tree->RefreshVisible();
    EXPECT_EQ(tree->Selected(), node);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(ChildTexts(node), std::vector<std::string>{"z"});
}

TEST_F(ShellTreeView, SelectPathLoadsAncestorsAndIgnoresTheFolderAlreadySelected)
{
    std::string deep = dir.File("t");
    for (int level = 0; level < 6; ++level)
        Mkdir(deep += "/" + std::to_string(level));
    MakeTree();
    changes = 0;
    tree->SelectPath(deep);
    EXPECT_EQ(tree->SelectedPath(), deep);
    EXPECT_EQ(changes, 1);
    tree->SelectPath(deep);
    tree->SelectPath(deep + "/");
    tree->SelectPath(dir.File("missing"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(tree->SelectedPath(), deep);
}

TEST_F(ShellTreeView, CheckboxesOffRecreatesTheNodesAndKeepsTheSelection)
{
    Mkdir(dir.File("t/kept"));
    MakeTree();
    tree->SetCheckboxes(true);
    tree->SelectPath(dir.File("t/kept"));
    const QModelIndex before = tree->TreeModel()->IndexOf(tree->Selected());
    EXPECT_TRUE(before.data(Qt::CheckStateRole).isValid());
    tree->SetCheckboxes(false);
    EXPECT_EQ(tree->SelectedPath(), dir.File("t/kept"));
    EXPECT_FALSE(tree->TreeModel()->IndexOf(tree->Selected()).data(Qt::CheckStateRole).isValid());
}

TEST_F(ShellTreeView, EveryShownFolderIsWatchedAndNewFoldersAppear)
{
    const std::string base = dir.File("t");
    for (int i = 0; i < 300; ++i)
        Mkdir(base + "/f" + std::to_string(i));
    MakeTree();
    TShellTreeNode* node = Open(base);
    ASSERT_EQ(node->ChildCount(), 300);
    ASSERT_TRUE(WaitUntil([&] {
        return tree->DirWatcher()->Directories().size() >= 300 &&
               tree->DirWatcher()->WatchesLastList();
    }));
    const std::vector<std::string> watched = tree->DirWatcher()->Directories();
    const std::set<std::string> set(watched.begin(), watched.end());
    for (int i = 0; i < 300; ++i)
        EXPECT_TRUE(set.count(base + "/f" + std::to_string(i) + "/")) << i;

    Mkdir(base + "/f0/new");
    Mkdir(base + "/g");
    EXPECT_TRUE(WaitUntil([&] { return ChildNamed(node, "g") != nullptr; }));
    EXPECT_TRUE(tree->TreeModel()->hasChildren(tree->TreeModel()->IndexOf(ChildNamed(node, "f0"))));
}

TEST_F(ShellTreeView, FoldersOnAMountThatMayStallAreNotLookedInto)
{
    const std::string share = dir.File("share");
    Mkdir(share);
    for (const char* name : {"a", "a/sub", "b"})
        Mkdir(share + "/" + name);
    WriteTable({"/ " + share + " rw - nfs4 server:/export rw"});
    MakeTree();
    // Any look into a child (a has-children probe, an open) shows here.
    const int inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify, 0);
    for (const char* name : {"a", "b"})
        ASSERT_GE(inotify_add_watch(inotify, (share + "/" + name).c_str(), IN_OPEN | IN_ACCESS), 0);
    TShellTreeNode* node = Open(share);
    EXPECT_EQ(ChildTexts(node), (std::vector<std::string>{"a", "b"}));
    char buffer[4096];
    EXPECT_LT(read(inotify, buffer, sizeof buffer), 0) << "a child was looked into";
    close(inotify);
    // Both are assumed to have sub-folders, and neither is watched.
    EXPECT_TRUE(tree->TreeModel()->hasChildren(tree->TreeModel()->IndexOf(ChildNamed(node, "b"))));
    QCoreApplication::processEvents();
    for (const std::string& watched : tree->WatchedDirectories())
        EXPECT_NE(watched.rfind(share, 0), 0u) << watched;
}

TEST_F(ShellTreeView, MediaArrivalAndRemovalReachTheTree)
{
    const std::string stick = dir.File("media/STICK");
    Mkdir(dir.File("media"));
    Mkdir(stick);
    Mkdir(stick + "/music");
    MakeTree();
    TShellTreeNode* computer = tree->Root()->FirstChild();
    ASSERT_NE(ShellCtrlList().Monitor(), nullptr);

    WriteTable({"/ " + stick + " rw - vfat /dev/sdy1 rw"});
    ShellCtrlList().Monitor()->Rescan();
    const std::string caption = " (" + stick + ")";
    ASSERT_TRUE(WaitUntil([&] { return ChildNamed(computer, caption) != nullptr; }));
    tree->SelectPath(stick + "/music");
    ASSERT_EQ(tree->SelectedPath(), stick + "/music");

    WriteTable({});
    ShellCtrlList().Monitor()->Rescan();
    ASSERT_TRUE(WaitUntil([&] { return tree->Selected() == computer; }));
    EXPECT_EQ(ChildTexts(computer), std::vector<std::string>{"ローカル ディスク (/)"});
    EXPECT_EQ(ChildTexts(tree->Root()).front(), "コンピューター"); // the root kept its name
}

// Mouse and renaming need a shown tree.
class ShellTreeViewInput : public ShellTreeView
{
protected:
    void SetUp() override
    {
        for (const char* name : {"a", "b", "c"})
            Mkdir(dir.File("t/") + name);
        MakeTree();
        tree->resize(400, 600);
        tree->show();
        base = Open(dir.File("t"));
        tree->SelectPath(dir.File("t/a"));
    }
    QPoint PointOf(TShellTreeNode* node)
    {
        return tree->visualRect(tree->TreeModel()->IndexOf(node)).center();
    }
    QWidget* Viewport() { return tree->viewport(); }
    // Closed editors linger until deleted later.
    QLineEdit* OpenEditor()
    {
        for (QLineEdit* editor : Viewport()->findChildren<QLineEdit*>()) {
            if (editor->isVisible())
                return editor;
        }
        return nullptr;
    }

    // Types a new name for a node and answers the message shown, if any.
    QString Rename(TShellTreeNode* node, const QString& text, bool escape = false)
    {
        tree->EditText(node);
        QLineEdit* editor = OpenEditor();
        if (editor == nullptr)
            return QStringLiteral("<no editor>");
        editor->setText(text);
        QTest::keyClick(editor, escape ? Qt::Key_Escape : Qt::Key_Return);
        QString message;
        WaitUntil(
            [&] {
                if (auto* box = tree->window()->findChild<QMessageBox*>()) {
                    message = box->text();
                    box->done(0);
                    delete box;
                }
                return !message.isEmpty();
            },
            300);
        return message;
    }
    TShellTreeNode* base = nullptr;
};

TEST_F(ShellTreeViewInput, PressSelectsOnReleaseEvenWhenReleasedElsewhere)
{
    TShellTreeNode* b = ChildNamed(base, "b");
    TShellTreeNode* c = ChildNamed(base, "c");
    QTest::mousePress(Viewport(), Qt::LeftButton, {}, PointOf(b));
    EXPECT_EQ(tree->MouseState(), TShellTreeView::msLeftPress);
    EXPECT_EQ(tree->DropHighlightNode(), b);
    EXPECT_EQ(tree->SelectedPath(), dir.File("t/a"));
    QTest::mouseMove(Viewport(), PointOf(c));
    QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, PointOf(c));
    EXPECT_EQ(tree->Selected(), b);
    EXPECT_EQ(tree->MouseState(), TShellTreeView::msIdle);
    EXPECT_EQ(tree->DropHighlightNode(), nullptr);
}

TEST_F(ShellTreeViewInput, RightClickKeepsTheSelectionAndShowsTheOrdinaryMenu)
{
    QMenu menu;
    menu.addAction(QStringLiteral("このフォルダを再生"));
    tree->SetPopupMenu(&menu);
    struct
    {
        TShellTreeNode* node;
        bool highlighted;
    } cases[] = {{ChildNamed(base, "c"), true}, {tree->Root(), false}};
    for (const auto& c : cases) {
        const QPoint point = PointOf(c.node);
        QTest::mousePress(Viewport(), Qt::RightButton, {}, point);
        EXPECT_EQ(tree->DropHighlightNode(), c.highlighted ? c.node : nullptr);
        EXPECT_EQ(tree->MouseState(),
                  c.highlighted ? TShellTreeView::msRightPress : TShellTreeView::msIdle);
        QContextMenuEvent request(QContextMenuEvent::Mouse, point, Viewport()->mapToGlobal(point));
        QApplication::sendEvent(Viewport(), &request);
        QTest::mouseRelease(Viewport(), Qt::RightButton, {}, point);
        EXPECT_TRUE(menu.isVisible());
        menu.hide();
        EXPECT_EQ(tree->SelectedPath(), dir.File("t/a"));
        EXPECT_EQ(tree->DropHighlightNode(), nullptr);
        EXPECT_EQ(tree->MouseState(), TShellTreeView::msIdle);
    }
}

TEST_F(ShellTreeViewInput, RenameRefusalsNameTheirReason)
{
    TShellTreeNode* a = ChildNamed(base, "a");
    const QString rows[] = {QString(),
                            QStringLiteral("."),
                            QStringLiteral(".."),
                            QStringLiteral("x/y"),
                            QString(256, QLatin1Char('n')),
                            QStringLiteral("b")};
    std::set<QString> messages;
    for (const QString& name : rows) {
        const QString message = Rename(a, name);
        EXPECT_FALSE(message.isEmpty()) << name.toStdString();
        messages.insert(message);
        EXPECT_EQ(a->Text(), "a");
    }
    // Invalid names share one reason; too long and taken have their own.
    EXPECT_EQ(messages.size(), 3u);
    for (const char* name : {"a", "b", "c"})
        EXPECT_TRUE(FileExists(dir.File("t/") + name)) << name;
    EXPECT_EQ(ChildTexts(base), (std::vector<std::string>{"a", "b", "c"}));

    EXPECT_TRUE(Rename(a, QStringLiteral("escaped"), true).isEmpty());
    EXPECT_FALSE(FileExists(dir.File("t/escaped")));

    EXPECT_TRUE(Rename(a, QStringLiteral("新しい名前")).isEmpty());
    EXPECT_TRUE(WaitUntil([&] { return FileExists(dir.File("t/新しい名前")); }));
    EXPECT_EQ(ChildTexts(base), (std::vector<std::string>{"b", "c", "新しい名前"}));
    EXPECT_EQ(tree->SelectedPath(), dir.File("t/新しい名前"));
}

TEST_F(ShellTreeViewInput, EditingKeepsTheBytesOfANameThatIsNotUtf8)
{
    Mkdir(dir.File("t/\xff\xfe"));
    tree->RefreshVisible();
    TShellTreeNode* odd = base->Child(base->ChildCount() - 1);
    tree->EditText(odd);
    QLineEdit* editor = OpenEditor();
    ASSERT_NE(editor, nullptr);
    editor->setText(editor->text() + QStringLiteral("曲"));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return FileExists(dir.File("t/\xff\xfe曲")); }));
}

TEST_F(ShellTreeViewInput, RootAndUnrenameableFoldersAreNotEdited)
{
    tree->EditText(tree->Root());
    EXPECT_EQ(OpenEditor(), nullptr);
    tree->EditText(tree->Root()->FirstChild()); // the computer folder
    EXPECT_EQ(OpenEditor(), nullptr);
    tree->EditText(ChildNamed(base, "b"));
    EXPECT_NE(OpenEditor(), nullptr);
}

// A shell context menu that answers one command and does what it stands for.
class TFakePopupMenu : public QObject, public IShellPopupMenuLink
{
public:
    QObject* LinkObject() override { return this; }
    void SetAutoPopup(bool) override {}
    void SetBiDiMode(Qt::LayoutDirection) override {}
    void SetPopupComponent(QWidget*) override {}
    int Popup(const TShellIDList& items, QPoint) override
    {
        path = items.GetItemPath(0);
        watchingStopped = tree->WatchedDirectories().empty();
        if (code == 18)
            Check(rmdir(path.c_str()) == 0, "rmdir");
        return code;
    }
    TShellTreeView* tree = nullptr;
    int code = 0;
    std::string path;
    bool watchingStopped = false;
};

TEST_F(ShellTreeViewInput, ShellMenuCommandsActOnTheNodeClicked)
{
    TFakePopupMenu menu;
    menu.tree = tree.get();
    tree->SetShellPopupMenu(&menu);
    auto request = [&](TShellTreeNode* node, int code) {
        menu.code = code;
        const QPoint point = PointOf(node);
        QTest::mousePress(Viewport(), Qt::RightButton, {}, point);
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, Viewport()->mapToGlobal(point));
        QApplication::sendEvent(Viewport(), &event);
        QTest::mouseRelease(Viewport(), Qt::RightButton, {}, point);
        EXPECT_TRUE(menu.watchingStopped);
        EXPECT_EQ(tree->MouseState(), TShellTreeView::msIdle);
    };
    request(ChildNamed(base, "c"), 25);
    EXPECT_EQ(menu.path, dir.File("t/c"));
    EXPECT_TRUE(ChildNamed(base, "c")->Cut());

    request(ChildNamed(base, "b"), 19);
    EXPECT_NE(OpenEditor(), nullptr);
    QTest::keyClick(OpenEditor(), Qt::Key_Escape);

    request(ChildNamed(base, "a"), 18); // the selected folder
    EXPECT_EQ(tree->Selected(), base);
    EXPECT_EQ(ChildTexts(base), (std::vector<std::string>{"b", "c"}));
    EXPECT_FALSE(tree->WatchedDirectories().empty());
}

// The kinds of folder shown, with a scripted desktop.
struct TFilterCase
{
    const char* name;
    TShVirtuaItems shown;
    std::vector<std::string> desktop;
    std::vector<std::string> computer;
};

void PrintTo(const TFilterCase& c, std::ostream* out)
{
    *out << c.name;
}

class ShellTreeFilter : public ::testing::TestWithParam<TFilterCase>
{
};

TEST_P(ShellTreeFilter, ShowsTheVirtualKindsAsked)
{
    TFakeShell shell;
    TFakeNode& desktop = shell.Desktop();
    desktop.AddFolder("desk", {.Csidl = 16, .Attributes = SFGAO_FILESYSTEM, .Path = "/d"});
    TFakeNode& computer = desktop.AddFolder("PC", {.Csidl = 17, .Attributes = SFGAO_HASSUBFOLDER});
    computer.AddFolder("C", {.Attributes = SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR, .Path = "/c"});
    computer.AddFolder("printers");
    desktop.AddFolder("trash", {.Csidl = 10});
    TFakeNode& network = desktop.AddFolder("net", {.Csidl = 18});
    network.AddFolder("server");
    desktop.AddFolder("panel"); // virtual, right under the desktop
    TFakeShellScope scope(shell);

    TShellTreeView tree;
    QAbstractItemModelTester tester(tree.TreeModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    tree.SetShVirtuaItems(GetParam().shown);
    EXPECT_EQ(ChildTexts(tree.Root()), GetParam().desktop);
    TShellTreeNode* pc = ChildNamed(tree.Root(), "PC");
    tree.ExpandNode(pc);
    EXPECT_EQ(ChildTexts(pc), GetParam().computer);
    if (TShellTreeNode* net = ChildNamed(tree.Root(), "net")) {
        tree.ExpandNode(net);
        EXPECT_EQ(ChildTexts(net), std::vector<std::string>{"server"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ShellTreeFilter,
    ::testing::Values(
        TFilterCase{"Default", {itBitBucket, itNetWork}, {"PC", "desk", "net", "trash"}, {"C"}},
        TFilterCase{"NoNetwork", {itBitBucket}, {"PC", "desk", "trash"}, {"C"}},
        TFilterCase{"Virtual",
                    {itBitBucket, itNetWork, itVirtual},
                    {"PC", "desk", "net", "trash"},
                    {"C", "printers"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
