#include "platform/core/DateTime.h"
#include "platform/core/FileFacts.h"

#include "tests/support/TestFiles.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>
#include <vector>

static void PrintTo(const TSystemTime& time, std::ostream* out)
{
    *out << time.Year << '-' << time.Month << '-' << time.Day << ' ' << time.Hour << ':'
         << time.Minute << ':' << time.Second << '.' << time.Milliseconds;
}

namespace {

// File time of 1970-01-01 00:00:00 UTC.
constexpr TFileTime kUnixEpoch = 116444736000000000ull;
constexpr TFileTime kSecond = 10000000ull;
constexpr TFileTime kHour = 3600 * kSecond;
// File time of 30828-01-01 00:00:00, the first instant the calendar must refuse.
constexpr TFileTime kYear30828 = 9223149888000000000ull;

TEST(DateTimeUnix, ConvertsSecondsAndNanosecondsToFileTime)
{
    struct Case
    {
        int64_t seconds;
        int64_t nanoseconds;
        std::optional<TFileTime> expected;
    };
    const Case cases[] = {
        {0, 0, kUnixEpoch},
        {0, 100, kUnixEpoch + 1},
        {0, 123456700, kUnixEpoch + 1234567},
        {0, 999999900, kUnixEpoch + 9999999},
        {1, 0, kUnixEpoch + kSecond},
        {-1, 0, kUnixEpoch - kSecond},
        {-1, 500000000, kUnixEpoch - kSecond / 2},
        {1276605297, 0, 129210788970000000ull}, // 2010-06-15 12:34:57
        {951782400, 0, 125962560000000000ull},  // 2000-02-29
        {-11644473600, 0, 0},                   // 1601-01-01, the first file time
        {-11644473601, 0, std::nullopt},        // one second before 1601
        {910670515199, 0, kYear30828 - kSecond},
        {910670515200, 0, std::nullopt}, // 30828-01-01: past what the calendar decodes
        {std::numeric_limits<int64_t>::min(), 0, std::nullopt},
        {std::numeric_limits<int64_t>::max(), 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.seconds << " s " << c.nanoseconds << " ns");
        EXPECT_EQ(FileTimeFromUnixTime(c.seconds, c.nanoseconds), c.expected);
    }
}

TEST(DateTimeCalendar, DecodesFileTimesIntoTheProlepticGregorianCalendar)
{
    struct Case
    {
        TFileTime time;
        TSystemTime expected;
    };
    const Case cases[] = {
        {0, {1601, 1, 1, 0, 0, 0, 0}},
        {9999, {1601, 1, 1, 0, 0, 0, 0}}, // 0.9999 ms is still millisecond 0
        {10000, {1601, 1, 1, 0, 0, 0, 1}},
        {314496000000000ull, {1601, 12, 31, 0, 0, 0, 0}},
        {997056000000000ull, {1604, 2, 29, 0, 0, 0, 0}},
        {31292352000000000ull, {1700, 3, 1, 0, 0, 0, 0}}, // 1700 has no 29 February
        {31292352000000000ull - 1, {1700, 2, 28, 23, 59, 59, 999}},
        {94405824000000000ull, {1900, 3, 1, 0, 0, 0, 0}},
        {kUnixEpoch, {1970, 1, 1, 0, 0, 0, 0}},
        {125962560000000000ull, {2000, 2, 29, 0, 0, 0, 0}}, // 2000 has one
        {125962560000000000ull + 86399 * kSecond, {2000, 2, 29, 23, 59, 59, 0}},
        {129210788970000000ull + 1234567, {2010, 6, 15, 12, 34, 57, 123}},
        {157520160000000000ull, {2100, 3, 1, 0, 0, 0, 0}},
        {159992927990000000ull + 9990000, {2107, 12, 31, 23, 59, 59, 999}},
        {kYear30828 - 1, {30827, 12, 31, 23, 59, 59, 999}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "file time " << c.time);
        EXPECT_EQ(FileTimeToSystemTime(c.time), c.expected);
    }
}

TEST(DateTimeCalendar, RefusesTimesPastYear30827)
{
    for (TFileTime time : {kYear30828, kYear30828 + kSecond, TFileTime{1} << 63,
                           std::numeric_limits<TFileTime>::max()}) {
        SCOPED_TRACE(testing::Message() << "file time " << time);
        EXPECT_EQ(FileTimeToSystemTime(time), std::nullopt);
    }
}

TEST(DateTimeEncode, CountsDaysFrom30December1899)
{
    struct Case
    {
        TSystemTime time;
        TDateTime expected;
    };
    const Case cases[] = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0},
        {{1899, 12, 30, 6, 0, 0, 0}, 0.25},
        {{1899, 12, 31, 0, 0, 0, 0}, 1},
        {{1900, 1, 1, 0, 0, 0, 0}, 2},
        {{1900, 3, 1, 0, 0, 0, 0}, 61}, // 1900 is no leap year
        {{2000, 1, 1, 12, 0, 0, 0}, 36526.5},
        {{2000, 2, 29, 0, 0, 0, 0}, 36585},
        {{2010, 6, 15, 12, 34, 56, 0}, 40344 + 45296.0 / 86400},
        {{2001, 2, 3, 4, 5, 6, 789}, 36925 + 14706.789 / 86400},
        {{9999, 12, 31, 23, 59, 59, 999}, 2958465 + 86399.999 / 86400},
        // Before the zero day the fraction still counts forward from midnight.
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
        {{1899, 12, 29, 18, 0, 0, 0}, -1.75},
        {{1800, 1, 1, 12, 0, 0, 0}, -36522.5},
        {{1, 1, 1, 0, 0, 0, 0}, -693593},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.time));
        const std::optional<TDateTime> value = TryEncodeDateTime(c.time);
        ASSERT_TRUE(value.has_value());
        EXPECT_NEAR(*value, c.expected, 1e-9);
    }
}

