// Data frames as the sensor sends them, for feeding the receive path in tests.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol.h"

using Bytes = std::vector<uint8_t>;

// A data frame carrying these eight words; a bad one has its check byte spoiled.
inline Bytes DataFrame(const uint16_t (&words)[proto::BLOCK_WORDS], bool good = true)
{
    Bytes f = {proto::SYNC, proto::INBOUND_ADDR, 0x12, proto::CODE_DATA};
    f.resize(proto::DATA_FRAME_LEN);
    proto::BuildSampleBlock(words, f.data() + proto::HEADER_LEN);
    if (!good)
        f[proto::DATA_FRAME_LEN - 1] = static_cast<uint8_t>(f[proto::DATA_FRAME_LEN - 1] + 1);
    return f;
}

// Every word the same: frames told apart by one number.
inline Bytes DataFrame(uint16_t w, bool good)
{
    const uint16_t words[proto::BLOCK_WORDS] = {w, w, w, w, w, w, w, w};
    return DataFrame(words, good);
}

// The three static pressures as given, the waves fixed.
inline Bytes DataFrame(uint16_t p1, uint16_t p2, uint16_t p3)
{
    const uint16_t words[proto::BLOCK_WORDS] = {p1, 400, p2, 500, p3, 600, 450, 300};
    return DataFrame(words);
}
