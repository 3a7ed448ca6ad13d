// Wire protocol: command frames byte for byte, check bytes, the sample-block layout, the date text.
#include <gtest/gtest.h>

#include <vector>

#include "protocol.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Protocol, CommandFramesByteExact)
{
    const struct { uint8_t code, addr, value; Bytes frame; } cases[] = {
        {0x32, 0x2F, 0, {0xF0, 0x2F, 0x01, 0x32}},          // start
        {0x33, 0x2F, 0, {0xF0, 0x2F, 0x01, 0x33}},          // stop
        {0x34, 0x21, 0, {0xF0, 0x21, 0x01, 0x34}},          // zero channel 1..3
        {0x34, 0x22, 0, {0xF0, 0x22, 0x01, 0x34}},
        {0x34, 0x23, 0x77, {0xF0, 0x23, 0x01, 0x34}},       // a stray value is not sent
        {0x35, 0x21, 100, {0xF0, 0x21, 0x02, 0x35, 100}},   // calibrate
        {0x35, 0x23, 255, {0xF0, 0x23, 0x02, 0x35, 255}},
        {0x35, 0x22, 1, {0xF0, 0x22, 0x02, 0x35, 1}},
        {0x65, 0x21, 3, {0xF0, 0x21, 0x02, 0x65, 3}},       // gains
        {0x65, 0x2A, 5, {0xF0, 0x2A, 0x02, 0x65, 5}},
        {0x65, 0x2B, 8, {0xF0, 0x2B, 0x02, 0x65, 8}},
        {0x31, 0x2F, 0, {0xF0, 0x2F, 0x01, 0x31}},          // information request
        {0x3A, 0x2F, 9, {0xF0, 0x2F, 0x01, 0x3A}},          // date request
    };
    for (const auto& c : cases) {
        uint8_t out[proto::MAX_COMMAND_LEN + 3] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        const int n = proto::BuildCommandFrame(c.code, c.addr, c.value, out);
        EXPECT_EQ(Bytes(out, out + n), c.frame) << "code " << int(c.code);
        EXPECT_EQ(out[n], 0xEE) << "wrote past the frame, code " << int(c.code);
    }
}

TEST(Protocol, CheckByte)
{
    Bytes zero(16, 0x00), ones(16, 0xFF);
    EXPECT_EQ(proto::CheckByte(zero.data()), 0x00);
    EXPECT_EQ(proto::CheckByte(ones.data()), 0xF0);

    // The worked example: words → data bytes → check 0x2F.
    const uint16_t words[8] = {1000, 2048, 1500, 2100, 800, 1990, 512, 300};
    uint8_t block[17];
    proto::BuildSampleBlock(words, block);
    EXPECT_EQ(Bytes(block, block + 17), (Bytes{0xE8, 0x03, 0x00, 0x08, 0xDC, 0x05, 0x34, 0x08, 0x20, 0x03,
                                              0xC6, 0x07, 0x00, 0x02, 0x2C, 0x01, 0x2F}));
    EXPECT_TRUE(proto::BlockCheckOk(block));
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(proto::BlockWordAt(block, k), words[k]);
    block[16] ^= 1;
    EXPECT_FALSE(proto::BlockCheckOk(block));
}

TEST(Protocol, BlockWordsAreUnsigned)
{
    const uint16_t words[8] = {0xFFFF, 0x8000, 0x7FFF, 1, 0, 0xFF00, 0x00FF, 0xFFFE};
    uint8_t block[17];
    proto::BuildSampleBlock(words, block);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(int(proto::BlockWordAt(block, k)), int(words[k])) << "word " << k;
}

TEST(Protocol, DateText)
{
    const struct { uint8_t date[4]; const char* text; } cases[] = {
        {{0x1C, 0x02, 0x08, 0x14}, "2008-02-28"},
        {{1, 1, 0, 20}, "2000-01-01"},
        {{31, 12, 99, 19}, "1999-12-31"},
        {{0, 0, 0, 0}, "0000-00-00"},
        {{200, 100, 255, 120}, "120255-100-200"},  // out-of-range bytes print in full
    };
    for (const auto& c : cases)
        EXPECT_EQ(proto::FormatDeviceDate(c.date), c.text);
}

} // namespace
