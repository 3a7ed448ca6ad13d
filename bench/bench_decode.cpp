// bench-decode: receive ring and frame decoder throughput, fed 21 bytes at a time as one serial
// event per frame delivers them: a clean stream, one with 1 % broken checks and garbage, and
// noise only (the worst case for the one-byte resynchronisation).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "bench_budget.h"
#include "byte_ring.h"
#include "frame_decoder.h"
#include "protocol.h"

namespace {

constexpr size_t STREAM_BYTES = 1u << 20;
// The decoder may take this share of a core at the line rate: 2000 times headroom.
constexpr double DECODE_BUDGET_PERCENT = 0.05;

// Counts frames and folds the words in, so the decoding cannot be optimised away.
class Sink : public IFrameSink {
public:
    uint64_t m_nGood = 0, m_nBad = 0, m_sum = 0;
    void OnInfoReply(const uint8_t*) override {}
    void OnDataFrame(const uint8_t block[17], bool checkOk) override
    {
        if (!checkOk) {
            ++m_nBad;
            return;
        }
        ++m_nGood;
        for (int k = 0; k < proto::BLOCK_WORDS; ++k)
            m_sum += proto::BlockWordAt(block, k);
    }
    void OnStopAck() override {}
    void OnDateReply(const uint8_t*) override {}
};

enum class Kind { Clean, CorruptGarbage, Noise };

// Data frames with plausible waveforms; with faults, 1 % of them with a broken check byte and a
// short run of garbage every 200 frames or so. Noise: random bytes, 0xF0 now and then.
std::vector<uint8_t> MakeStream(Kind kind)
{
    std::mt19937 rng(20240601);
    std::vector<uint8_t> s;
    s.reserve(STREAM_BYTES + 64);
    if (kind == Kind::Noise) {
        while (s.size() < STREAM_BYTES)
            s.push_back(rng() % 16 == 0 ? proto::SYNC : static_cast<uint8_t>(rng()));
        return s;
    }
    const bool bFaults = kind == Kind::CorruptGarbage;
    uint32_t t = 0;
    while (s.size() < STREAM_BYTES) {
        if (bFaults && rng() % 200 == 0) {
            const int n = 1 + static_cast<int>(rng() % 40);
            for (int i = 0; i < n; ++i)
                s.push_back(static_cast<uint8_t>(rng()));
        }
        uint16_t w[proto::BLOCK_WORDS];
        for (int k = 0; k < proto::BLOCK_WORDS; ++k)
            w[k] = static_cast<uint16_t>(2048 + ((t * (k + 3)) % 1500) + rng() % 16);
        ++t;
        uint8_t frame[proto::DATA_FRAME_LEN] = {proto::SYNC, proto::INBOUND_ADDR, 0x12, proto::CODE_DATA};
        proto::BuildSampleBlock(w, frame + proto::HEADER_LEN);
        if (bFaults && rng() % 100 == 0)
            frame[proto::DATA_FRAME_LEN - 1] ^= 0x01;
        s.insert(s.end(), frame, frame + proto::DATA_FRAME_LEN);
    }
    return s;
}

void BM_Decode(benchmark::State& state, Kind kind)
{
    const std::vector<uint8_t> stream = MakeStream(kind);
    CByteRing ring;
    Sink sink;
    DecodeStats stats;
    for (auto _ : state) {
        const uint8_t* p = stream.data();
        const uint8_t* const pEnd = p + stream.size();
        while (p < pEnd) {
            const int n = static_cast<int>(std::min<ptrdiff_t>(proto::DATA_FRAME_LEN, pEnd - p));
            ring.Append(p, n);
            DecodeFrames(ring, sink, &stats);
            p += n;
        }
        benchmark::DoNotOptimize(sink.m_sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["good"] = benchmark::Counter(double(sink.m_nGood), benchmark::Counter::kAvgIterations);
    state.counters["bad"] = benchmark::Counter(double(sink.m_nBad), benchmark::Counter::kAvgIterations);
    state.counters["skipped"] = benchmark::Counter(double(stats.skipped), benchmark::Counter::kAvgIterations);
    SetLineShare(state, double(stream.size()), LINE_BYTES_PER_S, DECODE_BUDGET_PERCENT);
}

BENCHMARK_CAPTURE(BM_Decode, clean, Kind::Clean)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, corrupt_1pct_garbage, Kind::CorruptGarbage)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, noise_only, Kind::Noise)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return RunWithBudgets(argc, argv);
}
