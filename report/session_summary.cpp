#include "session_summary.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "capture_reader.h"
#include "data_runs.h"
#include "decode_stats.h"
#include "session_decoder.h"

namespace report {

namespace {

// A window that lacks one of its seconds (a pause, the end of the capture, another data run)
// ranks below any number of faults: the strip should show ten whole seconds when there are any.
constexpr double MISSING_SECOND_PENALTY = 1e9;
// Static pressure words of the three channels, and the words of the five traces.
constexpr int STATIC_WORDS[3] = {proto::WORD_STATIC1, proto::WORD_STATIC2, proto::WORD_STATIC3};
constexpr int TRACE_WORDS[STRIP_TRACES] = {proto::WORD_PULSE1, proto::WORD_PULSE2, proto::WORD_PULSE3,
                                           proto::WORD_ECG, proto::WORD_VOLUME};

std::string BaseName(const std::string& strPath)
{
    const size_t slash = strPath.find_last_of("/\\");
    return slash == std::string::npos ? strPath : strPath.substr(slash + 1);
}

// One pass over a capture file: every record through a fresh decoder with its listeners.
class CCapturePass {
public:
    explicit CCapturePass(const std::string& strPath) : m_strPath(strPath) {}
    capture::CSessionDecoder& Decoder() { return m_decoder; }
    const capture::CaptureHeader& Header() const { return m_header; }
    int64_t LastTimeUs() const { return m_nLastTimeUs; }

    // Progress runs from dFrom to dTo over the file.
    bool Run(std::string& strError, const ProgressFn& progress, double dFrom, double dTo)
    {
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(m_strPath.c_str(), "rb"), &std::fclose);
        if (!file) {
            strError = "cannot read " + m_strPath + ": " + std::strerror(errno);
            return false;
        }
        double dSize = 0;
        if (std::fseek(file.get(), 0, SEEK_END) == 0)
            dSize = static_cast<double>(std::ftell(file.get()));
        std::rewind(file.get());
        CFileSource source(file.get());
        capture::CCaptureReader reader(source);
        auto fail = [&](const std::string& strWhy) {
            strError = m_strPath + ": offset " + std::to_string(reader.ErrorOffset()) + ": " + strWhy;
            return false;
        };
        if (!reader.ReadHeader())
            return fail(reader.Error());
        m_header = reader.Header();
        capture::CaptureRecord rec;
        int nLastPermille = -1;
        for (;;) {
            const capture::ReadResult r = reader.Next(rec);
            if (r == capture::ReadResult::End)
                return true;
            if (r == capture::ReadResult::Truncated)
                return fail(reader.Error() + "; the capture was cut short (as by a power loss)");
            if (r == capture::ReadResult::Error)
                return fail(reader.Error());
            if (rec.dir == capture::Direction::Received)
                m_decoder.Received(rec.bytes.data(), rec.bytes.size(), rec.timeUs);
            else if (rec.dir == capture::Direction::Sent)  // a note is no command
                m_decoder.Sent(rec.bytes.data(), rec.bytes.size(), rec.timeUs);
            m_nLastTimeUs = std::max(m_nLastTimeUs, rec.timeUs);
            const int nPermille = dSize > 0 ? static_cast<int>(1000 * static_cast<double>(reader.Offset()) / dSize) : 0;
            if (progress && nPermille != nLastPermille) {
                nLastPermille = nPermille;
                if (!progress(dFrom + (dTo - dFrom) * nPermille / 1000.0)) {
                    strError = "cancelled";
                    return false;
                }
            }
        }
    }

private:
    std::string m_strPath;
    capture::CSessionDecoder m_decoder;
    capture::CaptureHeader m_header;
    int64_t m_nLastTimeUs = 0;
};

// The first pass, beside the figures: the last information reply and each second's statistics.
class CSecondsListener : public capture::ISessionListener, private capture::IRunListener {
public:
    explicit CSecondsListener(const capture::CSessionDecoder& decoder) : m_decoder(decoder) {}

