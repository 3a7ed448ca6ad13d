#pragma once
// R waves in an ECG, after Pan and Tompkins (1985): band-pass, five-point derivative, squaring,
// moving-window integration, a signal and a noise level that set the thresholds, a refractory
// period, T waves told apart by their slope, and search-back with the lower threshold when a
// beat is overdue. Every duration is given in seconds, so the detector works at any rate the
// sensor sends.
#include <cstdint>
#include <vector>

#include "dsp.h"

namespace analysis {

struct QrsParams {
    double dLowHz = 5;            // band-pass: the QRS complex's energy, without wander or hum
    double dHighHz = 15;
    double dDerivativeS = 0.005;  // step of the five-point derivative
    double dIntegrationS = 0.150; // moving-window integration: about the widest QRS
    double dPeakHoldS = 0.120;    // an integrator peak counts once nothing higher came for this long
    double dRefractoryS = 0.200;  // no second beat this soon after one
    double dTWaveS = 0.360;       // a peak this soon after a beat may be its T wave
    double dLearnS = 2.0;         // the first seconds set the initial levels
    double dSilenceS = 3.0;       // without a beat for this long, the signal level is halved
    double dMissedFactor = 1.66;  // search back once the beat is this many R-R intervals overdue
    double dPeakFitS = 0.004;     // the R wave's top is fitted over twice this
    double dMinSnr = 6;           // a valid R wave stands this many noise deviations from the mean
    double dMinPeakToFloor = 4;   // and its integrator peak this many times the resting level
};

class CQrsDetector {
public:
    struct Beat {
        double dPos = 0;      // R wave, in samples from the first one fed (fractional)
        bool bValid = false;  // far enough above the noise to be a heart beat
    };

    explicit CQrsDetector(double fs, const QrsParams& params = QrsParams());

    // Feeds the next ECG sample.
    void Add(double x);
    // Beats found so far and not yet taken, in order.
    std::vector<Beat>& Found() { return m_found; }

private:
    struct Peak {
        int64_t k = 0;      // integrator peak, sample index
        double dValue = 0;  // integrator value there
        double dPos = 0;    // R wave it belongs to (fractional sample index)
        double dSlope = 0;  // steepest derivative of its QRS
        double dHeight = 0; // the R wave's deviation from the mean around it
    };

    void OnPeak(int64_t k, double dValue);
    void Classify(const Peak& p);
    void Accept(const Peak& p, bool bSearchBack);
    void UpdateThresholds();
    void Learned();
    double Samples(double s) const { return s * m_dFs; }

    QrsParams m_p;
    double m_dFs;
    int m_nStep;        // derivative step, samples
    int m_nWindow;      // integration window, samples
    int m_nHold;        // peak hold, samples
    int m_nLookBack;    // how far before an integrator peak its R wave may lie, samples
    int m_nPeakFit;     // half-width of the parabola fitted to an R wave, samples
    int64_t m_nLag;     // from an R wave until its peak is surely classified, samples

    int64_t m_n = 0;
    double m_dX0 = 0;
    CBiquad m_lowPass;
    CBiquad m_highPass;
    int m_nMains;       // samples in one mains period
    CNoiseLevel m_noise;  // in the ECG itself
    CMovingSum m_box;   // the mains-period average's window
    CHistory m_ecg;     // the ECG averaged over a mains period
    CHistory m_band;
    CHistory m_deriv;
    CMovingSum m_squared;  // the squared derivative over the integration window
    double m_dPrevMwi = 0;
    CRunningQuantile m_floor;   // resting level of the integrator

    bool m_bCand = false;
    int64_t m_nCandK = 0;
    double m_dCandValue = 0;

    // Learning phase
    bool m_bLearning = true;
    double m_dLearnMax = 0;
    std::vector<double> m_learnValues;
    std::vector<Peak> m_learnPeaks;

    double m_dSpk = 0;  // running signal peak level
    double m_dNpk = 0;  // running noise peak level
    double m_dThr1 = 0;
    double m_dThr2 = 0;

    bool m_bHaveLast = false;
    double m_dLastPos = 0;
    double m_dLastSlope = 0;
    int64_t m_nLastAcceptN = 0;   // when the last beat was accepted (for the silence rule)
    std::vector<double> m_rrAll;      // last 8 R-R intervals, samples
    std::vector<double> m_rrRegular;  // last 8 within the regular limits
    double m_dRrAvg2 = 0;
    int m_nIrregular = 0;

    bool m_bBackCand = false;     // largest noise peak since the last beat above the lower threshold
    Peak m_backCand;

    std::vector<Beat> m_found;
};

} // namespace analysis
