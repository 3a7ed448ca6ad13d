#pragma once
// The simulated sensor's stream without a terminal: frames from the sensor model with the
// simulator's line faults (a flipped byte, random bytes ahead of a frame), delivered in bursts
// every few milliseconds, through the console's ring and decoder into a link monitor. Arrival
// times are the bursts' times, as the console would see them.
#include <cstdint>
#include <vector>

#include "byte_ring.h"
#include "frame_decoder.h"
#include "link_monitor.h"
#include "sensor_model.h"

struct SimStreamOptions {
    double rate = 500;
    double bpm = 72;
    uint64_t seed = 1;
    double pttMs[3] = {150, 150, 150};
    double hrvMs = -1;
    double corrupt = 0;
    double garbage = 0;
    double burstMs = 5;   // the simulator's own tick
    SimPulseOptions pulse;
    bool truth = false;   // gather the simulator's true pulse diagrams
};

class CSimStream : public IFrameSink {
public:
    explicit CSimStream(const SimStreamOptions& opts, double dKeepS = analysis::FIGURE_WINDOW_S + 2)
        : m_opts(opts), m_model(opts.rate, opts.bpm, opts.seed), m_faults(opts.seed ^ 0xFA017u), m_monitor(dKeepS)
    {
        m_model.ApplySignalOptions(opts.pttMs, opts.hrvMs);
        m_model.ApplyPulseOptions(opts.pulse);
        m_model.m_gen.m_bTruth = opts.truth;
        m_model.m_gen.m_pRWaves = &m_rWaves;
        m_monitor.PortOpened(0);
    }

    // Streams until `seconds` of signal time have been delivered.
    void RunFor(double seconds)
    {
        const uint64_t endUs = m_qwNowUs + static_cast<uint64_t>(seconds * 1e6);
        const uint64_t stepUs = static_cast<uint64_t>(m_opts.burstMs * 1000);
        while (m_qwNowUs < endUs) {
            m_qwNowUs += stepUs;
            const uint64_t due = static_cast<uint64_t>(static_cast<double>(m_qwNowUs) / 1e6 * m_opts.rate);
            std::vector<uint8_t> bytes;
            for (; m_qwFrames < due; ++m_qwFrames) {
                uint8_t frame[proto::DATA_FRAME_LEN];
                m_model.NextDataFrame(frame);
                // The simulator's faults, drawn in the simulator's order.
                if (m_faults.Chance(m_opts.garbage)) {
                    const int n = 1 + static_cast<int>(m_faults.Next() % 8);
                    for (int i = 0; i < n; ++i)
                        bytes.push_back(static_cast<uint8_t>(m_faults.Next()));
                }
                if (m_faults.Chance(m_opts.corrupt))
                    frame[m_faults.Next() % proto::DATA_FRAME_LEN] ^= static_cast<uint8_t>(1 + m_faults.Next() % 255);
                bytes.insert(bytes.end(), frame, frame + proto::DATA_FRAME_LEN);
            }
            if (m_qwFrames > 0 && m_dFirstLagS < 0)
                m_dFirstLagS = static_cast<double>(m_qwNowUs) / 1e6 - static_cast<double>(m_qwFrames - 1) / m_opts.rate;
            Deliver(bytes);
            for (const PulseTruth& t : m_model.m_gen.TakeTruth())
                m_truth.push_back(t);
        }
    }

    // The simulator's own rate over the window the analysis looks at: the median interval of its
    // R waves (channel -1) or pulse feet (0..2) from `window` seconds ago up to the latest one
    // the analysis has found so far.
    double TrueRate(int channel = -1, double window = analysis::FIGURE_WINDOW_S) const
    {
        const analysis::CSignalAnalysis& a = m_monitor.Analysis();
        const std::optional<double> last = channel < 0 ? a.LastRWaveUs() : a.LastFootUs(channel);
        // Beats are placed in time by their frames' arrival, which lags the signal by the first
        // burst's delay.
        const double shift = m_dFirstLagS + (channel < 0 ? 0 : m_opts.pttMs[channel] / 1000);
        const double from = static_cast<double>(m_qwNowUs) / 1e6 - window;
        const double to = last.value_or(0) / 1e6 + SAME_BEAT_S;
        std::vector<double> intervals;
        for (size_t i = 1; i < m_rWaves.size(); ++i)
            if (m_rWaves[i - 1] + shift >= from && m_rWaves[i] + shift <= to)
                intervals.push_back(m_rWaves[i] - m_rWaves[i - 1]);
        return 60 / analysis::MedianOf(intervals);
    }
    static constexpr double SAME_BEAT_S = 0.02;

    uint64_t NowUs() const { return m_qwNowUs; }
    // The simulator's true pulse diagrams so far, and the delay between its signal time and
    // the arrival times the analysis places beats by.
    const std::vector<PulseTruth>& Truth() const { return m_truth; }
    double ArrivalLagS() const { return m_dFirstLagS; }
    analysis::CLinkMonitor& Monitor() { return m_monitor; }
    const DecodeStats& Stats() const { return m_stats; }

    void OnInfoReply(const uint8_t*) override {}
    void OnStopAck() override {}
    void OnDateReply(const uint8_t*) override {}
    void OnDataFrame(const uint8_t block[17], bool checkOk) override
    {
        TellSkipped();
        m_monitor.DataFrame(m_qwNowUs, block, checkOk);
    }

private:
    void Deliver(const std::vector<uint8_t>& bytes)
    {
        m_ring.Append(bytes.data(), static_cast<int>(bytes.size()));
        DecodeFrames(m_ring, *this, &m_stats);
        TellSkipped();
    }
    void TellSkipped()
    {
        if (m_stats.skipped != m_qwSkippedTold)
            m_monitor.BytesSkipped(m_stats.skipped - m_qwSkippedTold);
        m_qwSkippedTold = m_stats.skipped;
        // As the device link does: the frames destroyed on the line among those bytes.
        if (m_stats.destroyed != m_qwDestroyedTold)
            m_monitor.FramesDestroyed(m_stats.destroyed - m_qwDestroyedTold);
        m_qwDestroyedTold = m_stats.destroyed;
    }

    SimStreamOptions m_opts;
    CSensorModel m_model;
    CSimRandom m_faults;
    analysis::CLinkMonitor m_monitor;
    CByteRing m_ring;
    DecodeStats m_stats;
    uint64_t m_qwSkippedTold = 0;
    uint64_t m_qwDestroyedTold = 0;
    uint64_t m_qwNowUs = 0;
    uint64_t m_qwFrames = 0;
    std::vector<double> m_rWaves;
    std::vector<PulseTruth> m_truth;
    double m_dFirstLagS = -1;
};
