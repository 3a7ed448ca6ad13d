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

// Qt's one-pixel rasteriser on its own, where its corners are: many short traces of a few
// columns with 1 to 20 points each, heights from a small range (so that points meet, repeat
// and turn back by one pixel) and some outside the image, columns now and then skipped.
TEST(WaveEnvelope, SamePixelsAsEveryPointOnShortTraces)
{
    std::mt19937 rng(20);
    int nDiffer = 0;
    for (int trace = 0; trace < 20000; ++trace) {
        const int h = 4 + static_cast<int>(rng() % 30);
        std::vector<int> x, y;
        int col = 1;
        int v = static_cast<int>(rng()) % h;
        for (int c = 2 + static_cast<int>(rng() % 4); c > 0; --c) {
            for (int i = 1 + static_cast<int>(rng() % 20); i > 0; --i) {
                const unsigned m = rng() % 10;
                v = m < 3 ? v + static_cast<int>(rng() % 3) - 1
                  : m < 8 ? static_cast<int>(rng() % static_cast<unsigned>(h))
                          : static_cast<int>(rng() % static_cast<unsigned>(2 * h)) - h / 2;
                x.push_back(col);
                y.push_back(v);
            }
            col += rng() % 5 ? 1 : 2 + static_cast<int>(rng() % 3);
        }
        std::vector<QPoint> all, env;
        for (size_t i = 0; i < x.size(); ++i)
            all.emplace_back(x[i], y[i]);
        for (int i : Kept(x, y))
            env.push_back(all[static_cast<size_t>(i)]);
        const QSize size(col + 2, h);
        if (Differing(Polyline(all, size), Polyline(env, size)) != 0 && ++nDiffer <= 3) {
            std::string text;
            for (const QPoint& p : all)
                text += " (" + std::to_string(p.x()) + "," + std::to_string(p.y()) + ")";
            ADD_FAILURE() << "trace " << trace << " in " << size.width() << " x " << h << ":" << text;
        }
    }
    EXPECT_EQ(nDiffer, 0);
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
