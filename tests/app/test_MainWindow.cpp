#include "app/Unt_Main.h"

#include "platform/core/AppDir.h"
#include "platform/core/PathCodec.h"
#include "platform/mounts/Mounts.h"
#include "platform/registry/Registry.h"
#include "platform/shellns/LinuxShell.h"
#include "search/SearchFile.h"
#include "settings/Unt_Com.h"
#include "shellctrls/ShellListView.h"
#include "shellctrls/ShellTreeView.h"
#include "tests/app/ScriptedPlayer.h"
#include "tests/support/TestFiles.h"

#include <QAction>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using namespace Qt::StringLiterals;

// A user of the window's own: home, settings and data in a temporary folder,
// the program's folder beside them, and the real namespace over it.
class MainWindow : public ::testing::Test
{
protected:
    MainWindow()
        : home_("HOME", dir.File("home")), config_("XDG_CONFIG_HOME", dir.File("config")),
          data_("XDG_DATA_HOME", dir.File("data"))
    {
        for (const char* name : {"home", "config", "data", "app", "music"})
            mkdir(dir.File(name).c_str(), 0755);
        SetShellNamespace(std::make_shared<TLinuxShellNamespace>());
        SetApplicationDirectory(dir.File("app") + "/");
        FileTypeSwitches.fill(false);
        Open();
    }
    ~MainWindow() override
    {
        window.reset();
        FileTypeSwitches.fill(false);
        SetApplicationDirectory({});
        SetShellNamespace(nullptr);
    }
    void Open()
    {
        auto scripted = std::make_unique<TScriptedPlayer>();
        player = scripted.get();
        window = std::make_unique<Tfrm_Main>(std::move(scripted));
        window->show();
    }
    void Reopen()
    {
        window->close();
        window.reset();
        Open();
    }
    std::string Music(const std::string& name)
    {
        const std::string path = dir.File("music/" + name);
        const size_t slash = path.rfind('/');
        mkdir(path.substr(0, slash).c_str(), 0755);
        WriteFileBytes(path, "");
        return path;
    }
    void Trigger(const char* action)
    {
        window->findChild<QAction*>(QString::fromLatin1(action))->trigger();
    }
    void SelectRow(const std::string& name)
    {
        TShellListView* list = window->SLV();
        for (int row = 0; row < list->RowCount(); ++row)
            list->SetRowSelected(row, list->FileList()->GetItem(row)->GetPath() == name);
    }
    static void Pump()
    {
        for (int round = 0; round < 5; ++round)
            QCoreApplication::sendPostedEvents();
    }
    std::string Temp1() { return ReadFileBytes(dir.File("app/temp1.m3u")); }
    static QString Named(const std::string& path) { return u"FileName="_s + PathToQString(path); }
    void Deselect()
    {
        window->STV()->clearSelection();
        window->STV()->setCurrentIndex({});
    }
    // A start after a run that did not save: the values are the test's.
    void ReopenWith(const std::function<void(TRegistry&)>& store)
    {
        window.reset();
        {
            TRegistry values;
            values.OpenKey(kWindowKey, true);
            store(values);
        }
        Open();
        Pump();
    }

    TTestDir dir;
    TScopedVariable home_, config_, data_;
    TScriptedPlayer* player = nullptr;
    std::unique_ptr<Tfrm_Main> window;
};

TEST_F(MainWindow, CommandsGatherNothingWithEverySwitchOff)
{
    Music("a.mp3");
    window->STV()->SelectPath(dir.File("music"));
    SelectRow(dir.File("music/a.mp3"));
    for (const char* command : {"PMN_STV_0", "PMN_STV_1", "PMN_SLV_0"}) {
        player->Calls.clear();
        Trigger(command);
        Pump();
        EXPECT_TRUE(window->PendingFiles.empty()) << command;
        EXPECT_EQ(player->Calls.first(), u"Stop"_s) << command;
        EXPECT_FALSE(player->Calls.join(u' ').contains(u"FileName"_s)) << command;
    }
    EXPECT_FALSE(FileExists(dir.File("app/temp1.m3u")));
}

