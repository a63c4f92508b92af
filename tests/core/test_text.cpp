#include <QDateTime>
#include <gtest/gtest.h>
#include <limits>
#include <string>

#include "core/cp1252.h"
#include "core/datetime.h"
#include "core/history.h"
#include "core/numbers.h"

using namespace kv;

TEST(CodePage, EveryByteRoundTrips)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    EXPECT_EQ(toCp1252(fromCp1252(all)), all);
}

TEST(CodePage, GermanTextAndTheEuroSign)
{
    EXPECT_EQ(toCp1252(QStringLiteral("Ä ö ü ß €")), QByteArray("\xC4 \xF6 \xFC \xDF \x80"));
    EXPECT_EQ(fromCp1252("\x84Zitat\x93"), QStringLiteral("„Zitat“"));
}

TEST(CodePage, CharactersOutsideBecomeQuestionMarks)
{
    EXPECT_EQ(toCp1252(QStringLiteral("a→b")), QByteArray("a?b"));
    EXPECT_EQ(toCp1252(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y")); // one emoji, one "?"
}

TEST(DateTime, DaysSince1899)
{
    EXPECT_EQ(toDateTimeValue(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
    EXPECT_EQ(toDateTimeValue(QDateTime(QDate(2000, 1, 1), QTime(12, 0))), 36526.5);
    EXPECT_EQ(toDateTimeValue(QDateTime(QDate(1899, 12, 29), QTime(6, 0))), -1.25);
    EXPECT_EQ(fromDateTimeValue(36526.5), QDateTime(QDate(2000, 1, 1), QTime(12, 0)));
    EXPECT_EQ(fromDateTimeValue(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
}

TEST(DateTime, RoundTripToTheMillisecond)
{
    const QDateTime t(QDate(2026, 12, 7), QTime(23, 59, 59, 999));
    EXPECT_EQ(fromDateTimeValue(toDateTimeValue(t)), t);
    const double now = nowValue();
    EXPECT_GT(now, 46000.0); // after 2025
}

// A time that rounds up to midnight belongs to the next calendar day, on either side of the epoch.
TEST(DateTime, RoundingUpToMidnightGivesTheNextDay)
{
    const double almostMidnight = 0.4 / 86400000.0; // less than half a millisecond before midnight
    EXPECT_EQ(fromDateTimeValue(36526.0 + 1.0 - almostMidnight), QDateTime(QDate(2000, 1, 2), QTime(0, 0)));
    // -1.99999... is 1899-12-29 at 23:59:59.9996: the next day is the epoch itself.
    EXPECT_EQ(fromDateTimeValue(-2.0 + almostMidnight), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    EXPECT_EQ(fromDateTimeValue(-5.0 + almostMidnight), QDateTime(QDate(1899, 12, 27), QTime(0, 0)));
}

// A damaged file can hold any eight bytes as a date-time: values that are no number or lie outside
// the years 1 to 9999 give no date-time instead of overflowing the conversion to whole days.
struct DateTimeLimit {
    const char *name;
    double value;
    QDateTime expected; // invalid: no date-time
};

class DateTimeLimits : public ::testing::TestWithParam<DateTimeLimit> {};

TEST_P(DateTimeLimits, OutsideTheCalendarIsNoDateTime)
{
    const DateTimeLimit &c = GetParam();
    const QDateTime got = fromDateTimeValue(c.value);
    EXPECT_EQ(got.isValid(), c.expected.isValid()) << got.toString(Qt::ISODateWithMs).toStdString();
    if (c.expected.isValid()) {
        EXPECT_EQ(got, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    DateTime, DateTimeLimits,
    ::testing::Values(DateTimeLimit{"NotANumber", std::numeric_limits<double>::quiet_NaN(), {}},
                      DateTimeLimit{"PlusInfinity", std::numeric_limits<double>::infinity(), {}},
                      DateTimeLimit{"MinusInfinity", -std::numeric_limits<double>::infinity(), {}},
                      DateTimeLimit{"Huge", 4.62192e+228, {}}, DateTimeLimit{"HugeNegative", -1.0e300, {}},
                      DateTimeLimit{"Year10000", 2958466.0, {}}, DateTimeLimit{"BeforeYear1", -693594.0, {}},
                      DateTimeLimit{"LastDayOf9999", 2958465.5, QDateTime(QDate(9999, 12, 31), QTime(12, 0))},
                      DateTimeLimit{"FirstDayOfYear1", -693593.5, QDateTime(QDate(1, 1, 1), QTime(12, 0))},
                      DateTimeLimit{"StartOfYear1", -693593.0, QDateTime(QDate(1, 1, 1), QTime(0, 0))}),
    [](const ::testing::TestParamInfo<DateTimeLimit> &info) { return std::string(info.param.name); });

TEST(Rounding, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(Round(0.5), 0);
    EXPECT_EQ(Round(1.5), 2);
    EXPECT_EQ(Round(2.5), 2);
    EXPECT_EQ(Round(-0.5), 0);
    EXPECT_EQ(Round(-1.5), -2);
    EXPECT_EQ(Round(2.4999), 2);
    EXPECT_EQ(Round(2.5001), 3);
}

TEST(HistoryFileName, AtThenPoint)
{
    EXPECT_EQ(historyFileName("x.y@z"), "x_yatz_Sofortumfragen.dat");
    EXPECT_EQ(historyFileName("prof"), "prof_Sofortumfragen.dat");
    EXPECT_EQ(historyFileName("a@b.c@d"), "aatb_catd_Sofortumfragen.dat");
    EXPECT_EQ(historyFileName("A@B"), "AatB_Sofortumfragen.dat");
}

TEST(WholeNumbers, SignedDecimalThatFits32Bits)
{
    EXPECT_EQ(parseWholeNumber(u"8080"), 8080);
    EXPECT_EQ(parseWholeNumber(u"+12"), 12);
    EXPECT_EQ(parseWholeNumber(u"-1"), -1);
    EXPECT_EQ(parseWholeNumber(u"2147483647"), 2147483647);
    EXPECT_EQ(parseWholeNumber(u"-2147483648"), INT32_MIN);
    for (const char16_t *bad : {u"", u"abc", u"2147483648", u"-2147483649", u" 1", u"1 ", u"-", u"1.5",
                                u"0x10", u"99999999999999999999", u"\u0661"})
        EXPECT_FALSE(parseWholeNumber(bad)) << QString::fromUtf16(bad).toStdString();
}

TEST(WholeNumbers, SixteenBitFieldsKeepTheLowBits)
{
    EXPECT_EQ(low16(70000), 4464);
    EXPECT_EQ(low16(-1), 65535);
    EXPECT_EQ(low16(INT32_MIN), 0);
}
