// Plotting: the dark-blue field, the two band separators and the five traces, all through one
// anisotropic mapping whose viewport extents are the zoom factors.
#include "wave_chart.h"

#include <QBackingStore>
#include <QPainter>

#include "m4_envelope.h"
#include "platform.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

namespace wavegeo {

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const int64_t p = int64_t(a) * b;
    const int64_t ap = p < 0 ? -p : p;
    const int64_t ac = c < 0 ? -int64_t(c) : int64_t(c);
    const int64_t q = (ap + ac / 2) / ac;
    return int((p < 0) != (c < 0) ? -q : q);
}

Grid ComputeGrid(int nWinExtX, int nWinExtY, int nZoomX, int nZoomY, const WaveRect& rcClient)
{
    Grid g;
    g.map.nWinExtX = nWinExtX;
    g.map.nWinExtY = nWinExtY;
    g.map.nViewExtX = nZoomX;
    g.map.nViewExtY = nZoomY;
    g.rcLogical = g.map.DPtoLP(rcClient);
    // Height of one device pixel in logical units, from the magnitudes of the extents.
    const int nPixelY = MulDiv(1, std::abs(nWinExtY), std::abs(nZoomY));
    g.map.nOrgX = g.rcLogical.left;
    g.map.nOrgY = -(g.rcLogical.bottom + nPixelY);
    g.nBand = (g.rcLogical.top - g.rcLogical.bottom) / 3;
    return g;
}

int ChannelBaseline(int nChannel, int nBand)
{
    switch (nChannel) {
    case 0: return 2 * nBand;
    case 1: return nBand;
    case 2: return 0;
    case 3: return nBand;
    default: return nBand / 2;
    }
}

int CapacityForWidth(int nWidth, int nWinExtX, int nZoomX)
{
    const int c = nZoomX != 0 ? int(int64_t(nWidth) * nWinExtX / nZoomX) : 0;
    return (c > WAVE_BUF_LEN || c < 1) ? WAVE_BUF_LEN : c;
}

DisplayRun GetDisplayRun(int nStart, int nCount, int nCapacity)
{
    DisplayRun run;
    run.nStart = nStart;
    if (nCount > nStart) {
        run.nHead = std::max(1, std::min(nCount - nStart, WAVE_BUF_LEN - nStart));
    } else if (nCount > 0) {
        // Wrapped ring: the point at nStart is always the first, even with no head after it.
        run.nHead = std::max(1, std::min(nCapacity - nStart, WAVE_BUF_LEN - nStart));
        run.nTail = std::min(nCount, WAVE_BUF_LEN);
    }
    return run;
}

int WholePixelPeriod(const Mapping& map)
{
    if (map.nOrgX > 0 || map.nViewExtX <= 0 || map.nWinExtX <= 0)
        return 0;
    return map.nWinExtX / std::gcd(map.nViewExtX, map.nWinExtX);
}

} // namespace wavegeo

namespace {

QRect ToQRect(const WaveRect& rc)
{
    return QRect(QPoint(rc.left, rc.top), QPoint(rc.right - 1, rc.bottom - 1));
}

} // namespace

void CWaveChart::OnPaint(const QRect& rcUpdate)
{
    m_pacer.Painted(Platform().GetMicroseconds());
    QPainter dc(this);
    if (!PaintFromPicture(dc, rcUpdate))
        Paint(dc, rcUpdate);
    // Only a paint into the window's backing store changes what the screen shows (render()
    // onto another device does not).
    QBackingStore* pStore = backingStore();
    if (pStore && redirected(nullptr) == pStore->paintDevice())
        NoteShown();
}

void CWaveChart::Paint(QPainter& dc, const QRect& rcUpdate)
{
    dc.fillRect(ToQRect(m_rcClient), m_brField);
    DrawGrid(&dc);
    const WaveRect rcLogical = m_grid.map.DPtoLP(m_rcClient);
    const QPen penOld = dc.pen();
    dc.setPen(m_penWhite);
    DrawTraces(dc, rcLogical, rcUpdate);
    dc.setPen(penOld);
}

void CWaveChart::DrawGrid(QPainter* pDC)
{
    if (!pDC)
        return;
    m_grid = wavegeo::ComputeGrid(m_nWinExtX, m_nWinExtY, m_nZoomX, m_nZoomY,
                                  WaveRect{ 0, 0, width(), height() });
    const wavegeo::Mapping& map = m_grid.map;
    const int a = m_grid.nBand;
    const int nRight = map.LPtoDPx(m_grid.rcLogical.right);
    const int x0 = map.LPtoDPx(0);
    const QPen penOld = pDC->pen();
    pDC->setPen(m_penSeparator);
    pDC->drawLine(x0, map.LPtoDPy(2 * a), nRight, map.LPtoDPy(2 * a));
    pDC->drawLine(x0, map.LPtoDPy(a), nRight, map.LPtoDPy(a));
    pDC->setPen(penOld);
}

void CWaveChart::DrawTraces(QPainter& dc, const WaveRect& rcLogical, const QRect& rcUpdate)
{
    const wavegeo::Mapping& map = m_grid.map;
    const int nBand = wavegeo::BandHeight(rcLogical);
    const wavegeo::DisplayRun run = wavegeo::GetDisplayRun(m_nStart, m_nCount, m_nCapacity);
    const int nPoints = run.Points();
    if (nPoints < 2)
        return;

    // Only the positions whose segments can reach the update rectangle: device x never falls
    // as k grows, so the ends are chosen at least one pixel outside it on either side.
    int kLo = 0;
    int kHi = nPoints - 1;
    if (map.nViewExtX > 0 && map.nWinExtX > 0) {
        kLo = std::max(kLo, map.DPtoLPx(rcUpdate.left() - 2) - 1);
        kHi = std::min(kHi, map.DPtoLPx(rcUpdate.right() + 2) + 1);
    }
    if (kHi - kLo < 1)
        return;
    const int n = kHi - kLo + 1;
    int* px = m_nXBuf.data();
    for (int k = kLo; k <= kHi; ++k)
        px[k - kLo] = map.LPtoDPx(k);

    // Where many samples share a pixel column, each trace is drawn from its column envelope,
    // which lights the same pixels with fewer points.
    const bool bEnvelope = m_bEnvelope && n >= ENVELOPE_MIN_PER_COLUMN * (px[n - 1] - px[0] + 1);
    const QPen penEntry = dc.pen();
    const int kSplit = std::clamp(run.nHead, kLo, kHi + 1); // first position read from index 0
    for (int ch = 0; ch < WAVE_CHANNELS; ++ch) {
        if (ch == 3)
            dc.setPen(m_penGreen);
        const int b = wavegeo::ChannelBaseline(ch, nBand);
        const uint16_t* v = m_wData[ch];
        int* py = m_nYBuf.data();
        for (int k = kLo; k < kSplit; ++k)
            py[k - kLo] = map.LPtoDPy(b + v[run.nStart + k]);
        for (int k = kSplit; k <= kHi; ++k)
            py[k - kLo] = map.LPtoDPy(b + v[k - run.nHead]);
        QPoint* pt = m_ptBuf.data();
        int nDraw = n;
        if (bEnvelope) {
            int* keep = m_nKeepBuf.data();
            nDraw = wavegeo::M4Envelope(px, py, n, keep);
            for (int i = 0; i < nDraw; ++i)
                pt[i] = QPoint(px[keep[i]], py[keep[i]]);
        } else {
            for (int i = 0; i < n; ++i)
                pt[i] = QPoint(px[i], py[i]);
        }
        dc.drawPolyline(pt, nDraw);
    }
    dc.setPen(penEntry);
}
