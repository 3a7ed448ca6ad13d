#pragma once
// What the session report shows of one recorded session, built from its capture file by one
// function. Every figure comes from sensor-decode --stats's own computation (CDecodeStats), so
// the report and --stats agree to the last digit. Plain C++, no Qt.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "channel_units.h"
#include "hrv.h"
#include "signal_analysis.h"

namespace report {

constexpr double STRIP_S = 10;   // the strip of traces: this long, from the steadiest stretch
constexpr int STRIP_TRACES = 5;  // pulse waves 1 to 3, ECG, volume wave

struct Point {
    double x = 0;
    double y = 0;
};

// The pulse reading of one channel: the medians of its pulse diagram over the session and its
// pressure-amplitude curve, as sensor-decode --stats gives them; empty where unknown, and the
// report shows "—" there.
struct PulseReading {
    // Page 1.
    std::optional<double> bestPressure;  // best hold-down pressure, in the channel's unit
    std::string position;                // "floating", "middle" or "deep"; empty: unknown
    std::string peakEnd;                 // "low" or "high" when the peak lies at that end of the sweep
    std::optional<double> h1;            // counts
    std::optional<double> h3h1, h4h1, h5h1;
    std::optional<double> t1Ms, t4Ms, t5Ms;
    std::optional<double> wt;
    // Page 2: the averaged beat (ms from the foot, counts above its baseline) with its marked
    // points (label, place), and the pressure-amplitude curve (pressure in the channel's unit,
    // h1 in counts) at the centres of the bins it is known for.
    std::vector<Point> averagedBeat;
    std::vector<std::pair<std::string, Point>> beatMarks;
    std::vector<Point> pressureAmplitude;
};

// Ten seconds of the five traces as the sensor sent them.
struct TraceStrip {
    double startS = 0;   // first sample, seconds on the capture's clock
    double rateHz = 0;
    std::vector<std::array<uint16_t, STRIP_TRACES>> samples;
    bool bClean = false; // every frame of it good and within one data run
};

struct SessionSummary {
    // The session, from the capture's header and records.
    std::string strCaptureName;   // the file's name, without its folder
    std::string strStart;         // ISO 8601 local time with offset, as the header has it
    int nPort = 0;                // COMn, 0 when none
    std::string strPortPath;
    std::string strSettings;
    std::string strWriter;        // the program that recorded it
    double durationS = 0;         // from the capture's start to its last record
    std::optional<std::array<uint8_t, 4>> deviceInfo;  // the last information reply
    units::PressureUnits pressureUnits;  // of the best hold-down pressures and the curves
    // The figures of sensor-decode --stats.
    uint64_t qwFrames = 0;
    std::optional<double> frameRateHz;
    uint64_t qwBadCheck = 0;
    uint64_t qwSkippedBytes = 0;
    int nDataRuns = 0;            // gaps in the stream are the pauses between them
    analysis::SignalFigures signal;
    analysis::HrvFigures hrv;
    // Page 2.
    std::vector<Point> heartRate;  // (seconds, beats a minute) of every NN interval
    TraceStrip strip;
    PulseReading pulse[analysis::PULSE_CHANNELS];
};

// Told how far the work is (0 to 1) now and then; returns false to cancel.
using ProgressFn = std::function<bool(double)>;

// Reads the capture at strPath twice (the figures, then the strip) and fills out, the static
// pressures in pressureUnits. False with the file's name and the reason in strError when it
// cannot be read, is no capture, is malformed or cut short, or when progress cancelled.
bool BuildSessionSummary(const std::string& strPath, SessionSummary& out, std::string& strError,
                         const ProgressFn& progress = {},
                         const units::PressureUnits& pressureUnits = units::PressureUnits());
// The pulse reading of a channel from its pulse diagram and curve over the whole session, the
// pressures converted by unit.
PulseReading PulseReadingOf(const analysis::PulseDiagram& diagram, const analysis::PressureCurve& curve,
                            const units::ChannelUnit& unit);

// Where the strip lies: the STRIP_S seconds of the capture's whole seconds whose frames are
// all good and within one data run and whose three static pressures moved least (smallest sum
// of their standard deviations); the earliest of equals. Exposed for the tests.
struct SecondStats {
    int64_t nSecond = 0;      // whole second of the capture's clock
    int nRun = 0;
    uint32_t nFrames = 0;     // frames whose check byte matched: their static pressures summed
    uint32_t nFaults = 0;     // frames whose check failed or that followed bytes passed over
    double sum[3] = {0, 0, 0};
    double sumSq[3] = {0, 0, 0};
};
struct StripChoice {
    int64_t nFirstSecond = 0;
    int nRun = 0;
    bool bClean = false;
};
std::optional<StripChoice> ChooseStrip(const std::vector<SecondStats>& seconds);

} // namespace report
