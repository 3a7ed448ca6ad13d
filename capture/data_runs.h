#pragma once
// Data runs: stretches of a session in which the sensor streamed data frames. A run starts
// with a data frame and ends at a stop acknowledgement, at a silence of RUN_GAP_US without
// data frames, or at the end of the session. The sensor's frame rate is measured over the
// runs only, so the idle time between them does not count.
#include <cstdint>
#include <vector>

#include "session_decoder.h"

namespace capture {

// A silence this long between two data frames ends a run (the sensor streams at 1 frame a
// second at the very least).
constexpr int64_t RUN_GAP_US = 2000000;
// A pause between two data runs longer than this is the port left open while not observing:
// no reason to fill the time between them (the EDF+ export starts a new file after it).
constexpr int64_t LONG_PAUSE_US = int64_t(600) * 1000000;
inline bool IsLongPause(int64_t lastEndUs, int64_t nextStartUs)
{
    return lastEndUs != NO_TIME && nextStartUs != NO_TIME && nextStartUs - lastEndUs > LONG_PAUSE_US;
}

class IRunListener {
public:
    virtual ~IRunListener() = default;
    // nRun counts from 1; times are those of the first and last data frame of the run.
    virtual void OnRunStart(int /*nRun*/, int64_t /*timeUs*/) {}
    virtual void OnRunEnd(int /*nRun*/, int64_t /*lastTimeUs*/, uint64_t /*nFrames*/) {}
};

// Follows the runs of a session. Hear every data frame (bad checks and destroyed ones included:
// each is a frame the sensor sent) and stop acknowledgement through the session listener, and
// call Finish at the end.
class CRunTracker : public ISessionListener {
public:
    explicit CRunTracker(IRunListener* pListener = nullptr) : m_pListener(pListener) {}

    void OnDataFrame(const uint8_t block[17], bool checkOk, int64_t timeUs) override;
    void OnDestroyedFrame(int64_t timeUs) override;
    void OnStopAck(int64_t timeUs) override;
    void Finish();

    int Runs() const { return m_nRuns; }
    // Data frames of the runs, destroyed ones included: the samples they span.
    uint64_t DataFrames() const { return m_qwFrames; }
    // Frames a second from the times of the frames within runs (least squares of time on frame
    // number over the last frame of each read, each run with its own offset); 0 when the times
    // cannot tell (no run has reads at two different times).
    double MeasuredRate() const;
    // Where each run starts on the sample clock of the given rate (frames a second): the time
    // of its first frame, from the line through its points with the clock's slope (microseconds,
    // one a run in order); a run without times: NaN. After Finish.
    std::vector<double> RunStartsUs(double rate) const;

private:
    void Frame(int64_t timeUs);
    void EndRun();
    void AddPoint();

    IRunListener* m_pListener = nullptr;
    bool m_bInRun = false;
    int m_nRuns = 0;
    uint64_t m_qwFrames = 0;
    int64_t m_nLastTimeUs = NO_TIME;
    // The current run, kept as running means and co-moments so long runs stay precise.
    uint64_t m_qwRunCount = 0;    // data frames of the current run
    uint64_t m_qwRunFrames = 0;   // points of the fit in the current run
    bool m_bPending = false;      // the last frame seen, a point once its read is known to be over
    uint64_t m_qwPendingIndex = 0;
    int64_t m_nPendingTimeUs = 0;
    double m_dMeanIndex = 0, m_dMeanTime = 0, m_dCoMoment = 0, m_dIndexMoment = 0;
    // Sums over finished runs.
    double m_dSumCoMoment = 0, m_dSumIndexMoment = 0;
    // Each finished run's means, for RunStartsUs.
    struct RunFit {
        uint64_t points = 0;
        double meanIndex = 0, meanTime = 0;
        int64_t firstTimeUs = NO_TIME;
    };
    std::vector<RunFit> m_fits;
    int64_t m_nRunFirstUs = NO_TIME;  // time of the current run's first frame
};

} // namespace capture
