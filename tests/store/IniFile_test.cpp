#include "store/IniFile.h"

#include <gtest/gtest.h>

#include "store/TextCodec.h"

namespace vantrel {
namespace {

TEST(IniFileTest, ValueRules) {
    const IniFile ini(
        u"top=before any section\n[ Sect ]\nplain = a = b \n\tquoted=\"x y\"\nsingle=' z '\n"
        u"lone=\"\nmixed=\"a'\nempty=\nnot a key line\nPlain=second\n[sect]\nplain=other section\n");
    EXPECT_EQ(ini.value(u"sect", u"PLAIN"), u"a = b");
    EXPECT_EQ(ini.value(u"SECT", u"quoted"), u"x y");
    EXPECT_EQ(ini.value(u"sect", u"single"), u" z ");
    EXPECT_EQ(ini.value(u"sect", u"lone"), u"\"");
    EXPECT_EQ(ini.value(u"sect", u"mixed"), u"\"a'");
    EXPECT_EQ(ini.value(u"sect", u"empty"), u"");
    EXPECT_EQ(ini.value(u"sect", u"missing"), std::nullopt);
    EXPECT_EQ(ini.value(u"nosuch", u"plain"), std::nullopt);
    EXPECT_EQ(ini.value(u"", u"top"), std::nullopt) << "lines before the first section are in none";
    EXPECT_EQ(ini.sectionNames(), (std::vector<std::u16string>{u"Sect"}));
}

TEST(IniFileTest, LongValuesAreCutWithoutSplittingACharacter) {
    const std::u16string globes = [] {
        std::u16string text;
        for (int i = 0; i < 1100; ++i) text += u"\U0001F310";
        return text;
    }();
    const IniFile ini(u"[s]\nodd=" + globes + u"\neven=x" + globes + u"\n");
    EXPECT_EQ(ini.value(u"s", u"odd"), globes.substr(0, 2046));
    EXPECT_EQ(ini.value(u"s", u"even"), std::u16string(u"x").append(globes, 0, 2046));
}

TEST(IniFileTest, IntegerKeysTakeTheZeroXRuleOnlyPastTwoCharacters) {
    const IniFile ini(u"[s]\nhex=0x1F\nshort=0x\nneg=-0x10\ndollar=$FFFFFFFF\nbig=2147483648\nsp=1 \n");
    EXPECT_EQ(ini.integer(u"s", u"hex", 5), 31);
    EXPECT_EQ(ini.integer(u"s", u"short", 5), 5);
    EXPECT_EQ(ini.integer(u"s", u"neg", 5), -16);
    EXPECT_EQ(ini.integer(u"s", u"dollar", 5), -1);
    EXPECT_EQ(ini.integer(u"s", u"big", 5), 5);
    EXPECT_EQ(ini.integer(u"s", u"sp", 5), 1) << "blanks around a value are not part of it";
    EXPECT_EQ(ini.integer(u"s", u"absent", 5), 5);
}

TEST(IniFileTest, SetReplacesInPlaceAppendsAfterLastKeyAndAddsSections) {
    IniFile ini(u"; c\n[a]\nk=1\nK=dup\n; note\n\n[b]\n; only a comment\n");
    ini.set(u"A", u"k", u"2");
    ini.set(u"a", u"new", u"3");
    ini.set(u"b", u"x", u"4");
    ini.set(u"c", u"y", u"");
    // A line set twice, and values read back between the changes.
    EXPECT_EQ(ini.value(u"a", u"NEW"), u"3");
    ini.set(u"a", u"new", u"5");
    EXPECT_EQ(ini.value(u"a", u"new"), u"5");
    EXPECT_EQ(ini.value(u"a", u"K"), u"2");
    EXPECT_EQ(ini.serialize(),
              u"; c\r\n[a]\r\nk=2\r\nK=dup\r\nnew=5\r\n; note\r\n\r\n[b]\r\nx=4\r\n; only a "
              u"comment\r\n[c]\r\ny=\r\n");
}

TEST(IniFileTest, WriterQuotesWhatReadingWouldAlter) {
    for (const std::u16string value :
         {u"plain", u"", u"\"q\"", u"'q'", u" lead", u"trail\t", u"\"", u"'a\""}) {
        IniFile ini;
        ini.set(u"s", u"k", value);
        EXPECT_EQ(IniFile(ini.serialize()).value(u"s", u"k"), value);
    }
    EXPECT_EQ(EncodeIniValue(u"plain"), u"plain");
    EXPECT_EQ(EncodeIniValue(u"a\r\nb"), u"a  b");
    EXPECT_EQ(EncodeIniValue(u"\nb"), u"\" b\"");
}

TEST(TextCodecTest, Windows1252MapsEveryByteAndUndefinedOnesToThemselves) {
    EXPECT_EQ(FromWindows1252(0x80), u'\u20AC');
    EXPECT_EQ(FromWindows1252(0x9F), u'\u0178');
    EXPECT_EQ(FromWindows1252(0xE9), u'\u00E9');
    for (unsigned char undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(FromWindows1252(undefined), undefined);
}

TEST(TextCodecTest, EncodingIsDetectedAndKeptForWriting) {
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xF0\x9F\x8C\x90"));
    // Overlong, surrogate, above U+10FFFF, truncated.
    for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"})
        EXPECT_FALSE(IsValidUtf8(bad));

    const DecodedText ansi = DecodeText("caf\xE9");
    EXPECT_EQ(ansi.text, u"café");
    EXPECT_EQ(EncodeText(ansi.text, ansi.encoding), "caf\xC3\xA9");

    const DecodedText bom = DecodeText(
        "\xEF\xBB\xBF"
        "a\xE9\xC3\xA9");
    EXPECT_EQ(bom.text, u"aéé") << "a stray byte in a marked UTF-8 file is read as Windows-1252";
    EXPECT_EQ(EncodeText(bom.text, bom.encoding),
              "\xEF\xBB\xBF"
              "a\xC3\xA9\xC3\xA9");

    const DecodedText wide =
        DecodeText(std::string("\xFF\xFE"
                               "a\0\xAC\x20\x3D\xD8",
                               8));
    EXPECT_EQ(wide.text, std::u16string(u"a\u20AC") + char16_t(0xD83D)) << "a lone surrogate survives";
    EXPECT_EQ(EncodeText(wide.text, wide.encoding), std::string("\xFF\xFE"
                                                                "a\0\xAC\x20\x3D\xD8",
                                                                8));
}

}  // namespace
}  // namespace vantrel
