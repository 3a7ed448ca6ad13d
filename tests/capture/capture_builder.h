#pragma once
// Captures and frames made in memory for the tests.
#include <cstdint>
#include <string>
#include <vector>

#include "capture_format.h"
#include "protocol.h"
#include "support/data_frame.h"

// Words of the k-th frame of a synthetic session: all different, every channel its own.
inline void FrameWords(int k, uint16_t (&w)[8])
{
    for (int c = 0; c < 8; ++c)
        w[c] = static_cast<uint16_t>((k * 37 + c * 4099 + (c == 7 ? 60000 : 0)) & 0xFFFF);
}

inline Bytes Command(uint8_t code, uint8_t address, int value = -1)
{
    Bytes b(5);
    b.resize(static_cast<size_t>(proto::BuildCommandFrame(code, address, static_cast<uint8_t>(value < 0 ? 0 : value), b.data())));
    return b;
}

class CaptureBuilder {
public:
    explicit CaptureBuilder(const capture::CaptureHeader& header = DefaultHeader()) : m_bytes(capture::EncodeHeader(header)) {}
    static capture::CaptureHeader DefaultHeader()
    {
        capture::CaptureHeader h;
        h.start = "2024-02-29T23:59:59.500+08:00";
        h.port = 1;
        h.path = "/dev/ttyUSB0";
        h.settings = "256000,n,8,1";
        return h;
    }
    CaptureBuilder& Record(capture::Direction dir, int64_t timeUs, const Bytes& data)
    {
        uint8_t head[capture::RECORD_HEADER_LEN];
        capture::EncodeRecordHeader(dir, timeUs, data.size(), head);
        m_bytes.insert(m_bytes.end(), head, head + sizeof head);
        m_bytes.insert(m_bytes.end(), data.begin(), data.end());
        return *this;
    }
    CaptureBuilder& Recv(int64_t timeUs, const Bytes& data) { return Record(capture::Direction::Received, timeUs, data); }
    CaptureBuilder& Sent(int64_t timeUs, const Bytes& data) { return Record(capture::Direction::Sent, timeUs, data); }
    const Bytes& Get() const { return m_bytes; }
    size_t Size() const { return m_bytes.size(); }
private:
    Bytes m_bytes;
};

// Captures that every tool must refuse (exit status 2, the file named), with a part of the
// reason given: a damaged magic in each of the ways a transfer damages it, and times no
// recording has.
struct HostileCapture {
    const char* name;
    Bytes bytes;
    const char* reason;
};

inline std::vector<HostileCapture> HostileCaptures()
{
    const Bytes good = CaptureBuilder().Recv(10, DataFrame(7, true)).Recv(2000, DataFrame(8, true)).Get();
    Bytes flip = good, two = good, lf = good, crlf = good;
    flip[3] ^= 0x10;
    two[0] = 0x09;                                     // the high bit stripped
    two[7] = 0x00;
    lf.erase(lf.begin() + 5);                          // CR LF -> LF
    crlf.insert(crlf.begin() + 6, 0x0D);               // LF -> CR LF
    const int64_t day = int64_t(86400) * 1000000;
    return {
        {"a bit of the magic flipped", flip, "damaged capture header"},
        {"two bytes of the magic changed", two, "damaged capture header"},
        {"CR LF made LF", lf, "CR LF changed"},
        {"LF made CR LF", crlf, "CR LF changed"},
        {"cut inside the magic", Bytes(good.begin(), good.begin() + 5), "cut short"},
        {"a record a day after the one before",
         CaptureBuilder().Recv(10, DataFrame(7, true)).Recv(10 + day + 1, DataFrame(8, true)).Get(), "more than a day"},
        {"a record time of 2^62 us", CaptureBuilder().Recv(int64_t(1) << 62, DataFrame(7, true)).Get(), "more than a day"},
    };
}