    void OnInfoReply(const uint8_t info[4], int64_t) override { m_info = std::array<uint8_t, 4>{info[0], info[1], info[2], info[3]}; }
    void OnStopAck(int64_t timeUs) override { m_runs.OnStopAck(timeUs); }
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override
    {
        m_runs.OnDataFrame(block, checkOk, timeUs);
        const int64_t nSecond = timeUs / 1000000;
        if (m_seconds.empty() || m_seconds.back().nSecond != nSecond || m_seconds.back().nRun != m_nRun) {
            SecondStats s;
            s.nSecond = nSecond;
            s.nRun = m_nRun;
            m_seconds.push_back(s);
        }
        SecondStats& s = m_seconds.back();
        const uint64_t qwSkipped = m_decoder.Stats().skipped;
        if (!checkOk || qwSkipped != m_qwSkipped)
            ++s.nFaults;
        m_qwSkipped = qwSkipped;
        if (!checkOk)
            return;
        ++s.nFrames;
        for (int c = 0; c < 3; ++c) {
            const double v = proto::BlockWordAt(block, STATIC_WORDS[c]);
            s.sum[c] += v;
            s.sumSq[c] += v * v;
        }
    }

    std::optional<std::array<uint8_t, 4>> m_info;
    std::vector<SecondStats> m_seconds;

private:
    void OnRunStart(int nRun, int64_t) override { m_nRun = nRun; }

    const capture::CSessionDecoder& m_decoder;
    capture::CRunTracker m_runs{this};
    int m_nRun = 0;
    uint64_t m_qwSkipped = 0;
};

// The second pass: the strip's samples, from the chosen second of the chosen run on. A failed
// frame inside it repeats the sample before, so the strip keeps its time.
class CStripListener : public capture::ISessionListener, private capture::IRunListener {
public:
    CStripListener(const StripChoice& choice, TraceStrip& strip, size_t nSamples)
        : m_choice(choice), m_strip(strip), m_nSamples(nSamples) {}

    void OnStopAck(int64_t timeUs) override { m_runs.OnStopAck(timeUs); }
    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override
    {
        m_runs.OnDataFrame(block, checkOk, timeUs);
        if (m_nRun != m_choice.nRun || timeUs < m_choice.nFirstSecond * 1000000 || m_strip.samples.size() >= m_nSamples)
            return;
        if (!checkOk) {
            if (!m_strip.samples.empty())
                m_strip.samples.push_back(m_strip.samples.back());
            return;
        }
        if (m_strip.samples.empty())
            m_strip.startS = static_cast<double>(timeUs) / 1e6;
        std::array<uint16_t, STRIP_TRACES> s{};
        for (int k = 0; k < STRIP_TRACES; ++k)
            s[k] = proto::BlockWordAt(block, TRACE_WORDS[k]);
        m_strip.samples.push_back(s);
    }

private:
    void OnRunStart(int nRun, int64_t) override { m_nRun = nRun; }

    StripChoice m_choice;
    TraceStrip& m_strip;
    size_t m_nSamples;
    capture::CRunTracker m_runs{this};
    int m_nRun = 0;
};

} // namespace

std::optional<StripChoice> ChooseStrip(const std::vector<SecondStats>& seconds)
{
    const int64_t nSpan = static_cast<int64_t>(STRIP_S);
    std::optional<StripChoice> best;
    double dBestPenalty = 0, dBestMovement = 0;
    for (size_t i = 0; i < seconds.size(); ++i) {
        double penalty = 0;
        double sum[3] = {0, 0, 0}, sumSq[3] = {0, 0, 0};
        double n = 0;
        int64_t nPresent = 0;
        for (size_t j = i; j < seconds.size() && seconds[j].nSecond < seconds[i].nSecond + nSpan; ++j) {
            if (seconds[j].nRun != seconds[i].nRun)
                break;
            ++nPresent;
            penalty += seconds[j].nFaults;
            n += seconds[j].nFrames;
            for (int c = 0; c < 3; ++c) {
                sum[c] += seconds[j].sum[c];
                sumSq[c] += seconds[j].sumSq[c];
            }
        }
        penalty += MISSING_SECOND_PENALTY * static_cast<double>(nSpan - nPresent);
        double movement = 0;
        for (int c = 0; c < 3 && n > 0; ++c) {
            const double mean = sum[c] / n;
            movement += std::sqrt(std::max(0.0, sumSq[c] / n - mean * mean));
        }
        if (!best || penalty < dBestPenalty || (penalty == dBestPenalty && movement < dBestMovement)) {
            best = StripChoice{seconds[i].nSecond, seconds[i].nRun, penalty == 0};
            dBestPenalty = penalty;
            dBestMovement = movement;
        }
    }
    return best;
}

