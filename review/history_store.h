#pragma once
// The review history: every data frame of the last minutes as one sample of eight channels,
// numbered on the sample clock (one number per data frame, a frame that failed its check
// included, so numbers match the CSV export's `sample`). Drawing a trace asks for one envelope
// per pixel column (minimum, maximum, first and last sample of the column); a pyramid of block
// minima and maxima, kept up to date as samples come, answers that in time proportional to the
// columns, not to the samples they span. Markers are labelled sample numbers.
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace review {

constexpr int CHANNELS = 8;  // pressure 1..3, pulse 1..3, ECG, volume
// The block word of each channel, in channel order.
extern const int CHANNEL_WORDS[CHANNELS];
constexpr double HISTORY_SECONDS = 600;
// Samples the live history keeps: 10 minutes at the line's highest frame rate.
constexpr uint64_t LIVE_CAPACITY = 731400;  // 600 s x 1219 frames/s
// A history read from a capture keeps at most this many samples (its last ones).
constexpr uint64_t FILE_CAPACITY = 4u << 20;
// Sample rate assumed until one is measured.
constexpr double DEFAULT_RATE = 500;

struct ColumnEnvelope {
    uint16_t min = 0;
    uint16_t max = 0;
    uint16_t first = 0;
    uint16_t last = 0;
    bool any = false;  // the column holds at least one sample
};

struct Marker {
    uint64_t index = 0;  // sample number
    std::string text;    // UTF-8, may be empty
};

class CHistoryStore {
public:
    explicit CHistoryStore(uint64_t capacity = LIVE_CAPACITY);

    // The eight words of a data frame in channel order.
    void Append(const uint16_t words[CHANNELS]);
    // The words of a sample block (a data frame's 17 bytes).
    void AppendBlock(const uint8_t* block17);
    // A data frame whose values are lost (failed check): it keeps its number and repeats the
    // last sample's values.
    void AppendMissing();
    void Clear();

    // Sample numbers kept: [Begin(), End()).
    uint64_t Begin() const { return m_qwEnd > m_qwCapacity ? m_qwEnd - m_qwCapacity : 0; }
    uint64_t End() const { return m_qwEnd; }
    bool Empty() const { return m_qwEnd == Begin(); }
    uint64_t Capacity() const { return m_qwCapacity; }
    // Value of a kept sample; index must lie in [Begin(), End()).
    uint16_t Value(int ch, uint64_t index) const { return m_samples[Slot(index) * CHANNELS + ch]; }
    bool Missing(uint64_t index) const { return m_missing[Slot(index)] != 0; }

    // Minimum and maximum of channel ch over the kept samples in [a, b); {0, 0} when none.
    std::pair<uint16_t, uint16_t> Range(int ch, uint64_t a, uint64_t b) const;
    // One envelope per column: [first, last) (fractional sample numbers) cut into nColumns
    // equal parts; column k holds the samples whose numbers lie in its part.
    void Envelope(int ch, double first, double last, int nColumns, std::vector<ColumnEnvelope>& out) const;

    // Samples a second of the sample clock; times are sample numbers over it.
    void SetSampleRate(double rate) { m_dRate = rate > 0 ? rate : DEFAULT_RATE; }
    double SampleRate() const { return m_dRate; }
    bool RateMeasured() const { return m_bRateMeasured; }
    void SetRateMeasured(bool bMeasured) { m_bRateMeasured = bMeasured; }
    double TimeOf(double index) const { return index / m_dRate; }

    // Markers in sample order; those older than the history are dropped as it moves on.
    void AddMarker(uint64_t index, std::string text);
    const std::deque<Marker>& Markers() const { return m_markers; }

    // Levels of the pyramid: block sizes PYRAMID_BASE, PYRAMID_BASE^2, ...
    static constexpr int PYRAMID_SHIFT = 3;  // blocks of 8, 64, 512 ... samples
    static constexpr int PYRAMID_LEVELS = 6;

private:
    struct MinMax {
        uint16_t min = 0;
        uint16_t max = 0;
    };
    size_t Slot(uint64_t index) const { return static_cast<size_t>(index % m_qwCapacity); }
    // Minimum and maximum of [a, b) (both within the kept samples) into lo and hi.
    void Scan(int ch, uint64_t a, uint64_t b, uint16_t& lo, uint16_t& hi) const;

    uint64_t m_qwCapacity;
    uint64_t m_qwEnd = 0;
    std::vector<uint16_t> m_samples;                 // slot-major, eight channels per slot
    std::vector<uint8_t> m_missing;
    std::vector<MinMax> m_levels[PYRAMID_LEVELS];    // per level, blocks x channels
    uint16_t m_held[CHANNELS] = {};
    double m_dRate = DEFAULT_RATE;
    bool m_bRateMeasured = false;
    std::deque<Marker> m_markers;
};

} // namespace review
