// The sample store: appending in both modes, the wraps, re-packing and the repaint requests.
#include <QCoreApplication>
#include <QPaintEvent>

#include <gtest/gtest.h>

#include "chart_fixture.h"

namespace {

// A width of 6 pixels at X 60 % holds 10 samples.
constexpr int kSmallWidth = 6;
constexpr int kC = 10;

TEST(WaveStore, CapacityFollowsWidthAndXZoom)
{
    struct Case { int nWidth; int nZoomX; int nCapacity; };
    const Case cases[] = {
        { 890, 60, 1483 }, { 890, 10, 6800 }, // 8900 is clamped
        { 890, 200, 445 }, { 680, 10, 6800 },
        { 0, 60, 6800 }, { -5, 60, 6800 },   // no width at all also gives the full store
        { 1, 200, WAVE_BUF_LEN },             // 0 samples would fit: clamped as well
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wavegeo::CapacityForWidth(c.nWidth, 100, c.nZoomX), c.nCapacity)
            << c.nWidth << " px at " << c.nZoomX << " %";
    }
    auto chart = MakeChart(890, 507);
    EXPECT_EQ(chart->m_nCapacity, 1483);
}

TEST(WaveStore, KeepsTheLow16BitsOfEachSampleInChannelOrder)
{
    auto chart = MakeChart();
    chart->AddSamples(-1, 70000, 1, 65535, 0x12345);
    EXPECT_EQ(chart->m_wData[0][0], 65535);
    EXPECT_EQ(chart->m_wData[1][0], 70000 & 0xFFFF);
    EXPECT_EQ(chart->m_wData[2][0], 1);
    EXPECT_EQ(chart->m_wData[3][0], 65535);
    EXPECT_EQ(chart->m_wData[4][0], 0x2345);
}

TEST(WaveStore, PageFlipStartsANewPageAfterCapacitySamples)
{
    auto chart = MakeChart(kSmallWidth);
    ASSERT_EQ(chart->m_nCapacity, kC);
    AddNumbered(*chart, 0, kC);
    EXPECT_EQ(chart->m_nCount, kC);
    EXPECT_EQ(Displayed(*chart), Range(0, kC));

    AddNumbered(*chart, kC, 1);
    EXPECT_EQ(chart->m_nCount, 1);
    EXPECT_EQ(chart->m_nStart, 0);
    EXPECT_EQ(chart->m_wData[0][0], kC);
    EXPECT_EQ(Displayed(*chart), Range(kC, 1));

    AddNumbered(*chart, kC + 1, 3);
    EXPECT_EQ(Displayed(*chart), Range(kC, 4));
}

TEST(WaveStore, ScrollingRingAlwaysShowsTheLatestSamplesOldestFirst)
{
    auto chart = MakeChart(kSmallWidth);
    chart->OnScrolling();
    AddNumbered(*chart, 0, kC);
    EXPECT_EQ(Displayed(*chart), Range(0, kC));

    AddNumbered(*chart, kC, 1); // stored at index 0, start moves to 1
    EXPECT_EQ(chart->m_wData[0][0], kC);
    EXPECT_EQ(chart->m_nStart, 1);
    EXPECT_EQ(chart->m_nCount, 1);
    AddNumbered(*chart, kC + 1, 1);
    EXPECT_EQ(chart->m_wData[0][1], kC + 1);
    EXPECT_EQ(chart->m_nStart, 2);

    for (int n = kC + 2; n < 4 * kC; ++n) {
        AddNumbered(*chart, n, 1);
        ASSERT_EQ(Displayed(*chart), Range(n + 1 - kC, kC)) << "after sample " << n;
        ASSERT_GE(chart->m_nStart, 0);
        ASSERT_LT(chart->m_nStart, kC);
    }
}