PulseReading PulseReadingOf(const analysis::PulseDiagram& diagram, const analysis::PressureCurve& curve,
                            const units::ChannelUnit& unit)
{
    using namespace analysis;
    PulseReading r;
    if (curve.bestPressure)
        r.bestPressure = unit.FromCounts(*curve.bestPressure);
    if (curve.position != PulsePosition::Unknown) {
        r.position = PositionName(curve.position);
        if (curve.peakEnd != PeakEnd::None)
            r.peakEnd = PeakEndName(curve.peakEnd);
    }
    r.h1 = diagram.median[PF_H1];
    r.h3h1 = diagram.median[PF_H3_H1];
    r.h4h1 = diagram.median[PF_H4_H1];
    r.h5h1 = diagram.median[PF_H5_H1];
    r.t1Ms = diagram.median[PF_T1];
    r.t4Ms = diagram.median[PF_T4];
    r.t5Ms = diagram.median[PF_T5];
    r.wt = diagram.median[PF_W_T];

    const AveragedBeat& beat = diagram.averaged;
    if (beat.periodMs > 0 && beat.heights.size() >= 2) {
        const double step = beat.periodMs / static_cast<double>(beat.heights.size() - 1);
        for (size_t k = 0; k < beat.heights.size(); ++k)
            r.averagedBeat.push_back(Point{static_cast<double>(k) * step, beat.heights[k]});
        if (beat.bPointsFound) {
            const BeatPoints& b = beat.points;
            r.beatMarks = {{"h1", {b.t1, b.h1}}, {"h3", {b.t3, b.h3}}, {"h4", {b.t4, b.h4}}};
            if (b.hD > b.h4)  // no rise after the notch: no dicrotic peak to mark
                r.beatMarks.push_back({"h5", {b.tD, b.hD}});
        }
    }
    for (const PressureBin& bin : curve.bins)
        if (bin.curveH1)
            r.pressureAmplitude.push_back(Point{unit.FromCounts(bin.Centre()), *bin.curveH1});
    return r;
}

bool BuildSessionSummary(const std::string& strPath, SessionSummary& out, std::string& strError, const ProgressFn& progress,
                         const units::PressureUnits& pressureUnits)
{
    out = SessionSummary();
    out.strCaptureName = BaseName(strPath);
    out.pressureUnits = pressureUnits;

    // First pass: the figures, exactly as sensor-decode --stats makes them from a capture.
    CCapturePass first(strPath);
    CDecodeStats stats(first.Decoder(), 0);
    CSecondsListener seconds(first.Decoder());
    first.Decoder().AddListener(&stats);
    first.Decoder().AddListener(&seconds);
    if (!first.Run(strError, progress, 0, 0.9))
        return false;
    stats.Finish();
    const capture::CaptureHeader& h = first.Header();
    out.strStart = h.start;
    out.nPort = h.port;
    out.strPortPath = h.path;
    out.strSettings = h.settings;
    out.strWriter = h.writer;
    out.durationS = static_cast<double>(first.LastTimeUs()) / 1e6;
    out.deviceInfo = seconds.m_info;
    out.qwFrames = stats.Frames();
    out.frameRateHz = stats.FrameRate();
    out.qwBadCheck = first.Decoder().Stats().badCheck;
    out.qwSkippedBytes = first.Decoder().Stats().skipped;
    out.nDataRuns = stats.DataRuns();
    out.signal = stats.Signal();
    const std::vector<analysis::NnInterval> nn = stats.NnIntervals();
    out.hrv = analysis::HrvOf(nn);
    for (const analysis::NnInterval& v : nn)
        out.heartRate.push_back(Point{v.tS, 60000 / v.ms});
    for (int c = 0; c < analysis::PULSE_CHANNELS; ++c)
        out.pulse[c] = PulseReadingOf(stats.Diagram(c), stats.Curve(c), pressureUnits.ch[c]);

    // Second pass: the strip, once it is known where it lies.
    const std::optional<StripChoice> choice = ChooseStrip(seconds.m_seconds);
    if (choice && out.frameRateHz) {
        out.strip.rateHz = *out.frameRateHz;
        out.strip.bClean = choice->bClean;
        CCapturePass second(strPath);
        CStripListener strip(*choice, out.strip, static_cast<size_t>(std::lround(STRIP_S * out.strip.rateHz)));
        second.Decoder().AddListener(&strip);
        if (!second.Run(strError, progress, 0.9, 1))
            return false;
    }
    if (progress && !progress(1)) {
        strError = "cancelled";
        return false;
    }
    return true;
}

} // namespace report
