#include "settings/Unt_Com.h"

#include "platform/core/AppDir.h"
#include "platform/registry/Registry.h"
#include "tests/support/TestFiles.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// Local time is UTC in these tests, so that a clock value names one day.
std::time_t At(int year, int month, int day, int hour, int minute, int second)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    return timegm(&local);
}

class ErrorLog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        SetApplicationDirectory(dir.Path());
        SetLogClock([this] { return now; });
    }
    void TearDown() override
    {
        SetLogClock(nullptr);
        SetApplicationDirectory({});
    }
    std::string Log(const std::string& name) const { return ReadFileBytes(dir.File(name)); }

    TTestDir dir;
    std::time_t now = At(2026, 12, 7, 9, 5, 3);
};

TEST_F(ErrorLog, LineHasTheFixedColumnsAndCrLf)
{
    WriteErrorLog("Lumesk", "Unt_Com", "prc_LoadTMLOption-E", "メッセージ", 0);
    EXPECT_EQ(Log("TML-261207.LOG"),
              "2026/12/07 09:05:03 Lumesk               Unt_Com              "
              "prc_LoadTMLOption-E  0 メッセージ\r\n");
}

TEST_F(ErrorLog, ColumnsArePaddedOrCutToTwentyBytes)
{
    WriteErrorLog("Lumesk", "Unt_Main", "prc_LoadFromRegistry-E", "a", 0); // 22 bytes
    WriteErrorLog("Lumesk", "Unt_Main", "prc_SaveToRegistry-E", "b", 0);   // exactly 20
    WriteErrorLog("Lumesk", "Unt_Main", "FV_MainDblClick-E", "c", 0);      // 17
    WriteErrorLog("A-maker-word-longer-than-20", "", "", "d", 0);
    const std::string prefix = "2026/12/07 09:05:03 ";
    const std::string maker = "Lumesk               ";
    const std::string module = "Unt_Main             ";
    EXPECT_EQ(Log("TML-261207.LOG"),
              prefix + maker + module + "prc_LoadFromRegistry 0 a\r\n" + prefix + maker + module +
                  "prc_SaveToRegistry-E 0 b\r\n" + prefix + maker + module +
                  "FV_MainDblClick-E    0 c\r\n" + prefix + "A-maker-word-longer-" + " " +
                  std::string(20, ' ') + " " + std::string(20, ' ') + " 0 d\r\n");
}

TEST_F(ErrorLog, LevelsAboveTenAreWrittenAsNine)
{
    for (int level : {0, 10, 11, 2147483647, -3})
        WriteErrorLog("m", "u", "t", "x", level);
    const std::string log = Log("TML-261207.LOG");
    std::vector<std::string> levels;
    for (size_t start = 0; start < log.size();) {
        const size_t end = log.find("\r\n", start);
        const std::string line = log.substr(start, end - start);
        const size_t levelStart = 20 + 3 * 21;
        levels.push_back(line.substr(levelStart, line.find(' ', levelStart) - levelStart));
        start = end + 2;
    }
    EXPECT_EQ(levels, (std::vector<std::string>{"0", "10", "9", "9", "-3"}));
}

TEST_F(ErrorLog, MessageWithLineBreakIsWrittenUnchanged)
{
    WriteErrorLog("Lumesk", "Unt_Com", "t", "one\r\ntwo\nthree", 0);
    const std::string log = Log("TML-261207.LOG");
    EXPECT_NE(log.find(" 0 one\r\ntwo\nthree\r\n"), std::string::npos);
}

TEST_F(ErrorLog, LineAfterMidnightGoesToTheNewDaysFile)
{
    now = At(2026, 12, 31, 23, 59, 59);
    WriteErrorLog("Lumesk", "Unt_Com", "t", "old", 0);
    now += 1;
    WriteErrorLog("Lumesk", "Unt_Com", "t", "new", 0);
    const std::string oldDay = Log("TML-261231.LOG");
    const std::string newDay = Log("TML-270101.LOG");
    EXPECT_EQ(oldDay.rfind("2026/12/31 23:59:59 ", 0), 0u);
    EXPECT_EQ(oldDay.find("new"), std::string::npos);
    EXPECT_EQ(newDay.rfind("2027/01/01 00:00:00 ", 0), 0u);
    EXPECT_NE(newDay.find(" new\r\n"), std::string::npos);
}

TEST_F(ErrorLog, InputOutputErrorsReachTheCaller)
{
    SetApplicationDirectory(dir.File("missing/dir"));
    EXPECT_THROW(WriteErrorLog("Lumesk", "Unt_Com", "t", "x", 0), std::system_error);
}

