// Scrolling asks only for the rows the traces cross. Between two paints of a full field every
// trace moves left, but the field's background and the two separators stay where they are: the
// pixels that change are those of the traces before and after. So a scrolling repaint asks, in
// each block of TRACE_BLOCK columns, for the rows the traces lit there on the screen and the
// rows they will light, and the window system copies that much of the picture rather than all
// of it (about a quarter of the field for pulse waves at the default zooms).
//
// Samples that arrive before the paint ask again (the pacer hands requests over at once while a
// paint is pending), so the paint finds the state of the last request. Should it find more
// samples all the same, it painted a mixed screen: it asks again at once, from what the screen
// may now show (the rows before and after, together).
#include "wave_chart.h"

#include <QRegion>

#include <algorithm>

namespace {

constexpr int TRACE_BLOCK = 32;  // columns of a block
constexpr int TRACE_MARGIN = 2;  // rows added above and below the points' own
// Rows are asked for in steps of this many, from a multiple of it: the blocks' rows then share
// their edges, and the region stays a few dozen rectangles (each one a copy to the screen).
constexpr int TRACE_STEP = 16;

using Rows = wavegeo::RowSpan;

bool Empty(const Rows& r) { return r.top > r.bottom; }

Rows Hull(const Rows& a, const Rows& b)
{
    if (Empty(a))
        return b;
    if (Empty(b))
        return a;
    return { std::min(a.top, b.top), std::max(a.bottom, b.bottom) };
}

} // namespace

bool CWaveChart::FindTraceRows(std::vector<wavegeo::RowSpan>& rows, QSize& size) const
{
    const int w = width();
    const int h = height();
    if (!m_bScroll || w < 4 * TRACE_BLOCK || h < 1)
        return false;
    const wavegeo::Grid grid =
        wavegeo::ComputeGrid(m_nWinExtX, m_nWinExtY, m_nZoomX, m_nZoomY, WaveRect{ 0, 0, w, h });
    const wavegeo::Mapping& map = grid.map;
    if (map.nViewExtX <= 0 || map.nWinExtX <= 0)
        return false;
    const int nBand = wavegeo::BandHeight(map.DPtoLP(m_rcClient));
    const wavegeo::DisplayRun run = wavegeo::GetDisplayRun(m_nStart, m_nCount, m_nCapacity);
    const int n = run.Points();
    // A full field: new samples come in at the right edge and only move the rest left.
    if (n < 2 || n < m_nCapacity || map.LPtoDPx(n - 1) < w - TRACE_BLOCK)
        return false;

    const int nBlocks = (w + TRACE_BLOCK - 1) / TRACE_BLOCK;
    rows.assign(size_t(nBlocks) * WAVE_CHANNELS, Rows{});
    // The first position at or right of column x: device x never falls as k grows.
    auto firstAt = [&](int x) {
        int k = std::clamp(map.DPtoLPx(x), 0, n);
        while (k > 0 && map.LPtoDPx(k - 1) >= x)
            --k;
        while (k < n && map.LPtoDPx(k) < x)
            ++k;
        return k;
    };
    int kBegin = 0;
    for (int b = 0; b < nBlocks; ++b) {
        const int kEnd = b + 1 < nBlocks ? firstAt((b + 1) * TRACE_BLOCK) : n;
        // With a point on either side: the segments into and out of the block.
        const int k0 = std::max(kBegin - 1, 0);
        const int k1 = std::min(kEnd, n - 1);
        kBegin = kEnd;
        if (k1 < k0)
            continue;
        for (int ch = 0; ch < WAVE_CHANNELS; ++ch) {
            const uint16_t* v = m_wData[ch];
            int vMin = v[run.IndexAt(k0)];
            int vMax = vMin;
            for (int k = k0 + 1; k <= k1; ++k) {
                const int x = v[run.IndexAt(k)];
                vMin = std::min(vMin, x);
                vMax = std::max(vMax, x);
            }
            const int nBase = wavegeo::ChannelBaseline(ch, nBand);
            const int yA = map.LPtoDPy(nBase + vMin);
            const int yB = map.LPtoDPy(nBase + vMax);
            Rows& r = rows[size_t(b) * WAVE_CHANNELS + size_t(ch)];
            r.top = std::max(std::min(yA, yB) - TRACE_MARGIN, 0);
            r.bottom = std::min(std::max(yA, yB) + TRACE_MARGIN, h - 1);
        }
    }
    size = QSize(w, h);
    return true;
}

