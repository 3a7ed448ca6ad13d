#pragma once
// Small signal-processing pieces shared by the detectors: a second-order IIR section, a ring
// of recent values and their running sum, a median, and a noise level. Plain C++, no allocation
// per sample.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace analysis {

// A count of samples from a duration, never zero.
inline int AtLeastOne(double v) { return std::max(1, static_cast<int>(std::lround(v))); }

// Second-order section, direct form II transposed. The designs are Butterworth (Q = 1/sqrt 2)
// by the bilinear transform, so the corner frequency is exact at any sample rate.
class CBiquad {
public:
    static CBiquad LowPass(double fs, double fc);
    static CBiquad HighPass(double fs, double fc);

    double Step(double x)
    {
        const double y = m_b0 * x + m_z1;
        m_z1 = m_b1 * x - m_a1 * y + m_z2;
        m_z2 = m_b2 * x - m_a2 * y;
        return y;
    }

private:
    double m_b0 = 1, m_b1 = 0, m_b2 = 0, m_a1 = 0, m_a2 = 0;
    double m_z1 = 0, m_z2 = 0;
};

// The last n values pushed; Back(0) is the newest. Reading further back than n gives the oldest
// value kept, and before anything was pushed, 0.
class CHistory {
public:
    explicit CHistory(size_t n = 1) : m_values(n ? n : 1, 0.0) {}
    void Push(double v)
    {
        m_nHead = m_nHead + 1 == m_values.size() ? 0 : m_nHead + 1;
        m_values[m_nHead] = v;
    }
    double Back(size_t k) const
    {
        if (k >= m_values.size())
            k = m_values.size() - 1;
        return m_values[m_nHead >= k ? m_nHead - k : m_nHead + m_values.size() - k];
    }
    size_t Size() const { return m_values.size(); }

private:
    std::vector<double> m_values;
    size_t m_nHead = 0;
};

// Sum of the last n values pushed: the newest added and the oldest taken off, and the whole
// window summed afresh every n pushes so rounding never accumulates.
class CMovingSum {
public:
    explicit CMovingSum(size_t n = 1) : m_window(n) {}
    // Returns the sum including v.
    double Push(double v)
    {
        m_dSum += v - m_window.Back(m_window.Size() - 1);
        m_window.Push(v);
        if (m_nPushed++ % m_window.Size() == 0) {
            m_dSum = 0;
            for (size_t k = 0; k < m_window.Size(); ++k)
                m_dSum += m_window.Back(k);
        }
        return m_dSum;
    }

private:
    CHistory m_window;
    double m_dSum = 0;
    size_t m_nPushed = 0;
};

// Where the top of a peak lies between samples: a parabola fitted by least squares to y(u) for
// u = -m..m around the highest sample (u = 0), and its vertex returned as an offset within
// [-m, m]; 0 when the values do not bend down.
template <class F>
double PeakOffset(F y, int m)
{
    if (m < 1)
        return 0;
    double su2 = 0, su4 = 0, sy = 0, suy = 0, su2y = 0;
    for (int u = -m; u <= m; ++u) {
        const double v = y(u);
        const double uu = static_cast<double>(u) * u;
        su2 += uu;
        su4 += uu * uu;
        sy += v;
        suy += u * v;
        su2y += uu * v;
    }
    const double n = 2.0 * m + 1;
    const double b = suy / su2;
    const double c = (su2y - su2 * sy / n) / (su4 - su2 * su2 / n);
    if (!(c < 0))
        return 0;
    const double offset = -b / (2 * c);
    return offset < -m ? -m : (offset > m ? m : offset);
}

// Savitzky-Golay weights over 2 * half + 1 samples: the value (deriv 0) or a derivative (deriv 1
// or 2, per sample^deriv) at the centre of the least-squares polynomial of the given order.
std::vector<double> SavitzkyGolayWeights(int half, int order, int deriv);

// Median of the values (reorders them); 0 for none.
double MedianOf(std::vector<double>& values);

// Quantile q (0..1) of the values, nearest rank (reorders them); 0 for none.
double QuantileOf(std::vector<double>& values, double q);

// A robust running estimate of a level: every `every`-th value is kept, up to `keep` of them,
// and quantile q of those kept is recomputed each time `keep / 4` new ones have come in.
class CRunningQuantile {
public:
    CRunningQuantile(double q, size_t every = 1, size_t keep = 256);
    void Add(double v);
    // 0 until the first estimate.
    double Value() const { return m_dValue; }

private:
    double m_dQ;
    size_t m_nEvery;
    size_t m_nSkip = 0;
    size_t m_nFresh = 0;
    CHistory m_kept;
    size_t m_nKept = 0;
    std::vector<double> m_scratch;
    double m_dValue = 0;
    bool m_bHave = false;
};

// The deviation of white noise on a signal, from the running median of its absolute second
// difference: the difference takes off slow waves, and the median the few sharp beats.
class CNoiseLevel {
public:
    explicit CNoiseLevel(double fs);
    void Add(double x)
    {
        m_raw.Push(x);
        if (m_nSeen < 2)
            ++m_nSeen;
        else
            m_mad.Add(std::fabs(x - 2 * m_raw.Back(1) + m_raw.Back(2)));
    }
    // 0 until the first estimate.
    double Sd() const;

private:
    CHistory m_raw{3};
    int m_nSeen = 0;  // up to 2: the earlier samples a second difference needs
    CRunningQuantile m_mad;
};

} // namespace analysis