TEST(DateTimeEncode, RefusesFieldsOutOfRange)
{
    const TSystemTime invalid[] = {
        {0, 1, 1, 0, 0, 0, 0},     {10000, 1, 1, 0, 0, 0, 0},   {-1, 1, 1, 0, 0, 0, 0},
        {2001, 0, 1, 0, 0, 0, 0},  {2001, 13, 1, 0, 0, 0, 0},   {2001, 1, 0, 0, 0, 0, 0},
        {2001, 1, 32, 0, 0, 0, 0}, {2001, 2, 29, 0, 0, 0, 0},   {2001, 2, 30, 0, 0, 0, 0},
        {1900, 2, 29, 0, 0, 0, 0}, {2100, 2, 29, 0, 0, 0, 0},   {2001, 4, 31, 0, 0, 0, 0},
        {2001, 1, 1, 24, 0, 0, 0}, {2001, 1, 1, -1, 0, 0, 0},   {2001, 1, 1, 0, 60, 0, 0},
        {2001, 1, 1, 0, 0, 60, 0}, {2001, 1, 1, 0, 0, 0, 1000}, {2001, 1, 1, 0, 0, 0, -1},
    };
    for (const TSystemTime& time : invalid) {
        SCOPED_TRACE(testing::PrintToString(time));
        EXPECT_EQ(TryEncodeDateTime(time), std::nullopt);
    }
}

TEST(DateTimeLocal, ZoneDatabaseIsInstalled)
{
    // The named-zone cases below need it; without it they would measure UTC.
    EXPECT_TRUE(FileExists("/usr/share/zoneinfo/Asia/Tokyo"));
    EXPECT_TRUE(FileExists("/usr/share/zoneinfo/Europe/Berlin"));
}

TEST(DateTimeLocal, ShiftsByTheOffsetInEffectAtThatInstant)
{
    constexpr TFileTime summer2020 = 132380784000000000ull; // 2020-07-01 12:00 UTC
    constexpr TFileTime winter2020 = 132235632000000000ull; // 2020-01-15 12:00 UTC
    // Berlin moved to summer time at 2020-03-29 01:00 UTC.
    constexpr TFileTime berlinSpring = kUnixEpoch + 1585443600ull * kSecond;
    constexpr int64_t halfHour = static_cast<int64_t>(kHour / 2);
    struct Case
    {
        const char* zone;
        TFileTime utc;
        int64_t offset;
    };
    const Case cases[] = {
        {"UTC0", summer2020, 0},
        {"Asia/Tokyo", summer2020, 9 * kHour},
        {"Asia/Tokyo", winter2020 + 1234567, 9 * kHour},
        {"JST-9", winter2020, 9 * kHour},
        {"Asia/Kolkata", summer2020, 11 * halfHour},
        {"Europe/Berlin", summer2020, 2 * kHour},
        {"Europe/Berlin", winter2020, 1 * kHour},
        {"Europe/Berlin", berlinSpring - 1, 1 * kHour},
        {"Europe/Berlin", berlinSpring, 2 * kHour},
        {"CET-1CEST,M3.5.0,M10.5.0/3", summer2020 + 7, 2 * kHour},
        {"CET-1CEST,M3.5.0,M10.5.0/3", winter2020, 1 * kHour},
        {"America/New_York", summer2020, -4 * static_cast<int64_t>(kHour)},
        {"America/New_York", winter2020, -5 * static_cast<int64_t>(kHour)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.zone << " at " << c.utc);
        TLocalZone zone(c.zone);
        EXPECT_EQ(FileTimeToLocalFileTime(c.utc), TFileTime(c.utc + c.offset));
    }
}