TEST_F(MainWindow, ListCommandsPlayMusicInRowOrderAndTheDoubleClickAnyFile)
{
    FileTypeSwitches[ftMP3] = true;
    const std::string b = Music("b.mp3"), a = Music("a.MP3"), text = Music("notes.txt");
    window->STV()->SelectPath(dir.File("music"));
    Trigger("PMN_STV_0");
    EXPECT_EQ(Temp1(), PlaylistBytes({a, b}));
    EXPECT_EQ(player->Calls,
              (QStringList{u"Stop"_s, u"Cancel"_s, Named(dir.File("app/temp1.m3u"))}));

    // Only what is not music selected: stopped, nothing else.
    SelectRow(text);
    player->Calls.clear();
    Trigger("PMN_SLV_0");
    EXPECT_EQ(player->Calls, (QStringList{u"Stop"_s}));
    EXPECT_TRUE(window->PendingFiles.empty());

    // No type test and no stop for a double-click; the refusal is logged.
    player->Refused << PathToQString(text);
    player->Calls.clear();
    window->SLVDblClick();
    EXPECT_EQ(player->Calls, (QStringList{Named(text)}));
    EXPECT_NE(ReadErrorLogs(dir.File("app")).find("FV_MainDblClick-E"), std::string::npos);
}

TEST_F(MainWindow, TreeCommandsActOnTheSelectedFolderNotTheOneRightClicked)
{
    FileTypeSwitches[ftMP3] = true;
    const std::string inside = Music("x/in.mp3");
    Music("other/out.mp3");
    window->STV()->SelectPath(dir.File("music/x"));
    window->STV()->SelectPath(dir.File("music"));
    window->STV()->SelectPath(dir.File("music/x"));
    TShellTreeView* tree = window->STV();
    const QModelIndex selected = tree->currentIndex();
    const QModelIndex other = selected.sibling(selected.row() == 0 ? 1 : 0, 0);
    ASSERT_TRUE(other.isValid());
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualRect(other).center());
    EXPECT_EQ(tree->currentIndex(), selected);
    Trigger("PMN_STV_1");
    EXPECT_EQ(Temp1(), PlaylistBytes({inside}));
}

TEST_F(MainWindow, RecursivePlayFindsNothingWithoutAFolderPath)
{
    FileTypeSwitches.fill(true);
    Deselect();
    ASSERT_EQ(window->STV()->SelectedPath(), "");
    Trigger("PMN_STV_1");
    EXPECT_TRUE(window->PendingFiles.empty());
    EXPECT_EQ(player->Calls, (QStringList{u"Stop"_s, u"Cancel"_s}));
}

TEST_F(MainWindow, RecursivePlaySortsWholePathsIgnoringCaseInEitherLocale)
{
    for (const char* name : {"C", "ja_JP"}) {
        const TScopedVariable locale("LC_ALL", std::string(name) + ".UTF-8");
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        TPendingFiles paths = {"/m/C.mp3", "/m/B/x.mp3", "/m/a/y.mp3"};
        SortByPath(paths);
        EXPECT_EQ(paths, (TPendingFiles{"/m/a/y.mp3", "/m/B/x.mp3", "/m/C.mp3"})) << name;
    }
    QLocale::setDefault(QLocale::c());
}

TEST_F(MainWindow, RecursivePlayHoldsTheDriversMessagesUntilItsQueueIsWhole)
{
    FileTypeSwitches[ftMP3] = true;
    const std::string c = Music("C.mp3"), x = Music("B/x.mp3"), y = Music("a/y.mp3");
    window->STV()->SelectPath(dir.File("music"));
    // A stream's end reported while the walk has gathered one file.
    TSearchFile* search = window->SearchFile();
    bool posted = false;
    search->OnFind = [&, find = search->OnFind](QObject* sender, const std::string& name,
                                                TSearchFileData data, bool& continueSearch) {
        find(sender, name, data, continueSearch);
        if (window->PendingFiles.size() == 1 && !posted) {
            posted = true;
            QCoreApplication::postEvent(window.get(), new QEvent(QEvent::Type(WM_PLAYNEXT)));
            QCoreApplication::sendPostedEvents(window.get(), WM_PLAYNEXT);
        }
    };
    Trigger("PMN_STV_1");
    EXPECT_EQ(player->Calls,
              (QStringList{u"Stop"_s, u"Cancel"_s, Named(dir.File("app/temp1.m3u"))}));
    EXPECT_EQ(Temp1(), PlaylistBytes({y, x, c}));
    Pump();
    // The held message continues with the whole, sorted queue's head.
    EXPECT_EQ(player->Calls.mid(3), (QStringList{Named(y), u"Play"_s}));
}

