// The pure parts of the server operations: the vote-count reply and the query encoding.
#include <gtest/gtest.h>

#include "net/server_access.h"
#include "tests/support/qt_printers.h"

namespace {

kv::TStimmen filled(uint16_t v)
{
    kv::TStimmen s;
    for (int k = 1; k <= 5; ++k)
        s[k] = v;
    return s;
}

std::vector<uint16_t> entries(const kv::TStimmen &s)
{
    return {s[1], s[2], s[3], s[4], s[5]};
}

using V = std::vector<uint16_t>;

TEST(ParseVoteCounts, FiveFieldsEachEndedByADash)
{
    kv::TStimmen s = filled(99);
    EXPECT_TRUE(kv::parseVoteCounts("12-7-0-3-0-", s));
    EXPECT_EQ(entries(s), (V{12, 7, 0, 3, 0}));
}

TEST(ParseVoteCounts, AnythingAfterTheFifthDashIsIgnored)
{
    kv::TStimmen s = filled(99);
    EXPECT_TRUE(kv::parseVoteCounts("12-7-0-3-0-xyz", s));
    EXPECT_EQ(entries(s), (V{12, 7, 0, 3, 0}));
    EXPECT_TRUE(kv::parseVoteCounts("1-2-3-4-5-6-7-\r\n", s));
    EXPECT_EQ(entries(s), (V{1, 2, 3, 4, 5}));
}

TEST(ParseVoteCounts, MissingFinalDashFailsAfterStoringTheFirstFour)
{
    kv::TStimmen s = filled(99);
    EXPECT_FALSE(kv::parseVoteCounts("12-7-0-3-0", s));
    EXPECT_EQ(entries(s), (V{12, 7, 0, 3, 99}));
}

TEST(ParseVoteCounts, BadFieldStopsWithEarlierEntriesStored)
{
    kv::TStimmen s = filled(99);
    EXPECT_FALSE(kv::parseVoteCounts("12-x-0-3-0-", s));
    EXPECT_EQ(entries(s), (V{12, 99, 99, 99, 99}));

    s = filled(99);
    EXPECT_FALSE(kv::parseVoteCounts("1-2--4-5-", s)); // empty third field
    EXPECT_EQ(entries(s), (V{1, 2, 99, 99, 99}));
}

TEST(ParseVoteCounts, EmptyReplyFailsAndChangesNothing)
{
    kv::TStimmen s = filled(99);
    EXPECT_FALSE(kv::parseVoteCounts("", s));
    EXPECT_EQ(entries(s), (V{99, 99, 99, 99, 99}));
}

TEST(ParseVoteCounts, ValuesKeepTheirLow16Bits)
{
    kv::TStimmen s = filled(99);
    EXPECT_TRUE(kv::parseVoteCounts("70000-65535-65536-2147483647-0-", s));
    EXPECT_EQ(entries(s), (V{4464, 65535, 0, 65535, 0}));
}

TEST(ParseVoteCounts, ValuesBeyond32BitsAreNotIntegers)
{
    kv::TStimmen s = filled(99);
    EXPECT_FALSE(kv::parseVoteCounts("1-2147483648-3-4-5-", s));
    EXPECT_EQ(entries(s), (V{1, 99, 99, 99, 99}));
    EXPECT_FALSE(kv::parseVoteCounts("99999999999999999999-2-3-4-5-", s));
}

// A field may carry a sign as in Pascal's StrToInt; "-" also ends a field, so a minus can only
// ever make the field before it empty, which fails.
TEST(ParseVoteCounts, SignsAndBlanks)
{
    kv::TStimmen s = filled(99);
    EXPECT_TRUE(kv::parseVoteCounts("+5-+0-1-2-3-", s));
    EXPECT_EQ(entries(s), (V{5, 0, 1, 2, 3}));

    s = filled(99);
    EXPECT_FALSE(kv::parseVoteCounts("-5-1-2-3-4-", s));
    EXPECT_EQ(entries(s), (V{99, 99, 99, 99, 99}));

    EXPECT_FALSE(kv::parseVoteCounts("+-1-2-3-4-", s));  // a sign alone is no integer
    EXPECT_FALSE(kv::parseVoteCounts(" 5-1-2-3-4-", s)); // leading blank
    EXPECT_FALSE(kv::parseVoteCounts("5 -1-2-3-4-", s)); // trailing blank
    EXPECT_FALSE(kv::parseVoteCounts("0x10-1-2-3-4-", s));
    EXPECT_FALSE(kv::parseVoteCounts(QString::fromUtf8("\u0661-1-2-3-4-"), s)); // Arabic-Indic one
}

TEST(EncodeQueryValue, UnreservedCharactersPassEverythingElseIsPercentEncoded)
{
    EXPECT_EQ(kv::encodeQueryValue("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(kv::encodeQueryValue("a&b#c?d e"), "a%26b%23c%3Fd%20e");
    EXPECT_EQ(kv::encodeQueryValue("=+/%"), "%3D%2B%2F%25");
    EXPECT_EQ(kv::encodeQueryValue(""), "");
}

TEST(EncodeQueryValue, NonAsciiGoesAsItsWindows1252Byte)
{
    EXPECT_EQ(kv::encodeQueryValue(QString::fromUtf8("Grüße")), "Gr%FC%DFe");
    EXPECT_EQ(kv::encodeQueryValue(QString::fromUtf8("€")), "%80");
    EXPECT_EQ(kv::encodeQueryValue(QString::fromUtf8("\u4E2D")), "%3F"); // not in the code page
}

} // namespace
