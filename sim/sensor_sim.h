#pragma once
// A simulated sensor on the master side of a pseudo-terminal, running on its own thread.
// The console opens SlavePath() as it would a serial port:
//   SensorSim sim(opts); sim.Start(); ... sim.SlavePath() ...; sim.Stop();
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture_writer.h"
#include "replay_source.h"
#include "sensor_model.h"

// Data frames a second that 256000 baud can carry: 25,600 bytes/s over 21-byte frames.
constexpr double SIM_MAX_RATE = 25600.0 / 21;

struct SensorSimOptions {
    double rate = 500;          // data frames a second, 1..SIM_MAX_RATE
    double bpm = 72;            // heart rate of the simulated subject
    uint64_t seed = 1;          // same seed, same signals
    double corrupt = 0;         // probability that a data frame goes out with one byte flipped
    double garbage = 0;         // probability of random bytes ahead of a data frame
    bool silent = false;        // neither replies nor streams
    double pttMs[3] = {150, 150, 150};  // R wave to pulse foot, per pulse channel
    double hrvMs = -1;          // R-R standard deviation; negative: the natural variation
    double hrvLfMs = -1;        // a known heart-rate modulation instead, amplitudes in ms
    double hrvHfMs = -1;        // (CSignalGen::m_dHrvLfMs); negative: none
    std::string logPath;        // capture of every byte both ways; empty: none
    std::string linkPath;       // symbolic link to the slave path; empty: none
    bool frameWrites = false;   // each data frame written on its own at its due time, so the
                                // reader sees one serial event per frame (the costliest case);
                                // the signals only, a replay ignores it
    std::string replayPath;     // stream this capture's received bytes instead of signals; empty: none
    double replaySpeed = 1;     // pace of the replay against the recording, 0.1..20
    SimPulseOptions pulse;      // the pulse's shape and pressure-amplitude model, the sweep
    std::string truthPath;      // CSV of every beat's true pulse diagram; empty: none
};

struct SensorSimStats {
    uint64_t framesSent = 0;      // data frames queued for the line
    uint64_t framesDropped = 0;   // data frames lost because nobody read the line
    uint64_t commands = 0;        // well-formed command frames received
    uint64_t rejected = 0;        // commands the sensor ignored (bad address or value)
    uint64_t skippedBytes = 0;    // received bytes that were no command
    uint64_t corrupted = 0;       // data frames sent with a flipped byte
    uint64_t garbageBursts = 0;   // runs of random bytes sent
};

// Where a replay is, in the capture's own time from its first data frame.
struct ReplayProgress {
    int64_t positionUs = 0;
    int64_t durationUs = 0;
    bool ended = false;  // played to its end; starting again plays it from the beginning
};

class SensorSim {
public:
    explicit SensorSim(SensorSimOptions opts = {});
    virtual ~SensorSim();
    SensorSim(const SensorSim&) = delete;
    SensorSim& operator=(const SensorSim&) = delete;

    // Opens the pseudo-terminal, makes the link and starts the thread. On failure returns
    // false with a description in *error and leaves nothing behind; a running simulator is
    // refused and left running.
    bool Start(std::string* error = nullptr);
    // Ends the thread, removes the link and closes the terminal. Safe to call again.
    void Stop();

    // After a failed Start: whether the capture to replay was what was refused (missing,
    // malformed, or the --log file itself), rather than the terminal or the link.
    bool ReplayRefused() const { return m_bReplayRefused; }
    // After Start: what a capture to replay that was cut short lacks; empty otherwise.
    const std::string& ReplayWarning() const { return m_strReplayWarning; }

    bool Running() const { return m_thread.joinable(); }
    const std::string& SlavePath() const { return m_strSlavePath; }
    const SensorSimOptions& Options() const { return m_opts; }
    bool Streaming() const { return m_bStreaming.load(); }
    SensorSimStats Stats() const;
    // The replay's progress (all zero when not replaying); safe from any thread.
    ReplayProgress Replay() const;
    // Every byte received from the console so far (up to RECEIVED_LIMIT), in order.
    std::vector<uint8_t> Received() const;
    static constexpr size_t RECEIVED_LIMIT = 1 << 20;

protected:
    // Reads the master side; the thread calls it. A subclass that replaces it (to inject
    // faults) must Stop() in its own destructor.
    virtual ssize_t ReadMaster(int fd, uint8_t* buf, size_t n);

private:
    // What the thread works with: its own copies, fixed when it starts. The capture writer and
    // the replay source are the objects it shares; Cleanup() releases them only after the
    // thread has ended.
    struct RunContext {
        SensorSimOptions opts;
        int hMaster = -1;
        int hKeepSlave = -1;
        int hWake = -1;
        capture::CCaptureWriter* pLog = nullptr;
        capture::CReplaySource* pReplay = nullptr;  // owned by m_pReplay, used by the thread only
        std::FILE* pTruth = nullptr;                // owned by m_pTruth, written by the thread only
        std::chrono::steady_clock::time_point t0{};
    };

    void Run(RunContext ctx);
    // Releases the terminal, pipe, capture and link; only while no thread runs.
    void Cleanup();
    static void Log(const RunContext& ctx, capture::Direction dir, const uint8_t* data, size_t n);
    // Plays the replay's bytes due by now instead of the signals; stops the model at its end.
    static void PumpReplay(const RunContext& ctx, class CSensorModel& model,
                           std::chrono::steady_clock::time_point now, std::vector<uint8_t>& out);

    SensorSimOptions m_opts;
    std::string m_strSlavePath;
    int m_hMaster = -1;
    int m_hKeepSlave = -1;       // held open so the master never sees a hang-up between opens
    int m_hWake[2] = {-1, -1};   // self-pipe that interrupts the thread's poll
    bool m_bLinked = false;
    capture::CCaptureWriter m_log;  // the --log capture, open while running with one
    std::unique_ptr<capture::CReplaySource> m_pReplay;  // set when replaying a capture
    bool m_bReplayRefused = false;
    std::string m_strReplayWarning;
    std::FILE* m_pTruth = nullptr;  // the --truth file, open while running with one
    std::thread m_thread;
    std::atomic<bool> m_bQuit{false};
    std::atomic<bool> m_bStreaming{false};
    std::atomic<int64_t> m_replayPosUs{0};
    std::atomic<int64_t> m_replayDurationUs{0};
    std::atomic<bool> m_bReplayEnded{false};

    mutable std::mutex m_statsLock;
    SensorSimStats m_stats;
    std::vector<uint8_t> m_received;  // guarded by m_statsLock
};
