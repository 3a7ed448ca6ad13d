// Plotting: the mapping's geometry, and the pixels of the rendered control.
#include <QPainter>

#include <gtest/gtest.h>

#include "chart_fixture.h"

namespace {

const QRgb kField = qRgb(0, 0, 192);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kGreen = qRgb(0, 255, 0);

// Rows of the baselines at 890 x 507 and Y 15 %: 2B, B, 0, B, B/2 (B = 1126 logical units).
const int kBaselineRow[WAVE_CHANNELS] = { 168, 337, 506, 337, 422 };

QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

// Row y in columns 0 .. nLast (default: all) has the colour.
bool RowIs(const QImage& image, int y, QRgb colour, int nLast = -1)
{
    for (int x = 0; x <= (nLast < 0 ? image.width() - 1 : nLast); ++x) {
        if ((image.pixel(x, y) & 0xFFFFFF) != (colour & 0xFFFFFF))
            return false;
    }
    return true;
}

// Whether column x has the colour anywhere in rows y - tol .. y + tol.
bool ColumnHasNear(const QImage& image, int x, int y, QRgb colour, int tol = 1)
{
    for (int r = std::max(0, y - tol); r <= std::min(image.height() - 1, y + tol); ++r) {
        if (Pixel(image, x, r) == (colour & 0xFFFFFF))
            return true;
    }
    return false;
}

TEST(WaveGeometry, ColorrefHasRedInTheLowByte)
{
    EXPECT_EQ(ColorFromColorref(WAVE_CLR_FIELD).rgb() & 0xFFFFFF, kField & 0xFFFFFF);
    EXPECT_EQ(ColorFromColorref(WAVE_CLR_AUX).rgb() & 0xFFFFFF, kGreen & 0xFFFFFF);
}

TEST(WaveGeometry, MulDivRoundsHalvesAwayFromZero)
{
    struct Case { int a, b, c, r; };
    const Case cases[] = {
        { 1, 100, 15, 7 }, { 507, 100, 15, 3380 }, { 3, 1, 2, 2 }, { -3, 1, 2, -2 },
        { 3, -1, 2, -2 }, { -3, -1, -2, -2 }, { 65535, 200, 100, 131070 }, { 5, 7, 0, -1 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(wavegeo::MulDiv(c.a, c.b, c.c), c.r) << c.a << "*" << c.b << "/" << c.c;
}

TEST(WaveGeometry, GridPlacesZeroOnTheLowestRowAndScalesByZoomOverHundred)
{
    struct Case { int w, h, zx, zy; };
    const Case cases[] = {
        { 890, 507, 60, 15 }, { 890, 507, 200, 200 }, { 890, 507, 10, 10 },
        { 890, 507, 65, 135 }, { 300, 101, 35, 45 },
    };
    for (const Case& c : cases) {
        const wavegeo::Grid g = wavegeo::ComputeGrid(100, -100, c.zx, c.zy, { 0, 0, c.w, c.h });
        const wavegeo::Mapping& m = g.map;
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " at " << c.zx << "/" << c.zy);
        EXPECT_EQ(m.LPtoDPx(0), 0);
        EXPECT_NEAR(m.LPtoDPy(0), c.h - 1, 1);
        // k samples to the right are k * zx / 100 pixels; v counts up are v * zy / 100 pixels.
        for (int k : { 1, 100, 1000, 6799 })
            EXPECT_NEAR(m.LPtoDPx(k) - m.LPtoDPx(0), k * c.zx / 100.0, 1.0);
        for (int v : { 100, 1000, 65535 })
            EXPECT_NEAR(m.LPtoDPy(0) - m.LPtoDPy(v), v * c.zy / 100.0, 1.0);
        // Three equal bands; the logical rectangle the traces see gives the same band.
        EXPECT_EQ(g.nBand, wavegeo::BandHeight(m.DPtoLP({ 0, 0, c.w, c.h })));
        EXPECT_NEAR(m.LPtoDPy(g.nBand), c.h * 2 / 3.0, 2.0);
        EXPECT_NEAR(m.LPtoDPy(2 * g.nBand), c.h / 3.0, 2.0);
    }
}

TEST(WaveGeometry, BaselinesAndTheDisplayedRun)
{
    const int expected[WAVE_CHANNELS] = { 2 * 901, 901, 0, 901, 450 };
    for (int ch = 0; ch < WAVE_CHANNELS; ++ch)
        EXPECT_EQ(wavegeo::ChannelBaseline(ch, 901), expected[ch]) << ch;

    struct Case { int nStart, nCount, nCap, nHead, nTail; };
    const Case cases[] = {
        { 0, 0, 10, 1, 0 },  // empty: only the starting point
        { 0, 7, 10, 7, 0 },  // page
        { 3, 3, 10, 7, 3 },  // full ring, start 3
        { 9, 9, 10, 1, 9 },  // full ring, start at the last index
        { 1, 1, 0, 1, 1 },   // never sized, scrolling: start beyond the capacity
        { 0, WAVE_BUF_LEN, WAVE_BUF_LEN, WAVE_BUF_LEN, 0 },
    };
    for (const Case& c : cases) {
        const wavegeo::DisplayRun run = wavegeo::GetDisplayRun(c.nStart, c.nCount, c.nCap);
        EXPECT_EQ(run.nHead, c.nHead) << c.nStart << "/" << c.nCount << "/" << c.nCap;
        EXPECT_EQ(run.nTail, c.nTail) << c.nStart << "/" << c.nCount << "/" << c.nCap;
    }
}

TEST(WavePaint, EmptyStoreIsTheFieldWithTwoBlackSeparators)
{
    auto chart = MakeChart(890, 507);
    const QImage image = Render(*chart);
    for (int y = 0; y < image.height(); ++y) {
        const bool bSeparator = y == kBaselineRow[0] || y == kBaselineRow[1];
        EXPECT_TRUE(RowIs(image, y, bSeparator ? kBlack : kField)) << "row " << y;
    }
}

TEST(WavePaint, SeparatorsFollowTheYZoom)
{
    auto chart = MakeChart(890, 507);
    chart->m_nZoomY = 200; // logical height 254, B = 84: rows 506 - 2 * 84 * 2 and 506 - 84 * 2
    const QImage image = Render(*chart);
    EXPECT_TRUE(RowIs(image, 170, kBlack));
    EXPECT_TRUE(RowIs(image, 338, kBlack));
    EXPECT_TRUE(RowIs(image, 169, kField));
}

TEST(WavePaint, ValueOf100StandsFifteenPixelsAboveEachBaseline)
{
    for (int ch = 0; ch < WAVE_CHANNELS; ++ch) {
        auto chart = MakeChart(890, 507);
        for (int i = 0; i < chart->m_nCapacity; ++i) {
            int v[WAVE_CHANNELS] = { 0, 0, 0, 0, 0 };
            v[ch] = 100;
            chart->AddSamples(v[0], v[1], v[2], v[3], v[4]);
        }
        const QImage image = Render(*chart);
        const QRgb pen = ch < 3 ? kWhite : kGreen;
        SCOPED_TRACE(testing::Message() << "channel " << ch);
        for (int x : { 0, 300, 888 })
            EXPECT_TRUE(ColumnHasNear(image, x, kBaselineRow[ch] - 15, pen)) << "column " << x;
        // And nothing of it on its own baseline row, except where another trace lies.
        if (ch == 2 || ch == 4) {
            EXPECT_FALSE(ColumnHasNear(image, 300, kBaselineRow[ch], pen, 0));
        }
    }
}

TEST(WavePaint, ZeroLiesOnTheBaselinesAndGreenOverWhite)
{
    auto chart = MakeChart(890, 507);
    for (int i = 0; i < chart->m_nCapacity; ++i)
        chart->AddSamples(0, 0, 0, 0, 0);
    const QImage image = Render(*chart);
    // A full store spans the width; like any line, a polyline leaves out its end point
    // (position 1482 at x = 889).
    EXPECT_TRUE(RowIs(image, kBaselineRow[0], kWhite, 888)); // channel 0 over the upper separator
    EXPECT_TRUE(RowIs(image, kBaselineRow[1], kGreen, 888)); // channel 3 drawn over channel 1
    EXPECT_TRUE(RowIs(image, kBaselineRow[2], kWhite, 888)); // lowest visible row
    EXPECT_TRUE(RowIs(image, kBaselineRow[4], kGreen, 888)); // half a band up
}

TEST(WavePaint, MinusOneIsDrawnAs65535NotBelowTheBaseline)
{
    auto chart = MakeChart(890, 507);
    for (int i = 0; i < chart->m_nCapacity; ++i)
        chart->AddSamples(0, 0, i == 700 ? -1 : 0, 0, 0);
    const QImage image = Render(*chart);
    // The spike at sample 700 (x = 420) climbs out of the top of the control.
    EXPECT_TRUE(ColumnHasNear(image, 420, 0, kWhite, 0));
    EXPECT_TRUE(ColumnHasNear(image, 420, 250, kWhite, 0));
    EXPECT_FALSE(ColumnHasNear(image, 100, 250, kWhite, 0));
}

TEST(WavePaint, WrappedRingIsDrawnOldestFirstAsOneLine)
{
    auto chart = MakeChart(890, 507);
    chart->OnScrolling();
    const int c = chart->m_nCapacity;
    for (int i = 0; i < c + 100; ++i) // the last 100 samples, the newest, are high
        chart->AddSamples(0, 0, i >= c ? 1000 : 0, 0, 0);
    ASSERT_EQ(chart->m_nStart, 100);
    const QImage image = Render(*chart);
    const int yLow = kBaselineRow[2];
    const int yHigh = kBaselineRow[2] - 150;
    // Oldest on the left, low; newest on the right, high: sample position c - 100 is x = 830.
    EXPECT_TRUE(ColumnHasNear(image, 10, yLow, kWhite, 0));
    EXPECT_FALSE(ColumnHasNear(image, 10, yHigh, kWhite, 1));
    EXPECT_TRUE(ColumnHasNear(image, 860, yHigh, kWhite, 1));
    EXPECT_FALSE(ColumnHasNear(image, 860, yLow, kWhite, 0));
    // The step between the two parts is drawn: every row between the levels is crossed there
    // (channel 4's green baseline lies over it on its row).
    for (int y = yHigh + 1; y < yLow; ++y) {
        const QRgb pen = y == kBaselineRow[4] ? kGreen : kWhite;
        bool bCrossed = false;
        for (int x = 826; x <= 833; ++x)
            bCrossed = bCrossed || Pixel(image, x, y) == (pen & 0xFFFFFF);
        EXPECT_TRUE(bCrossed) << "row " << y;
    }
}

TEST(WavePaint, PartialRepaintMatchesTheFullPaintInsideTheStrip)
{
    struct Case { bool bScroll; int nZoomX; int nZoomY; int nExtra; };
    const Case cases[] = {
        { false, 60, 15, 0 }, { false, 10, 15, 0 }, { false, 200, 200, 0 },
        { true, 60, 15, 517 }, { true, 10, 45, 2000 }, { true, 135, 15, 40 },
    };
    for (const Case& c : cases) {
        auto chart = MakeChart(890, 507);
        chart->m_nZoomX = c.nZoomX;
        chart->m_nZoomY = c.nZoomY;
        chart->UpdateCapacity();
        if (c.bScroll)
            chart->OnScrolling();
        for (int i = 0; i < chart->m_nCapacity + c.nExtra; ++i) {
            // A jagged signal, so that the segments crossing the strip edges matter.
            const int v = (i * 7919) % 1500;
            chart->AddSamples(v, 1500 - v, v / 2, v, (i % 3) * 400);
        }
        QImage full(890, 507, QImage::Format_RGB32);
        {
            QPainter dc(&full);
            chart->Paint(dc, full.rect());
        }
        for (int x0 : { -4, 0, 1, 333, 512, 886 }) {
            const QRect strip(x0, 0, 8, 507);
            QImage part(890, 507, QImage::Format_RGB32);
            part.fill(Qt::magenta);
            {
                QPainter dc(&part);
                dc.setClipRect(strip);
                chart->Paint(dc, strip);
            }
            const QRect inside = strip & full.rect();
            int nDiffer = 0;
            for (int y = inside.top(); y <= inside.bottom(); ++y) {
                for (int x = inside.left(); x <= inside.right(); ++x)
                    nDiffer += part.pixel(x, y) != full.pixel(x, y);
            }
            EXPECT_EQ(nDiffer, 0) << "scroll " << c.bScroll << " zoom " << c.nZoomX << "/"
                                  << c.nZoomY << " strip at " << x0;
        }
    }
}

} // namespace
