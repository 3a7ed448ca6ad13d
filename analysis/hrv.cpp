#include "hrv.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "dsp.h"

namespace analysis {

namespace {

constexpr double PI = 3.14159265358979323846;
// HF below this (a thousandth of a square millisecond, far under any measured HF) leaves LF/HF
// unknown: the ratio of two rounding errors would be a number of any size.
constexpr double HRV_MIN_HF_MS2 = 1e-3;

struct Candidate {
    double tS = 0;
    double s = 0;
    size_t nStartBeat = 0;
    bool bRejected = false;
};

// Natural cubic spline through (x[i], y[i]), x strictly rising, at least two points.
class CSpline {
public:
    CSpline(std::vector<double> x, std::vector<double> y) : m_x(std::move(x)), m_y(std::move(y)), m_m(m_x.size(), 0.0)
    {
        // Second derivatives from the tridiagonal system (Thomas algorithm), zero at both ends.
        const size_t n = m_x.size();
        if (n < 3)
            return;
        std::vector<double> c(n, 0.0), d(n, 0.0);
        for (size_t i = 1; i + 1 < n; ++i) {
            const double h0 = m_x[i] - m_x[i - 1];
            const double h1 = m_x[i + 1] - m_x[i];
            const double rhs = 6 * ((m_y[i + 1] - m_y[i]) / h1 - (m_y[i] - m_y[i - 1]) / h0);
            const double diag = 2 * (h0 + h1) - h0 * c[i - 1];
            c[i] = h1 / diag;
            d[i] = (rhs - h0 * d[i - 1]) / diag;
        }
        for (size_t i = n - 2; i >= 1; --i)
            m_m[i] = d[i] - c[i] * m_m[i + 1];
    }

    // Value at t, for t within the points; k is a hint, advanced as t rises.
    double At(double t, size_t& k) const
    {
        while (k + 2 < m_x.size() && t > m_x[k + 1])
            ++k;
        const double h = m_x[k + 1] - m_x[k];
        const double a = (m_x[k + 1] - t) / h;
        const double b = (t - m_x[k]) / h;
        return a * m_y[k] + b * m_y[k + 1] + ((a * a * a - a) * m_m[k] + (b * b * b - b) * m_m[k + 1]) * h * h / 6;
    }

private:
    std::vector<double> m_x, m_y, m_m;
};

// One-sided power spectral density (ms^2/Hz) of the evenly sampled series by Welch's method,
// bins 0 .. nBins-1 at k * fs / L; returns L.
size_t WelchPsd(const std::vector<double>& x, double fs, double dMaxBinHz, std::vector<double>& psd)
{
    const size_t n = x.size();
    const size_t nMaxSeg = static_cast<size_t>(HRV_MAX_SEGMENT_S * fs);
    // Segments overlapping by half that cover the whole series, as few as keep each short enough.
    size_t nSegments = 1;
    size_t len = n;
    while (len > nMaxSeg) {
        ++nSegments;
        len = 2 * n / (nSegments + 1);
    }
    const size_t step = nSegments > 1 ? len / 2 : 0;
    const size_t nBins = std::min(len / 2, static_cast<size_t>(dMaxBinHz * static_cast<double>(len) / fs) + 2);
    psd.assign(nBins, 0.0);

    std::vector<double> window(len), seg(len);
    double u = 0;
    for (size_t i = 0; i < len; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2 * PI * static_cast<double>(i) / static_cast<double>(len - 1));
        u += window[i] * window[i];
    }
    std::vector<std::complex<double>> twiddle(len);
    for (size_t i = 0; i < len; ++i)
        twiddle[i] = std::polar(1.0, -2 * PI * static_cast<double>(i) / static_cast<double>(len));

    for (size_t s = 0; s < nSegments; ++s) {
        const double* p = x.data() + s * step;
        // Linear detrend: the least-squares line through the segment taken off.
        const double mid = (static_cast<double>(len) - 1) / 2;
        double sy = 0, sxy = 0, sxx = 0;
        for (size_t i = 0; i < len; ++i) {
            const double dx = static_cast<double>(i) - mid;
            sy += p[i];
            sxy += dx * p[i];
            sxx += dx * dx;
        }
        const double mean = sy / static_cast<double>(len);
        const double slope = sxx > 0 ? sxy / sxx : 0;
        for (size_t i = 0; i < len; ++i)
            seg[i] = (p[i] - mean - slope * (static_cast<double>(i) - mid)) * window[i];
        // Only the bins up to the highest band edge are needed: a plain DFT of those.
        for (size_t k = 1; k < nBins; ++k) {
            std::complex<double> sum = 0;
            size_t idx = 0;
            for (size_t i = 0; i < len; ++i) {
                sum += seg[i] * twiddle[idx];
                idx += k;
                if (idx >= len)
                    idx -= len;
            }
            psd[k] += 2 * std::norm(sum) / (fs * u) / static_cast<double>(nSegments);
        }
    }
    return len;
}

} // namespace

