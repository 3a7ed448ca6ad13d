#pragma once
// Runs the console's own decoder over bytes from the simulated sensor and keeps what it saw.
#include <array>
#include <cstdint>
#include <vector>

#include "byte_ring.h"
#include "frame_decoder.h"
#include "protocol.h"

struct DecodedStream : IFrameSink {
    std::vector<std::array<uint16_t, proto::BLOCK_WORDS>> blocks;   // good data frames, in order
    std::vector<std::array<uint8_t, 4>> infos;
    std::vector<std::array<uint8_t, 4>> dates;
    int stopAcks = 0;
    int dataAfterStop = 0;   // data frames that arrived after a stop acknowledgement
    DecodeStats stats;
    CByteRing ring;

    void Feed(const std::vector<uint8_t>& bytes)
    {
        // Feed in ring-sized pieces so a long capture never overruns the ring.
        for (size_t i = 0; i < bytes.size(); i += 4096) {
            const int n = static_cast<int>(std::min<size_t>(4096, bytes.size() - i));
            ring.Append(bytes.data() + i, n);
            DecodeFrames(ring, *this, &stats);
        }
    }
    void OnInfoReply(const uint8_t info[4]) override { infos.push_back({info[0], info[1], info[2], info[3]}); }
    void OnDataFrame(const uint8_t block[17], bool checkOk) override
    {
        if (stopAcks > 0)
            ++dataAfterStop;
        if (!checkOk)
            return;
        std::array<uint16_t, proto::BLOCK_WORDS> w{};
        for (int k = 0; k < proto::BLOCK_WORDS; ++k)
            w[k] = proto::BlockWordAt(block, k);
        blocks.push_back(w);
    }
    void OnStopAck() override { ++stopAcks; }
    void OnDateReply(const uint8_t date[4]) override { dates.push_back({date[0], date[1], date[2], date[3]}); }
};
