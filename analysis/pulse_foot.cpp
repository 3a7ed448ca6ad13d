#include "pulse_foot.h"

#include <algorithm>
#include <cmath>

namespace analysis {

CPulseFootFinder::CPulseFootFinder(double fs, const FootParams& params)
    : m_p(params), m_dFs(fs > 0 ? fs : 1),
      m_nSmooth(AtLeastOne(params.dSmoothS * m_dFs) | 1),
      m_nHalf(AtLeastOne(params.dSlopeS * m_dFs)),
      m_nHold(AtLeastOne(params.dPeakHoldS * m_dFs)),
      m_nSearch(AtLeastOne(params.dLevelSearchS * m_dFs)),
      m_noise(m_dFs),
      m_box(static_cast<size_t>(m_nSmooth)),
      // Reaches back over the learning time, whose peaks are judged at its end.
      m_smooth(static_cast<size_t>(m_nSearch + m_nHold + 2 * m_nHalf + 2 + Samples(params.dLearnS)))
{
}

void CPulseFootFinder::Add(double x)
{
    if (m_n == 0)
        m_dX0 = x;
    const double xr = x - m_dX0;
    m_noise.Add(xr);

    const double s = m_box.Push(xr) / m_nSmooth;
    m_smooth.Push(s);
    // Slope at smoothed index n - m_nHalf, in counts per sample.
    const double slope = m_n >= 2 * m_nHalf ? (s - m_smooth.Back(static_cast<size_t>(2 * m_nHalf))) / (2 * m_nHalf) : 0;

    if (!m_bCand) {
        if (slope > 0 && slope > m_dPrevSlope) {
            m_bCand = true;
            m_nCandK = m_n;
            m_dCandSlope = slope;
        }
    } else if (slope > m_dCandSlope) {
        m_nCandK = m_n;
        m_dCandSlope = slope;
    } else if (m_n - m_nCandK >= m_nHold) {
        m_bCand = false;
        if (m_bLearning)
            m_learnPeaks.emplace_back(m_nCandK, m_dCandSlope);
        else
            OnSlopePeak(m_nCandK, m_dCandSlope);
    }
    m_dPrevSlope = slope;

    if (m_bLearning) {
        m_dLearnMax = std::max(m_dLearnMax, slope);
        if (m_n + 1 >= static_cast<int64_t>(Samples(m_p.dLearnS))) {
            m_bLearning = false;
            m_dSpk = m_dLearnMax;
            m_nLastAcceptN = m_n;
            // The peaks of the learning time are judged now; the smoothed history reaches back
            // over all of it.
            for (const auto& peak : m_learnPeaks)
                OnSlopePeak(peak.first, peak.second);
            m_learnPeaks.clear();
        }
    } else if (m_n - m_nLastAcceptN > static_cast<int64_t>(Samples(m_p.dSilenceS))) {
        m_dSpk *= 0.5;
        m_nLastAcceptN = m_n;
    }
    ++m_n;
}

void CPulseFootFinder::OnSlopePeak(int64_t k, double dSlope)
{
    if (dSlope <= m_p.dThreshold * m_dSpk)
        return;
    const int64_t steepest = k - m_nHalf;  // smoothed-signal index
    const auto at = [this](int64_t j) { return m_smooth.Back(static_cast<size_t>(m_n - j)); };
    // The level the upstroke starts from: the lowest point between its onset and the steepest
    // point, the onset being where, going back, the slope has fallen to a small fraction of the
    // steepest (or is least, if it never falls that far). On a falling baseline that is the
    // lowest point before the upstroke; on a rising one it is the onset, not some point further
    // back that the rise has left lower.
    int64_t from = std::max<int64_t>(steepest - m_nSearch, m_nLastSteepest + 1);
    from = std::max<int64_t>(from, m_n - static_cast<int64_t>(m_smooth.Size()) + 1 + m_nHalf);
    const auto slopeAt = [&](int64_t j) { return (at(j + m_nHalf) - at(j - m_nHalf)) / (2 * m_nHalf); };
    int64_t onset = steepest;
    double least = dSlope;
    for (int64_t j = steepest - 1; j >= from; --j) {
        const double slope = slopeAt(j);
        if (slope < least) {
            least = slope;
            onset = j;
        }
        if (slope <= m_p.dOnsetFraction * dSlope)
            break;
    }
    double level = at(steepest);
    for (int64_t j = onset; j < steepest; ++j)
        level = std::min(level, at(j));
    // The smoothed value at index j stands for the raw signal half a window earlier.
    const double delay = (m_nSmooth - 1) / 2.0;
    const double foot = static_cast<double>(steepest) - delay - (at(steepest) - level) / dSlope;
    if (m_bHaveLast && foot - m_dLastPos < Samples(m_p.dRefractoryS))
        return;

    // How far the upstroke rises: from its starting level to the highest point since.
    double top = at(steepest);
    for (int64_t j = steepest + 1; j <= m_n; ++j)
        top = std::max(top, at(j));
    m_found.push_back(Foot{foot, top - level > m_p.dMinSnr * m_noise.Sd()});
    m_dSpk = 0.125 * dSlope + 0.875 * m_dSpk;
    m_bHaveLast = true;
    m_dLastPos = foot;
    m_nLastSteepest = steepest;
    m_nLastAcceptN = m_n;
}

} // namespace analysis
