#include "dsp.h"

#include <algorithm>
#include <cmath>

namespace analysis {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double BUTTERWORTH_Q = 0.70710678118654752;
// Median absolute second difference to the deviation of white noise: the second difference of
// such noise has sqrt(6) times its deviation, and a normal's median magnitude is 0.6745 of it.
constexpr double SECOND_DIFF_MAD_TO_SD = 1 / (0.6745 * 2.449489742783178);

} // namespace

CBiquad CBiquad::LowPass(double fs, double fc)
{
    const double w0 = 2 * PI * fc / fs;
    const double c = std::cos(w0);
    const double alpha = std::sin(w0) / (2 * BUTTERWORTH_Q);
    const double a0 = 1 + alpha;
    CBiquad f;
    f.m_b0 = (1 - c) / 2 / a0;
    f.m_b1 = (1 - c) / a0;
    f.m_b2 = f.m_b0;
    f.m_a1 = -2 * c / a0;
    f.m_a2 = (1 - alpha) / a0;
    return f;
}

CBiquad CBiquad::HighPass(double fs, double fc)
{
    const double w0 = 2 * PI * fc / fs;
    const double c = std::cos(w0);
    const double alpha = std::sin(w0) / (2 * BUTTERWORTH_Q);
    const double a0 = 1 + alpha;
    CBiquad f;
    f.m_b0 = (1 + c) / 2 / a0;
    f.m_b1 = -(1 + c) / a0;
    f.m_b2 = f.m_b0;
    f.m_a1 = -2 * c / a0;
    f.m_a2 = (1 - alpha) / a0;
    return f;
}

std::vector<double> SavitzkyGolayWeights(int half, int order, int deriv)
{
    half = std::max(half, 1);
    order = std::clamp(order, deriv, 2 * half);
    const int n = order + 1;
    // The normal equations in u / half, which keeps them well conditioned for long windows.
    std::vector<double> a(static_cast<size_t>(n * (n + 1)), 0.0);  // n rows of n + 1 (the right side)
    auto cell = [&](int r, int c) -> double& { return a[static_cast<size_t>(r * (n + 1) + c)]; };
    for (int u = -half; u <= half; ++u) {
        const double s = static_cast<double>(u) / half;
        double pr = 1;
        for (int r = 0; r < n; ++r, pr *= s) {
            double pc = 1;
            for (int c = 0; c < n; ++c, pc *= s)
                cell(r, c) += pr * pc;
        }
    }
    cell(deriv, n) = 1;
    // Gauss-Jordan with partial pivoting; the matrix is symmetric positive definite.
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(cell(r, c)) > std::fabs(cell(pivot, c)))
                pivot = r;
        for (int k = 0; k <= n; ++k)
            std::swap(cell(c, k), cell(pivot, k));
        for (int r = 0; r < n; ++r) {
            if (r == c)
                continue;
            const double f = cell(r, c) / cell(c, c);
            for (int k = c; k <= n; ++k)
                cell(r, k) -= f * cell(c, k);
        }
    }
    double factorial = 1;
    for (int k = 2; k <= deriv; ++k)
        factorial *= k;
    const double scale = factorial / std::pow(static_cast<double>(half), deriv);
    std::vector<double> w(static_cast<size_t>(2 * half + 1));
    for (int u = -half; u <= half; ++u) {
        const double s = static_cast<double>(u) / half;
        double p = 1, sum = 0;
        for (int r = 0; r < n; ++r, p *= s)
            sum += cell(r, n) / cell(r, r) * p;
        w[static_cast<size_t>(u + half)] = sum * scale;
    }
    return w;
}

double MedianOf(std::vector<double>& values)
{
    if (values.empty())
        return 0;
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    const double upper = values[mid];
    if (values.size() % 2)
        return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2;
}

double QuantileOf(std::vector<double>& values, double q)
{
    if (values.empty())
        return 0;
    const double rank = std::clamp(q, 0.0, 1.0) * static_cast<double>(values.size() - 1);
    const auto k = static_cast<std::ptrdiff_t>(std::lround(rank));
    std::nth_element(values.begin(), values.begin() + k, values.end());
    return values[static_cast<size_t>(k)];
}

CRunningQuantile::CRunningQuantile(double q, size_t every, size_t keep)
    : m_dQ(q), m_nEvery(every ? every : 1), m_kept(keep ? keep : 1)
{
    m_scratch.reserve(m_kept.Size());
}

void CRunningQuantile::Add(double v)
{
    if (++m_nSkip < m_nEvery)
        return;
    m_nSkip = 0;
    m_kept.Push(v);
    m_nKept = std::min(m_nKept + 1, m_kept.Size());
    if (++m_nFresh < std::max<size_t>(1, m_kept.Size() / 4) && m_bHave)
        return;
    m_nFresh = 0;
    m_bHave = true;
    m_scratch.clear();
    for (size_t k = 0; k < m_nKept; ++k)
        m_scratch.push_back(m_kept.Back(k));
    m_dValue = QuantileOf(m_scratch, m_dQ);
}

CNoiseLevel::CNoiseLevel(double fs)
    // About two seconds, sampled at most 250 times a second.
    : m_mad(0.5, static_cast<size_t>(AtLeastOne(fs / 250)), 500)
{
}

double CNoiseLevel::Sd() const
{
    return m_mad.Value() * SECOND_DIFF_MAD_TO_SD;
}

} // namespace analysis
