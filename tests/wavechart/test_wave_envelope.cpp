// The column envelope: which points it keeps, and that the traces drawn from it light exactly
// the pixels of the traces drawn through every sample.
#include <QPainter>

#include <gtest/gtest.h>

#include <random>

#include "chart_fixture.h"
#include "m4_envelope.h"
#include "pulse_synth.h"

namespace {

std::vector<int> Kept(const std::vector<int>& x, const std::vector<int>& y)
{
    std::vector<int> keep(x.size());
    keep.resize(static_cast<size_t>(wavegeo::M4Envelope(x.data(), y.data(), static_cast<int>(x.size()), keep.data())));
    return keep;
}

// Pixels that differ between two images of the same size.
int Differing(const QImage& a, const QImage& b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

QImage Polyline(const std::vector<QPoint>& pts, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter dc(&image);
    dc.setPen(QPen(Qt::white, 0));
    dc.drawPolyline(pts.data(), static_cast<int>(pts.size()));
    return image;
}

} // namespace

TEST(WaveEnvelope, KeepsTheExtremesAndTheMovesAtTheColumnEnds)
{
    const struct {
        const char* name;
        std::vector<int> x, y, keep;
    } cases[] = {
        {"one point a column", {0, 1, 2}, {5, 9, 1}, {0, 1, 2}},
        {"between the first and the last move only the lowest and highest stay",
         {0, 0, 0, 0, 0, 0, 0, 0, 1}, {5, 6, 1, 3, 9, 2, 7, 4, 0}, {0, 1, 2, 4, 6, 7, 8}},
        {"a run of equal points next to a kept move as its first and last",
         {0, 0, 0, 0, 0, 0, 0, 1}, {5, 5, 5, 8, 2, 4, 4, 0}, {0, 2, 3, 4, 5, 6, 7}},
        {"a flat column as its first and last point", {0, 0, 0, 0, 1}, {3, 3, 3, 3, 0}, {0, 3, 4}},
        {"the last column keeps its last two moves",
         {0, 1, 1, 1, 1, 1, 1, 1}, {0, 5, 9, 2, 1, 7, 3, 6}, {0, 1, 2, 4, 5, 6, 7}},
        {"of equal extremes the first", {0, 0, 0, 0, 0, 0, 0, 1}, {4, 6, 2, 8, 2, 8, 5, 0}, {0, 1, 2, 3, 5, 6, 7}},
        {"a column that only rises keeps four", {0, 0, 0, 0, 0, 0, 1}, {9, 8, 6, 5, 3, 2, 0}, {0, 1, 4, 5, 6}},
        {"empty", {}, {}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Kept(c.x, c.y), c.keep) << c.name;
}

// Qt's one-pixel rasteriser on its own: random walks, jumps and flat stretches at 0.3 to 40
// points a column, the envelope against every point.
TEST(WaveEnvelope, SamePixelsAsEveryPointForAnyDensity)
{
    std::mt19937 rng(20);
    const QSize size(300, 200);
    for (double perColumn : {0.3, 1.0, 1.7, 2.0, 3.5, 6.0, 10.0, 40.0}) {
        for (int shape = 0; shape < 4; ++shape) {
            const int n = static_cast<int>(280 * perColumn);
            std::vector<int> x(static_cast<size_t>(n)), y(static_cast<size_t>(n));
            int v = 100;
            for (int i = 0; i < n; ++i) {
                x[static_cast<size_t>(i)] = 5 + static_cast<int>(i / perColumn);
                switch (shape) {
                case 0: v += static_cast<int>(rng() % 9) - 4; break;        // random walk
                case 1: v = 10 + static_cast<int>(rng() % 180); break;      // noise
                case 2: v = (i / 7) % 2 ? 30 : 170; break;                  // square wave
                default: v = i % 50 < 40 ? 100 : 100 + static_cast<int>(rng() % 90) - 45; break;
                }
                v = std::clamp(v, -20, 220);  // some beyond the image
                y[static_cast<size_t>(i)] = v;
            }
            std::vector<QPoint> all, env;
            for (int i = 0; i < n; ++i)
                all.emplace_back(x[static_cast<size_t>(i)], y[static_cast<size_t>(i)]);
            for (int i : Kept(x, y))
                env.push_back(all[static_cast<size_t>(i)]);
            EXPECT_EQ(Differing(Polyline(all, size), Polyline(env, size)), 0)
                << perColumn << " points a column, shape " << shape;
        }
    }
}

// The control in both modes, at the X zooms where it draws from the envelope (5.5 to 10 samples
// a column), with signals of several rates (the synthetic pulse every sample, every 4th and
// every 16th) and noise, after the ring wrapped.
TEST(WaveEnvelope, ControlDrawsTheSamePixelsWithAndWithoutIt)
{
    std::mt19937 rng(5);
    for (bool bScroll : {false, true}) {
        for (int nZoomX : {10, 15, 18}) {
            for (int nStep : {1, 4, 16, 0}) {
                auto chart = MakeChart(890, 507);
                chart->m_nZoomX = nZoomX;
                chart->m_nZoomY = 25;
                chart->UpdateCapacity();
                if (bScroll)
                    chart->OnScrolling();
                const int nSamples = chart->m_nCapacity + chart->m_nCapacity / 3;
                for (int i = 0; i < nSamples; ++i) {
                    int v[5];
                    SynthPulseSample(i * nStep, v);
                    if (nStep == 0)
                        for (int& w : v)
                            w = static_cast<int>(rng() % 1200);
                    chart->AddSamples(v[0], v[1], v[2], v[3], v[4]);
                }
                chart->m_bEnvelope = false;
                const QImage every = Render(*chart);
                chart->m_bEnvelope = true;
                const QImage envelope = Render(*chart);
                EXPECT_EQ(Differing(every, envelope), 0)
                    << (bScroll ? "scrolling" : "page flip") << ", zoom " << nZoomX << ", step " << nStep;
            }
        }
    }
}