void CWaveChart::HandOver(const QRect& rc)
{
    QSize size;
    if (rc != rect() || m_asked == Asked::All || m_shownRows.empty()
        || !FindTraceRows(m_rowBuf, size) || size != m_shownSize
        || m_rowBuf.size() != m_shownRows.size() || m_nZoomX != m_shownZoomX
        || m_nZoomY != m_shownZoomY) {
        if (rc == rect())
            m_asked = Asked::All;
        update(rc);
        return;
    }

    // Each block's rows, merged where they overlap or touch.
    const int w = size.width();
    const int h = size.height();
    const int nBlocks = int(m_rowBuf.size()) / WAVE_CHANNELS;
    std::vector<Rows>& spans = m_spanBuf;
    std::vector<int>& first = m_spanFirst;  // block b's spans: [first[b], first[b + 1])
    std::vector<int>& edges = m_edgeBuf;
    spans.clear();
    first.assign(size_t(nBlocks) + 1, 0);
    edges.clear();
    for (int b = 0; b < nBlocks; ++b) {
        first[size_t(b)] = int(spans.size());
        Rows block[WAVE_CHANNELS];
        for (int ch = 0; ch < WAVE_CHANNELS; ++ch) {
            const size_t i = size_t(b) * WAVE_CHANNELS + size_t(ch);
            block[ch] = Hull(m_shownRows[i], m_rowBuf[i]);
        }
        std::sort(block, block + WAVE_CHANNELS,
                  [](const Rows& a, const Rows& c) { return a.top < c.top; });
        for (Rows r : block) {
            if (Empty(r))
                continue;
            r.top -= r.top % TRACE_STEP;
            r.bottom = std::min(r.bottom - r.bottom % TRACE_STEP + TRACE_STEP - 1, h - 1);
            if (int(spans.size()) > first[size_t(b)] && r.top <= spans.back().bottom + 1)
                spans.back().bottom = std::max(spans.back().bottom, r.bottom);
            else
                spans.push_back(r);
        }
        for (int i = first[size_t(b)]; i < int(spans.size()); ++i) {
            edges.push_back(spans[size_t(i)].top);
            edges.push_back(spans[size_t(i)].bottom + 1);
        }
    }
    first[size_t(nBlocks)] = int(spans.size());
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

    // As bands of rows, each a row of rectangles left to right, as QRegion keeps them.
    std::vector<QRect>& rects = m_rectBuf;
    std::vector<int>& next = m_spanNext;  // each block's first span not yet passed
    rects.clear();
    next.assign(first.begin(), first.end() - 1);
    int64_t nArea = 0;
    for (size_t e = 0; e + 1 < edges.size(); ++e) {
        const int y0 = edges[e];
        const int y1 = edges[e + 1];
        int bRun = -1;
        for (int b = 0; b <= nBlocks; ++b) {
            bool bIn = false;
            if (b < nBlocks) {
                int& i = next[size_t(b)];
                while (i < first[size_t(b) + 1] && spans[size_t(i)].bottom < y0)
                    ++i;
                bIn = i < first[size_t(b) + 1] && spans[size_t(i)].top <= y0;
            }
            if (bIn && bRun < 0) {
                bRun = b;
            } else if (!bIn && bRun >= 0) {
                const int x0 = bRun * TRACE_BLOCK;
                const int x1 = std::min(b * TRACE_BLOCK, w);
                rects.emplace_back(x0, y0, x1 - x0, y1 - y0);
                nArea += int64_t(x1 - x0) * (y1 - y0);
                bRun = -1;
            }
        }
    }
    QRegion region;
    region.setRects(rects.data(), int(rects.size()));
    m_asked = Asked::TraceRows;
    m_nAskedAt = m_nAdded;
    ++m_qwTraceRequests;
    m_qwTraceArea += uint64_t(nArea * 1000 / (int64_t(w) * h));
    update(region);
}

void CWaveChart::NoteShown()
{
    const Asked asked = m_asked;
    m_asked = Asked::Nothing;
    if (asked == Asked::TraceRows && m_nAdded == m_nAskedAt && size() == m_shownSize
        && m_nZoomX == m_shownZoomX && m_nZoomY == m_shownZoomY) {
        // The paint showed the state the rows were asked for, and its rows are still at hand.
        m_shownRows.swap(m_rowBuf);
        return;
    }
    QSize size;
    if (!FindTraceRows(m_rowBuf, size)) {
        m_shownRows.clear();
        return;
    }
    const bool bSame = size == m_shownSize && m_rowBuf.size() == m_shownRows.size()
                    && m_nZoomX == m_shownZoomX && m_nZoomY == m_shownZoomY;
    bool bExact = asked == Asked::All;
    if (asked == Asked::TraceRows && bSame) {
        bExact = m_nAdded == m_nAskedAt;
        if (!bExact)
            RequestRepaint(rect());
    }
    if (bExact) {
        m_shownRows.swap(m_rowBuf);
        m_shownSize = size;
        m_shownZoomX = m_nZoomX;
        m_shownZoomY = m_nZoomY;
    } else if (bSame) {
        // Outside what was painted the screen keeps what it showed.
        for (size_t i = 0; i < m_shownRows.size(); ++i)
            m_shownRows[i] = Hull(m_shownRows[i], m_rowBuf[i]);
    } else {
        m_shownRows.clear();
    }
}
