#include "platform/registry/Registry.h"
#include "tests/support/TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

namespace {

const std::string kOption = "\\SOFTWARE\\LumeskSoft\\Tunemill\\Option";
const std::string kWindow = "\\SOFTWARE\\LumeskSoft\\Tunemill\\Window";
const std::string kHeader = "TUNEMILL-SETTINGS 1\n";
constexpr int kChildSkipped = 77;

std::string ThrownMessage(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ERegistryError& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

std::vector<std::string> DirectoryEntries(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* directory = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(directory)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(directory);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class TEnvironmentVariable
{
public:
    explicit TEnvironmentVariable(const char* name) : name_(name)
    {
        if (const char* value = std::getenv(name))
            saved_ = value;
    }
    ~TEnvironmentVariable()
    {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    void Set(const char* value)
    {
        if (value)
            ::setenv(name_, value, 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

class Registry : public ::testing::Test
{
protected:
    TTestDir dir;
    const std::string file = dir.File("Tunemill.reg");
};

TEST_F(Registry, IntegersAndStringsRoundTripAcrossStores)
{
    const std::vector<int32_t> integers = {0, 1, -1, 42, 0x7fffffff, INT32_MIN};
    const std::vector<std::string> strings = {
        "",
        "/home/user/音楽/曲 01.mp3",
        "/music/\x89\xb9\x8a\x79.mp3", // Shift-JIS bytes
        std::string("\x80\xff\xc0\xaf\xed\xa0\x80", 7),
        "say \"hi\" C:\\dir\\",
        "line\nnext\r\n\ttab\x01\x7f",
        std::string("nul\0inside", 10),
        "\\x41 \\n literal",
    };
    {
        TRegistry writer(file);
        ASSERT_TRUE(writer.OpenKey(kOption, true));
        for (size_t i = 0; i < integers.size(); ++i)
            writer.WriteInteger("int" + std::to_string(i), integers[i]);
        for (size_t i = 0; i < strings.size(); ++i)
            writer.WriteString("str" + std::to_string(i), strings[i]);
    }
    TRegistry reader(file);
    ASSERT_TRUE(reader.OpenKey(kOption, false));
    for (size_t i = 0; i < integers.size(); ++i) {
        EXPECT_EQ(reader.GetDataType("int" + std::to_string(i)), TRegDataType::rdInteger);
        EXPECT_EQ(reader.ReadInteger("int" + std::to_string(i)), integers[i]) << i;
    }
    for (size_t i = 0; i < strings.size(); ++i) {
        EXPECT_EQ(reader.GetDataType("str" + std::to_string(i)), TRegDataType::rdString);
        EXPECT_EQ(reader.ReadString("str" + std::to_string(i)), strings[i]) << i;
    }
}

TEST_F(Registry, EveryByteValueRoundTrips)
{
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes += static_cast<char>(value);
    TRegistry(file).OpenKey(kOption, true);
    {
        TRegistry writer(file);
        ASSERT_TRUE(writer.OpenKey(kOption, false));
        writer.WriteString("all", bytes);
    }
    TRegistry reader(file);
    ASSERT_TRUE(reader.OpenKey(kOption, false));
    EXPECT_EQ(reader.ReadString("all"), bytes);
}

TEST_F(Registry, FileIsReadableTextWithTypesKeptApart)
{
    TRegistry store(file);
    ASSERT_TRUE(store.OpenKey(kOption, true));
    store.WriteInteger("playMP3", 1);
    store.WriteString("asText", "1");
    store.WriteInteger("minus", -2);
    store.WriteString("STV_LastDir", "/home/user/Music/\"quoted\"\\x\n\xe9");
    EXPECT_EQ(ReadFileBytes(file), kHeader + "\n[\\SOFTWARE\\LumeskSoft\\Tunemill\\Option]\n"
                                             "\"playMP3\"=dword:00000001\n"
                                             "\"asText\"=\"1\"\n"
                                             "\"minus\"=dword:fffffffe\n"
                                             "\"STV_LastDir\"=\"/home/user/Music/"
                                             "\\\"quoted\\\"\\\\x\\n\\xe9\"\n");
}

TEST_F(Registry, AValueTakesTheTypeOfItsLastWrite)
{
    TRegistry store(file);
    ASSERT_TRUE(store.OpenKey(kOption, true));
    store.WriteInteger("v", 5);
    store.WriteString("v", "five");
    TRegistry reader(file);
    ASSERT_TRUE(reader.OpenKey(kOption, false));
    EXPECT_EQ(reader.GetDataType("v"), TRegDataType::rdString);
    EXPECT_EQ(reader.ReadString("v"), "five");
    EXPECT_EQ(reader.GetDataType("absent"), TRegDataType::rdUnknown);
}

TEST_F(Registry, FailuresCarryTheExactMessages)
{
    TRegistry store(file);
    ASSERT_TRUE(store.OpenKey(kOption, true));
    store.WriteString("three", "abc");
    store.WriteString("four", "abcd");
    store.WriteString("empty", "");
    store.WriteString("jp3", "\xe6\x9b\xb2"); // one character, three bytes
    store.WriteInteger("number", 7);
    struct TCase
    {
        std::function<void()> Action;
        std::string Expected;
    };
    const std::vector<TCase> cases = {
        {[&] { store.ReadInteger("three"); }, "'three' のデータ型が不正です"},
        {[&] { store.ReadInteger("empty"); }, "'empty' のデータ型が不正です"},
        {[&] { store.ReadInteger("jp3"); }, "'jp3' のデータ型が不正です"},
        {[&] { store.ReadInteger("four"); }, "'four' の取得に失敗しました"},
        {[&] { store.ReadInteger("missing"); }, "'missing' の取得に失敗しました"},
        {[&] { store.ReadString("missing"); }, "'missing' の取得に失敗しました"},
        {[&] { store.ReadString("number"); }, "'number' のデータ型が不正です"},
    };
    for (const TCase& test : cases)
        EXPECT_EQ(ThrownMessage(test.Action), test.Expected);

    store.CloseKey();
    EXPECT_EQ(ThrownMessage([&] { store.WriteInteger("playMP3", 1); }),
              "'playMP3' の設定に失敗しました");
    EXPECT_EQ(ThrownMessage([&] { store.WriteString("曲", "x"); }), "'曲' の設定に失敗しました");
    EXPECT_EQ(ThrownMessage([&] { store.ReadInteger("number"); }), "'number' の取得に失敗しました");
    TRegistry fresh(file);
    EXPECT_EQ(ThrownMessage([&] { fresh.WriteString("x", "y"); }), "'x' の設定に失敗しました");
}

TEST_F(Registry, KeyPathsAndValueNamesIgnoreAsciiCaseAndKeepTheFirstSpelling)
{
    TRegistry writer(file);
    ASSERT_TRUE(writer.OpenKey("SOFTWARE\\LumeskSoft\\Tunemill\\Option", true));
    EXPECT_EQ(writer.CurrentPath(), kOption);
    writer.WriteInteger("playMP3", 1);
    writer.WriteInteger("PLAYmp3", 2);
    writer.WriteString("曲Ä", "first");
    writer.WriteString("曲ä", "second"); // not ASCII: a different name

    TRegistry reader(file);
    ASSERT_TRUE(reader.OpenKey("\\software\\lumesksoft\\TUNEMILL\\option", false));
    EXPECT_EQ(reader.CurrentPath(), kOption);
    EXPECT_EQ(reader.ReadInteger("playmp3"), 2);
    EXPECT_EQ(reader.ReadString("曲Ä"), "first");
    EXPECT_EQ(reader.ReadString("曲ä"), "second");
    const std::string text = ReadFileBytes(file);
    EXPECT_NE(text.find("\"playMP3\"=dword:00000002"), std::string::npos) << text;
    EXPECT_EQ(text.find("PLAYmp3"), std::string::npos) << text;
    EXPECT_EQ(text.find("software"), std::string::npos) << text;
}

TEST_F(Registry, InvalidKeyPathsAreRefused)
{
    TRegistry store(file);
    for (const std::string path : {"", "\\", "\\A\\\\B", "A\\", "\\\\A", "A\nB", "A\xff"})
        EXPECT_FALSE(store.OpenKey(path, true)) << path;
    EXPECT_FALSE(FileExists(file));
}

TEST_F(Registry, CreatingAKeyWritesTheFileAndOnlyThen)
{
    TRegistry reader(file);
    EXPECT_FALSE(reader.OpenKey(kOption, false));
    EXPECT_TRUE(DirectoryEntries(dir.Path()).empty());

    TRegistry creator(file);
    ASSERT_TRUE(creator.OpenKey(kOption, true));
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(reader.OpenKey(kOption, false));
    EXPECT_FALSE(reader.ValueExists("anything"));
    EXPECT_FALSE(reader.OpenKey(kWindow, false));
    // A key exists when keys below it do, as in the hive.
    EXPECT_TRUE(reader.OpenKey("\\SOFTWARE\\LumeskSoft", false));
    EXPECT_FALSE(reader.OpenKey("\\SOFTWARE\\Lumesk", false));
}

TEST_F(Registry, ReadsSeeTheKeyAsOpenedPlusOwnWrites)
{
    TRegistry first(file);
    TRegistry second(file);
    ASSERT_TRUE(first.OpenKey(kOption, true));
    ASSERT_TRUE(second.OpenKey(kOption, false));
    first.WriteInteger("playWAV", 1);
    second.WriteInteger("playMP3", 0);
    EXPECT_TRUE(first.ValueExists("playWAV"));
    EXPECT_FALSE(first.ValueExists("playMP3"));
    ASSERT_TRUE(first.OpenKey(kOption, false));
    EXPECT_EQ(first.ReadInteger("playMP3"), 0);
    EXPECT_EQ(first.ReadInteger("playWAV"), 1);
}

TEST_F(Registry, TwoStoresOnOneFileKeepEachOthersValues)
{
    TRegistry first(file);
    TRegistry second(file);
    ASSERT_TRUE(first.OpenKey(kOption, true));
    ASSERT_TRUE(second.OpenKey(kWindow, true));
    first.WriteInteger("playMP3", 1);
    second.WriteString("STV_LastDir", "/music");
    first.WriteInteger("playWAV", 0);

    TRegistry reader(file);
    ASSERT_TRUE(reader.OpenKey(kOption, false));
    EXPECT_EQ(reader.ReadInteger("playMP3"), 1);
    EXPECT_EQ(reader.ReadInteger("playWAV"), 0);
    ASSERT_TRUE(reader.OpenKey(kWindow, false));
    EXPECT_EQ(reader.ReadString("STV_LastDir"), "/music");
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int kPerProcess = 50;
    std::vector<pid_t> children;
    for (int process = 0; process < 2; ++process) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int code = 0;
            try {
                TRegistry store(file);
                if (!store.OpenKey(kOption, true))
                    code = 2;
                for (int i = 0; code == 0 && i < kPerProcess; ++i)
                    store.WriteInteger("p" + std::to_string(process) + "_" + std::to_string(i), i);
            } catch (...) {
                code = 3;
            }
            ::_exit(code);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    TRegistry reader(file);
    ASSERT_TRUE(reader.OpenKey(kOption, false));
    int present = 0;
    for (int process = 0; process < 2; ++process)
        for (int i = 0; i < kPerProcess; ++i)
            if (reader.ValueExists("p" + std::to_string(process) + "_" + std::to_string(i)) &&
                reader.ReadInteger("p" + std::to_string(process) + "_" + std::to_string(i)) == i)
                ++present;
    EXPECT_EQ(present, 2 * kPerProcess);
    EXPECT_EQ(reader.TakeMalformedStore(), std::nullopt);
}

TEST_F(Registry, HandEditedFileIsAccepted)
{
    ASSERT_TRUE(WriteFileBytes(file, kHeader + "\n\n[\\SOFTWARE\\LumeskSoft\\Tunemill\\Option]\n"
                                               "\"playMP3\"=dword:0000000A\n"
                                               "\"dir\"=\"\\x41\\x42 \\t\\\"x\\\"\"\n"
                                               "\"\"=\"default\"\n\n"
                                               "[\\Other]\n"));
    TRegistry store(file);
    ASSERT_TRUE(store.OpenKey(kOption, false));
    EXPECT_EQ(store.ReadInteger("playMP3"), 10);
    EXPECT_EQ(store.ReadString("dir"), "AB \t\"x\"");
    EXPECT_EQ(store.ReadString(""), "default");
    EXPECT_TRUE(store.OpenKey("\\Other", false));
    EXPECT_EQ(store.TakeMalformedStore(), std::nullopt);
}

struct TMalformedCase
{
    const char* What;
    std::string Bytes;
    int Line;
};

void PrintTo(const TMalformedCase& test, std::ostream* out)
{
    *out << test.What << " (error on line " << test.Line << ")";
}

class RegistryMalformed : public ::testing::TestWithParam<TMalformedCase>
{
protected:
    TTestDir dir;
    const std::string file = dir.File("Tunemill.reg");
};

const std::string kKeyLine = "[\\A]\n";

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryMalformed,
    ::testing::Values(
        TMalformedCase{"NoHeader", kKeyLine + "\"x\"=dword:00000001\n", 1},
        TMalformedCase{"Empty", "", 1},
        TMalformedCase{"CrLf", "TUNEMILL-SETTINGS 1\r\n" + kKeyLine, 1},
        TMalformedCase{"UnknownLine", kHeader + kKeyLine + "x=1\n", 3},
        TMalformedCase{"ValueOutsideKey", kHeader + "\"x\"=dword:00000001\n" + kKeyLine, 2},
        TMalformedCase{"BadEscape", kHeader + kKeyLine + "\"x\"=\"a\\qb\"\n", 3},
        TMalformedCase{"ShortHexEscape", kHeader + kKeyLine + "\"x\"=\"\\x4\"\n", 3},
        TMalformedCase{"SevenHexDigits", kHeader + kKeyLine + "\"x\"=dword:0000001\n", 3},
        TMalformedCase{"NineHexDigits", kHeader + kKeyLine + "\"x\"=dword:000000001\n", 3},
        TMalformedCase{"NotHex", kHeader + kKeyLine + "\"x\"=dword:0000000g\n", 3},
        TMalformedCase{"DuplicateName", kHeader + kKeyLine + "\"x\"=\"1\"\n\"X\"=\"2\"\n", 4},
        TMalformedCase{"DuplicateKey", kHeader + kKeyLine + "[\\a]\n", 3},
        TMalformedCase{"RawInvalidUtf8", kHeader + kKeyLine + "\"x\"=\"\xe9\"\n", 3},
        TMalformedCase{"RawControl", kHeader + kKeyLine + "\"x\"=\"a\x01\"\n", 3},
        TMalformedCase{"TextAfterString", kHeader + kKeyLine + "\"x\"=\"a\" b\n", 3},
        TMalformedCase{"UnclosedQuote", kHeader + kKeyLine + "\"x\"=\"a\n", 3},
        TMalformedCase{"CutOffLastLine", kHeader + kKeyLine + "\"x\"=dword:00000001", 3},
        TMalformedCase{"EmptyKeyComponent", kHeader + "[\\A\\\\B]\n", 2}),
    [](const auto& info) { return std::string(info.param.What); });

TEST_P(RegistryMalformed, IsMovedAsideIntactAndReportedOnce)
{
    const TMalformedCase& test = GetParam();
    ASSERT_TRUE(WriteFileBytes(file, test.Bytes));
    TRegistry store(file);
    EXPECT_FALSE(store.OpenKey("\\A", false)); // reads behave as an empty store

    const std::optional<TMalformedStore> found = store.TakeMalformedStore();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->FileName, file);
    EXPECT_EQ(found->KeptAs.rfind(file + ".malformed-", 0), 0u) << found->KeptAs;
    EXPECT_EQ(ReadFileBytes(found->KeptAs), test.Bytes);
    EXPECT_EQ(found->Reason.rfind("line " + std::to_string(test.Line) + ":", 0), 0u)
        << found->Reason;
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(store.TakeMalformedStore(), std::nullopt);

    ASSERT_TRUE(store.OpenKey("\\A", true));
    store.WriteInteger("fresh", 7);
    TRegistry reader(file);
    ASSERT_TRUE(reader.OpenKey("\\A", false));
    EXPECT_EQ(reader.ReadInteger("fresh"), 7);
    EXPECT_FALSE(reader.ValueExists("x"));
    EXPECT_EQ(ReadFileBytes(file).rfind(kHeader, 0), 0u);
    EXPECT_EQ(reader.TakeMalformedStore(), std::nullopt);
    EXPECT_EQ(ReadFileBytes(found->KeptAs), test.Bytes);
}

TEST_F(Registry, MalformedFilesNeverReplaceEachOther)
{
    const std::string first = kHeader + "garbage one\n";
    const std::string second = kHeader + "garbage two\n";
    TRegistry store(file);
    ASSERT_TRUE(WriteFileBytes(file, first));
    ASSERT_TRUE(store.OpenKey(kOption, true)); // moves aside, then creates
    const auto firstKept = store.TakeMalformedStore();
    ASSERT_TRUE(WriteFileBytes(file, second));
    ASSERT_TRUE(store.OpenKey(kOption, true));
    const auto secondKept = store.TakeMalformedStore();
    ASSERT_TRUE(firstKept && secondKept);
    EXPECT_NE(firstKept->KeptAs, secondKept->KeptAs);
    EXPECT_EQ(ReadFileBytes(firstKept->KeptAs), first);
    EXPECT_EQ(ReadFileBytes(secondKept->KeptAs), second);
}

TEST_F(Registry, FileSpoiledAfterOpeningIsMovedAsideByTheNextWrite)
{
    TRegistry store(file);
    ASSERT_TRUE(store.OpenKey(kOption, true));
    const std::string spoiled = kHeader + "[\\SOFTWARE\n";
    ASSERT_TRUE(WriteFileBytes(file, spoiled));
    store.WriteInteger("playMP3", 1);
    const auto kept = store.TakeMalformedStore();
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(ReadFileBytes(kept->KeptAs), spoiled);
    TRegistry reader(file);
    ASSERT_TRUE(reader.OpenKey(kOption, false));
    EXPECT_EQ(reader.ReadInteger("playMP3"), 1);
}

TEST_F(Registry, UnreadableStoreIsNeitherReadNorMoved)
{
    // A directory in place of the file cannot be read even by root.
    ASSERT_EQ(::mkdir(file.c_str(), 0700), 0);
    TRegistry store(file);
    EXPECT_FALSE(store.OpenKey(kOption, false));
    EXPECT_FALSE(store.OpenKey(kOption, true));
    EXPECT_EQ(store.TakeMalformedStore(), std::nullopt);
    EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"Tunemill.reg"});
}

TEST_F(Registry, StoreWithoutReadPermissionIsNeitherReadNorMoved)
{
    {
        TRegistry store(file);
        ASSERT_TRUE(store.OpenKey(kOption, true));
        store.WriteInteger("playMP3", 1);
    }
    const std::string before = ReadFileBytes(file);
    // Everything but the store itself is open to the other user, so only the
    // unreadable store stops it from replacing the file.
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod((file + ".lock").c_str(), 0666), 0);
    // Root reads everything, so it tries as another user; anyone else is
    // kept out of their own store by its mode.
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(::chmod(file.c_str(), root ? 0600 : 0), 0);
    const int code = RunInChild([&] {
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return kChildSkipped;
        TRegistry store(file);
        if (store.OpenKey(kOption, false) || store.OpenKey(kOption, true))
            return 2;
        return store.TakeMalformedStore() ? 3 : 0;
    });
    if (code == kChildSkipped)
        GTEST_SKIP() << "cannot switch to an unprivileged user here";
    EXPECT_EQ(code, 0);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    EXPECT_EQ(ReadFileBytes(file), before);
    const std::vector<std::string> expected = {"Tunemill.reg", "Tunemill.reg.lock"};
    EXPECT_EQ(DirectoryEntries(dir.Path()), expected);
}

TEST_F(Registry, FailedSaveOnAFullDiskLeavesTheOldFile)
{
    const std::string disk = dir.File("disk");
    ASSERT_EQ(::mkdir(disk.c_str(), 0700), 0);
    const int code = RunInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tunemill-test", disk.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0)
            return kChildSkipped;
        const std::string store = disk + "/Tunemill.reg";
        TRegistry registry(store);
        if (!registry.OpenKey(kWindow, true))
            return 2;
        registry.WriteString("STV_LastDir", "/music");
        const std::string before = ReadFileBytes(store);
        const std::vector<std::string> entries = DirectoryEntries(disk);
        const std::string expected =
            "'Long' の設定に失敗しました (" + store + ": No space left on device)";

        // Larger than the disk: the first write is cut short, a later one fails.
        if (ThrownMessage([&] { registry.WriteString("Long", std::string(100000, 'x')); }) !=
            expected)
            return 3;
        if (ReadFileBytes(store) != before || DirectoryEntries(disk) != entries)
            return 4;

        // The disk full to the last block: even a small save cannot be written.
        const int filler = ::open((disk + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'f');
        while (::write(filler, block.data(), block.size()) > 0) {
        }
        const bool full = errno == ENOSPC;
        ::close(filler);
        if (!full)
            return 5;
        if (ThrownMessage([&] { registry.WriteString("Long", std::string(5000, 'x')); }) !=
            expected)
            return 6;
        if (ReadFileBytes(store) != before ||
            DirectoryEntries(disk) !=
                std::vector<std::string>{"Tunemill.reg", "Tunemill.reg.lock", "filler"})
            return 7;
        TRegistry reader(store);
        if (!reader.OpenKey(kWindow, false) || reader.ReadString("STV_LastDir") != "/music" ||
            reader.ValueExists("Long"))
            return 8;
        return 0;
    });
    if (code == kChildSkipped)
        GTEST_SKIP() << "unshare or mount is not permitted here";
    EXPECT_EQ(code, 0);
}

TEST_F(Registry, DefaultFileFollowsXdgConfigHome)
{
    TEnvironmentVariable config("XDG_CONFIG_HOME");
    TEnvironmentVariable home("HOME");
    home.Set("/home/someone");
    struct TCase
    {
        const char* Config;
        std::string Expected;
    };
    const std::vector<TCase> cases = {
        {"/xdg/conf", "/xdg/conf/LumeskSoft/Tunemill.reg"},
        {nullptr, "/home/someone/.config/LumeskSoft/Tunemill.reg"},
        {"", "/home/someone/.config/LumeskSoft/Tunemill.reg"},
        {"relative/conf", "/home/someone/.config/LumeskSoft/Tunemill.reg"},
    };
    for (const TCase& test : cases) {
        config.Set(test.Config);
        EXPECT_EQ(TRegistry::DefaultStoreFile(), test.Expected);
        EXPECT_EQ(TRegistry().StoreFile(), test.Expected);
    }
}

TEST_F(Registry, FirstWriteCreatesPrivateDirectoriesAndLeavesNoTemporaryFile)
{
    TEnvironmentVariable config("XDG_CONFIG_HOME");
    const std::string configHome = dir.File("config");
    config.Set(configHome.c_str());
    TRegistry store;
    ASSERT_TRUE(store.OpenKey(kOption, true));
    store.WriteInteger("playMP3", 1);
    store.WriteString("STV_LastDir", "/music");

    for (const std::string& directory : {configHome, configHome + "/LumeskSoft"}) {
        struct stat info;
        ASSERT_EQ(::stat(directory.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << directory;
    }
    const std::vector<std::string> expected = {"Tunemill.reg", "Tunemill.reg.lock"};
    EXPECT_EQ(DirectoryEntries(configHome + "/LumeskSoft"), expected);
}

TEST_F(Registry, SpecialFileAtTheStorePathIsRefusedWithoutBlocking)
{
    const std::vector<std::pair<mode_t, std::string>> cases = {{S_IFIFO, "not a regular file"},
                                                               {S_IFDIR, "Is a directory"}};
    for (const auto& [type, reason] : cases) {
        ::unlink(file.c_str()); // the FIFO comes first
        ASSERT_EQ(type == S_IFIFO ? ::mkfifo(file.c_str(), 0600) : ::mkdir(file.c_str(), 0700), 0);
        const std::string expected =
            "'playMP3' の設定に失敗しました (" + file + ": " + reason + ")";
        // In a child, so that an open() stuck on the FIFO ends with the alarm.
        const int code = RunInChild([&] {
            ::alarm(5);
            TRegistry store(file);
            if (store.OpenKey(kOption, false) || store.OpenKey(kOption, true))
                return 2;
            return ThrownMessage([&] { store.WriteInteger("playMP3", 1); }) == expected ? 0 : 3;
        });
        EXPECT_EQ(code, 0) << reason;
        struct stat facts;
        ASSERT_EQ(::lstat(file.c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mode & S_IFMT, type);
    }
}

TEST_F(Registry, LinkedStoreIsWrittenThroughToItsTargetWithItsMode)
{
    const std::string target = dir.File("dotfiles/Tunemill.reg");
    ASSERT_EQ(::mkdir(dir.File("dotfiles").c_str(), 0700), 0);
    ASSERT_TRUE(WriteFileBytes(target, kHeader));
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("dotfiles/Tunemill.reg", file.c_str()), 0);
    TRegistry store(file);
    ASSERT_TRUE(store.OpenKey(kOption, true));
    store.WriteInteger("playMP3", 1);

    struct stat facts;
    ASSERT_EQ(::lstat(file.c_str(), &facts), 0);
    EXPECT_TRUE(S_ISLNK(facts.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 07777, 0640u);
    EXPECT_NE(ReadFileBytes(target).find("\"playMP3\"=dword:00000001\n"), std::string::npos);
    EXPECT_EQ(DirectoryEntries(dir.File("dotfiles")), std::vector<std::string>{"Tunemill.reg"});
}

TEST_F(Registry, PerUserFolderThatOthersOwnOrMayWriteIsRefused)
{
    TEnvironmentVariable configVariable("XDG_CONFIG_HOME");
    const std::string config = dir.File("config");
    const std::string folder = config + "/LumeskSoft";
    configVariable.Set(config.c_str());
    ASSERT_EQ(::mkdir(config.c_str(), 0700), 0);
    struct TCase
    {
        const char* What;
        bool Link;
        mode_t Mode; // of the folder, or for a link of the folder holding it
        uid_t Owner;
        gid_t Group;
        bool Accepted;
    };
    const uid_t user = ::geteuid();
    const gid_t own = ::getegid(); // the test users' groups hold them alone
    const std::vector<TCase> cases = {
        {"writable by a group of others", false, 0770, user, 65534, false},
        {"writable by the user's own group", false, 0770, user, own, true},
        {"another user's", false, 0700, 65534, 65534, false},
        {"another user's link in a shared folder", true, 01777, 65534, 65534, false},
        {"the user's own link", true, 0700, user, own, true},
    };
    for (const TCase& test : cases) {
        struct stat facts;
        if (::lstat(folder.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode)) {
            for (const char* name : {"/Tunemill.reg", "/Tunemill.reg.lock"})
                ::unlink((folder + name).c_str());
        }
        ::rmdir(folder.c_str());
        ::unlink(folder.c_str());
        ASSERT_EQ(test.Link ? ::symlink(dir.Path().c_str(), folder.c_str())
                            : ::mkdir(folder.c_str(), 0700),
                  0);
        ASSERT_EQ(::chmod(test.Link ? config.c_str() : folder.c_str(), test.Mode), 0);
        if (::lchown(folder.c_str(), test.Owner, test.Group) != 0)
            continue; // only root may give it away
        TRegistry store;
        EXPECT_EQ(store.OpenKey(kOption, true), test.Accepted) << test.What;
        EXPECT_EQ(FileExists(folder + "/Tunemill.reg"), test.Accepted) << test.What;
    }
}

TEST_F(Registry, SaveRemovesItsOwnTemporaryFilesOlderThanAMinute)
{
    const std::vector<std::string> left = {".Tunemill.reg.tmp-AbC123", ".Tunemill.reg.tmp-XyZ789",
                                           ".Other.reg.tmp-AbC123"};
    const utimbuf twoMinutesAgo{std::time(nullptr) - 120, std::time(nullptr) - 120};
    for (const std::string& name : left) {
        ASSERT_TRUE(WriteFileBytes(dir.File(name), "left by a killed save"));
        ASSERT_TRUE(name == left[1] || ::utime(dir.File(name).c_str(), &twoMinutesAgo) == 0);
    }
    TRegistry store(file);
    ASSERT_TRUE(store.OpenKey(kOption, true));
    const std::vector<std::string> kept = {left[2], left[1], "Tunemill.reg", "Tunemill.reg.lock"};
    EXPECT_EQ(DirectoryEntries(dir.Path()), kept);
}

} // namespace
