// Scrolling by whole pixels: a full paint of the field costs the five traces across the whole
// width, and in scrolling mode every paint is a full paint. Between two paints the trace only
// moves left; where it moves by a whole number of pixels, the last picture of the field, moved
// by as much, already holds everything but the two ends, and only those are drawn again.
//
// The mapping rounds every position to its pixel, so a move of d samples is a whole number of
// pixels only where d is a multiple of the mapping's period (5 samples, 3 pixels, at 60 %);
// paints come whenever the serial reads leave the ring, so a picture is kept for each position
// of the ring modulo that period (WAVE_FIELD_PICTURES at most) and a paint takes the one of its
// own position.
//
// The pixels are those of a full paint. Each end is drawn with Paint() itself, clipped, so the
// fill, the separators and the traces cross in the same order. What a segment of a one-pixel
// line lights depends on the two or so segments before it (Qt's rasteriser joins them and caps
// the first), so the ends drawn again reach well into what was kept: the first samples and
// PICTURE_MARGIN columns on the left, and at the right everything from PICTURE_MARGIN columns
// before the end of what the picture shared with the new field, drawn from PICTURE_MARGIN
// columns further left still. A picture is only used where the values it was drawn from equal
// the displayed ones at the moved positions, whatever changed the store in between.
#include "wave_chart.h"

#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Columns drawn again beside what a moved picture carries over, and columns of lead-in before
// a drawn end; samples drawn again at the left end besides.
constexpr int PICTURE_MARGIN = 16;
constexpr int PICTURE_LEAD_SAMPLES = 8;

// Columns a picture has beyond the field: the field moves across them by its origin, so that a
// move is no copy at all, and only when it reaches their end does what is kept go back to the
// left edge (one copy every slack / move paints rather than one every paint).
int PictureSlack(int nWidth) { return std::max(nWidth / 2, 64); }

// The image a painter draws on, where a picture can be copied onto it pixel for pixel.
QImage::Format PictureFormat(QPainter& dc)
{
    QPaintEngine* pEngine = dc.paintEngine();
    QPaintDevice* pDevice = pEngine ? pEngine->paintDevice() : nullptr;
    if (!pDevice || pEngine->type() != QPaintEngine::Raster || pDevice->devType() != QInternal::Image)
        return QImage::Format_Invalid;
    const QTransform tx = dc.deviceTransform();
    if (tx.type() > QTransform::TxTranslate || tx.dx() != std::floor(tx.dx())
        || tx.dy() != std::floor(tx.dy()))
        return QImage::Format_Invalid;
    const QImage::Format format = static_cast<QImage*>(pDevice)->format();
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied
        ? format : QImage::Format_Invalid;
}

} // namespace

