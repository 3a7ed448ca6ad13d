#include "protocol.h"

#include <cstdio>

namespace proto {

bool CommandHasValue(uint8_t code) { return code == CODE_CALIBRATE || code == CODE_GAIN; }

bool IsCommandCode(uint8_t code)
{
    switch (code) {
    case CODE_INFO: case CODE_START: case CODE_STOP: case CODE_ZERO:
    case CODE_CALIBRATE: case CODE_DATE: case CODE_GAIN:
        return true;
    default:
        return false;
    }
}

int BuildCommandFrame(uint8_t code, uint8_t address, uint8_t value, uint8_t* out)
{
    const bool hasValue = CommandHasValue(code);
    out[0] = SYNC;
    out[1] = address;
    out[2] = hasValue ? 0x02 : 0x01;  // counts the code and the value, not the header
    out[3] = code;
    if (!hasValue)
        return 4;
    out[4] = value;
    return 5;
}

uint8_t CheckByte(const uint8_t* data16)
{
    unsigned sum = 0;
    for (int i = 0; i < BLOCK_DATA_LEN; ++i)
        sum += data16[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

bool BlockCheckOk(const uint8_t* block17) { return CheckByte(block17) == block17[BLOCK_DATA_LEN]; }

void BuildSampleBlock(const uint16_t words[BLOCK_WORDS], uint8_t* block17)
{
    for (int k = 0; k < BLOCK_WORDS; ++k) {
        block17[2 * k] = static_cast<uint8_t>(words[k] & 0xFF);
        block17[2 * k + 1] = static_cast<uint8_t>(words[k] >> 8);
    }
    block17[BLOCK_DATA_LEN] = CheckByte(block17);
}

int InboundFrameLength(uint8_t code)
{
    switch (code) {
    case CODE_INFO: return INFO_FRAME_LEN;
    case CODE_DATA: return DATA_FRAME_LEN;
    case CODE_STOP: return STOP_FRAME_LEN;
    case CODE_DATE: return DATE_FRAME_LEN;
    default: return 0;
    }
}

std::string FormatDeviceDate(const uint8_t date4[4])
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d%02d-%02d-%02d", date4[3], date4[2], date4[1], date4[0]);
    return text;
}

} // namespace proto
