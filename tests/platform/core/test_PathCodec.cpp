#include "platform/core/PathCodec.h"

#include <gtest/gtest.h>

namespace {

TEST(PathCodec, ValidUtf8DecodesAsText)
{
    const std::string path = "/音楽/曲 01.mp3";
    EXPECT_EQ(PathToQString(path), QStringLiteral("/音楽/曲 01.mp3"));
    EXPECT_EQ(QStringToPath(QStringLiteral("/音楽/曲 01.mp3")), path);
}

TEST(PathCodec, EveryInvalidByteSurvivesTheRoundTrip)
{
    // Shift-JIS, Latin-1, a truncated sequence, an overlong slash, an encoded
    // surrogate and a code point past U+10FFFF: none is valid UTF-8.
    const std::vector<std::string> names = {"/music/\x89\xb9\x8a\x79.mp3",
                                            "/music/caf\xe9.wav",
                                            "/x/\xe3\x81",
                                            "/x/\xc0\xaf",
                                            "/x/\xed\xa0\x80",
                                            "/x/\xf4\x90\x80\x80",
                                            std::string("/x/\x80\xff", 5)};
    for (const std::string& name : names) {
        const QString text = PathToQString(name);
        EXPECT_EQ(QStringToPath(text), name);
        EXPECT_FALSE(text.contains(QChar::ReplacementCharacter));
    }
}

TEST(PathCodec, InvalidBytesBecomeLoneSurrogates)
{
    const QString text = PathToQString("a\xe9"
                                       "b");
    ASSERT_EQ(text.size(), 3);
    EXPECT_EQ(text.at(1).unicode(), 0xDCE9);
}

TEST(PathCodec, AllByteValuesRoundTrip)
{
    std::string bytes;
    for (int value = 1; value < 256; ++value)
        bytes += static_cast<char>(value);
    EXPECT_EQ(QStringToPath(PathToQString(bytes)), bytes);
}

TEST(PathCodec, CharactersOutsideTheBasicPlaneRoundTrip)
{
    const std::string path = "/music/\xf0\x9f\x8e\xb5.mp3"; // U+1F3B5
    const QString text = PathToQString(path);
    EXPECT_EQ(text.size(), 7 + 2 + 4);
    EXPECT_EQ(QStringToPath(text), path);
}

} // namespace