bool CWaveChart::PaintFromPicture(QPainter& dc, const QRect& rcUpdate)
{
    if (!m_bScroll) {
        m_pictures.clear();
        return false;
    }
    const FieldGeometry geometry{ size(), m_nZoomX, m_nZoomY, m_nWinExtX, m_nWinExtY,
                                  m_bEnvelope, PictureFormat(dc) };
    if (geometry.format == QImage::Format_Invalid || geometry.size.isEmpty())
        return false;
    if (!(geometry == m_fieldGeometry)) {
        m_pictures.clear();
        m_fieldGeometry = geometry;
    }
    const int w = geometry.size.width();
    const int h = geometry.size.height();
    const wavegeo::Mapping map =
        wavegeo::ComputeGrid(m_nWinExtX, m_nWinExtY, m_nZoomX, m_nZoomY, WaveRect{ 0, 0, w, h }).map;
    const int nPeriod = wavegeo::WholePixelPeriod(map);

    // The displayed values, channel after channel, and the number of the first of them.
    const wavegeo::DisplayRun run = wavegeo::GetDisplayRun(m_nStart, m_nCount, m_nCapacity);
    const int n = run.Points();
    m_nValueBuf.resize(size_t(WAVE_CHANNELS) * size_t(n));
    for (int ch = 0; ch < WAVE_CHANNELS; ++ch) {
        uint16_t* pOut = m_nValueBuf.data() + size_t(ch) * size_t(n);
        for (int k = 0; k < n; ++k)
            pOut[k] = m_wData[ch][run.IndexAt(k)];
    }
    const int64_t nFirst = m_nAdded - n;

    // The picture of this position of the ring that moves least; else a new one, or the one
    // used longest ago.
    FieldPicture* pPicture = nullptr;
    for (FieldPicture& pic : m_pictures) {
        const int64_t d = nFirst - pic.nFirst;
        if (d < 0 || d >= pic.nPoints || (d != 0 && (nPeriod == 0 || d % nPeriod != 0)))
            continue;
        if (!pPicture || d < nFirst - pPicture->nFirst)
            pPicture = &pic;
    }
    bool bMove = pPicture != nullptr;
    if (!pPicture) {
        const size_t nMax = nPeriod > 0 ? size_t(std::min(nPeriod, WAVE_FIELD_PICTURES)) : 1;
        if (m_pictures.size() < nMax) {
            m_pictures.emplace_back();
            pPicture = &m_pictures.back();
            pPicture->image = QImage(geometry.size.width() + PictureSlack(geometry.size.width()),
                                     geometry.size.height(), geometry.format);
        } else {
            pPicture = &*std::min_element(m_pictures.begin(), m_pictures.end(),
                [](const FieldPicture& a, const FieldPicture& b) { return a.qwUsed < b.qwUsed; });
        }
    }
    FieldPicture& pic = *pPicture;

    // Columns of the new field that the moved picture carries over: [xKeep, xKeepEnd).
    int xKeep = 0;
    int xKeepEnd = 0;
    int dx = 0;
    if (bMove) {
        const int d = int(nFirst - pic.nFirst);
        const int nCommon = std::min(n, pic.nPoints - d);
        for (int ch = 0; ch < WAVE_CHANNELS && bMove; ++ch) {
            bMove = std::memcmp(m_nValueBuf.data() + size_t(ch) * size_t(n),
                                pic.values.data() + size_t(ch) * size_t(pic.nPoints) + d,
                                size_t(nCommon) * sizeof(uint16_t)) == 0;
        }
        dx = map.LPtoDPx(d) - map.LPtoDPx(0);
        // The first segments are capped and joined as a line's start only now.
        xKeep = d == 0 ? 0 : map.LPtoDPx(PICTURE_LEAD_SAMPLES) + PICTURE_MARGIN;
        // The last segment of either was capped as a line's end.
        xKeepEnd = nCommon == n && pic.nPoints - d == n
                       ? w
                       : map.LPtoDPx(nCommon - 1 - PICTURE_LEAD_SAMPLES) - PICTURE_MARGIN;
        xKeepEnd = std::min(xKeepEnd, w - dx);
        bMove = bMove && xKeepEnd - xKeep > PICTURE_MARGIN;
    }

    if (!bMove) {
        pic.nOrigin = 0;
    } else if (pic.nOrigin + dx + w > pic.image.width()) {
        // Past the slack: what is kept goes back to the left edge in one move.
        const int xFrom = pic.nOrigin + dx;
        const size_t nBytes = size_t(xKeepEnd - xKeep) * 4;
        for (int y = 0; y < h; ++y) {
            uchar* pLine = pic.image.scanLine(y);
            std::memmove(pLine + xKeep * 4, pLine + (xFrom + xKeep) * 4, nBytes);
        }
        pic.nOrigin = 0;
    } else {
        pic.nOrigin += dx;
    }
    QPainter pc(&pic.image);
    pc.translate(pic.nOrigin, 0);
    if (!bMove) {
        Paint(pc, QRect(0, 0, w, h));
    } else {
        ++m_qwMovedPaints;
        if (xKeep > 0) {
            pc.setClipRect(QRect(0, 0, xKeep, h));
            Paint(pc, QRect(0, 0, xKeep + PICTURE_MARGIN, h));
        }
        if (xKeepEnd < w) {
            pc.setClipRect(QRect(xKeepEnd, 0, w - xKeepEnd, h));
            Paint(pc, QRect(xKeepEnd - PICTURE_MARGIN, 0, w - xKeepEnd + PICTURE_MARGIN, h));
        }
    }
    pc.end();
    pic.nFirst = nFirst;
    pic.nPoints = n;
    pic.values.swap(m_nValueBuf);
    pic.qwUsed = ++m_qwPictureUses;

    if (!CopyToTarget(dc, pic, rcUpdate)) {
        const QPainter::CompositionMode modeOld = dc.compositionMode();
        dc.setCompositionMode(QPainter::CompositionMode_Source);
        dc.drawImage(rcUpdate.topLeft(), pic.image, rcUpdate.translated(pic.nOrigin, 0));
        dc.setCompositionMode(modeOld);
    }
    return true;
}

bool CWaveChart::CopyToTarget(QPainter& dc, const FieldPicture& pic, const QRect& rcUpdate)
{
    // The rectangles of the paint's region, line by line: with a region of many rectangles
    // (a scrolling paint asks for the trace rows only) the painter would blend span by span,
    // spread over a pool of threads, which costs more than the copy itself.
    QPaintEngine* pEngine = dc.paintEngine();
    const QRegion clip = pEngine ? pEngine->systemClip() : QRegion();
    if (clip.isEmpty())
        return false;
    auto* pTarget = static_cast<QImage*>(pEngine->paintDevice());
    if (!pTarget->isDetached() || pTarget->format() != pic.image.format())
        return false;
    const int ox = int(dc.deviceTransform().dx());
    const int oy = int(dc.deviceTransform().dy());
    const QRect rcField = rcUpdate.translated(ox, oy) & QRect(ox, oy, width(), height()) & pTarget->rect();
    const int nStride = int(pTarget->bytesPerLine());
    uchar* pBits = pTarget->bits();
    for (const QRect& rc : clip) {
        const QRect r = rc & rcField;
        if (r.isEmpty())
            continue;
        const size_t nBytes = size_t(r.width()) * 4;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            std::memcpy(pBits + ptrdiff_t(y) * nStride + r.left() * 4,
                        pic.image.constScanLine(y - oy) + (r.left() - ox + pic.nOrigin) * 4, nBytes);
        }
    }
    return true;
}