TEST(ErrorLogName, RootDirectoryKeepsItsSeparator)
{
    SetApplicationDirectory("/");
    EXPECT_EQ(ErrorLogFileName(At(2026, 12, 7, 12, 0, 0)).substr(0, 6), "//TML-");
    SetApplicationDirectory({});
}

class Options : public ErrorLog
{
protected:
    void SetUp() override
    {
        ErrorLog::SetUp();
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        FileTypeSwitches.fill(false);
    }
    void TearDown() override
    {
        unsetenv("XDG_CONFIG_HOME");
        FileTypeSwitches.fill(false);
        ErrorLog::TearDown();
    }
    void Store(const std::string& name, int32_t value)
    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey(kOptionKey, true));
        registry.WriteInteger(name, value);
    }
    void Store(const std::string& name, const std::string& value)
    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey(kOptionKey, true));
        registry.WriteString(name, value);
    }
};

TEST_F(Options, FirstStartCreatesTheKeyAndSavesSixZeros)
{
    LoadOptions();
    EXPECT_EQ(FileTypeSwitches, (std::array<bool, 6>{}));
    {
        TRegistry registry;
        EXPECT_TRUE(registry.OpenKey(kOptionKey, false));
    }
    SaveOptions();
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey(kOptionKey, false));
    for (const char* name : {"playMDI", "playWMA", "playWAV", "playMP3", "playAIF", "playSND"}) {
        EXPECT_EQ(registry.GetDataType(name), TRegDataType::rdInteger) << name;
        EXPECT_EQ(registry.ReadInteger(name), 0) << name;
    }
    EXPECT_FALSE(FileExists(dir.File("TML-261207.LOG")));
}

TEST_F(Options, EachValueSetsItsOwnSwitchAndNonZeroCountsAsOn)
{
    Store("playMP3", 5);
    Store("playSND", 1);
    Store("playWMA", 0);
    FileTypeSwitches[ftWMA] = true;
    FileTypeSwitches[ftMDI] = true; // no stored value: stays as it is
    LoadOptions();
    EXPECT_EQ(FileTypeSwitches, (std::array<bool, 6>{true, false, false, true, false, true}));
    SaveOptions();
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey(kOptionKey, false));
    EXPECT_EQ(registry.ReadInteger("playMP3"), 1);
    EXPECT_EQ(registry.ReadInteger("playMDI"), 1);
}

TEST_F(Options, LoadStopsAtTheFirstErrorAndLogsIt)
{
    for (const char* name : {"playAIF", "playMDI", "playMP3", "playSND", "playWMA"})
        Store(name, 1);
    struct Case
    {
        std::string storedWav;
        std::string message;
    };
    for (const Case& c : {Case{"abc", "'playWAV' のデータ型が不正です"},
                          Case{"abcd", "'playWAV' の取得に失敗しました"}}) {
        Store("playWAV", c.storedWav);
        std::remove(dir.File("TML-261207.LOG").c_str());
        FileTypeSwitches.fill(false);
        LoadOptions();
        // Read before playWAV: AIF, MDI, MP3, SND; after it: WMA keeps false.
        EXPECT_EQ(FileTypeSwitches, (std::array<bool, 6>{true, false, false, true, true, true}))
            << c.storedWav;
        EXPECT_EQ(Log("TML-261207.LOG"), "2026/12/07 09:05:03 Lumesk               Unt_Com"
                                         "              prc_LoadTMLOption-E  0 " +
                                             c.message + "\r\n");
    }
}

TEST_F(Options, MalformedStoreIsLoggedAndKept)
{
    const std::string storeFile = TRegistry::DefaultStoreFile();
    ASSERT_EQ(storeFile, dir.File("config/LumeskSoft/Tunemill.reg"));
    LoadOptions(); // creates the directory and the store
    const std::string garbage = "this is not a settings file\n\x01\x02";
    ASSERT_TRUE(WriteFileBytes(storeFile, garbage));
    FileTypeSwitches[ftMP3] = true;
    LoadOptions();
    EXPECT_TRUE(FileTypeSwitches[ftMP3]);
    const std::string log = Log("TML-261207.LOG");
    EXPECT_NE(log.find("prc_LoadTMLOption-E "), std::string::npos);
    EXPECT_NE(log.find(storeFile), std::string::npos);
    // The log names the kept copy, and the copy holds the original bytes.
    const size_t keptAt = log.find(storeFile + ".", log.find(storeFile) + 1);
    ASSERT_NE(keptAt, std::string::npos) << log;
    const std::string kept = log.substr(keptAt, log.find(' ', keptAt) - keptAt);
    EXPECT_EQ(ReadFileBytes(kept), garbage);
}

