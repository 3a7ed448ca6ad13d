#pragma once
// A simulated session written straight into a capture file, without a terminal and as fast as
// the disk takes it: what a console recording the simulated sensor would have written, for
// tests, the report's pictures and anyone who needs a long session at once.
#include <cstdint>
#include <string>

#include "sensor_model.h"

struct SimCaptureOptions {
    double rate = 500;          // data frames a second
    double bpm = 72;
    uint64_t seed = 1;
    double corrupt = 0;         // the simulator's line faults, drawn in its order
    double garbage = 0;
    double pttMs[3] = {150, 150, 150};
    double hrvMs = -1;          // R-R standard deviation; negative: the natural variation
    double hrvLfMs = -1;        // a known modulation instead (CSignalGen::m_dHrvLfMs)
    double hrvHfMs = -1;
    double seconds = 60;        // of data frames
    std::string start;          // the header's start time; empty: now
    SimPulseOptions pulse;      // the pulse's shape and pressure-amplitude model, the sweep
    std::string truthPath;      // CSV of every beat's true pulse diagram; empty: none
};

// Microseconds between the reads of the session, as the simulator's own tick.
constexpr int64_t SIM_CAPTURE_READ_US = 5000;

// Writes the session: an information request and its reply, the start command, the data frames
// in reads every SIM_CAPTURE_READ_US, then the stop command and its acknowledgement; and the
// truth beside it when asked. False with the file's name and the system's reason in *pError
// when a file cannot be written.
bool WriteSimulatedCapture(const std::string& strPath, const SimCaptureOptions& opts, std::string* pError = nullptr);