TEST(DateTimeLocal, ConverterAgreesWithTheZoneAcrossOffsetChanges)
{
    // Every 7 minutes and 13 seconds through 2020, and each half second
    // around the changes: on the hour in Berlin, at half past in the made-up
    // zone, so that a change falls inside an hour the converter remembers.
    constexpr TFileTime start2020 = 132223104000000000ull;             // 2020-01-01 00:00 UTC
    constexpr TFileTime spring = kUnixEpoch + 1585443600ull * kSecond; // 2020-03-29 01:00 UTC
    constexpr TFileTime autumn = kUnixEpoch + 1603587600ull * kSecond; // 2020-10-25 01:00 UTC
    struct Case
    {
        const char* zone;
        std::vector<TFileTime> changes;
    };
    const Case cases[] = {
        {"Europe/Berlin", {spring, autumn}},
        {"XST-1XDT,M3.5.0/2:30,M10.5.0/3:30", {spring + kHour / 2, autumn + kHour / 2}},
        {"Asia/Tokyo", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        TLocalZone zone(c.zone);
        TLocalFileTimeConverter converter;
        std::vector<TFileTime> instants;
        for (TFileTime t = start2020; t < start2020 + 366 * 24 * kHour; t += 433 * kSecond)
            instants.push_back(t);
        for (TFileTime change : c.changes)
            for (TFileTime t = change - 3 * kSecond; t <= change + 3 * kSecond; t += kSecond / 2)
                instants.push_back(t);
        size_t wrong = 0;
        for (TFileTime t : instants)
            wrong += converter.ToLocal(t) != FileTimeToLocalFileTime(t);
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(DateTimeLocal, RefusesResultsOutsideTheFileTimeRange)
{
    {
        TLocalZone zone("EST5");
        EXPECT_EQ(FileTimeToLocalFileTime(0), std::nullopt);
        EXPECT_EQ(FileTimeToLocalFileTime(kHour), std::nullopt);
    }
    TLocalZone zone("JST-9");
    EXPECT_EQ(FileTimeToLocalFileTime(std::numeric_limits<TFileTime>::max()), std::nullopt);
}

// A directory of every kind of entry the attribute word tells apart.
class FileFacts : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string content = "12345";
        for (const char* name : {"file", "readonly", "ownerreadonly", "writeonly", ".hidden"})
            Check(WriteFileBytes(dir.File(name), content), name);
        Check(chmod(dir.File("readonly").c_str(), 0444) == 0, "chmod");
        Check(chmod(dir.File("ownerreadonly").c_str(), 0466) == 0, "chmod");
        Check(chmod(dir.File("writeonly").c_str(), 0200) == 0, "chmod");
        Check(mkdir(dir.File("dir").c_str(), 0755) == 0, "mkdir");
        Check(mkdir(dir.File(".hiddendir").c_str(), 0755) == 0, "mkdir");
        Check(mkdir(dir.File("readonlydir").c_str(), 0555) == 0, "mkdir");
        Check(mkfifo(dir.File("fifo").c_str(), 0644) == 0, "mkfifo");
        MakeSocket(dir.File("socket"));
        Link("dir", "linkdir");
        Link("file", "linkfile");
        Link("readonly", "linkreadonly");
        Link("fifo", "linkfifo");
        Link("missing", "dangling");
        Link("missing", ".hiddendangling");
        Link("loop2", "loop1");
        Link("loop1", "loop2");

        const timespec times[2] = {{981173106, 0}, {1276605297, 123456789}};
        Check(utimensat(AT_FDCWD, dir.File("file").c_str(), times, 0) == 0, "utimensat");

        directoryFd = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        Check(directoryFd >= 0, "open");
    }
    void TearDown() override
    {
        if (directoryFd >= 0)
            close(directoryFd);
    }
    void Link(const std::string& target, const std::string& name)
    {
        Check(symlink(target.c_str(), dir.File(name).c_str()) == 0, "symlink " + name);
    }

    TTestDir dir;
    int directoryFd = -1;
};

TEST_F(FileFacts, AttributesSizeAndIdentityOfEachKindOfEntry)
{
    constexpr uint32_t ro = FILE_ATTRIBUTE_READONLY, hidden = FILE_ATTRIBUTE_HIDDEN,
                       sys = FILE_ATTRIBUTE_SYSTEM, directory = FILE_ATTRIBUTE_DIRECTORY;
    struct Case
    {
        const char* name;
        uint32_t attributes;
        int64_t size;
        bool followed; // identity is the target's, not the link's
    };
    const Case cases[] = {
        {"file", 0, 5, true},
        {"readonly", ro, 5, true},
        {"ownerreadonly", ro, 5, true}, // only the owner's write bit counts
        {"writeonly", 0, 5, true},
        {".hidden", hidden, 5, true},
        {"dir", directory, 0, true},
        {".hiddendir", directory | hidden, 0, true},
        {"readonlydir", directory | ro, 0, true},
        {"linkdir", directory, 0, true},
        {"linkfile", 0, 5, true},
        {"linkreadonly", ro, 5, true},
        {"fifo", sys, 0, true},
        {"linkfifo", sys, 0, true},
        {"socket", sys, 0, true},
        {"dangling", sys, 0, false},
        {".hiddendangling", sys | hidden, 0, false},
        {"loop1", sys, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<TFileFacts> facts = ReadFileFacts(directoryFd, c.name);
        ASSERT_TRUE(facts.has_value());
        EXPECT_EQ(facts->Attributes, c.attributes);
        EXPECT_EQ(facts->IsDirectory(), (c.attributes & directory) != 0);
        EXPECT_EQ(facts->Size, c.size);
        struct stat info;
        const std::string path = dir.File(c.name);
        ASSERT_EQ(c.followed ? stat(path.c_str(), &info) : lstat(path.c_str(), &info), 0);
        EXPECT_EQ(facts->Device, info.st_dev);
        EXPECT_EQ(facts->Inode, info.st_ino);
    }
}

TEST_F(FileFacts, TimesAreTheFileTimesOfTheTargetsTimestamps)
{
    const TFileTime lastWrite = 129210788970000000ull + 1234567; // 2010-06-15 12:34:57.1234567
    const TFileTime lastAccess = 126256467060000000ull;          // 2001-02-03 04:05:06
    for (const char* name : {"file", "linkfile"}) {
        SCOPED_TRACE(name);
        const std::optional<TFileFacts> facts = ReadFileFacts(directoryFd, name);
        ASSERT_TRUE(facts.has_value());
        EXPECT_EQ(facts->LastWriteTime, lastWrite);
        EXPECT_EQ(facts->LastAccessTime, lastAccess);
    }
}

TEST_F(FileFacts, AbsoluteAndRelativeNamesReachTheSameEntry)
{
    const std::optional<TFileFacts> relative = ReadFileFacts(directoryFd, "linkfile");
    const std::optional<TFileFacts> absolute =
        ReadFileFacts(AT_FDCWD, dir.File("linkfile").c_str());
    ASSERT_TRUE(relative.has_value());
    ASSERT_TRUE(absolute.has_value());
    EXPECT_EQ(absolute->Inode, relative->Inode);
    EXPECT_EQ(absolute->LastWriteTime, relative->LastWriteTime);
    EXPECT_EQ(absolute->Size, 5);
}

TEST_F(FileFacts, VanishedEntryHasNoFacts)
{
    EXPECT_EQ(ReadFileFacts(directoryFd, "missing"), std::nullopt);
    EXPECT_EQ(ReadFileFacts(AT_FDCWD, dir.File("missing/file").c_str()), std::nullopt);
    Check(unlink(dir.File("file").c_str()) == 0, "unlink");
    EXPECT_EQ(ReadFileFacts(directoryFd, "file"), std::nullopt);
}

TEST(FileFactsAttributes, WordForModeAndName)
{
    constexpr uint32_t ro = FILE_ATTRIBUTE_READONLY, hidden = FILE_ATTRIBUTE_HIDDEN,
                       sys = FILE_ATTRIBUTE_SYSTEM, directory = FILE_ATTRIBUTE_DIRECTORY;
    struct Case
    {
        mode_t mode;
        const char* name;
        bool danglingLink;
        uint32_t expected;
    };
    const Case cases[] = {
        {S_IFREG | 0644, "a.mp3", false, 0},
        {S_IFREG | 0444, "a", false, ro},
        {S_IFREG | 0466, "a", false, ro},
        {S_IFREG | 0200, "a", false, 0},
        {S_IFREG | 0644, ".a", false, hidden},
        {S_IFREG | 0444, ".a", false, ro | hidden},
        {S_IFDIR | 0755, "d", false, directory},
        {S_IFDIR | 0555, "d", false, directory | ro},
        {S_IFDIR | 0755, ".d", false, directory | hidden},
        {S_IFCHR | 0666, "null", false, sys},
        {S_IFBLK | 0660, "sda", false, sys},
        {S_IFIFO | 0644, "fifo", false, sys},
        {S_IFSOCK | 0755, "socket", false, sys},
        {S_IFLNK | 0777, "link", true, sys},
        {S_IFLNK | 0777, ".link", true, sys | hidden},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " mode " << std::oct << c.mode);
        EXPECT_EQ(FileAttributesOf(c.mode, c.name, c.danglingLink), c.expected);
    }
}

} // namespace
