// The presentation page's geometry: the worked examples of the layout and the result bars, the
// percentages, the panels and the full-screen rule.
#include <gtest/gtest.h>

#include "tests/support/qt_printers.h"
#include "ui/presentation/page_layout.h"

using namespace kv;

namespace {

struct PageCase {
    const char *name;
    int cw, ch;
    bool grosseSchrift;
    int unit, questionBoxHeight, answerBoxHeight, fontSize;
    std::array<int, 5> answerTops;
};

class PageLayout : public ::testing::TestWithParam<PageCase> {};

TEST_P(PageLayout, FollowsTheClientArea)
{
    const PageCase &c = GetParam();
    const PageGeometry g = pageGeometry(c.cw, c.ch, c.grosseSchrift);
    EXPECT_EQ(g.unit, c.unit);
    EXPECT_EQ(g.questionBoxHeight, c.questionBoxHeight);
    EXPECT_EQ(g.answerBoxHeight, c.answerBoxHeight);
    EXPECT_EQ(g.fontSize, c.fontSize);
    for (int k = 1; k <= 5; ++k)
        EXPECT_EQ(g.answerTop(k), c.answerTops[size_t(k - 1)]) << "answer " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PageLayout,
    ::testing::Values(PageCase{"Xga", 1024, 768, false, 60, 105, 110, 12, {135, 255, 375, 495, 615}},
                      PageCase{"XgaLargeFont", 1024, 768, true, 60, 105, 110, 16, {135, 255, 375, 495, 615}},
                      PageCase{"FullHd", 1920, 1080, false, 86, 157, 162, 19, {187, 359, 531, 703, 875}},
                      // (1000 - 50) / 12 = 79.17; sqrt(1000 * 1000 / 2900) = 18.57
                      PageCase{"Square", 1000, 1000, true, 79, 143, 148, 19, {173, 331, 489, 647, 805}},
                      // (626 - 50) / 12 = 48 exactly; sqrt(1054 * 626 / 5700) = 10.76
                      PageCase{"OpeningSize", 1054, 626, false, 48, 81, 86, 11, {111, 207, 303, 399, 495}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PageLayoutRound, HalvesGoToTheEvenNeighbour)
{
    // (128 - 50) / 12 = 6.5 -> 6; (152 - 50) / 12 = 8.5 -> 8
    EXPECT_EQ(pageGeometry(800, 128, false).unit, 6);
    EXPECT_EQ(pageGeometry(800, 152, false).unit, 8);
    // sqrt(W * H / 5700) = 2.5 exactly for W * H = 35625 -> 2
    EXPECT_EQ(pageGeometry(125, 285, false).fontSize, 2);
}

struct ResultCase {
    const char *name;
    int cw, ch;
    std::array<uint16_t, 5> counts;
    int answers;
    int unit, barTop, barHeight, percentFontSize, percentTop;
    std::array<int, 5> barWidths; // 0 for bars not shown
    uint16_t total;
};

class ResultLayout : public ::testing::TestWithParam<ResultCase> {};

TEST_P(ResultLayout, BarsAndPercentages)
{
    const ResultCase &c = GetParam();
    const ResultGeometry g = resultGeometry(c.cw, c.ch, c.counts, c.answers);
    EXPECT_EQ(g.unit, c.unit);
    EXPECT_EQ(g.barTop, c.barTop);
    EXPECT_EQ(g.barHeight, c.barHeight);
    EXPECT_EQ(g.percentFontSize, c.percentFontSize);
    EXPECT_EQ(g.percentTop, c.percentTop);
    EXPECT_EQ(g.answers, c.answers);
    EXPECT_EQ(g.total, c.total);
    for (int k = 0; k < c.answers; ++k) {
        const QRect bar = g.bars[size_t(k)];
        EXPECT_EQ(bar, QRect(16, c.barTop, c.barWidths[size_t(k)], c.barHeight)) << "bar " << k + 1;
        EXPECT_EQ(g.percentLeft[size_t(k)], 16 + c.barWidths[size_t(k)] + 15) << "percentage " << k + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ResultLayout,
    ::testing::Values(
        // The longest bar ends at 859: 16 + Round(992 * 0.85).
        ResultCase{"Xga", 1024, 768, {12, 7, 0, 3, 0}, 5, 61, 69, 35, 21, 73, {843, 492, 8, 211, 8}, 22},
        // 1888 * 0.85 = 1604.8: the longest bar is 1605 px wide.
        ResultCase{"FullHd", 1920, 1080, {5, 10, 0, 0, 0}, 2, 87, 96, 57, 34, 102, {802, 1605, 0, 0, 0}, 15},
        ResultCase{"NoVotes", 1024, 768, {0, 0, 0, 0, 0}, 4, 61, 69, 35, 21, 73, {8, 8, 8, 8, 0}, 0},
        ResultCase{"OneVoteForB", 1024, 768, {0, 1, 0, 0, 0}, 3, 61, 69, 35, 21, 73, {8, 843, 8, 0, 0}, 1},
        // Only the shown answers count: the votes for C..E of a yes/no poll are left out.
        ResultCase{"YesNoIgnoresTheRest",
                   1024,
                   768,
                   {3, 1, 50, 50, 50},
                   2,
                   61,
                   69,
                   35,
                   21,
                   73,
                   {843, 281, 0, 0, 0},
                   4},
        // The total is summed in 16 bits, as the history files add it up.
        ResultCase{
            "TotalWraps", 1024, 768, {65535, 2, 0, 0, 0}, 2, 61, 69, 35, 21, 73, {843, 0, 0, 0, 0}, 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ResultLayoutSmall, ATinyWindowGetsEmptyBarsNotNegativeOnes)
{
    const ResultGeometry g = resultGeometry(20, 40, {1, 0, 0, 0, 0}, 2);
    for (int k = 0; k < 2; ++k) {
        EXPECT_GE(g.bars[size_t(k)].width(), 0);
        EXPECT_GE(g.bars[size_t(k)].height(), 0);
    }
}

struct PercentCase {
    const char *name;
    uint16_t count, total;
    const char *english, *german;
};

class Percentages : public ::testing::TestWithParam<PercentCase> {};

TEST_P(Percentages, OneDecimalAtMostThreeDigitsLocaleSeparators)
{
    const PercentCase &c = GetParam();
    EXPECT_EQ(percentText(c.count, c.total, QLocale(QLocale::English)), QString::fromUtf8(c.english));
    EXPECT_EQ(percentText(c.count, c.total, QLocale(QLocale::German)), QString::fromUtf8(c.german));
}

INSTANTIATE_TEST_SUITE_P(
    Shares, Percentages,
    ::testing::Values(
        PercentCase{"Nothing", 0, 0, "0.0%", "0,0%"}, PercentCase{"All", 1, 1, "100.0%", "100,0%"},
        PercentCase{"Third", 1, 3, "33.3%", "33,3%"}, PercentCase{"TwoThirds", 2, 3, "66.7%", "66,7%"},
        PercentCase{"Small", 1, 300, "0.3%", "0,3%"}, PercentCase{"Eighth", 1, 8, "12.5%", "12,5%"},
        // Just below 100 rounds to three significant digits.
        PercentCase{"AlmostAll", 9999, 10000, "100.0%", "100,0%"},
        // A wrapped 16-bit total can make a share above 100: three digits, no decimal.
        PercentCase{"AboveHundred", 3, 2, "150.0%", "150,0%"},
        PercentCase{"Thousands", 30, 2, "1,500.0%", "1.500,0%"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(BarPicture, OnlyThePictureAreaIsColoured)
{
    EXPECT_EQ(colouredBarArea(QSize(1605, 57)), QRect(0, 0, 1600, 57));
    EXPECT_EQ(colouredBarArea(QSize(300, 400)), QRect(0, 0, 300, 250));
    EXPECT_EQ(colouredBarArea(QSize(8, 35)), QRect(0, 0, 8, 35));
    EXPECT_EQ(colouredBarArea(QSize(-3, -1)), QRect(0, 0, 0, 0));
}

TEST(Panels, CentredAtThreeEighths)
{
    // A text 224 px wide: panel 300 px, left (1024 - 300) / 2 = 362, top (768 - 85) * 3 / 8 = 256.125
    EXPECT_EQ(messagePanelRect(1024, 768, 224), QRect(362, 256, 300, 85));
    // (1023 - 301) / 2 = 361; (773 - 85) * 3 / 8 = 258
    EXPECT_EQ(messagePanelRect(1023, 773, 225), QRect(361, 258, 301, 85));
    // (1000 - 325) / 2 = 337.5 -> 338 (even); (765 - 85) * 3 / 8 = 255
    EXPECT_EQ(sessionPanelPos(1000, 765), QPoint(338, 255));
    EXPECT_EQ(statusLineTop(768, 19), 741);
}

TEST(Buttons, SitAtTheBottomRight)
{
    const QRect b1 = button1Rect(1024, 768), b3 = button3Rect(1024, 768);
    EXPECT_EQ(b1.size(), QSize(173, 28));
    EXPECT_EQ(b3.size(), QSize(105, 28));
    EXPECT_EQ(b3.top(), 768 - 28 - 7);
    EXPECT_EQ(b1.top(), b3.top());
    EXPECT_LT(b1.right(), b3.left());
    EXPECT_LT(b3.right(), 1024);
    EXPECT_EQ(1920 - button3Rect(1920, 1080).right(), 1024 - b3.right()); // a fixed distance from the right
}

TEST(FullScreen, WithinTwentyPixelsOfTheScreenWidth)
{
    const std::vector<std::pair<int, bool>> widths = {{1920, true}, {1901, true},  {1900, false},
                                                      {1939, true}, {1940, false}, {1054, false}};
    for (const auto &[width, fills] : widths)
        EXPECT_EQ(fillsScreenWidth(width, 1920), fills) << width;
}

TEST(FullScreen, EscapeGivesNinetyPercentOfTheWindowsOwnScreen)
{
    EXPECT_EQ(escapeGeometry(QRect(0, 0, 1920, 1080)), QRect(25, 25, 1728, 972));
    // A projector right of the laptop screen: the window stays on the projector.
    EXPECT_EQ(escapeGeometry(QRect(1366, 0, 1024, 768)), QRect(1391, 25, 922, 691));
    // 1365 * 0.9 = 1228.5 -> 1228
    EXPECT_EQ(escapeGeometry(QRect(0, 0, 1365, 768)).width(), 1228);
}

} // namespace
