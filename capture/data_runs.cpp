#include "data_runs.h"

#include <limits>

namespace capture {

void CRunTracker::OnDataFrame(const uint8_t* /*block*/, bool /*checkOk*/, int64_t timeUs)
{
    Frame(timeUs);
}

void CRunTracker::OnDestroyedFrame(int64_t timeUs)
{
    // A frame lost on the line still took its place in time: without it the runs would seem
    // to hold fewer frames than they did, and the rate would be measured low.
    Frame(timeUs);
}

void CRunTracker::Frame(int64_t timeUs)
{
    if (m_bInRun && timeUs != NO_TIME && m_nLastTimeUs != NO_TIME && timeUs - m_nLastTimeUs > RUN_GAP_US)
        EndRun();
    if (!m_bInRun) {
        m_bInRun = true;
        ++m_nRuns;
        m_qwRunFrames = 0;
        m_qwRunCount = 0;
        m_bPending = false;
        m_dMeanIndex = m_dMeanTime = m_dCoMoment = m_dIndexMoment = 0;
        m_nRunFirstUs = timeUs;
        if (m_pListener)
            m_pListener->OnRunStart(m_nRuns, timeUs);
    }
    ++m_qwFrames;
    ++m_qwRunCount;
    m_nLastTimeUs = timeUs;
    // Frames that came in one read share its time, which is exact only for the last of them
    // (the others arrived earlier): so only the last frame of each read is a point of the fit.
    // A read held up by a busy computer then costs points of the fit, not its accuracy.
    if (m_bPending && timeUs != m_nPendingTimeUs)
        AddPoint();
    if (timeUs != NO_TIME) {
        m_bPending = true;
        m_qwPendingIndex = m_qwRunCount - 1;
        m_nPendingTimeUs = timeUs;
    }
}

void CRunTracker::AddPoint()
{
    m_bPending = false;
    // Welford's update of the means and co-moments of (frame number, time).
    const double x = static_cast<double>(m_qwPendingIndex);
    const double y = static_cast<double>(m_nPendingTimeUs);
    ++m_qwRunFrames;
    const double n = static_cast<double>(m_qwRunFrames);
    const double dx = x - m_dMeanIndex;
    m_dMeanIndex += dx / n;
    m_dMeanTime += (y - m_dMeanTime) / n;
    m_dCoMoment += dx * (y - m_dMeanTime);
    m_dIndexMoment += dx * (x - m_dMeanIndex);
}

void CRunTracker::OnStopAck(int64_t /*timeUs*/)
{
    if (m_bInRun)
        EndRun();
}

void CRunTracker::Finish()
{
    if (m_bInRun)
        EndRun();
}

void CRunTracker::EndRun()
{
    if (m_bPending)
        AddPoint();
    m_bInRun = false;
    m_dSumCoMoment += m_dCoMoment;
    m_dSumIndexMoment += m_dIndexMoment;
    m_fits.push_back(RunFit{m_qwRunFrames, m_dMeanIndex, m_dMeanTime, m_nRunFirstUs});
    if (m_pListener)
        m_pListener->OnRunEnd(m_nRuns, m_nLastTimeUs, m_qwRunCount);
}

double CRunTracker::MeasuredRate() const
{
    double co = m_dSumCoMoment, im = m_dSumIndexMoment;
    if (m_bInRun) {
        co += m_dCoMoment;
        im += m_dIndexMoment;
    }
    if (im <= 0 || co <= 0)
        return 0;
    return 1e6 / (co / im);  // the slope is microseconds per frame
}

std::vector<double> CRunTracker::RunStartsUs(double rate) const
{
    std::vector<double> starts;
    for (const RunFit& fit : m_fits) {
        if (fit.points > 0 && rate > 0)
            starts.push_back(fit.meanTime - fit.meanIndex * 1e6 / rate);
        else if (fit.firstTimeUs != NO_TIME)
            starts.push_back(static_cast<double>(fit.firstTimeUs));
        else
            starts.push_back(std::numeric_limits<double>::quiet_NaN());
    }
    return starts;
}

} // namespace capture
