#pragma once
// The simulated sensor's behaviour, free of I/O: command frames in, reply and data frames out.
// SensorSim puts it on a pseudo-terminal; tests drive it directly.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol.h"
#include "signal_gen.h"

struct SimCommand {
    uint8_t address = 0;
    uint8_t code = 0;
    uint8_t value = 0;   // 0 for the 4-byte form
};

// Reassembles command frames (F0 aa 01 cc / F0 aa 02 cc vv) from bytes in pieces of any size.
// Anything that is not the start of a well-formed command is passed over one byte at a time.
class CCommandParser {
public:
    uint64_t m_qwSkipped = 0;   // bytes passed over

    // Appends bytes and returns the commands completed by them, in order.
    std::vector<SimCommand> Feed(const uint8_t* data, size_t n);

private:
    std::vector<uint8_t> m_buf;
};

// The pulse's shape and its pressure-amplitude model, per pulse channel; negative: the default.
struct SimPulseOptions {
    double tidal[3] = {-1, -1, -1};         // the pulse diagram's h3/h1 at the set heart rate
    double notch[3] = {-1, -1, -1};         // h4/h1
    double dicrotic[3] = {-1, -1, -1};      // h5/h1
    double bestPressure[3] = {-1, -1, -1};  // best hold-down pressure, raw counts
    double sweepS = 0;                      // light to heavy hold-down over this, and back; 0: none
};

// True for the addresses a command frame may carry.
bool IsSensorAddress(uint8_t address);

class CSensorModel {
public:
    // Values of the information reply to an information request.
    static constexpr uint8_t INFO_ID = 0x56;        // 'V'
    static constexpr uint8_t INFO_CHANNELS = 3;
    static constexpr uint8_t INFO_VERSION = 0x10;   // firmware 1.0

    CSensorModel(double rate, double bpm, uint64_t seed);

    // Applies one command and appends its reply frame, if it has one, to out. Commands with an
    // address or value the sensor cannot take are ignored and get no reply; returns false then.
    bool HandleCommand(const SimCommand& cmd, std::vector<uint8_t>& out);
    // Pulse transit per channel and R-R standard deviation (negative: natural), milliseconds;
    // before the first sample.
    void ApplySignalOptions(const double pttMs[3], double hrvMs);
    // A known heart-rate modulation, amplitudes in milliseconds (CSignalGen::m_dHrvLfMs); before
    // the first sample.
    void ApplyHrvModulation(double lfMs, double hfMs);
    // The pulse's shape and pressure-amplitude model; before the first sample.
    void ApplyPulseOptions(const SimPulseOptions& opts);
    // The next data frame (21 bytes): header F0 1F 12 32 and a sample block.
    void NextDataFrame(uint8_t frame[proto::DATA_FRAME_LEN]);

    bool m_bStreaming = false;
    uint64_t m_qwRejected = 0;   // commands ignored
    CSignalGen m_gen;

private:
    static void AppendReply(std::vector<uint8_t>& out, uint8_t code, const uint8_t* payload, int n);
    void AppendAck(std::vector<uint8_t>& out, const SimCommand& cmd);
    void EnsureSample();

    bool m_bHasSample = false;
};
