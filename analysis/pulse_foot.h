#pragma once
// Feet of pulse waves by the intersecting-tangent rule: the tangent at the steepest point of
// each upstroke, followed back to the level the upstroke starts from (where, going back, the
// slope has fallen to a tenth of the steepest). It uses the upstroke's broad features only, so noise moves it little (the curvature
// peak that the second-derivative rule looks for is far more easily pushed about). Slopes come
// from a short moving average whose delay is taken off again, so the feet are where they are in
// the wave itself. Durations are in seconds, for any sample rate.
#include <cstdint>
#include <vector>

#include "dsp.h"

namespace analysis {

struct FootParams {
    double dSmoothS = 0.020;       // moving average ahead of the slope
    double dSlopeS = 0.010;        // the slope is a difference across twice this
    double dPeakHoldS = 0.100;     // a slope peak counts once nothing steeper came for this long
    double dRefractoryS = 0.200;   // no second foot this soon after one
    double dLevelSearchS = 0.300;  // the starting level is looked for this far before the steepest point
    double dOnsetFraction = 0.1;   // the upstroke starts where its slope falls to this fraction
    double dLearnS = 2.0;          // the first seconds set the initial upstroke slope
    double dSilenceS = 3.0;        // without a foot for this long, the expected slope is halved
    double dThreshold = 0.5;       // an upstroke is at least this fraction of the usual steepest slope
    double dMinSnr = 10;           // a valid upstroke rises this many noise deviations
};

class CPulseFootFinder {
public:
    struct Foot {
        double dPos = 0;      // foot, in samples from the first one fed (fractional)
        bool bValid = false;  // the upstroke stands clear of the noise
    };

    explicit CPulseFootFinder(double fs, const FootParams& params = FootParams());

    void Add(double x);
    std::vector<Foot>& Found() { return m_found; }

private:
    void OnSlopePeak(int64_t k, double dSlope);
    double Samples(double s) const { return s * m_dFs; }

    FootParams m_p;
    double m_dFs;
    int m_nSmooth;   // moving-average length, odd
    int m_nHalf;     // slope half-span, samples
    int m_nHold;
    int m_nSearch;

    int64_t m_n = 0;
    double m_dX0 = 0;
    CNoiseLevel m_noise;
    CMovingSum m_box;    // the moving average's window
    CHistory m_smooth;   // moving-average output
    double m_dPrevSlope = 0;

    bool m_bCand = false;
    int64_t m_nCandK = 0;
    double m_dCandSlope = 0;

    bool m_bLearning = true;
    double m_dLearnMax = 0;
    std::vector<std::pair<int64_t, double>> m_learnPeaks;
    double m_dSpk = 0;             // usual steepest slope of an upstroke
    int64_t m_nLastAcceptN = 0;
    bool m_bHaveLast = false;
    double m_dLastPos = 0;
    int64_t m_nLastSteepest = -1;  // smoothed-signal index of the last accepted upstroke

    std::vector<Foot> m_found;
};

} // namespace analysis
