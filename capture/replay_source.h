#pragma once
// Plays a capture's received bytes again at their recorded pace (or faster or slower), from
// the first data frame on: what a sensor replaying a session sends. Plain C++; the caller
// brings the clock and the line (the simulated sensor's thread and pseudo-terminal).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "capture_reader.h"

namespace capture {

constexpr double REPLAY_MIN_SPEED = 0.1;
constexpr double REPLAY_MAX_SPEED = 20;

class CReplaySource {
public:
    CReplaySource() = default;
    ~CReplaySource();
    CReplaySource(const CReplaySource&) = delete;
    CReplaySource& operator=(const CReplaySource&) = delete;

    // Opens and checks the whole capture and finds its first data frame. A capture cut short
    // plays up to its last whole record. False: *pError names the file and what is wrong.
    bool Open(const std::string& strPath, double dSpeed, std::string* pError);

    // Plays from where it stopped (from the first data frame at first, and again after the
    // end); nowUs is the caller's clock.
    void Start(int64_t nowUs);
    // Holds the place; nothing more is due until Start.
    void Pause();
    // Appends to out the bytes due by nowUs. Returns false once the capture has played to its
    // end: playing stops then.
    bool Pump(int64_t nowUs, std::vector<uint8_t>& out);

    bool Playing() const { return m_bPlaying; }
    // Played to the end (until the next Start plays it again from the beginning).
    bool Ended() const { return m_bEnded; }
    // Where the replay is at nowUs and how long the capture plays, in the capture's own
    // microseconds from its first data frame to its last received bytes.
    int64_t PositionUs(int64_t nowUs) const;
    int64_t DurationUs() const { return m_nDurationUs; }
    // After Open: what a capture cut short lacks (file, offset, what is missing), for the
    // user; empty for a whole capture.
    const std::string& Warning() const { return m_strWarning; }

private:
    bool Rewind(std::string* pError);
    bool NextReceived(std::string* pError);

    std::string m_strPath;
    std::string m_strWarning;
    double m_dSpeed = 1;
    std::FILE* m_pFile = nullptr;
    std::unique_ptr<CFileSource> m_pSource;
    std::unique_ptr<CCaptureReader> m_pReader;
    uint64_t m_qwFirstRecord = 0;  // received record holding the first data frame's first byte
    size_t m_nFirstOffset = 0;     // and where in it that byte is
    CaptureRecord m_rec;           // the received record being played
    size_t m_nRecPos = 0;          // bytes of it handed out
    bool m_bHaveRec = false;
    bool m_bEnded = false;
    bool m_bPlaying = false;
    int64_t m_nStartNowUs = 0;     // caller's clock at Start
    int64_t m_nStartCapUs = 0;     // capture's clock at Start
    int64_t m_nFirstCapUs = 0;     // capture's clock at the first data frame
    int64_t m_nDurationUs = 0;
};

} // namespace capture
