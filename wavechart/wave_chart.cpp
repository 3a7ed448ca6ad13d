// The waveform control's store and its two display modes.
#include "wave_chart.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QTimerEvent>

#include <algorithm>

#include "platform.h"

CWaveChart::CWaveChart(QWidget* parent)
    : QWidget(parent)
    , m_brField(ColorFromColorref(WAVE_CLR_FIELD))
    , m_penWhite(ColorFromColorref(WAVE_CLR_PULSE), 0)
    , m_penGreen(ColorFromColorref(WAVE_CLR_AUX), 0)
    , m_penSeparator(ColorFromColorref(WAVE_CLR_SEPARATOR), 0)
    , m_ptBuf(WAVE_BUF_LEN)
    , m_nXBuf(WAVE_BUF_LEN)
    , m_nYBuf(WAVE_BUF_LEN)
    , m_nKeepBuf(WAVE_BUF_LEN)
{
    // Every paint covers every pixel, so Qt need not clear anything first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Right-button events come to the control itself and never reach the dialog's own menu.
    setContextMenuPolicy(Qt::PreventContextMenu);
    m_fnShiftDown = [] {
        return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
    };
}

CWaveChart::~CWaveChart()
{
    m_bWindow = false;
}

void CWaveChart::Create(QWidget* pParent, const QRect& rc, int nID)
{
    m_nID = nID;
    setObjectName(QString::number(nID));
    if (pParent != parentWidget())
        setParent(pParent);
    setGeometry(rc);
    // A hidden widget gets its resize event only when shown; deliver it now instead.
    if (testAttribute(Qt::WA_PendingResizeEvent)) {
        QResizeEvent ev(size(), QSize());
        QCoreApplication::sendEvent(this, &ev);
        setAttribute(Qt::WA_PendingResizeEvent, false);
    }
    show();
}

void CWaveChart::AddSamples(int ch0, int ch1, int ch2, int ch3, int ch4)
{
    if (!m_bWindow)
        return;
    ++m_nAdded;
    const int v[WAVE_CHANNELS] = { ch0, ch1, ch2, ch3, ch4 };
    auto store = [&](int i) {
        for (int ch = 0; ch < WAVE_CHANNELS; ++ch)
            m_wData[ch][i] = uint16_t(v[ch]);
    };

    if (m_nCount >= 0 && m_nCount < m_nCapacity) {
        // A full ring: the write overwrites the oldest sample, so the oldest moves on.
        if (m_bScroll && m_nStart == m_nCount && m_nCount != 0) {
            if (++m_nStart >= m_nCapacity)
                m_nStart = 0;
        }
        store(m_nCount);
        ++m_nCount;
    } else {
        // Also the path for a store not yet sized (capacity 0): index 0 is always valid.
        m_nCount = 0;
        store(0);
        m_nCount = 1;
        if (m_bScroll && m_nStart == 0)
            m_nStart = 1;
        RepaintNow();
    }

    if (m_bScroll) {
        RequestRepaint(rect());
    } else {
        const int p = m_nZoomX * m_nCount / m_nWinExtX;
        RequestRepaint(QRect(p - 4, m_rcClient.top, 8, m_rcClient.bottom - m_rcClient.top));
    }
}

void CWaveChart::SetPaintPeriod(uint32_t nPeriodUs)
{
    m_pacer.SetPeriod(nPeriodUs);
    if (nPeriodUs == 0)
        FlushPaintRequests();
}

void CWaveChart::RequestRepaint(const QRect& rc)
{
    const uint64_t qwNow = Platform().GetMicroseconds();
    const QRect rcNow = m_pacer.Request(rc & rect(), qwNow);
    if (!rcNow.isEmpty()) {
        HandOver(rcNow);
        return;
    }
    if (m_pacer.Waiting() && !m_pacingTimer.isActive()) {
        // Never longer than a period, whatever the clock did meanwhile.
        const uint64_t qwWait = std::min<uint64_t>(m_pacer.DueAt() > qwNow ? m_pacer.DueAt() - qwNow : 0,
                                                   m_pacer.Period());
        const int nMs = int((qwWait + 999) / 1000);
        m_pacingTimer.start(nMs, Qt::PreciseTimer, this);
    }
}

void CWaveChart::RepaintNow()
{
    m_pacer.HandedOverAll(Platform().GetMicroseconds());
    m_asked = Asked::All;
    update();
}

void CWaveChart::FlushPaintRequests()
{
    m_pacingTimer.stop();
    const QRect rc = m_pacer.Flush(Platform().GetMicroseconds());
    if (!rc.isEmpty())
        HandOver(rc);
}

void CWaveChart::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == m_pacingTimer.timerId())
        FlushPaintRequests();
    else
        QWidget::timerEvent(e);
}

void CWaveChart::UpdateCapacity()
{
    const int nNew = wavegeo::CapacityForWidth(m_rcClient.right - m_rcClient.left, m_nWinExtX,
                                               m_nZoomX);
    int n = 0;
    if (m_nCount > m_nStart) {
        const int nEnd = std::min(m_nCount, WAVE_BUF_LEN);
        n = std::min(nEnd - m_nStart, nNew);
        if (m_nStart > 0) {
            for (auto& channel : m_wData)
                std::copy(channel + m_nStart, channel + m_nStart + n, channel);
        }
    } else if (m_nCount > 0) {
        // Wrapped ring: the part from the start to the end of the old capacity, then the part
        // from index 0. Rotating [0, start + head) brings both to the front in order, in place.
        const int nHead = std::max(0, std::min({ m_nCapacity - m_nStart, nNew,
                                                 WAVE_BUF_LEN - m_nStart }));
        const int nTail = std::min(m_nCount, nNew - nHead);
        for (auto& channel : m_wData)
            std::rotate(channel, channel + m_nStart, channel + m_nStart + nHead);
        n = nHead + nTail;
    }
    m_nStart = 0;
    m_nCount = n;
    m_nCapacity = nNew;
}

void CWaveChart::OnScrolling()
{
    m_bScroll = 1;
    RepaintNow();
}

void CWaveChart::OnPageFlip()
{
    m_bScroll = 0;
    m_nStart = 0;
    RepaintNow();
}
