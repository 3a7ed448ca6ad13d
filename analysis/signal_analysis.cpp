#include "signal_analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "protocol.h"

namespace analysis {

namespace {

constexpr uint64_t BURST_US = 2000;          // frames this close to the first one came with it
constexpr double WARM_UP_S = 1.0;            // the rate is measured over at least this long ...
constexpr uint64_t WARM_UP_SLOTS = 50;       // ... and this many frames before the detectors start
constexpr size_t WARM_UP_LIMIT = 8192;       // frames held at most while the rate is unknown
constexpr double REBUILD_TOLERANCE = 0.05;   // the detectors are rebuilt if the rate moves this much
constexpr uint64_t MAX_FILLED_SLOTS = 65536; // lost frames filled in at one time, at most

} // namespace

struct CSignalAnalysis::Detectors {
    explicit Detectors(double fs)
        : qrs(fs), feet{CPulseFootFinder(fs), CPulseFootFinder(fs), CPulseFootFinder(fs)},
          meters{CBeatMeter(fs), CBeatMeter(fs), CBeatMeter(fs)}
    {
    }
    void Add(const Sample& s)
    {
        qrs.Add(s.ecg);
        for (int c = 0; c < PULSE_CHANNELS; ++c) {
            meters[c].Add(s.pulse[c], s.pressure[c], s.bMissing);
            feet[c].Add(s.pulse[c]);
        }
    }
    CQrsDetector qrs;
    CPulseFootFinder feet[PULSE_CHANNELS];
    CBeatMeter meters[PULSE_CHANNELS];  // fed the same samples: the feet's positions are theirs
};

CSignalAnalysis::CSignalAnalysis(double dKeepS) : m_dKeepS(dKeepS) {}

CSignalAnalysis::~CSignalAnalysis() = default;

void CSignalAnalysis::Reset()
{
    m_bInRun = false;
    m_qwLostBytes = 0;
    m_qwDestroyed = 0;
    m_qwLostSlots = 0;
    m_warmUp.clear();
    m_pDet.reset();
    m_clocks.clear();
    m_rWaves.clear();
    for (auto& feet : m_feet)
        feet.clear();
    for (auto& beats : m_beats)
        beats.clear();
    RestartPressureCurves();
}

void CSignalAnalysis::RestartPressureCurves()
{
    for (auto& points : m_pressurePoints)
        points.clear();
}

void CSignalAnalysis::AddFrame(uint64_t tUs, int ecg, const int pulse[PULSE_CHANNELS],
                               const int pressure[PULSE_CHANNELS])
{
    Sample s;
    s.ecg = ecg;
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        s.pulse[c] = pulse[c];
        s.pressure[c] = pressure ? pressure[c] : 0;
    }
    AddSlot(tUs, &s);
}

void CSignalAnalysis::AddUnusableFrame(uint64_t tUs)
{
    AddSlot(tUs, nullptr);
}

void CSignalAnalysis::NoteLostBytes(uint64_t qwBytes)
{
    m_qwLostBytes += qwBytes;
}

void CSignalAnalysis::NoteSkippedBytes(uint64_t qwBytes)
{
    if (m_qwLostBytes > 0)
        m_qwLostBytes += qwBytes;
}

void CSignalAnalysis::NoteDestroyedFrames(uint64_t qwFrames)
{
    // After a drop their bytes count with the dropped ones.
    if (m_qwLostBytes == 0)
        m_qwDestroyed += qwFrames;
}

void CSignalAnalysis::StartRun(uint64_t tUs)
{
    m_bInRun = true;
    ++m_nRun;
    m_qwFirstUs = m_qwLastUs = tUs;
    m_qwSlots = 0;
    m_qwFed = 0;
    m_bHaveLast = false;
    m_qwFirstBurst = 0;
    m_bUnsupported = false;
    m_warmUp.clear();
    m_pDet.reset();
    m_dDetFs = 0;
    m_qwDetBase = 0;
    m_clocks.push_back(RunClock{m_nRun, static_cast<double>(tUs), 0, 0});
}

