#include "qrs_detector.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace analysis {

namespace {

constexpr size_t RR_KEPT = 8;
constexpr double RR_LOW = 0.92;    // regular R-R limits around the regular average
constexpr double RR_HIGH = 1.16;
// Even at the fastest heart rates the integrator is at its resting level a tenth of the time.
constexpr double FLOOR_QUANTILE = 0.10;
constexpr double EXTRA_LOOK_BACK_S = 0.10; // band-pass and derivative delays, with room
constexpr double MAINS_PERIOD_S = 0.020;   // 50 Hz; 60 Hz hum is damped to a fifth

double Mean(const std::vector<double>& v)
{
    return v.empty() ? 0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

void PushKept(std::vector<double>& v, double x)
{
    if (v.size() == RR_KEPT)
        v.erase(v.begin());
    v.push_back(x);
}

} // namespace

CQrsDetector::CQrsDetector(double fs, const QrsParams& params)
    : m_p(params), m_dFs(fs > 0 ? fs : 1),
      m_nStep(AtLeastOne(params.dDerivativeS * m_dFs)),
      m_nWindow(AtLeastOne(params.dIntegrationS * m_dFs)),
      m_nHold(AtLeastOne(params.dPeakHoldS * m_dFs)),
      m_nLookBack(m_nWindow + AtLeastOne(EXTRA_LOOK_BACK_S * m_dFs)),
      m_nPeakFit(AtLeastOne(params.dPeakFitS * m_dFs)),
      m_nLag(m_nHold + m_nLookBack + 4 * m_nStep + 2),
      m_lowPass(CBiquad::LowPass(m_dFs, std::min(params.dHighHz, 0.45 * m_dFs))),
      m_highPass(CBiquad::HighPass(m_dFs, params.dLowHz)),
      m_nMains(AtLeastOne(MAINS_PERIOD_S * m_dFs)),
      m_noise(m_dFs),
      m_box(static_cast<size_t>(m_nMains)),
      m_ecg(static_cast<size_t>(m_nHold + m_nLookBack + 4)),
      m_band(static_cast<size_t>(std::max(m_nHold + m_nLookBack + 4, 4 * m_nStep + 1))),
      m_deriv(static_cast<size_t>(m_nHold + m_nWindow + 2)),
      m_squared(static_cast<size_t>(m_nWindow)),
      // Over about two seconds, sampled at most 250 times a second.
      m_floor(FLOOR_QUANTILE, static_cast<size_t>(AtLeastOne(m_dFs / 250)), 500)
{
    m_learnValues.reserve(static_cast<size_t>(Samples(m_p.dLearnS)) / 4 + 1);
}

void CQrsDetector::Add(double x)
{
    if (m_n == 0)
        m_dX0 = x;  // the filters start from rest instead of from a step
    const double xr = x - m_dX0;
    m_noise.Add(xr);
    // The ECG averaged over one mains period, where the R wave is placed: hum cancels out, and
    // the average's delay of (m_nMains - 1) / 2 samples is taken off again.
    m_ecg.Push(m_box.Push(xr) / m_nMains);
    const double f = m_highPass.Step(m_lowPass.Step(xr));
    m_band.Push(f);
    const double d = (2 * f + m_band.Back(m_nStep) - m_band.Back(3 * m_nStep) - 2 * m_band.Back(4 * m_nStep)) / 8;
    m_deriv.Push(d);
    const double mwi = std::max(0.0, m_squared.Push(d * d) / m_nWindow);
    m_floor.Add(mwi);

    if (m_bLearning) {
        m_dLearnMax = std::max(m_dLearnMax, mwi);
        if (m_n % 4 == 0)
            m_learnValues.push_back(mwi);
    }

    // Integrator peaks: the highest value of a rise that nothing exceeded for the hold time.
    if (!m_bCand) {
        if (mwi > m_dPrevMwi) {
            m_bCand = true;
            m_nCandK = m_n;
            m_dCandValue = mwi;
        }
    } else if (mwi > m_dCandValue) {
        m_nCandK = m_n;
        m_dCandValue = mwi;
    } else if (m_n - m_nCandK >= m_nHold) {
        m_bCand = false;
        OnPeak(m_nCandK, m_dCandValue);
    }
    m_dPrevMwi = mwi;

    if (m_bLearning) {
        if (m_n + 1 >= static_cast<int64_t>(Samples(m_p.dLearnS)))
            Learned();
    } else {
        // Search back: the beat is overdue, take the largest peak above the lower threshold.
        if (m_bHaveLast && m_bBackCand && m_dRrAvg2 > 0
            && static_cast<double>(m_n - m_nLag) - m_dLastPos > m_p.dMissedFactor * m_dRrAvg2)
            Accept(m_backCand, true);
        // A level learnt from an artefact would hide every beat after it.
        if (m_n - m_nLastAcceptN > static_cast<int64_t>(Samples(m_p.dSilenceS))) {
            m_dSpk *= 0.5;
            UpdateThresholds();
            m_nLastAcceptN = m_n;
        }
    }
    ++m_n;
}

void CQrsDetector::OnPeak(int64_t k, double dValue)
{
    Peak p;
    p.k = k;
    p.dValue = dValue;
    const int64_t back = m_n - k;  // history index of sample k
    const int64_t first = back + m_nLookBack;
    const int64_t last = back;

    // The R wave: the largest deviation of the ECG from its mean over the QRS region.
    double mean = 0;
    for (int64_t b = last; b <= first; ++b)
        mean += m_ecg.Back(static_cast<size_t>(b));
    mean /= static_cast<double>(first - last + 1);
    int64_t best = last;
    double bestDev = -1;
    for (int64_t b = last; b <= first; ++b) {
        const double dev = std::fabs(m_ecg.Back(static_cast<size_t>(b)) - mean);
        if (dev > bestDev) {
            bestDev = dev;
            best = b;
        }
    }
    p.dHeight = bestDev;
    double pos = static_cast<double>(m_n - best);
    const int fit = std::min<int>(m_nPeakFit, static_cast<int>(std::min(best - last, first - best)));
    if (fit >= 1) {
        // The R wave between samples, from a parabola over its top (sample index grows as the
        // history index falls).
        const double sign = m_ecg.Back(static_cast<size_t>(best)) >= mean ? 1 : -1;
        pos += PeakOffset([&](int u) { return sign * m_ecg.Back(static_cast<size_t>(best - u)); }, fit);
    }
    pos -= (m_nMains - 1) / 2.0;
    p.dPos = pos;
    for (int64_t b = back; b < back + m_nWindow; ++b)
        p.dSlope = std::max(p.dSlope, std::fabs(m_deriv.Back(static_cast<size_t>(b))));

    if (m_bLearning)
        m_learnPeaks.push_back(p);
    else
        Classify(p);
}

void CQrsDetector::Learned()
{
    m_bLearning = false;
    const double median = MedianOf(m_learnValues);
    m_dSpk = 0.5 * m_dLearnMax;
    m_dNpk = std::min(median, 0.5 * m_dSpk);
    UpdateThresholds();
    m_nLastAcceptN = m_n;
    std::vector<Peak> peaks;
    peaks.swap(m_learnPeaks);
    for (const Peak& p : peaks)
        Classify(p);
    m_learnValues.clear();
    m_learnValues.shrink_to_fit();
}

void CQrsDetector::UpdateThresholds()
{
    m_dThr1 = m_dNpk + 0.25 * (m_dSpk - m_dNpk);
    m_dThr2 = 0.5 * m_dThr1;
}

void CQrsDetector::Classify(const Peak& p)
{
    if (m_bHaveLast && p.dPos - m_dLastPos < Samples(m_p.dRefractoryS))
        return;
    const bool bAbove = p.dValue > m_dThr1;
    const bool bTWave = m_bHaveLast && p.dPos - m_dLastPos < Samples(m_p.dTWaveS)
                     && p.dSlope < 0.5 * m_dLastSlope;
    if (bAbove && !bTWave) {
        Accept(p, false);
        return;
    }
    m_dNpk = 0.125 * p.dValue + 0.875 * m_dNpk;
    UpdateThresholds();
    if (!bTWave && p.dValue > m_dThr2 && (!m_bBackCand || p.dValue > m_backCand.dValue)) {
        m_bBackCand = true;
        m_backCand = p;
    }
}

void CQrsDetector::Accept(const Peak& p, bool bSearchBack)
{
    m_dSpk = bSearchBack ? 0.25 * p.dValue + 0.75 * m_dSpk : 0.125 * p.dValue + 0.875 * m_dSpk;
    UpdateThresholds();
    if (m_bHaveLast) {
        const double rr = p.dPos - m_dLastPos;
        PushKept(m_rrAll, rr);
        if (m_rrRegular.empty() || (rr > RR_LOW * m_dRrAvg2 && rr < RR_HIGH * m_dRrAvg2)) {
            PushKept(m_rrRegular, rr);
            m_nIrregular = 0;
        } else if (++m_nIrregular >= static_cast<int>(RR_KEPT)) {
            // The rhythm has changed: start the regular average again from the recent beats.
            m_rrRegular = m_rrAll;
            m_nIrregular = 0;
        }
        m_dRrAvg2 = Mean(m_rrRegular);
    }
    // A heart beat stands clear of the noise in the ECG itself, and of the integrator's resting
    // level: white noise fails the first, mains hum (steady in the integrator) the second.
    const bool bValid = p.dHeight > m_p.dMinSnr * m_noise.Sd() && p.dValue > m_p.dMinPeakToFloor * m_floor.Value();
    m_found.push_back(Beat{p.dPos, bValid});
    m_bHaveLast = true;
    m_dLastPos = p.dPos;
    m_dLastSlope = p.dSlope;
    m_nLastAcceptN = m_n;
    m_bBackCand = false;
}

} // namespace analysis