TEST(WaveStore, FullRingAtTheLastIndexWrapsTheStartToZero)
{
    auto chart = MakeChart(kSmallWidth);
    chart->OnScrolling();
    AddNumbered(*chart, 0, 2 * kC - 1); // the ring now has start = count = C - 1
    ASSERT_EQ(chart->m_nStart, kC - 1);
    ASSERT_EQ(chart->m_nCount, kC - 1);

    AddNumbered(*chart, 100, 1);
    EXPECT_EQ(chart->m_nStart, 0);
    EXPECT_EQ(chart->m_nCount, kC);
    EXPECT_EQ(chart->m_wData[0][kC - 1], 100);
    std::vector<int> expected = Range(kC, kC - 1);
    expected.push_back(100);
    EXPECT_EQ(Displayed(*chart), expected);

    AddNumbered(*chart, 101, 1);
    EXPECT_EQ(chart->m_wData[0][0], 101);
    EXPECT_EQ(chart->m_nStart, 1);
    EXPECT_EQ(chart->m_nCount, 1);
}

TEST(WaveStore, SwitchingModesKeepsTheWritePosition)
{
    auto chart = MakeChart(kSmallWidth);
    chart->OnScrolling();
    AddNumbered(*chart, 0, kC + 3);
    ASSERT_EQ(chart->m_nStart, 3);
    chart->OnPageFlip();
    EXPECT_EQ(chart->m_bScroll, 0);
    EXPECT_EQ(chart->m_nStart, 0);
    EXPECT_EQ(chart->m_nCount, 3);
    // Page-flip shows the store in index order from 0.
    EXPECT_EQ(Displayed(*chart), Range(kC, 3));

    chart->OnScrolling();
    EXPECT_EQ(chart->m_nStart, 0);
    EXPECT_EQ(chart->m_nCount, 3);
}

TEST(WaveStore, RepackingKeepsTheDisplayedSequenceAndTheOldestWhenShrinking)
{
    struct Case {
        const char* name;
        bool bScroll;
        int nAdded;        // samples appended at capacity 10
        int nNewWidth;     // width afterwards at X 60 %
        std::vector<int> expected;
    };
    const Case cases[] = {
        { "page, same size", false, 7, 6, Range(0, 7) },
        { "page, shrink below count", false, 7, 3, Range(0, 5) },
        { "page, grow", false, 10, 60, Range(0, 10) },
        { "ring wrapped, same size", true, 14, 6, Range(4, 10) },
        { "ring wrapped, shrink inside head", true, 14, 2, Range(4, 3) },
        { "ring wrapped, shrink into tail", true, 14, 5, Range(4, 8) },
        { "ring wrapped, grow", true, 14, 60, Range(4, 10) },
        { "ring full at the last index", true, 19, 6, Range(9, 10) },
    };
    for (const Case& c : cases) {
        auto chart = MakeChart(kSmallWidth);
        if (c.bScroll)
            chart->OnScrolling();
        AddNumbered(*chart, 0, c.nAdded);
        chart->m_rcClient.right = c.nNewWidth;
        chart->UpdateCapacity();
        EXPECT_EQ(chart->m_nStart, 0) << c.name;
        EXPECT_EQ(Displayed(*chart), c.expected) << c.name;
        EXPECT_EQ(chart->m_nCount, int(c.expected.size())) << c.name;
        for (int ch = 1; ch < WAVE_CHANNELS; ++ch)
            EXPECT_EQ(Displayed(*chart, ch), c.expected) << c.name << ", channel " << ch;
    }
}

TEST(WaveStore, AppendingContinuesAfterGrowingARing)
{
    auto chart = MakeChart(kSmallWidth);
    chart->OnScrolling();
    AddNumbered(*chart, 0, 14);
    chart->m_rcClient.right = 12; // capacity 20
    chart->UpdateCapacity();
    AddNumbered(*chart, 14, 15);
    EXPECT_EQ(Displayed(*chart), Range(9, 20));
}

