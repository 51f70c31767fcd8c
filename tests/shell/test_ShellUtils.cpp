#include "shell/ShellIDFunc.h"
#include "shell/ShellUtils.h"

#include "platform/mounts/Mounts.h"
#include "platform/shellns/ShellNs.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(ShellUtils, IncludeBackslashAddsOneSeparator)
{
    const struct
    {
        const char* path;
        const char* expected;
    } cases[] = {
        {"", "/"},
        {"/", "/"},
        {"/home/u", "/home/u/"},
        {"/home/u/", "/home/u/"},
        {"/音楽", "/音楽/"},
        {"/\x81\x5c", "/\x81\x5c/"}, // a byte pair that once hid a separator
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShIncludeBackslash(c.path), c.expected) << c.path;
}

TEST(ShellUtils, FileTimeToDateTimeIsLocalAndZeroForAnEmptyHalf)
{
    TLocalZone zone("JST-9");
    // 2020-01-15 03:00:00 UTC is 12:00 in Tokyo: 43845.5 days after 1899-12-30.
    constexpr TFileTime kJanuary15 = 132235632000000000ull - 9ull * 3600 * 10'000'000;
    EXPECT_DOUBLE_EQ(ShFileTimeToDateTime(kJanuary15), 43845.5);
    EXPECT_EQ(ShFileTimeToDateTime(0), 0);
    EXPECT_EQ(ShFileTimeToDateTime(0x0000000100000000ull), 0); // low half 0
    EXPECT_EQ(ShFileTimeToDateTime(0x00000000FFFFFFFFull), 0); // high half 0
}

TEST(ShellUtils, VolumeLabelIsLowerCasedWithACapitalFirstLetter)
{
    TTestDir dir;
    for (const char* directory : {"dev", "by-label", "block"})
        Check(mkdir(dir.File(directory).c_str(), 0755) == 0, directory);
    const struct
    {
        const char* device;
        const char* link;
        const char* mountPoint;
        const char* expected;
    } cases[] = {
        {"sda1", "MUSIC", "/media/music", "Music"},
        {"sda2", "\\xc3\\x84PFEL", "/media/apfel", "äpfel"},
        {"sda3", "2024\\x20BACKUP", "/media/backup", "2024 backup"},
        {"sda4", "bad\\xff", "/media/bad", "Bad\xff"},
        {"sda5", nullptr, "/media/nolabel", ""},
    };
    std::string table = "1 0 0:1 / / rw - ext4 /dev/root rw\n";
    for (const auto& c : cases) {
        Check(WriteFileBytes(dir.File(std::string("dev/") + c.device), ""), c.device);
        if (c.link != nullptr)
            Check(symlink((std::string("../dev/") + c.device).c_str(),
                          dir.File(std::string("by-label/") + c.link).c_str()) == 0,
                  c.link);
        table += std::string("2 1 0:2 / ") + c.mountPoint + " rw - ext4 " + dir.File("dev/") +
                 c.device + " rw\n";
    }
    Check(WriteFileBytes(dir.File("mountinfo"), table), "mountinfo");
    const TMountSources previous = MountSources();
    SetMountSources({dir.File("mountinfo"), dir.File("by-label"), dir.File("block")});
    SetShellNamespace(nullptr); // a namespace reads the sources in force when it is made
    for (const auto& c : cases) {
        EXPECT_EQ(ShVolumeLabel(c.mountPoint), c.expected) << c.mountPoint;
        EXPECT_EQ(ShVolumeLabel(std::string(c.mountPoint) + "/"), c.expected) << c.mountPoint;
    }
    EXPECT_EQ(ShVolumeLabel("/media"), ""); // nothing mounted there
    SetMountSources(previous);
    SetShellNamespace(nullptr);
}

TEST(ShellUtils, KeyStateBecomesTheShiftSet)
{
    const struct
    {
        uint32_t keyState;
        TShiftState expected;
    } cases[] = {
        {0, 0},
        {MK_SHIFT, ssShift},
        {MK_CONTROL, ssCtrl},
        {MK_ALT, ssAlt},
        {MK_LBUTTON | MK_CONTROL, ssLeft | ssCtrl},
        {MK_RBUTTON | MK_SHIFT | MK_ALT, ssRight | ssShift | ssAlt},
        {MK_MBUTTON, ssMiddle},
        {0x40, 0}, // not a key the set holds
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShKeyStateToShift(c.keyState), c.expected) << c.keyState;
}

TEST(ShellUtils, SpecialFoldersSkipTheValuesWithoutAMember)
{
    int previous = -1;
    for (int i = 0; i < kShSpecialFolderCount; ++i) {
        const int csidl = ShSpecialFolderCsidl(static_cast<TShSpecialFolder>(i));
        EXPECT_GT(csidl, previous) << i;
        for (int missing : {12, 13, 14, 15, 28})
            EXPECT_NE(csidl, missing) << i;
        previous = csidl;
    }
    EXPECT_EQ(ShSpecialFolderCsidl(sfDrives), 17);
    EXPECT_EQ(ShSpecialFolderCsidl(sfBitBucket), 10);
    EXPECT_EQ(ShItemAttributeMask(iaGhosted), ShItemAttributeMask(iaHidden));
    EXPECT_EQ(ShItemAttributeMask(iaHasSubFolder), ShItemAttributeMask(iaContentsMask));
}

} // namespace
