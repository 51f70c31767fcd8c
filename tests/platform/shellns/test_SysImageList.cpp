#include "platform/shellns/SysImageList.h"

#include "platform/shellns/ShellNs.h"

#include <QFileInfo>
#include <QPixmap>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The registry is process-wide and shared with every other test here, so
// each test compares counts before and after rather than absolute values,
// and uses extensions and names that no other test asks for.

// Asks the theme as the registry sees it, once the registry has set it up
// (each test may run in a process of its own).
bool ThemeHas(const char* name)
{
    (void)SysImageList(false).Icon(0);
    return QIcon::hasThemeIcon(QString::fromLatin1(name));
}

TEST(SysImageList, SameExtensionIsLookedUpOnceWhateverItsCase)
{
    const int before = SysImageListLookupCount();
    const int index = FileIconIndex("talk.spx");
    const int afterFirst = SysImageListLookupCount();
    EXPECT_LE(afterFirst - before, 1);
    EXPECT_EQ(FileIconIndex("other.spx"), index);
    EXPECT_EQ(FileIconIndex("LOUD.SPX"), index);
    EXPECT_EQ(FileTypeName("x.Spx"), FileTypeName("talk.spx"));
    EXPECT_EQ(SysImageListLookupCount(), afterFirst);
}

TEST(SysImageList, NamesWithoutExtensionShareOneSlot)
{
    // A leading dot marks a hidden file, not an extension; a trailing dot
    // leaves an empty one.
    const int index = FileIconIndex("noext");
    const int lookups = SysImageListLookupCount();
    const QString typeName = FileTypeName("noext");
    for (const char* name : {"README", ".bashrc", "trailing.", "Makefile"}) {
        EXPECT_EQ(FileIconIndex(name), index) << name;
        EXPECT_EQ(FileTypeName(name), typeName) << name;
    }
    EXPECT_EQ(SysImageListLookupCount(), lookups);
    EXPECT_EQ(FileTypeName(".hidden.mp3"), FileTypeName("song.mp3"));
}

TEST(SysImageList, CachedTypeDoesNotDependOnWhichFileCameFirst)
{
    // "CMakeLists.txt" has a whole-name glob of its own; asking for it first
    // must not change what every other ".txt" file is called.
    const QString cmakeFirst = FileTypeName("CMakeLists.txt");
    EXPECT_EQ(FileTypeName("notes.txt"), cmakeFirst);
    EXPECT_EQ(FileIconIndex("CMakeLists.txt"), FileIconIndex("notes.txt"));
}

TEST(SysImageList, UpperAndLowerCaseExtensionsAgree)
{
    EXPECT_EQ(FileIconIndex("A.MP3"), FileIconIndex("a.mp3"));
    EXPECT_EQ(FileTypeName("A.MP3"), FileTypeName("a.mp3"));
}

TEST(SysImageList, TypeNamesAreNeverEmpty)
{
    const std::vector<std::string> names = {"a.mp3",
                                            "b.txt",
                                            "noext",
                                            "c.unknownextension",
                                            std::string("\xff\xfe.mp3"),
                                            std::string("song.\xe9\xff"),
                                            std::string("nul\0.wav", 8),
                                            ""};
    for (const std::string& name : names) {
        EXPECT_FALSE(FileTypeName(name).isEmpty()) << name;
        const int index = FileIconIndex(name);
        EXPECT_GE(index, 0) << name;
        EXPECT_LT(index, SysImageList(false).Count()) << name;
    }
    EXPECT_EQ(FileTypeName(std::string("\xff\xfe.mp3")), FileTypeName("a.mp3"));
}

TEST(SysImageList, AudioAndTextGetDifferentIconsWhenTheThemeHasBoth)
{
    if (!ThemeHas("audio-x-generic") || !ThemeHas("text-x-generic")) {
        GTEST_SKIP() << "icon theme lacks audio-x-generic or text-x-generic";
    }
    EXPECT_NE(FileIconIndex("a.mp3"), FileIconIndex("a.txt"));
    EXPECT_NE(FileIconIndex("a.mp3"), 0);
}

TEST(SysImageList, IconsComeFromTheThemeBeforeAnyFallback)
{
    const TSysImageList& list = SysImageList(false);
    struct TCase
    {
        int index;
        QStringList acceptable;
    };
    const std::vector<TCase> cases = {
        {SysIconIndex(TSysIcon::Folder), {QStringLiteral("folder")}},
        {SysIconIndex(TSysIcon::DriveOptical),
         {QStringLiteral("drive-optical"), QStringLiteral("media-optical")}},
        {SysIconIndex(TSysIcon::DriveNetwork),
         {QStringLiteral("folder-remote"), QStringLiteral("network-server")}},
        {FileIconIndex("a.mp3"), {QStringLiteral("audio-mpeg"), QStringLiteral("audio-x-generic")}},
    };
    for (const TCase& test : cases) {
        bool themeHasOne = false;
        for (const QString& name : test.acceptable) {
            themeHasOne = themeHasOne || QIcon::hasThemeIcon(name);
        }
        if (themeHasOne) {
            EXPECT_TRUE(test.acceptable.contains(list.Icon(test.index).name()))
                << test.acceptable.join(QLatin1Char(',')).toStdString() << " got "
                << list.Icon(test.index).name().toStdString();
        }
    }
}