void CSignalAnalysis::AddSlot(uint64_t tUs, const Sample* pSample)
{
    if (m_bInRun && tUs > m_qwLastUs && tUs - m_qwLastUs > RUN_GAP_US)
        m_bInRun = false;
    if (!m_bInRun) {
        StartRun(tUs);
    } else if (m_qwLostBytes > 0 || m_qwDestroyed > 0) {
        // Frames went missing: their slots are kept.
        const uint64_t frameLen = proto::DATA_FRAME_LEN;
        const uint64_t lost = std::min(m_qwDestroyed + (m_qwLostBytes + frameLen / 2) / frameLen, MAX_FILLED_SLOTS);
        m_qwSlots += lost;
        m_qwLostSlots += lost;
    }
    m_qwLostBytes = 0;
    m_qwDestroyed = 0;
    ++m_qwSlots;
    if (pSample) {
        // Slots without values get a straight line from the last values to these.
        const uint64_t gap = m_qwSlots - 1 - m_qwFed;
        const Sample& from = m_bHaveLast ? m_last : *pSample;
        for (uint64_t i = 1; i <= gap; ++i) {
            const double w = static_cast<double>(i) / static_cast<double>(gap + 1);
            Sample fill;
            fill.ecg = from.ecg + w * (pSample->ecg - from.ecg);
            for (int c = 0; c < PULSE_CHANNELS; ++c) {
                fill.pulse[c] = from.pulse[c] + w * (pSample->pulse[c] - from.pulse[c]);
                fill.pressure[c] = from.pressure[c] + w * (pSample->pressure[c] - from.pressure[c]);
            }
            fill.bMissing = true;
            Hand(fill);
        }
        Hand(*pSample);
        m_last = *pSample;
        m_last.bMissing = false;
        m_bHaveLast = true;
    }

    m_qwLastUs = std::max(m_qwLastUs, tUs);
    if (m_dKnownRate > 0) {
        RunClock& clock = m_clocks.back();
        clock.fs = m_dKnownRate;
        if (!m_pDet && !m_bUnsupported)
            Configure(m_dKnownRate);
        return;
    }
    // The clock: frames after the first burst over the time since it.
    if (m_qwLastUs - m_qwFirstUs <= BURST_US)
        m_qwFirstBurst = m_qwSlots;
    const double spanS = static_cast<double>(m_qwLastUs - m_qwFirstUs) / 1e6;
    if (spanS < WARM_UP_S || m_qwSlots - m_qwFirstBurst < WARM_UP_SLOTS)
        return;
    const double fs = static_cast<double>(m_qwSlots - m_qwFirstBurst) / spanS;
    RunClock& clock = m_clocks.back();
    clock.t0Us = static_cast<double>(m_qwFirstUs);
    clock.s0 = static_cast<double>(m_qwFirstBurst) - 1;
    clock.fs = fs;
    if (m_bUnsupported)
        return;
    if (!m_pDet || std::fabs(fs - m_dDetFs) > REBUILD_TOLERANCE * m_dDetFs)
        Configure(fs);
}

void CSignalAnalysis::Hand(const Sample& s)
{
    ++m_qwFed;
    if (m_bUnsupported)
        return;
    if (!m_pDet) {
        if (m_warmUp.size() >= WARM_UP_LIMIT)
            m_warmUp.erase(m_warmUp.begin(), m_warmUp.begin() + WARM_UP_LIMIT / 2);
        m_warmUp.push_back(s);
        return;
    }
    m_pDet->Add(s);
    Collect();
}

void CSignalAnalysis::Configure(double fs)
{
    if (fs < MIN_SAMPLE_RATE_HZ) {
        m_bUnsupported = true;
        m_warmUp.clear();
        m_pDet.reset();
        return;
    }
    m_pDet = std::make_unique<Detectors>(fs);
    m_dDetFs = fs;
    m_qwDetBase = m_qwFed - m_warmUp.size();
    std::vector<Sample> held;
    held.swap(m_warmUp);
    for (const Sample& s : held)
        m_pDet->Add(s);
    Collect();
}