TEST(WaveStore, AStoreNeverSizedKeepsEveryWriteInsideTheArrays)
{
    for (bool bScroll : { false, true }) {
        CWaveChart chart; // no size yet: capacity 0, every append is the wrap case
        if (bScroll)
            chart.OnScrolling();
        for (int i = 1; i <= 5; ++i) {
            chart.AddSamples(i, i, i, i, i);
            EXPECT_EQ(chart.m_nCount, 1);
            EXPECT_EQ(chart.m_wData[0][0], i);
        }
        (void)Render(chart); // painting such a store must stay inside the arrays too
        chart.resize(6, 20);
        chart.m_rcClient = WaveRect{ 0, 0, 6, 20 };
        chart.UpdateCapacity();
        EXPECT_EQ(chart.m_nCapacity, kC);
        EXPECT_EQ(chart.m_nStart, 0);
        EXPECT_EQ(Displayed(chart), std::vector<int>{ 5 }) << "scroll " << bScroll;
    }
}

// Records the rectangles of the paint events the control receives.
class PaintSpy : public QObject {
public:
    std::vector<QRect> m_rects;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            m_rects.push_back(static_cast<QPaintEvent*>(e)->rect());
        return false;
    }
};

TEST(WaveStore, PageFlipRepaintsAStripAtTheNewestSampleAndScrollingTheWhole)
{
    auto chart = MakeChart(890, 507);
    PaintSpy spy;
    chart->installEventFilter(&spy);
    QCoreApplication::processEvents();
    spy.m_rects.clear();

    AddNumbered(*chart, 0, 100); // p = 60 * 100 / 100 = 60
    QCoreApplication::processEvents();
    ASSERT_FALSE(spy.m_rects.empty());
    // The strips of the 100 appends merge into one band ending at p + 4.
    EXPECT_EQ(spy.m_rects.back().right() + 1, 60 + 4);
    EXPECT_EQ(spy.m_rects.back().height(), 507);
    EXPECT_LT(spy.m_rects.back().width(), 890 / 4);
    spy.m_rects.clear();

    AddNumbered(*chart, 100, 1); // p = 60 * 101 / 100 = 60
    QCoreApplication::processEvents();
    ASSERT_EQ(spy.m_rects.size(), 1u);
    EXPECT_EQ(spy.m_rects[0], QRect(56, 0, 8, 507));
    spy.m_rects.clear();

    chart->OnScrolling();
    QCoreApplication::processEvents();
    spy.m_rects.clear();
    AddNumbered(*chart, 101, 1);
    QCoreApplication::processEvents();
    ASSERT_EQ(spy.m_rects.size(), 1u);
    EXPECT_EQ(spy.m_rects[0], chart->rect());
}

TEST(WaveStore, PageWrapRepaintsTheWholeControl)
{
    auto chart = MakeChart(890, 507);
    AddNumbered(*chart, 0, chart->m_nCapacity);
    PaintSpy spy;
    chart->installEventFilter(&spy);
    QCoreApplication::processEvents();
    spy.m_rects.clear();
    AddNumbered(*chart, 0, 1);
    QCoreApplication::processEvents();
    ASSERT_EQ(spy.m_rects.size(), 1u);
    EXPECT_EQ(spy.m_rects[0], chart->rect());
}

TEST(WaveStore, ResizeRefitsTheStoreAndRepaintsEverything)
{
    auto chart = MakeChart(890, 507);
    AddNumbered(*chart, 0, 1000);
    PaintSpy spy;
    chart->installEventFilter(&spy);
    QCoreApplication::processEvents();
    spy.m_rects.clear();
    chart->resize(300, 200); // 500 samples fit
    QCoreApplication::processEvents();
    EXPECT_EQ(chart->m_nCapacity, 500);
    EXPECT_EQ(Displayed(*chart), Range(0, 500));
    ASSERT_FALSE(spy.m_rects.empty());
    EXPECT_EQ(spy.m_rects.back(), QRect(0, 0, 300, 200));
}

} // namespace
