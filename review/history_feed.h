#pragma once
// Feeds the review history from the device link as frames arrive, and measures the sample
// rate of the running stream from their arrival times: the frames that arrived after the first
// burst of a run, over the time since it (the line delivers frames in bursts). A stop, a closed
// port or a pause of a second starts a new run; the history itself runs on.
#include <cstdint>

#include "history_store.h"
#include "link_observer.h"

namespace review {

// A run needs this long before its rate is taken.
constexpr uint64_t RATE_WARM_UP_US = 1000000;
constexpr uint64_t FEED_RUN_GAP_US = 1000000;
constexpr uint64_t FEED_BURST_US = 2000;

class CHistoryFeed : public ILinkObserver {
public:
    explicit CHistoryFeed(CHistoryStore& store) : m_store(store) {}

    // Arrival times are the platform's microseconds times this (a replay's speed, so that its
    // rate is the recorded one).
    void SetTimeScale(double dScale) { m_dScale = dScale > 0 ? dScale : 1; }
    // A data frame arrived at tUs (on the scaled clock).
    void DataFrame(uint64_t tUs, const uint8_t block[17], bool bCheckOk);
    void EndRun() { m_bInRun = false; }

    // ILinkObserver
    void OnPortOpened(int, const std::string&, const std::string&) override { EndRun(); }
    void OnPortClosed() override { EndRun(); }
    void OnDataFrame(const uint8_t block[17], bool checkOk) override;
    void OnFramesDestroyed(int nCount) override;
    void OnStopAck() override { EndRun(); }

private:
    CHistoryStore& m_store;
    double m_dScale = 1;
    bool m_bInRun = false;
    uint64_t m_qwFirstUs = 0;
    uint64_t m_qwLastUs = 0;
    uint64_t m_qwAfterBurst = 0;  // frames of the run that arrived after its first burst
};

} // namespace review