void CSignalAnalysis::Collect()
{
    const double base = static_cast<double>(m_qwDetBase);
    bool bNew = false;
    for (const CQrsDetector::Beat& b : m_pDet->qrs.Found()) {
        m_rWaves.push_back(Mark{m_nRun, base + b.dPos, b.bValid});
        bNew = true;
    }
    m_pDet->qrs.Found().clear();
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        for (const CPulseFootFinder::Foot& f : m_pDet->feet[c].Found()) {
            m_feet[c].push_back(Mark{m_nRun, base + f.dPos, f.bValid});
            m_pDet->meters[c].Foot(f.dPos, f.bValid);
            bNew = true;
        }
        m_pDet->feet[c].Found().clear();
        for (MeasuredBeat& b : m_pDet->meters[c].Found()) {
            b.startPos += base;
            if (b.Valid()) {
                if (m_pressurePoints[c].size() >= PH_MAX_POINTS)
                    m_pressurePoints[c].pop_front();
                m_pressurePoints[c].push_back(PressurePoint{b.pressure, b.values[PF_H1]});
            }
            m_beats[c].push_back(Beat{m_nRun, m_dDetFs, std::move(b)});
        }
        m_pDet->meters[c].Found().clear();
    }
    if (bNew)
        Prune();
}

void CSignalAnalysis::Prune()
{
    if (m_dKeepS <= 0)
        return;
    const double cut = static_cast<double>(m_qwLastUs) - m_dKeepS * 1e6;
    auto prune = [&](std::deque<Mark>& marks) {
        while (!marks.empty() && TimeUs(marks.front()) < cut)
            marks.pop_front();
    };
    prune(m_rWaves);
    int oldest = m_nRun;
    if (!m_rWaves.empty())
        oldest = std::min(oldest, m_rWaves.front().run);
    for (auto& feet : m_feet) {
        prune(feet);
        if (!feet.empty())
            oldest = std::min(oldest, feet.front().run);
    }
    for (auto& beats : m_beats) {
        while (!beats.empty() && TimeUs(Mark{beats.front().run, beats.front().beat.startPos, true}) < cut)
            beats.pop_front();
        if (!beats.empty())
            oldest = std::min(oldest, beats.front().run);
    }
    while (m_clocks.size() > 1 && m_clocks.front().id < oldest)
        m_clocks.pop_front();
}

const CSignalAnalysis::RunClock* CSignalAnalysis::ClockOf(int run) const
{
    for (const RunClock& c : m_clocks)
        if (c.id == run)
            return &c;
    return nullptr;
}

double CSignalAnalysis::TimeUs(const Mark& m) const
{
    const RunClock* c = ClockOf(m.run);
    if (!c || c->fs <= 0)
        return -std::numeric_limits<double>::infinity();
    return c->t0Us + (m.pos - c->s0) / c->fs * 1e6;
}

double CSignalAnalysis::SampleRate() const
{
    return m_bInRun && !m_clocks.empty() ? m_clocks.back().fs : 0;
}

std::optional<double> CSignalAnalysis::LastRWaveUs() const
{
    if (m_rWaves.empty())
        return std::nullopt;
    return TimeUs(m_rWaves.back());
}

std::optional<double> CSignalAnalysis::LastFootUs(int c) const
{
    if (c < 0 || c >= PULSE_CHANNELS || m_feet[c].empty())
        return std::nullopt;
    return TimeUs(m_feet[c].back());
}

std::vector<BeatTime> CSignalAnalysis::RWaves() const
{
    std::vector<BeatTime> beats;
    beats.reserve(m_rWaves.size());
    for (const Mark& m : m_rWaves)
        beats.push_back(BeatTime{TimeUs(m) / 1e6, m.run, m.valid});
    return beats;
}

std::optional<double> CSignalAnalysis::RateOf(const std::deque<Mark>& marks, double cutUs, double nowUs) const
{
    int nValid = 0;
    std::vector<double> intervals;
    const Mark* pPrev = nullptr;
    for (const Mark& m : marks) {
        const double t = TimeUs(m);
        if (t < cutUs || t > nowUs) {
            pPrev = nullptr;
            continue;
        }
        if (m.valid) {
            ++nValid;
            if (pPrev && pPrev->valid && pPrev->run == m.run)
                intervals.push_back((m.pos - pPrev->pos) / ClockOf(m.run)->fs);
        }
        pPrev = &m;
    }
    if (nValid < MIN_VALID_BEATS || intervals.empty())
        return std::nullopt;
    const double median = MedianOf(intervals);
    if (median <= 0)
        return std::nullopt;
    const double bpm = 60 / median;
    if (bpm < MIN_RATE_BPM || bpm > MAX_RATE_BPM)
        return std::nullopt;
    return bpm;
}

