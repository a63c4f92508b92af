// Decoding of what arrives in URLs and bodies: percent escapes, Windows-1252,
// UTF-8 checks, query splitting and the small JSON reader.
#include <gtest/gtest.h>

#include "server/src/text.h"

using namespace kv::server;

TEST(PercentDecode, DecodesEscapesAndPlusAndRejectsBrokenEscapes)
{
    EXPECT_EQ(percentDecode("a%20b+c%2B%25"), "a b c+%");
    EXPECT_EQ(percentDecode("%fc%FC"), "\xFC\xFC");
    EXPECT_EQ(percentDecode("%00x"), std::string("\0x", 2));
    EXPECT_FALSE(percentDecode("%"));
    EXPECT_FALSE(percentDecode("abc%4"));
    EXPECT_FALSE(percentDecode("%G0"));
    EXPECT_FALSE(percentDecode("%%"));
}

TEST(Cp1252, MapsLatin1AndTheWindowsRangeToUtf8)
{
    EXPECT_EQ(cp1252ToUtf8("M\xFCller"), "Müller");
    EXPECT_EQ(cp1252ToUtf8("\x80\x8A\x9F\x93\x94"), "€ŠŸ“”");
    EXPECT_EQ(cp1252ToUtf8("\xDF\xFF\xA0"), "ßÿ\u00A0");
    // Unassigned bytes keep their value as C1 controls, so nothing is dropped.
    EXPECT_EQ(cp1252ToUtf8("\x81\x9D"), "\u0081\u009D");
    // UTF-8 bytes are not guessed at: they are read as Windows-1252 too.
    EXPECT_EQ(cp1252ToUtf8("\xC3\xBC"), "Ã¼");
}

TEST(Utf8, ValidatesAndCountsCodePoints)
{
    EXPECT_TRUE(isValidUtf8("Müller €𝄞"));
    EXPECT_FALSE(isValidUtf8("M\xFCller"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));     // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80")); // surrogate
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));     // cut short
    EXPECT_EQ(utf8Length("Müller€"), 7u);
    EXPECT_TRUE(hasControlChars("a\tb"));
    EXPECT_TRUE(hasControlChars("a\u0085b"));
    EXPECT_FALSE(hasControlChars("Müller & Co"));
}

TEST(UserIds, AcceptOrdinaryNamesOnly)
{
    EXPECT_TRUE(isValidUserId("Müller&Co"));
    EXPECT_TRUE(isValidUserId(std::string(64, 'x')));
    EXPECT_FALSE(isValidUserId(std::string(65, 'x')));
    EXPECT_FALSE(isValidUserId(""));
    EXPECT_FALSE(isValidUserId("a\nb"));
    EXPECT_FALSE(isValidUserId("M\xFCller"));
}

TEST(ParseQuery, SplitsDecodesAndKeepsDuplicates)
{
    auto q = parseQuery("id=M%FCller%26Co&pw=a+b&&flag&x=1&x=2", Charset::Windows1252);
    ASSERT_TRUE(q);
    std::string v;
    EXPECT_EQ(q->one("id", v), Params::Get::Ok);
    EXPECT_EQ(v, "Müller&Co");
    EXPECT_EQ(q->one("pw", v), Params::Get::Ok);
    EXPECT_EQ(v, "a b");
    EXPECT_EQ(q->one("flag", v), Params::Get::Ok);
    EXPECT_EQ(v, "");
    EXPECT_EQ(q->one("x", v), Params::Get::Duplicate);
    EXPECT_EQ(q->one("missing", v), Params::Get::Missing);

    EXPECT_FALSE(parseQuery("id=%ZZ", Charset::Windows1252));
    EXPECT_FALSE(parseQuery("id=M%FCller", Charset::Utf8));
    auto u = parseQuery("id=M%C3%BCller", Charset::Utf8);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->values.at("id").front(), "Müller");
}

TEST(FlatJson, ReadsStringsNumbersAndEscapes)
{
    auto j = parseFlatJsonObject(
        R"( {"id":"M\u00fcller \"x\"","answer":2,"ok":true,"code":null,"e":"\ud834\udd1e"} )");
    ASSERT_TRUE(j);
    EXPECT_EQ(j->at("id"), "Müller \"x\"");
    EXPECT_EQ(j->at("answer"), "2");
    EXPECT_EQ(j->at("ok"), "true");
    EXPECT_EQ(j->at("code"), "null");
    EXPECT_EQ(j->at("e"), "𝄞");
    EXPECT_TRUE(parseFlatJsonObject("{}"));
}

TEST(FlatJson, RejectsWhatIsNotAFlatObject)
{
    for (const char *bad : {"", "[]", "{", "{\"a\":}", "{\"a\":1,}", "{\"a\":1} x", "{\"a\":{\"b\":1}}",
                            "{\"a\":[1]}", "{\"a\":\"\x01\"}", "{\"a\":\"\\ud834\"}", "{\"a\":1,\"a\":2}",
                            "{\"a\":\"\xFC\"}", "{\"a\":\"\\x\"}", "{a:1}"})
        EXPECT_FALSE(parseFlatJsonObject(bad)) << bad;
}

TEST(JsonString, EscapesForJson)
{
    EXPECT_EQ(jsonString("a\"b\\c\n\x01<"), "\"a\\\"b\\\\c\\n\\u0001\\u003c\"");
    EXPECT_EQ(jsonString("gezählt"), "\"gezählt\"");
    auto back = parseFlatJsonObject("{\"k\":" + jsonString("x\"\\\n\x02 ü") + "}");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->at("k"), "x\"\\\n\x02 ü");
}
