// Paint pacing: the pure pacer on explicit times, then the control with pacing on, its clock
// frozen by a fake platform so that the pacer's decisions do not depend on the machine's speed.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPaintEvent>
#include <QThread>

#include <functional>
#include <vector>

#include "chart_fixture.h"
#include "paint_pacer.h"
#include "platform.h"
#include "support/pty_pair.h"

namespace {

constexpr uint32_t P = WAVE_PAINT_PERIOD_US;

TEST(PaintPacer, RequestsWithinOnePeriodCollapseIntoOneHandOverOfTheirUnion)
{
    CPaintPacer pacer(P);
    pacer.Painted(1000);
    const QRect a(10, 0, 8, 50), b(18, 0, 8, 50), c(26, 0, 8, 50);
    EXPECT_TRUE(pacer.Request(a, 2000).isEmpty());
    EXPECT_TRUE(pacer.Request(b, 9000).isEmpty());
    EXPECT_TRUE(pacer.Request(c, 1000 + P - 1).isEmpty());
    ASSERT_TRUE(pacer.Waiting());
    // Due one period after the paint: the oldest collected request waits less than a period.
    EXPECT_EQ(pacer.DueAt(), 1000u + P);
    EXPECT_EQ(pacer.Flush(1000 + P), QRect(10, 0, 24, 50));
    EXPECT_FALSE(pacer.Waiting());
    // Until that paint is made, further requests join it, as the window system merges them.
    EXPECT_EQ(pacer.Request(c, 1000 + P + 10), c);
    pacer.Painted(1000 + P + 500);
    EXPECT_TRUE(pacer.Request(a, 1000 + P + 600).isEmpty());
    EXPECT_EQ(pacer.DueAt(), 1000u + 2 * P + 500);
}

TEST(PaintPacer, ALoneRequestAfterAQuietPeriodGoesAtOnceAndNoPacingPassesEverything)
{
    const QRect a(0, 0, 8, 8);
    CPaintPacer pacer(P);
    EXPECT_EQ(pacer.Request(a, 5), a) << "never painted";
    pacer.Painted(100);
    EXPECT_EQ(pacer.Request(a, 100 + P), a) << "a period after the last paint";
    pacer.Painted(200 + P);
    EXPECT_TRUE(pacer.Request(a, 201 + P).isEmpty());
    EXPECT_TRUE(pacer.Request(QRect(), 202 + P).isEmpty());

    CPaintPacer off;
    off.Painted(0);
    for (uint64_t t : {0, 1, 2})
        EXPECT_EQ(off.Request(a, t), a);
    EXPECT_FALSE(off.Waiting());
}

TEST(PaintPacer, AWholeRepaintTakesInWhatWasCollectedAndNothingIsFlushedWithoutRequests)
{
    CPaintPacer pacer(P);
    pacer.Painted(0);
    EXPECT_TRUE(pacer.Flush(P).isEmpty()) << "nothing asked for, nothing to paint";
    EXPECT_TRUE(pacer.Request(QRect(0, 0, 8, 8), 10).isEmpty())
        << "an empty flush hands nothing over, so requests are still paced";
    pacer.HandedOverAll(20);
    EXPECT_FALSE(pacer.Waiting());
    EXPECT_TRUE(pacer.Flush(P).isEmpty());
    const QRect b(40, 0, 8, 8);
    EXPECT_EQ(pacer.Request(b, 30), b) << "joins the whole repaint on its way";
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

// One serial event per sample: the event loop turns after each, as in the console.
void AddOneByOne(CWaveChart& chart, int first, int n)
{
    for (int i = first; i < first + n; ++i) {
        chart.AddSamples(i, i, i, i, i);
        QCoreApplication::processEvents();
    }
}

class PacedChart : public ::testing::Test {
protected:
    PacedChart()
    {
        m_platform.m_dwTick = 5000;
        // A long period, so that even a slow machine delivers a burst within one.
        m_chart->SetPaintPeriod(250000);
        m_chart->installEventFilter(&m_spy);
        // The first sample goes at once (nothing painted by the pacer's clock yet); from its
        // paint on, the frozen clock keeps every later request inside one period.
        AddNumbered(*m_chart, 0, 1);
        EXPECT_TRUE(WaitUntil([&] { return !m_spy.m_rects.empty(); }));
        Settle();
    }

    // Lets every collected repaint and pending paint happen, then forgets them.
    void Settle()
    {
        EXPECT_TRUE(WaitUntil([&] { return !m_chart->Pacer().Waiting(); }));
        WaitUntil([] { return false; }, 30);
        m_spy.m_rects.clear();
    }

    FakePlatform m_platform;
    ScopedPlatform m_scoped{m_platform};
    std::unique_ptr<CWaveChart> m_chart = MakeChart(890, 507);
    PaintSpy m_spy;
};

TEST_F(PacedChart, SamplesOfOnePeriodArePaintedOnceOverAllTheirStrips)
{
    AddOneByOne(*m_chart, 1, 50); // strips at p = 0 .. 60 * 51 / 100 = 30
    ASSERT_TRUE(WaitUntil([&] { return !m_spy.m_rects.empty(); }));
    WaitUntil([] { return false; }, 30);
    ASSERT_EQ(m_spy.m_rects.size(), 1u);
    EXPECT_EQ(m_spy.m_rects[0], QRect(0, 0, 30 + 4, 507)) << "the union, the last sample's strip included";

    // Scrolling: the whole control, once.
    m_chart->OnScrolling();
    Settle();
    AddOneByOne(*m_chart, 51, 50);
    ASSERT_TRUE(WaitUntil([&] { return !m_spy.m_rects.empty(); }));
    WaitUntil([] { return false; }, 30);
    ASSERT_EQ(m_spy.m_rects.size(), 1u);
    EXPECT_EQ(m_spy.m_rects[0], m_chart->rect());

    // No samples, no paints: nothing is left waiting.
    m_spy.m_rects.clear();
    WaitUntil([] { return false; }, 400);
    EXPECT_TRUE(m_spy.m_rects.empty());
}

TEST_F(PacedChart, WrapsModeSwitchesZoomAndSizeChangesRepaintAtOnce)
{
    struct Case {
        const char* name;
        std::function<void(CWaveChart&)> act;
    };
    const std::vector<Case> cases = {
        {"page wrap", [](CWaveChart& c) { AddNumbered(c, 0, c.m_nCapacity - c.m_nCount + 1); }},
        {"scrolling", [](CWaveChart& c) { c.OnScrolling(); }},
        {"page flip", [](CWaveChart& c) { c.OnPageFlip(); }},
        {"zoom", [](CWaveChart& c) { c.OnZoomIn(); }},
        {"resize", [](CWaveChart& c) { c.resize(600, 400); }},
    };
    for (const Case& k : cases) {
        Settle();
        // A strip is collected and waits for its period ...
        AddNumbered(*m_chart, 0, 1);
        // ... when the change comes: the next turn of the event loop paints everything.
        k.act(*m_chart);
        QCoreApplication::processEvents();
        ASSERT_FALSE(m_spy.m_rects.empty()) << k.name;
        EXPECT_EQ(m_spy.m_rects.front(), m_chart->rect()) << k.name;
        // What was collected was part of it: no second paint follows.
        WaitUntil([] { return false; }, 300);
        EXPECT_EQ(m_spy.m_rects.size(), 1u) << k.name;
    }
}

} // namespace
