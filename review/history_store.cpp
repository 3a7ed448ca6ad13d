#include "history_store.h"

#include <algorithm>
#include <cmath>

#include "protocol.h"

namespace review {

const int CHANNEL_WORDS[CHANNELS] = {proto::WORD_STATIC1, proto::WORD_STATIC2, proto::WORD_STATIC3,
                                     proto::WORD_PULSE1,  proto::WORD_PULSE2,  proto::WORD_PULSE3,
                                     proto::WORD_ECG,     proto::WORD_VOLUME};

namespace {

constexpr uint64_t BlockSize(int level)
{
    return uint64_t(1) << (CHistoryStore::PYRAMID_SHIFT * (level + 1));
}

} // namespace

CHistoryStore::CHistoryStore(uint64_t capacity)
{
    // Whole top-level blocks, so that every block of every level has a slot of its own.
    const uint64_t top = BlockSize(PYRAMID_LEVELS - 1);
    m_qwCapacity = std::max<uint64_t>(1, (capacity + top - 1) / top) * top;
    m_samples.assign(static_cast<size_t>(m_qwCapacity) * CHANNELS, 0);
    m_missing.assign(static_cast<size_t>(m_qwCapacity), 0);
    for (int l = 0; l < PYRAMID_LEVELS; ++l)
        m_levels[l].assign(static_cast<size_t>(m_qwCapacity / BlockSize(l)) * CHANNELS, MinMax());
}

void CHistoryStore::Clear()
{
    m_qwEnd = 0;
    m_markers.clear();
    std::fill(std::begin(m_held), std::end(m_held), uint16_t(0));
    m_bRateMeasured = false;
}

void CHistoryStore::Append(const uint16_t words[CHANNELS])
{
    const size_t slot = Slot(m_qwEnd);
    uint16_t* pSample = &m_samples[slot * CHANNELS];
    for (int ch = 0; ch < CHANNELS; ++ch) {
        pSample[ch] = words[ch];
        m_held[ch] = words[ch];
    }
    m_missing[slot] = 0;
    for (int l = 0; l < PYRAMID_LEVELS; ++l) {
        const uint64_t size = BlockSize(l);
        const size_t block = static_cast<size_t>((m_qwEnd / size) % (m_qwCapacity / size));
        MinMax* pBlock = &m_levels[l][block * CHANNELS];
        if (m_qwEnd % size == 0) {
            for (int ch = 0; ch < CHANNELS; ++ch)
                pBlock[ch] = {words[ch], words[ch]};
        } else {
            for (int ch = 0; ch < CHANNELS; ++ch) {
                pBlock[ch].min = std::min(pBlock[ch].min, words[ch]);
                pBlock[ch].max = std::max(pBlock[ch].max, words[ch]);
            }
        }
    }
    ++m_qwEnd;
    while (!m_markers.empty() && m_markers.front().index < Begin())
        m_markers.pop_front();
}

void CHistoryStore::AppendBlock(const uint8_t* block17)
{
    uint16_t words[CHANNELS];
    for (int ch = 0; ch < CHANNELS; ++ch)
        words[ch] = proto::BlockWordAt(block17, CHANNEL_WORDS[ch]);
    Append(words);
}

void CHistoryStore::AppendMissing()
{
    const uint16_t held[CHANNELS] = {m_held[0], m_held[1], m_held[2], m_held[3],
                                     m_held[4], m_held[5], m_held[6], m_held[7]};
    Append(held);
    m_missing[Slot(m_qwEnd - 1)] = 1;
}

void CHistoryStore::Scan(int ch, uint64_t a, uint64_t b, uint16_t& lo, uint16_t& hi) const
{
    // The largest aligned blocks that fit: up to seven of each size on the way up and down.
    for (uint64_t i = a; i < b;) {
        int level = -1;
        for (int l = 0; l < PYRAMID_LEVELS; ++l) {
            const uint64_t size = BlockSize(l);
            if (i % size != 0 || i + size > b)
                break;
            level = l;
        }
        if (level < 0) {
            const uint16_t v = Value(ch, i);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            ++i;
            continue;
        }
        const uint64_t size = BlockSize(level);
        const size_t block = static_cast<size_t>((i / size) % (m_qwCapacity / size));
        const MinMax& mm = m_levels[level][block * CHANNELS + static_cast<size_t>(ch)];
        lo = std::min(lo, mm.min);
        hi = std::max(hi, mm.max);
        i += size;
    }
}

std::pair<uint16_t, uint16_t> CHistoryStore::Range(int ch, uint64_t a, uint64_t b) const
{
    a = std::max(a, Begin());
    b = std::min(b, End());
    if (a >= b)
        return {0, 0};
    uint16_t lo = 0xFFFF, hi = 0;
    Scan(ch, a, b, lo, hi);
    return {lo, hi};
}

void CHistoryStore::Envelope(int ch, double first, double last, int nColumns, std::vector<ColumnEnvelope>& out) const
{
    out.assign(static_cast<size_t>(std::max(0, nColumns)), ColumnEnvelope());
    if (nColumns <= 0 || !(last > first))
        return;
    const double width = (last - first) / nColumns;
    const double begin = static_cast<double>(Begin());
    const double end = static_cast<double>(End());
    auto boundary = [&](int k) {
        const double x = std::clamp(std::ceil(first + width * k), begin, end);
        return static_cast<uint64_t>(x);
    };
    uint64_t a = boundary(0);
    for (int k = 0; k < nColumns; ++k) {
        const uint64_t b = boundary(k + 1);
        if (a < b) {
            ColumnEnvelope& e = out[static_cast<size_t>(k)];
            e.any = true;
            e.min = 0xFFFF;
            e.max = 0;
            Scan(ch, a, b, e.min, e.max);
            e.first = Value(ch, a);
            e.last = Value(ch, b - 1);
        }
        a = b;
    }
}

void CHistoryStore::AddMarker(uint64_t index, std::string text)
{
    Marker m;
    m.index = index;
    m.text = std::move(text);
    const auto at = std::upper_bound(m_markers.begin(), m_markers.end(), index,
                                     [](uint64_t i, const Marker& x) { return i < x.index; });
    m_markers.insert(at, std::move(m));
}

} // namespace review