TEST(SysImageList, MissingThemeIconsFallBackToTheProvidedStandardIconThenTheDocument)
{
    QPixmap red(32, 32);
    red.fill(Qt::red);
    const QIcon provided(red);
    SetStandardIconProvider(
        [&](TSysIcon icon) { return icon == TSysIcon::Folder ? provided : QIcon(); });
    const TSysImageList& list = SysImageList(true);
    const QStringList missing = {QStringLiteral("tunemill-test-missing-1")};
    const int plain = SysIconIndexOfNames(missing);
    const int unprovided = SysIconIndexOfNames(missing, TSysIcon::Computer);
    const int standard = SysIconIndexOfNames(missing, TSysIcon::Folder);
    // The drawn document is the last resort of every missing icon.
    const qint64 document = list.Icon(plain).cacheKey();
    EXPECT_EQ(list.Icon(unprovided).cacheKey(), document);
    EXPECT_EQ(list.Icon(standard).pixmap(32).toImage().pixel(16, 16), QColor(Qt::red).rgb());
    if (QIcon::hasThemeIcon(QStringLiteral("folder"))) {
        EXPECT_EQ(list.Icon(SysIconIndex(TSysIcon::Folder)).name(), QStringLiteral("folder"));
    }
    // Without a provider the resolved icons are forgotten, not kept.
    SetStandardIconProvider(nullptr);
    EXPECT_EQ(list.Icon(standard).cacheKey(), document);
}

TEST(SysImageList, CountGrowsByOnePerDistinctIcon)
{
    const TSysImageList& list = SysImageList(false);
    const int before = list.Count();
    // A fresh name on every run, so that --gtest_repeat sees a new icon too.
    static int run = 0;
    const QStringList names = {QStringLiteral("tunemill-test-icon-") + QString::number(++run)};
    const int first = SysIconIndexOfNames(names);
    EXPECT_EQ(first, before);
    EXPECT_EQ(list.Count(), before + 1);
    EXPECT_EQ(SysIconIndexOfNames(names), first);
    EXPECT_EQ(list.Count(), before + 1);
    // The same names with another fallback are another icon.
    EXPECT_EQ(SysIconIndexOfNames(names, TSysIcon::Folder), before + 1);
    EXPECT_EQ(SysImageList(true).Count(), before + 2);
}

TEST(SysImageList, SpecialIconsAreStableAndDistinct)
{
    EXPECT_EQ(SysIconIndex(TSysIcon::Document), 0);
    const std::vector<TSysIcon> icons = {
        TSysIcon::Folder,         TSysIcon::FolderOpen,   TSysIcon::Desktop,
        TSysIcon::Computer,       TSysIcon::Home,         TSysIcon::Network,
        TSysIcon::TrashEmpty,     TSysIcon::TrashFull,    TSysIcon::DriveFixed,
        TSysIcon::DriveRemovable, TSysIcon::DriveOptical, TSysIcon::DriveNetwork};
    std::vector<int> seen = {0};
    for (TSysIcon icon : icons) {
        const int index = SysIconIndex(icon);
        EXPECT_EQ(SysIconIndex(icon), index);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), index), 0)
            << "icon " << static_cast<int>(icon) << " shares index " << index;
        seen.push_back(index);
    }
}

TEST(SysImageList, EveryIndexHasAnIconInBothSizes)
{
    SysIconIndexOfNames({QStringLiteral("tunemill-test-icon-without-theme")});
    SysIconIndex(TSysIcon::DriveOptical);
    for (bool large : {false, true}) {
        const TSysImageList& list = SysImageList(large);
        EXPECT_EQ(list.Size(), large ? 32 : 16);
        std::vector<int> indexes = {-1, list.Count(), 100000};
        for (int i = 0; i < list.Count(); ++i) {
            indexes.push_back(i);
        }
        for (int index : indexes) {
            const QIcon icon = list.Icon(index);
            ASSERT_FALSE(icon.isNull()) << index;
            EXPECT_FALSE(icon.pixmap(list.Size()).isNull()) << index;
        }
    }
}

TEST(SysImageList, OverlaysExistForSharedAndLinkOnly)
{
    const TSysImageList& list = SysImageList(false);
    for (int slot : {0, 1}) {
        const QIcon overlay = list.Overlay(slot);
        ASSERT_FALSE(overlay.isNull()) << slot;
        const QImage image = overlay.pixmap(16).toImage();
        ASSERT_FALSE(image.isNull()) << slot;
        // Something is drawn, and it leaves the item below visible.
        bool anyOpaque = false;
        bool anyTransparent = false;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const int alpha = qAlpha(image.pixel(x, y));
                anyOpaque = anyOpaque || alpha > 0;
                anyTransparent = anyTransparent || alpha < 255;
            }
        }
        EXPECT_TRUE(anyOpaque) << slot;
        EXPECT_TRUE(anyTransparent) << slot;
    }
    EXPECT_TRUE(list.Overlay(2).isNull());
    EXPECT_TRUE(list.Overlay(-1).isNull());
}

TEST(SysImageList, AColourThemeIsInPlaceWhenOneIsInstalled)
{
    (void)SysImageList(false).Icon(0);
    bool adwaitaInstalled = false;
    for (const QString& path : QIcon::themeSearchPaths()) {
        adwaitaInstalled =
            adwaitaInstalled || QFileInfo::exists(path + QStringLiteral("/Adwaita/index.theme"));
    }
    if (!adwaitaInstalled) {
        GTEST_SKIP() << "no colour icon theme installed";
    }
    EXPECT_FALSE(QIcon::themeName().isEmpty());
    EXPECT_NE(QIcon::themeName(), QStringLiteral("hicolor"));
    EXPECT_TRUE(ThemeHas("folder"));
    EXPECT_TRUE(ThemeHas("text-x-generic"));
}

} // namespace