std::vector<NnInterval> NnIntervals(const std::vector<BeatTime>& beats)
{
    // Intervals between two valid R waves next to each other in one data run.
    std::vector<Candidate> cands;
    for (size_t i = 1; i < beats.size(); ++i) {
        const BeatTime& a = beats[i - 1];
        const BeatTime& b = beats[i];
        // A beat of a run that never got a clock has no finite time: no interval either.
        if (!a.valid || !b.valid || a.run != b.run || !std::isfinite(b.tS - a.tS))
            continue;
        Candidate c;
        c.tS = b.tS;
        c.s = b.tS - a.tS;
        c.nStartBeat = i - 1;
        c.bRejected = c.s < HRV_MIN_INTERVAL_S || c.s > HRV_MAX_INTERVAL_S;
        cands.push_back(c);
    }
    const size_t n = cands.size();
    std::vector<double> window;
    for (size_t i = 0; i < n; ++i) {
        const size_t lo = i >= static_cast<size_t>(HRV_MEDIAN_SPAN) ? i - HRV_MEDIAN_SPAN : 0;
        const size_t hi = std::min(n, i + HRV_MEDIAN_SPAN + 1);
        window.clear();
        for (size_t j = lo; j < hi; ++j)
            window.push_back(cands[j].s);
        const double median = MedianOf(window);
        if (std::fabs(cands[i].s - median) > HRV_MAX_DEVIATION * median)
            cands[i].bRejected = true;
    }
    auto sharesBeat = [&](size_t before, size_t after) {
        return cands[after].nStartBeat == cands[before].nStartBeat + 1;
    };
    std::vector<NnInterval> nn;
    size_t nLastEndBeat = 0;
    bool bHaveLast = false;
    for (size_t i = 0; i < n; ++i) {
        if (cands[i].bRejected || (i > 0 && sharesBeat(i - 1, i) && cands[i - 1].bRejected)
            || (i + 1 < n && sharesBeat(i, i + 1) && cands[i + 1].bRejected))
            continue;
        NnInterval v;
        v.tS = cands[i].tS;
        v.ms = cands[i].s * 1000;
        v.bFollows = bHaveLast && nLastEndBeat == cands[i].nStartBeat;
        nn.push_back(v);
        nLastEndBeat = cands[i].nStartBeat + 1;
        bHaveLast = true;
    }
    return nn;
}

std::optional<BandPowers> BandPowersOf(const std::vector<NnInterval>& nn)
{
    // The longest stretch in which no NN interval is further than HRV_MAX_BRIDGE_S from the last.
    size_t nBestFirst = 0, nBestEnd = 0, nFirst = 0;
    double dBestSpan = 0;
    for (size_t i = 0; i <= nn.size(); ++i) {
        if (i < nn.size() && (i == nFirst || nn[i].tS - nn[i - 1].tS <= HRV_MAX_BRIDGE_S))
            continue;
        if (i > nFirst) {
            const double span = nn[i - 1].tS - (nn[nFirst].tS - nn[nFirst].ms / 1000);
            if (span > dBestSpan) {
                dBestSpan = span;
                nBestFirst = nFirst;
                nBestEnd = i;
            }
        }
        nFirst = i;
    }
    if (dBestSpan < HRV_SPECTRAL_MIN_S)
        return std::nullopt;

    std::vector<double> t, y;
    for (size_t i = nBestFirst; i < nBestEnd; ++i) {
        t.push_back(nn[i].tS);
        y.push_back(nn[i].ms);
    }
    const CSpline spline(t, y);
    std::vector<double> even;
    size_t k = 0;
    for (double s = t.front(); s <= t.back(); s = t.front() + static_cast<double>(even.size()) / HRV_RESAMPLE_HZ)
        even.push_back(spline.At(s, k));

    std::vector<double> psd;
    const size_t len = WelchPsd(even, HRV_RESAMPLE_HZ, HRV_HF_HIGH_HZ, psd);
    const double df = HRV_RESAMPLE_HZ / static_cast<double>(len);
    BandPowers bp;
    bp.spanS = dBestSpan;
    for (size_t b = 1; b < psd.size(); ++b) {
        const double f = static_cast<double>(b) * df;
        if (f >= HRV_LF_LOW_HZ && f < HRV_LF_HIGH_HZ)
            bp.lfMs2 += psd[b] * df;
        else if (f >= HRV_LF_HIGH_HZ && f < HRV_HF_HIGH_HZ)
            bp.hfMs2 += psd[b] * df;
    }
    return bp;
}

HrvFigures HrvOf(const std::vector<NnInterval>& nn)
{
    HrvFigures fig;
    fig.nnCount = nn.size();
    double sum = 0;
    for (const NnInterval& v : nn)
        sum += v.ms;
    fig.nnTotalS = sum / 1000;
    if (fig.nnTotalS >= HRV_TIME_DOMAIN_MIN_S && nn.size() >= 2) {
        const double mean = sum / static_cast<double>(nn.size());
        double var = 0;
        for (const NnInterval& v : nn)
            var += (v.ms - mean) * (v.ms - mean);
        fig.sdnnMs = std::sqrt(var / static_cast<double>(nn.size() - 1));
        // Successive differences only between intervals that share a beat.
        size_t nPairs = 0, nOver = 0;
        double sumSq = 0;
        for (size_t i = 1; i < nn.size(); ++i) {
            if (!nn[i].bFollows)
                continue;
            const double d = nn[i].ms - nn[i - 1].ms;
            ++nPairs;
            sumSq += d * d;
            nOver += std::fabs(d) > HRV_NN50_MS ? 1 : 0;
        }
        if (nPairs > 0) {
            fig.rmssdMs = std::sqrt(sumSq / static_cast<double>(nPairs));
            fig.pnn50Pct = 100.0 * static_cast<double>(nOver) / static_cast<double>(nPairs);
        }
    }
    if (const std::optional<BandPowers> bp = BandPowersOf(nn)) {
        fig.lfMs2 = bp->lfMs2;
        fig.hfMs2 = bp->hfMs2;
        if (bp->hfMs2 >= HRV_MIN_HF_MS2)
            fig.lfHf = bp->lfMs2 / bp->hfMs2;
    }
    return fig;
}

} // namespace analysis