SignalFigures CSignalAnalysis::Figures(uint64_t nowUs, double dWindowS) const
{
    SignalFigures fig;
    const double now = static_cast<double>(nowUs);
    const double cut = dWindowS > 0 ? now - dWindowS * 1e6 : -std::numeric_limits<double>::infinity();
    fig.heartRate = RateOf(m_rWaves, cut, now);
    for (int c = 0; c < PULSE_CHANNELS; ++c) {
        fig.pulseRate[c] = RateOf(m_feet[c], cut, now);
        if (!fig.heartRate || !fig.pulseRate[c])
            continue;
        // Each valid R wave with the first foot after it, when that foot is valid and near enough.
        std::vector<double> transits;
        const std::deque<Mark>& feet = m_feet[c];
        size_t j = 0;
        for (const Mark& r : m_rWaves) {
            const double t = TimeUs(r);
            if (!r.valid || t < cut || t > now)
                continue;
            while (j < feet.size() && (feet[j].run < r.run || (feet[j].run == r.run && feet[j].pos <= r.pos)))
                ++j;
            if (j == feet.size())
                break;
            const Mark& f = feet[j];
            const double fs = ClockOf(r.run)->fs;
            if (f.run == r.run && f.valid && f.pos - r.pos <= MAX_TRANSIT_S * fs)
                transits.push_back((f.pos - r.pos) / fs * 1000);
        }
        if (static_cast<int>(transits.size()) >= MIN_VALID_BEATS)
            fig.pttMs[c] = MedianOf(transits);
    }
    return fig;
}

MeasuredBeat CSignalAnalysis::Timed(const Beat& b) const
{
    MeasuredBeat m = b.beat;
    m.startUs = TimeUs(Mark{b.run, b.beat.startPos, true});
    // The detectors keep the rate they started with; the run's clock has measured it since
    // over a longer time.
    const RunClock* pClock = ClockOf(b.run);
    if (pClock && pClock->fs > 0 && b.fs > 0) {
        const double k = b.fs / pClock->fs;
        for (int f : {PF_T, PF_T1, PF_T3, PF_T4, PF_T5, PF_W, PF_AS, PF_AD})
            m.values[f] *= k;
        for (double* p : {&m.points.t1, &m.points.t3, &m.points.t4, &m.points.tD, &m.points.w0, &m.points.w1})
            *p *= k;
    }
    return m;
}

PulseDiagram CSignalAnalysis::PulseDiagramOf(int c, uint64_t nowUs, double dWindowS) const
{
    if (c < 0 || c >= PULSE_CHANNELS)
        return PulseDiagram();
    const double now = static_cast<double>(nowUs);
    const double cut = dWindowS > 0 ? now - dWindowS * 1e6 : -std::numeric_limits<double>::infinity();
    std::vector<MeasuredBeat> beats;
    for (const Beat& b : m_beats[c]) {
        const double t = TimeUs(Mark{b.run, b.beat.startPos, true});
        if (t >= cut && t <= now)
            beats.push_back(Timed(b));
    }
    std::vector<const MeasuredBeat*> pointers;
    for (const MeasuredBeat& b : beats)
        pointers.push_back(&b);
    return SummariseBeats(pointers);
}

std::vector<MeasuredBeat> CSignalAnalysis::BeatsOf(int c) const
{
    std::vector<MeasuredBeat> beats;
    if (c < 0 || c >= PULSE_CHANNELS)
        return beats;
    for (const Beat& b : m_beats[c])
        beats.push_back(Timed(b));
    return beats;
}

std::vector<PressurePoint> CSignalAnalysis::PressurePointsOf(int c) const
{
    if (c < 0 || c >= PULSE_CHANNELS)
        return {};
    return std::vector<PressurePoint>(m_pressurePoints[c].begin(), m_pressurePoints[c].end());
}

PressureCurve CSignalAnalysis::PressureCurveOf(int c) const
{
    return FitPressureCurve(PressurePointsOf(c));
}

} // namespace analysis
