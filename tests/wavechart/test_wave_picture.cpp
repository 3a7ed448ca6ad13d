// Scrolling from kept pictures of the field: every paint shows exactly what a full paint of the
// same stored state draws, whatever arrived, changed or was switched in between.
#include <QCoreApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "chart_fixture.h"
#include "pulse_synth.h"

namespace {

TEST(WaveGeometry, WholePixelPeriodIsTheSamplesOfTheSmallestWholePixelMove)
{
    struct Case { int nZoomX, nOrgX, nPeriod; };
    const Case cases[] = {
        { 60, 0, 5 }, { 65, 0, 20 }, { 10, 0, 10 }, { 100, 0, 1 }, { 200, 0, 1 }, { 18, 0, 50 },
        { 60, -3, 5 },  // positions stay on the positive side: rounding the same everywhere
        { 60, 3, 0 },   // position 0 would round from the negative side
        { 0, 0, 0 }, { -60, 0, 0 },
    };
    for (const Case& c : cases) {
        wavegeo::Mapping map;
        map.nWinExtX = 100;
        map.nViewExtX = c.nZoomX;
        map.nOrgX = c.nOrgX;
        EXPECT_EQ(wavegeo::WholePixelPeriod(map), c.nPeriod) << c.nZoomX << " % from " << c.nOrgX;
    }
}

QImage FullPaint(CWaveChart& chart)
{
    QImage image(chart.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter dc(&image);
    chart.Paint(dc, image.rect());
    return image;
}

// Long runs in scrolling mode: samples in reads of 1 to nMaxRead (a paint after each, as the
// paced console paints after a few reads), now and then a paint with nothing new, and the
// things that change the picture otherwise. Signals: the synthetic pulse at several rates,
// noise, and noise with spikes far outside the field (65535, drawn as -1 would be, clipped by
// the rasteriser at the top).
TEST(WavePicture, EveryPaintOfALongRunIsTheFullPaint)
{
    using Act = std::function<void(CWaveChart&)>;
    struct Case {
        const char* name;
        int w, h, nZoomX, nZoomY, nStep, nMaxRead, nPaints;
        std::vector<std::pair<int, Act>> acts;  // before paint number .first
    };
    const Case cases[] = {
        { "console size, default zoom, pulse at the full rate", 890, 507, 60, 15, 1, 40, 700,
          { { 300, [](CWaveChart& c) { c.m_wData[2][(c.m_nStart + 700) % c.m_nCapacity] ^= 0x40; } },
            { 400, [](CWaveChart& c) { c.m_bEnvelope = false; } },
            { 450, [](CWaveChart& c) { c.OnPageFlip(); } },
            { 470, [](CWaveChart& c) { c.OnScrolling(); } },
            { 600, [](CWaveChart& c) { c.resize(700, 400); } } } },
        { "noise, 1 to 5 samples a read", 890, 507, 60, 25, 0, 5, 600, {} },
        { "spikes beyond the top and bottom", 640, 300, 60, 200, -1, 30, 600, {} },
        { "10 samples a column, drawn from the envelope", 890, 507, 10, 45, 4, 300, 250,
          { { 120, [](CWaveChart& c) { c.OnZoomIn(); } } } },
        { "two pixels a sample", 501, 333, 200, 200, -1, 12, 500, {} },
        { "20 positions of the ring, more than the pictures", 890, 507, 65, 15, 16, 40, 600, {} },
        { "one sample a pixel, narrow", 37, 61, 100, 135, 0, 9, 400,
          { { 200, [](CWaveChart& c) { c.m_nZoomX = 35; c.UpdateCapacity(); } } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 rng(7);
        auto chart = MakeChart(c.w, c.h);
        chart->m_nZoomX = c.nZoomX;
        chart->m_nZoomY = c.nZoomY;
        chart->UpdateCapacity();
        chart->OnScrolling();
        int i = 0;
        int nDiffer = 0;
        size_t nAct = 0;
        for (int paint = 0; paint < c.nPaints; ++paint) {
            for (; nAct < c.acts.size() && c.acts[nAct].first == paint; ++nAct)
                c.acts[nAct].second(*chart);
            const int nRead = rng() % 8 == 0 ? 0 : 1 + static_cast<int>(rng() % static_cast<unsigned>(c.nMaxRead));
            for (int j = 0; j < nRead; ++j, ++i) {
                int v[WAVE_CHANNELS];
                SynthPulseSample(i * std::max(c.nStep, 1), v);
                if (c.nStep <= 0) {
                    for (int& x : v)
                        x = static_cast<int>(rng() % 1500);
                }
                if (c.nStep < 0 && rng() % 50 == 0)
                    v[rng() % WAVE_CHANNELS] = rng() % 2 ? 65535 : 40000;
                chart->AddSamples(v[0], v[1], v[2], v[3], v[4]);
            }
            const QImage shown = Render(*chart);
            if (shown != FullPaint(*chart) && ++nDiffer <= 3)
                ADD_FAILURE() << "paint " << paint << " after sample " << i;
        }
        EXPECT_EQ(nDiffer, 0);
        // Most paints moved a picture (not all: the ring fills first, and some positions of the
        // ring come back only after the picture was replaced); on a narrow field the two ends
        // drawn again often leave too little to move.
        EXPECT_GT(chart->MovedPicturePaints(), static_cast<uint64_t>(c.nPaints / (c.w < 100 ? 10 : 4)));
    }
}

} // namespace

namespace {

// What the window system holds of the control: its part of its window's backing store.
QImage Screen(CWaveChart& chart)
{
    const QPoint at = chart.mapTo(chart.window(), QPoint());
    return chart.screen()
        ->grabWindow(chart.window()->winId(), at.x(), at.y(), chart.width(), chart.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Scrolling repaints ask only for the rows the traces cross; what reaches the screen is the full
// paint all the same: with samples arriving between the request and the paint, after paints
// asked for by others, wraps, mode switches, zooms and size changes; as a window of its own and
// inside another one.
TEST(WavePicture, ScrollingAsksForTheTraceRowsAndTheScreenShowsTheFullPaint)
{
    for (const QPoint at : { QPoint(0, 0), QPoint(13, 7) }) {
        SCOPED_TRACE(at.x());
        QWidget window;
        window.resize(920, 530);
        auto chart = at.isNull() ? MakeChart(890, 507) : std::make_unique<CWaveChart>();
        if (!at.isNull()) {
            chart->Create(&window, QRect(at, QSize(890, 507)), IDC_WAVECHART);
            window.show();
        }
        chart->SetPaintPeriod(10000000);  // requests wait for FlushPaintRequests()
        chart->OnScrolling();
        using Act = std::function<void(CWaveChart&)>;
        const std::vector<std::pair<int, Act>> acts = {
            { 150, [](CWaveChart& c) { c.update(QRect(300, 40, 90, 200)); } },
            { 200, [](CWaveChart& c) { c.OnZoomIn(); } },
            { 260, [](CWaveChart& c) { c.OnPageFlip(); } },
            { 270, [](CWaveChart& c) { c.OnScrolling(); } },
            { 330, [](CWaveChart& c) { c.resize(700, 420); } },
        };
        std::mt19937 rng(11);
        int i = 0;
        // Flat traces with a narrow spike now and then: most rows stay unasked, and a spike
        // that moves into a block between request and paint must still be on the screen.
        auto add = [&](int n) {
            for (int j = 0; j < n; ++j, ++i) {
                int v[WAVE_CHANNELS];
                for (int ch = 0; ch < WAVE_CHANNELS; ++ch)
                    v[ch] = 300 + i % 3 + ((i + 71 * ch) % 397 < 3 ? 300 : 0);
                chart->AddSamples(v[0], v[1], v[2], v[3], v[4]);
            }
        };
        int nDiffer = 0;
        size_t nAct = 0;
        for (int step = 0; step < 400; ++step) {
            for (; nAct < acts.size() && acts[nAct].first == step; ++nAct)
                acts[nAct].second(*chart);
            add(1 + static_cast<int>(rng() % 30));
            chart->FlushPaintRequests();
            add(rng() % 3 == 0 ? static_cast<int>(rng() % 60) : 0);
            QCoreApplication::processEvents();
            if (Screen(*chart) != FullPaint(*chart) && ++nDiffer <= 3)
                ADD_FAILURE() << "step " << step << " after sample " << i;
        }
        EXPECT_EQ(nDiffer, 0);
        ASSERT_GT(chart->TraceRequests(), 200u);
        EXPECT_LT(chart->TraceAreaPerMille() / chart->TraceRequests(), 500u);
    }
}

} // namespace
