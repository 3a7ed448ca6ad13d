#pragma once
// What the link and the signal are doing, from the link's own events: the link figures, the
// state of the link light, and the heart rate, pulse rates and transit times. As a watcher of
// the device link it takes the time of each event from the platform's microsecond clock; tools
// and tests call the timed entry points directly.
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

#include "link_observer.h"
#include "signal_analysis.h"

namespace analysis {

// Times of the link light (microseconds).
constexpr uint64_t LIGHT_FRESH_US = 1000000;    // green while a data frame came this recently
constexpr uint64_t LIGHT_STALL_US = 2000000;    // amber once none came for this long
constexpr uint64_t LIGHT_BAD_US = 1000000;      // red this long after a failed check byte
constexpr uint64_t FRAME_RATE_WINDOW_US = 1000000;

enum class LinkLight {
    Closed,     // port closed: grey
    Quiet,      // open, no data frame this last second, not yet stalled: unlit
    Receiving,  // data frames within the last second: green
    Stalled,    // open and silent for two seconds, or a command went unanswered: amber
    BadCheck,   // a frame failed its check byte within the last second: red
};

struct LinkFigures {
    bool bPortOpen = false;
    double dFrameRate = 0;                   // data frames a second over the last second
    std::optional<double> frameRateSinceOpen;
    // Data frames a second since observing began (the first data frame after the port opened
    // or the sensor acknowledged a stop), up to now or to the stop that ended it.
    std::optional<double> frameRateSinceObserving;
    uint64_t qwFrames = 0;                   // counts since the port opened
    uint64_t qwBadCheck = 0;
    uint64_t qwSkippedBytes = 0;
    uint64_t qwRingDropped = 0;
    uint64_t qwCommandsSent = 0;             // commands sent (first attempts)
    uint64_t qwCommandsResent = 0;           // further attempts
    uint64_t qwCommandsUnanswered = 0;       // given up without an answer
    std::optional<double> sinceLastFrameS;   // none yet: unknown
};

class CLinkMonitor : public ILinkObserver {
public:
    explicit CLinkMonitor(double dKeepS = FIGURE_WINDOW_S + 2);

    // --- timed entry points (microseconds, any fixed origin) ---------------------------------
    void PortOpened(uint64_t tUs);
    void PortClosed(uint64_t tUs);
    void DataFrame(uint64_t tUs, const uint8_t block[17], bool bCheckOk);
    void BytesSkipped(uint64_t qwCount);
    void FramesDestroyed(uint64_t qwCount);
    void RingOverflow(uint64_t qwCount);
    void CommandSent(uint64_t tUs);       // every frame sent, repeats included
    void CommandResent();                 // the frame just sent repeats an unanswered command
    void CommandUnanswered();
    void StopAck(uint64_t tUs);

    LinkFigures Link(uint64_t nowUs) const;
    LinkLight Light(uint64_t nowUs) const;
    SignalFigures Signal(uint64_t nowUs, double dWindowS = FIGURE_WINDOW_S) const
    {
        return m_signal.Figures(nowUs, dWindowS);
    }
    const CSignalAnalysis& Analysis() const { return m_signal; }
    CSignalAnalysis& Analysis() { return m_signal; }

    // The monitor's clock: the platform's microseconds times the time scale. A replay sets
    // its speed as the scale, so that rates and times are those of the capture.
    uint64_t Now() const;
    void SetTimeScale(double dScale) { m_dTimeScale = dScale > 0 ? dScale : 1; }
    double TimeScale() const { return m_dTimeScale; }

    // --- ILinkObserver ----------------------------------------------------------------------
    void OnPortOpened(int nPort, const std::string& strPath, const std::string& strSettings) override;
    void OnPortClosed() override;
    void OnBytesSent(const uint8_t* pBytes, int nCount) override;
    void OnRingOverflow(int nDropped) override;
    void OnDataFrame(const uint8_t block[17], bool checkOk) override;
    void OnBytesSkipped(int nCount) override;
    void OnFramesDestroyed(int nCount) override;
    void OnCommandResent() override;
    void OnCommandUnanswered() override;
    void OnStopAck() override;

private:
    double m_dTimeScale = 1;

    CSignalAnalysis m_signal;
    bool m_bOpen = false;
    uint64_t m_qwOpenUs = 0;
    LinkFigures m_counts;          // the counters; rates and times are worked out on demand
    uint64_t m_qwAttempts = 0;
    bool m_bHaveFrame = false;
    uint64_t m_qwLastFrameUs = 0;
    bool m_bHaveBad = false;
    uint64_t m_qwLastBadUs = 0;
    bool m_bUnanswered = false;    // the last command was given up; cleared by a frame or a new command
    // The current (or last) stretch of observing: its first frame's time, the frames after the
    // burst that brought it, and when a stop ended it.
    bool m_bObserving = false;
    bool m_bObservingEnded = false;
    uint64_t m_qwObserveStartUs = 0;
    uint64_t m_qwObserveEndUs = 0;
    uint64_t m_qwObserveFrames = 0;
    // Data frames of the last second: arrival times with a count each (frames come in bursts).
    std::deque<std::pair<uint64_t, uint32_t>> m_recent;
};

} // namespace analysis
