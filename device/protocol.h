#pragma once
// The sensor's wire protocol: command frames out, reply and data frames in. Plain bytes,
// no I/O; the receive side, the command issuer, the tools and the simulator all share it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace proto {

constexpr uint8_t SYNC = 0xF0;          // first byte of every frame, both directions
constexpr uint8_t INBOUND_ADDR = 0x1F;  // address byte of every sensor → console frame

// Unit addresses of command frames.
constexpr uint8_t ADDR_SENSOR = 0x2F;
constexpr uint8_t ADDR_CH1 = 0x21;
constexpr uint8_t ADDR_CH2 = 0x22;
constexpr uint8_t ADDR_CH3 = 0x23;
constexpr uint8_t ADDR_ECG = 0x2A;
constexpr uint8_t ADDR_VOLUME = 0x2B;

// Codes. 0x31, 0x32, 0x33 and 0x3A also name the four reply frames the console recognises.
constexpr uint8_t CODE_INFO = 0x31;      // information request / reply
constexpr uint8_t CODE_START = 0x32;     // start sampling / data frame
constexpr uint8_t CODE_STOP = 0x33;      // stop sampling / stop acknowledgement
constexpr uint8_t CODE_ZERO = 0x34;
constexpr uint8_t CODE_CALIBRATE = 0x35;
constexpr uint8_t CODE_DATE = 0x3A;      // date request / reply
constexpr uint8_t CODE_GAIN = 0x65;
constexpr uint8_t CODE_DATA = CODE_START;

constexpr int HEADER_LEN = 4;            // sync, address, length, code
constexpr int BLOCK_LEN = 17;            // sample block: 16 data bytes + check byte
constexpr int BLOCK_DATA_LEN = 16;
constexpr int BLOCK_WORDS = 8;
constexpr int DATA_FRAME_LEN = HEADER_LEN + BLOCK_LEN;  // 21
constexpr int INFO_FRAME_LEN = 8;
constexpr int DATE_FRAME_LEN = 8;
constexpr int STOP_FRAME_LEN = 4;
constexpr int MAX_COMMAND_LEN = 5;

// Sample-block word indices.
enum BlockWord {
    WORD_STATIC1 = 0, WORD_PULSE1 = 1,
    WORD_STATIC2 = 2, WORD_PULSE2 = 3,
    WORD_STATIC3 = 4, WORD_PULSE3 = 5,
    WORD_ECG = 6, WORD_VOLUME = 7,
};

// True for the codes whose command frame carries a value byte (5-byte form).
bool CommandHasValue(uint8_t code);
// True for the seven codes the sensor accepts as commands.
bool IsCommandCode(uint8_t code);

// Writes the command frame for code/address/value into out (room for MAX_COMMAND_LEN bytes)
// and returns its length: 4 (F0 aa 01 cc) or 5 (F0 aa 02 cc vv).
int BuildCommandFrame(uint8_t code, uint8_t address, uint8_t value, uint8_t* out);

// Sum of the sixteen data bytes, modulo 256.
uint8_t CheckByte(const uint8_t* data16);
// True when block byte 16 matches the sum of bytes 0..15.
bool BlockCheckOk(const uint8_t* block17);

// Word k of a sample block, unsigned little-endian.
inline uint16_t BlockWordAt(const uint8_t* block, int k)
{
    return static_cast<uint16_t>(block[2 * k] | (block[2 * k + 1] << 8));
}
// Fills a 17-byte block from eight words and appends the check byte.
void BuildSampleBlock(const uint16_t words[BLOCK_WORDS], uint8_t* block17);

// Length of the inbound frame with this code, or 0 when the console does not recognise it.
int InboundFrameLength(uint8_t code);

// "%02d%02d-%02d-%02d" of date bytes 3, 2, 1, 0 (century, year, month, day): 1C 02 08 14 → 2008-02-28.
std::string FormatDeviceDate(const uint8_t date4[4]);

} // namespace proto