TEST_F(Options, SaveFailureIsLoggedUnderItsOwnTag)
{
    ASSERT_TRUE(WriteFileBytes(dir.File("config"), "a file where the folder should be"));
    FileTypeSwitches[ftMP3] = true;
    SaveOptions();
    EXPECT_EQ(Log("TML-261207.LOG"),
              "2026/12/07 09:05:03 Lumesk               Unt_Com"
              "              prc_SaveTMLOption-E  0 'playAIF' の設定に失敗しました (" +
                  dir.File("config/LumeskSoft/Tunemill.reg") + ": Not a directory)\r\n");
}

TEST_F(ErrorLog, LineCutShortByAFullDiskIsTakenBack)
{
    const std::string log = dir.File("TML-261207.LOG");
    const int code = RunInChild([&] {
        WriteErrorLog("Lumesk", "Unt_Com", "t", "first", 0);
        const std::string first = ReadFileBytes(log);
        // The file may grow by ten bytes only: the next line is cut short.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit tight{first.size() + 10, limit.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &tight);
        EXPECT_THROW(WriteErrorLog("Lumesk", "Unt_Com", "t", "second, cut short", 0),
                     std::system_error);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        WriteErrorLog("Lumesk", "Unt_Com", "t", "third", 0);
        const std::string after = ReadFileBytes(log);
        return after.size() == 2 * first.size() && after.ends_with(" 0 third\r\n") ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
}

TEST_F(ErrorLog, UnwritableLogRaisesWithoutBlockingAndKeepsTheEntry)
{
    const std::string original = "'playWAV' のデータ型が不正です";
    for (const bool fifo : {false, true}) {
        SetApplicationDirectory(fifo ? dir.Path() : dir.File("missing"));
        ASSERT_TRUE(!fifo || ::mkfifo(dir.File("TML-261207.LOG").c_str(), 0600) == 0);
        ::testing::internal::CaptureStderr();
        const int code = RunInChild([&] {
            ::alarm(5);
            try {
                WriteErrorLog("Lumesk", "Unt_Com", "prc_LoadTMLOption-E", original, 0);
            } catch (const std::system_error& error) {
                const std::string what = error.what();
                const bool named = what.find("TML-261207.LOG") != std::string::npos;
                return named && what.find(original) != std::string::npos ? 0 : 2;
            }
            return 3;
        });
        EXPECT_NE(::testing::internal::GetCapturedStderr().find(original), std::string::npos);
        EXPECT_EQ(code, 0) << (fifo ? "FIFO" : "missing folder");
    }
}

TEST_F(Options, MalformedStoreThatCannotBeMovedAsideIsLoggedWithItsReason)
{
    const std::string storeFile = TRegistry::DefaultStoreFile();
    const std::string folder = dir.File("config/LumeskSoft");
    const std::string logs = dir.File("logs");
    ASSERT_EQ(::mkdir(logs.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(logs.c_str(), 0777), 0); // the child may be another user
    SetApplicationDirectory(logs);
    // The move aside fails in a read-only folder; without a lock file, earlier.
    for (const bool lockFile : {true, false}) {
        LoadOptions(); // creates the folder, the store and its lock file
        ASSERT_TRUE(lockFile || std::remove((storeFile + ".lock").c_str()) == 0);
        ASSERT_TRUE(WriteFileBytes(storeFile, "not a settings file\n"));
        for (const std::string& path : {dir.Path(), dir.File("config"), folder, storeFile})
            ASSERT_EQ(::chmod(path.c_str(), path == storeFile ? 0644 : 0555), 0);
        std::remove((logs + "/TML-261207.LOG").c_str());
        const int code = RunInChild([] {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                return 77;
            LoadOptions();
            return 0;
        });
        for (const std::string& path : {dir.Path(), dir.File("config"), folder})
            ::chmod(path.c_str(), 0700);
        if (code == 77)
            GTEST_SKIP() << "cannot switch to an unprivileged user here";
        ASSERT_EQ(code, 0);
        const std::string log = ReadErrorLogs(logs);
        EXPECT_NE(log.find("設定ファイル " + storeFile + " を読み込めません (line 1:"),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find("に保存しました"), std::string::npos) << log;
        EXPECT_EQ(ReadFileBytes(storeFile), "not a settings file\n");
    }
}

} // namespace
