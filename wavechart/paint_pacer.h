#pragma once
// Paces repaint requests to the display's rate. Samples may arrive a thousand times a second,
// one serial event each; painting for every one of them costs far more than any screen shows.
// A request that comes within one period of the last paint is collected; the collected region
// is handed to the window system in one piece when the period is over. Pure logic: times are
// given in microseconds, so tests drive it with any clock.
//
// The collected requests are kept as their bounding rectangle: the strips of consecutive
// samples adjoin, so that is their union, and no allocation is made per request.
#include <QRect>

#include <cstdint>

// One paint per refresh of a 60 Hz display at most.
constexpr uint32_t WAVE_PAINT_PERIOD_US = 16667;

class CPaintPacer {
public:
    // nPeriodUs 0: no pacing, every request is handed over at once.
    explicit CPaintPacer(uint32_t nPeriodUs = 0) : m_nPeriodUs(nPeriodUs) {}

    void SetPeriod(uint32_t nPeriodUs) { m_nPeriodUs = nPeriodUs; }
    uint32_t Period() const { return m_nPeriodUs; }

    // A repaint of rc asked for at qwNow. Returns what to hand to the window system now; an
    // empty rectangle means the request was collected and Flush() is due at DueAt().
    QRect Request(const QRect& rc, uint64_t qwNow);
    // Whether collected requests wait for their period to end.
    bool Waiting() const { return !m_rcCollected.isEmpty(); }
    uint64_t DueAt() const { return m_qwLastPaint + m_nPeriodUs; }
    // The period is over: everything collected, to be handed over now (empty when nothing).
    QRect Flush(uint64_t qwNow);
    // The whole control was handed over at once (a wrap, a mode switch, a zoom or size
    // change); it covers whatever was collected.
    void HandedOverAll(uint64_t qwNow);
    // The control painted at qwNow.
    void Painted(uint64_t qwNow);

private:
    void HandOver(uint64_t qwNow);

    uint32_t m_nPeriodUs = 0;
    bool m_bPainted = false;     // painted at least once
    uint64_t m_qwLastPaint = 0;
    bool m_bHandedOver = false;  // a region was handed over and its paint has not come yet
    uint64_t m_qwHandedOver = 0;
    QRect m_rcCollected;
};
