#include "app/PlayQueue.h"

#include "settings/Unt_Com.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <ostream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class MusicFileTest : public ::testing::Test
{
protected:
    void SetUp() override { FileTypeSwitches.fill(false); }
    void TearDown() override { FileTypeSwitches.fill(false); }
};

struct GroupCase
{
    TFileType Switch;
    std::vector<std::string> Names;
};

void PrintTo(const GroupCase& group, std::ostream* out)
{
    *out << group.Names.front();
}

class MusicFileGroup : public MusicFileTest, public ::testing::WithParamInterface<GroupCase>
{
};

TEST_P(MusicFileGroup, AcceptedExactlyWhenItsSwitchIsOn)
{
    const GroupCase& group = GetParam();
    for (const std::string& name : group.Names) {
        FileTypeSwitches.fill(true);
        FileTypeSwitches[group.Switch] = false;
        EXPECT_FALSE(IsMusicFile("/music/" + name)) << name << " with its switch off";
        FileTypeSwitches.fill(false);
        FileTypeSwitches[group.Switch] = true;
        EXPECT_TRUE(IsMusicFile("/music/" + name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(SixGroups, MusicFileGroup,
                         ::testing::Values(GroupCase{ftMP3, {"a.mp3", "SONG.MP3", "song.Mp3"}},
                                           GroupCase{ftWMA, {"a.wma", "a.WMX"}},
                                           GroupCase{ftMDI, {"a.mid", "a.Rmi", "a.MIDI"}},
                                           GroupCase{ftWAV, {"a.wav", "A.WaV"}},
                                           GroupCase{ftAIF, {"a.aif", "a.AIFC", "a.aiff"}},
                                           GroupCase{ftSND, {"a.au", "a.SND"}}),
                         [](const auto& info) { return info.param.Names.front().substr(2); });

TEST_F(MusicFileTest, OnlyTheExtensionOfTheFinalComponentCounts)
{
    FileTypeSwitches.fill(true);
    EXPECT_FALSE(IsMusicFile("/music/song.mp3 "));
    EXPECT_FALSE(IsMusicFile("/music/song.mp3.bak"));
    EXPECT_FALSE(IsMusicFile("/music.old/readme"));
    EXPECT_FALSE(IsMusicFile("/music.mp3/readme"));
    EXPECT_FALSE(IsMusicFile("/music/song."));
    EXPECT_FALSE(IsMusicFile("/music/songmp3"));
    EXPECT_TRUE(IsMusicFile("/music/.mp3"));
    EXPECT_TRUE(IsMusicFile("song.wav"));
    // ":" is an ordinary character here, not a separator.
    EXPECT_TRUE(IsMusicFile("/music/a:b.mp3"));
    EXPECT_FALSE(IsMusicFile("/music/a.mp3:b"));
    // Only ASCII letters are lowercased; a multibyte name never matters.
    EXPECT_TRUE(IsMusicFile("/音楽/曲.MP3"));
    EXPECT_FALSE(IsMusicFile("/音楽/曲.ｍｐ３"));
    EXPECT_EQ(FileExtension("/a.b/c.tar.GZ"), ".GZ");
    EXPECT_EQ(FileExtension("/a.b/c"), "");
}

TEST_F(MusicFileTest, AllSwitchesOffRefusesEverything)
{
    for (const char* name : {"a.mp3", "a.wma", "a.mid", "a.wav", "a.aiff", "a.au"})
        EXPECT_FALSE(IsMusicFile(name)) << name;
}

TEST(Playlist, IsThePathsEachFollowedByCrLf)
{
    TTestDir dir;
    const TPendingFiles paths = {"/m/a.mp3", "/m/日本語.wav", std::string("/m/\xff\xfe.au")};
    WritePlaylistFile(dir.File("list.m3u"), paths);
    EXPECT_EQ(ReadFileBytes(dir.File("list.m3u")),
              "/m/a.mp3\r\n/m/日本語.wav\r\n/m/\xff\xfe.au\r\n");
    // Writing again truncates.
    WritePlaylistFile(dir.File("list.m3u"), {"/x.mp3"});
    EXPECT_EQ(ReadFileBytes(dir.File("list.m3u")), "/x.mp3\r\n");
}

TEST(Playlist, FileThatCannotBeCreatedNamesItself)
{
    TTestDir dir;
    // A FIFO without a reader, which an open for writing would wait on.
    Check(::mkfifo(dir.File("fifo.m3u").c_str(), 0600) == 0, "mkfifo");
    ::alarm(10); // a hang ends the test
    for (const std::string& name : {dir.File("missing/temp1.m3u"), dir.File("fifo.m3u")}) {
        try {
            WritePlaylistFile(name, {"/a.mp3"});
            ADD_FAILURE() << "no error for " << name;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "ファイル " + name + " を作成できません");
        }
    }
    ::alarm(0);
}

TEST(Playlist, LineBreaksCannotBeLines)
{
    EXPECT_TRUE(IsPlaylistLine("/m/a b.mp3"));
    EXPECT_FALSE(IsPlaylistLine("/m/a\nb.mp3"));
    EXPECT_FALSE(IsPlaylistLine("/m/a\rb.mp3"));
}

} // namespace
