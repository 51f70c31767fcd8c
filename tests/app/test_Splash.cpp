#include "app/HelpPage.h"
#include "app/Unt_Splash.h"

#include "platform/core/Posix.h"

#include "tests/support/TestFiles.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>

namespace {

bool GoneAfterDeferredDeletes(const QPointer<Tfrm_Splash>& window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window.isNull();
}

TEST(Splash, StartupSplashPaintsItsPictureDisabledAndStaysUpUntilTheLoopFreesIt)
{
    ShowStartupSplash(0);
    const QPointer<Tfrm_Splash> splash = frm_Splash;
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_FALSE(splash->Image1->isEnabled());
    // Disabled, the picture still shows in full colour.
    EXPECT_EQ(splash->Image1->grab().toImage().convertToFormat(QImage::Format_RGB32),
              splash->Image1->Picture().convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(GoneAfterDeferredDeletes(splash));
    EXPECT_EQ(frm_Splash, nullptr);
}

TEST(Splash, WindowIsFramedCentredAndHoldsItsPictureAndTheWholeLabel)
{
    const QPointer<Tfrm_Splash> window = ShowVersionWindow();
    EXPECT_EQ(window->size(), QSize(400, 300));
    EXPECT_EQ(window->Client->geometry(), QRect(1, 1, 398, 298));
    EXPECT_EQ(window->Image1->geometry(), window->Client->rect());
    EXPECT_EQ(window->Image1->Picture().size(), QSize(398, 298));
    EXPECT_EQ(window->Label1->pos(), QPoint(356, 152));
    EXPECT_LE(window->Label1->geometry().right(), window->Client->rect().right());
    EXPECT_EQ(window->geometry().center(),
              QGuiApplication::primaryScreen()->availableGeometry().center());
    delete window.data();
}

TEST(Splash, ClickOnThePictureClosesTheWindowOnlyWhileThePictureIsEnabled)
{
    for (const bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "enabled" : "disabled");
        const QPointer<Tfrm_Splash> window = ShowVersionWindow();
        window->Image1->setEnabled(enabled);
        QTest::mouseClick(window->Image1, Qt::LeftButton, {}, QPoint(40, 40));
        EXPECT_EQ(GoneAfterDeferredDeletes(window), enabled);
        delete window.data();
    }
}

// What "help.htm" is in a folder: nothing, a page, a folder or a FIFO (which
// must never be opened).
enum class TEntry
{
    None,
    Page,
    Folder,
    Fifo
};

struct THelpCase
{
    const char* Name;
    TEntry BesideExecutable, InDataDirectory;
    int Found; // index of the folder that answers, -1 none
};

void PrintTo(const THelpCase& c, std::ostream* out)
{
    *out << c.Name;
}

class HelpPage : public ::testing::TestWithParam<THelpCase>
{
protected:
    TTestDir dir;
};

TEST_P(HelpPage, FirstFolderWithTheRegularPageWins)
{
    const THelpCase& c = GetParam();
    // An installation's layout: the program's lookup from "bin" finds the same page.
    const std::vector<std::string> folders = {dir.File("bin"), dir.File("share/tunemill")};
    for (size_t i = 0; i < folders.size(); ++i) {
        const std::string page = folders[i] + "/help.htm";
        const TEntry entry = i == 0 ? c.BesideExecutable : c.InDataDirectory;
        Check(MakeDirectories(folders[i], 0755) &&
                  (entry != TEntry::Page || WriteFileBytes(page, "<html></html>")) &&
                  (entry != TEntry::Folder || ::mkdir(page.c_str(), 0755) == 0) &&
                  (entry != TEntry::Fifo || ::mkfifo(page.c_str(), 0644) == 0),
              page);
    }
    EXPECT_EQ(HelpPageFileIn(folders), c.Found < 0 ? "" : folders[c.Found] + "/help.htm");
    // When neither has it, the compiled data directory may still answer.
    if (c.Found >= 0) {
        EXPECT_EQ(HelpPageFileFor(folders[0] + "/"), folders[c.Found] + "/help.htm");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Places, HelpPage,
    ::testing::Values(THelpCase{"BesideTheExecutable", TEntry::Page, TEntry::Page, 0},
                      THelpCase{"OnlyInstalled", TEntry::None, TEntry::Page, 1},
                      THelpCase{"Nowhere", TEntry::None, TEntry::None, -1},
                      THelpCase{"FolderOfThatName", TEntry::Folder, TEntry::None, -1},
                      THelpCase{"FifoOfThatName", TEntry::Fifo, TEntry::Page, 1}),
    [](const ::testing::TestParamInfo<THelpCase>& info) { return std::string(info.param.Name); });

} // namespace