TEST_F(MainWindow, CancelledRecursivePlayPlaysNothing)
{
    FileTypeSwitches[ftMP3] = true;
    for (const char* name : {"a/1.mp3", "b/2.mp3", "c/3.mp3"})
        Music(name);
    window->STV()->SelectPath(dir.File("music"));
    // The dialog shows at once, and the walk yields to it: a start
    // message arrives, another is still queued, and the user cancels.
    window->SearchProgressDelayMs = 0;
    QTimer::singleShot(0, window.get(), [&] {
        QCoreApplication::postEvent(window.get(), new QEvent(QEvent::Type(WM_PLAYSTART)));
        QCoreApplication::sendPostedEvents(window.get(), WM_PLAYSTART);
        QCoreApplication::postEvent(window.get(), new QEvent(QEvent::Type(WM_PLAYSTART)));
        window->findChild<QProgressDialog*>()->cancel();
    });
    Trigger("PMN_STV_1");
    Pump();
    EXPECT_TRUE(window->PendingFiles.empty());
    EXPECT_EQ(player->Calls, (QStringList{u"Stop"_s, u"Cancel"_s}));
}

TEST_F(MainWindow, FirstStartOpensAtTheDesignBoundsAndCloseWritesEveryValue)
{
    TRegistry store;
    EXPECT_TRUE(store.OpenKey(kWindowKey, false));
    EXPECT_EQ(window->pos(), QPoint(258, 101));
    EXPECT_EQ(window->size(), QSize(754, 541));
    Deselect();
    window->close();
    TRegistry saved;
    ASSERT_TRUE(saved.OpenKey(kWindowKey, false));
    for (const auto& [name, value] :
         {std::pair{"MainLeft", 258}, {"MainTop", 101}, {"MainWidth", 754}, {"MainHeight", 541}})
        EXPECT_EQ(saved.ReadInteger(name), value) << name;
    EXPECT_EQ(saved.ReadString("STV_LastDir"), "");
    EXPECT_EQ(saved.ReadInteger("STV_Width"), window->STV()->width());
}

TEST_F(MainWindow, ReopensWhereItWasLeftNormalAndWithItsPaneWidth)
{
    window->setGeometry(120, 80, 700, 500);
    window->STV()->SelectPath(dir.File("music"));
    Trigger("View_List");
    window->showMaximized();
    Reopen();
    EXPECT_FALSE(window->isMaximized());
    EXPECT_EQ(window->geometry(), QRect(120, 80, 700, 500));
    EXPECT_EQ(window->STV()->SelectedPath(), dir.File("music"));
    EXPECT_TRUE(window->ViewAction(vsList)->isChecked());

    ReopenWith([](TRegistry& values) { values.WriteInteger("STV_Width", 240); });
    EXPECT_EQ(window->STV()->width(), 240);
    EXPECT_TRUE(window->GroupBox1()->contentsRect().contains(window->STV()->geometry()));
}

TEST_F(MainWindow, WindowStoredOffEveryScreenComesBackOntoThePrimaryOne)
{
    ReopenWith([](TRegistry& values) {
        values.WriteInteger("MainLeft", 40000);
        values.WriteInteger("MainTop", -30000);
    });
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(area.intersects(window->frameGeometry()))
        << window->x() << "," << window->y() << " on " << area.width() << "x" << area.height();
    EXPECT_EQ(window->size(), QSize(754, 541).boundedTo(area.size()));
}

TEST_F(MainWindow, LastFolderOnAMountThatMayStallIsNotLookedAt)
{
    const TMountSources saved = MountSources();
    TMountSources sources = saved;
    sources.MountTable = dir.File("mountinfo");
    WriteFileBytes(sources.MountTable, "20 1 0:20 / / rw - ext4 /dev/vda1 rw\n21 1 0:21 / " +
                                           dir.File("music") + " rw - nfs srv:/music rw\n");
    SetMountSources(sources);
    ReopenWith([&](TRegistry& values) { values.WriteString("STV_LastDir", dir.File("music")); });
    SetMountSources(saved);
    EXPECT_NE(window->STV()->SelectedPath(), dir.File("music"));
}

} // namespace
