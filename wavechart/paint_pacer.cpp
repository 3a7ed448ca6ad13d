#include "paint_pacer.h"

QRect CPaintPacer::Request(const QRect& rc, uint64_t qwNow)
{
    if (rc.isEmpty())
        return QRect();
    // A paint asked for and not yet made takes in whatever else comes before it, as the window
    // system merges requests until it paints. Not for longer than a period, though: a paint
    // that never comes (a hidden control) must not switch the pacing off for good.
    const bool bPending = m_bHandedOver && qwNow - m_qwHandedOver < m_nPeriodUs;
    if (m_nPeriodUs == 0 || bPending)
        return rc;
    if (m_rcCollected.isEmpty() && (!m_bPainted || qwNow - m_qwLastPaint >= m_nPeriodUs)) {
        // Quiet for a period or more: at once, so a lone sample shows without delay.
        HandOver(qwNow);
        return rc;
    }
    m_rcCollected |= rc;
    return QRect();
}

QRect CPaintPacer::Flush(uint64_t qwNow)
{
    const QRect rc = m_rcCollected;
    m_rcCollected = QRect();
    if (!rc.isEmpty())
        HandOver(qwNow);
    return rc;
}

void CPaintPacer::HandedOverAll(uint64_t qwNow)
{
    m_rcCollected = QRect();
    HandOver(qwNow);
}

void CPaintPacer::Painted(uint64_t qwNow)
{
    m_bPainted = true;
    m_qwLastPaint = qwNow;
    m_bHandedOver = false;
}

void CPaintPacer::HandOver(uint64_t qwNow)
{
    m_bHandedOver = true;
    m_qwHandedOver = qwNow;
}
