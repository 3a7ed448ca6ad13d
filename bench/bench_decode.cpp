// bench-decode: receive-ring and frame-decoder throughput on one core, fed in chunks of the
// size serial events deliver, compared with what the line can carry at 256000 baud.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "byte_ring.h"
#include "frame_decoder.h"
#include "protocol.h"

namespace {

constexpr double LINE_BYTES_PER_S = 25600.0;  // 256000 baud, 10 bits per byte
constexpr double GOAL_RATIO = 2000.0;

// Counts frames and folds the words in, so the decoding cannot be optimised away.
class Sink : public IFrameSink {
public:
    uint64_t m_nGood = 0, m_nBad = 0, m_nOther = 0, m_sum = 0;
    void OnInfoReply(const uint8_t*) override { ++m_nOther; }
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
    void OnStopAck() override { ++m_nOther; }
    void OnDateReply(const uint8_t*) override { ++m_nOther; }
};

// Data frames with plausible waveforms, 1 % of them with a broken check byte, a short run of
// garbage every 200 frames or so.
std::vector<uint8_t> RealisticStream(size_t nBytes, std::mt19937& rng)
{
    std::vector<uint8_t> s;
    s.reserve(nBytes + 64);
    uint32_t t = 0;
    while (s.size() < nBytes) {
        if (rng() % 200 == 0) {
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
        if (rng() % 100 == 0)
            frame[proto::DATA_FRAME_LEN - 1] ^= 0x01;
        s.insert(s.end(), frame, frame + proto::DATA_FRAME_LEN);
    }
    return s;
}

struct Result {
    double mbPerS;
    Sink sink;
    DecodeStats stats;
};

// Decodes the stream `rounds` times in chunks of 256..4096 bytes and returns the best rate.
Result Measure(const std::vector<uint8_t>& stream, int rounds, std::mt19937& rng)
{
    std::vector<size_t> chunks;
    for (size_t done = 0; done < stream.size();) {
        const size_t n = std::min<size_t>(256 + rng() % (4096 - 256 + 1), stream.size() - done);
        chunks.push_back(n);
        done += n;
    }
    Result best{0.0, {}, {}};
    for (int r = 0; r < rounds; ++r) {
        CByteRing ring;
        Sink sink;
        DecodeStats stats;
        const auto t0 = std::chrono::steady_clock::now();
        const uint8_t* p = stream.data();
        for (size_t n : chunks) {
            ring.Append(p, static_cast<int>(n));
            DecodeFrames(ring, sink, &stats);
            p += n;
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double rate = static_cast<double>(stream.size()) / s / 1e6;
        if (rate > best.mbPerS)
            best = {rate, sink, stats};
    }
    return best;
}

void Report(const char* name, const std::vector<uint8_t>& stream, const Result& r)
{
    const double ratio = r.mbPerS * 1e6 / LINE_BYTES_PER_S;
    std::printf("%-28s %8.1f MB/s  = %8.0f x line rate (%.0f bytes/s)  goal %.0f x: %s\n", name, r.mbPerS,
                ratio, LINE_BYTES_PER_S, GOAL_RATIO, ratio >= GOAL_RATIO ? "met" : "NOT met");
    std::printf("%-28s %zu bytes: %llu good, %llu bad check, %llu skipped bytes (checksum %llu)\n", "",
                stream.size(), static_cast<unsigned long long>(r.sink.m_nGood),
                static_cast<unsigned long long>(r.sink.m_nBad), static_cast<unsigned long long>(r.stats.skipped),
                static_cast<unsigned long long>(r.sink.m_sum % 1000));
}

} // namespace

int main()
{
    std::mt19937 rng(20240601);
    const size_t nBytes = 32u << 20;  // 32 MB: over 20 minutes of a saturated line
    const std::vector<uint8_t> realistic = RealisticStream(nBytes, rng);
    Report("data, 1% corrupt, garbage", realistic, Measure(realistic, 5, rng));

    // Worst case for the one-byte resynchronisation: nothing but noise (0xF0 now and then).
    std::vector<uint8_t> noise(nBytes / 4);
    for (auto& b : noise)
        b = rng() % 16 == 0 ? proto::SYNC : static_cast<uint8_t>(rng());
    Report("noise only", noise, Measure(noise, 5, rng));
    return 0;
}
