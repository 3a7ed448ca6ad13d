// make-stream SEED BYTES [CAPTURE]: a reproducible sensor byte stream of at least BYTES bytes,
// for running decoders of different builds on the same input. The simulated sensor's data
// frames, with what a serial line adds mixed in: flipped bytes, bursts of any byte values,
// frames cut short, unknown codes, and the replies the console recognises. Written to standard
// output, or with CAPTURE as a capture file: the start and stop commands sent, and the stream
// received in reads of varying size at the pace of the sensor's frames.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "capture_writer.h"
#include "sensor_model.h"

namespace {

constexpr double FRAME_RATE = 500;

using Bytes = std::vector<uint8_t>;

bool ParseCount(const char* text, unsigned long long& out)
{
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

void AppendReply(Bytes& s, uint8_t code, CSimRandom& rnd)
{
    const int nPayload = code == proto::CODE_STOP ? 0 : 4;
    s.insert(s.end(), {proto::SYNC, proto::INBOUND_ADDR, static_cast<uint8_t>(nPayload + 1), code});
    for (int i = 0; i < nPayload; ++i)
        s.push_back(static_cast<uint8_t>(rnd.Next()));
}

bool WriteCapture(const char* path, const Bytes& s, CSimRandom& rnd)
{
    using capture::Direction;
    capture::CaptureHeader header;
    header.start = "2025-01-01T12:00:00.000+01:00";
    header.port = 1;
    header.settings = "256000,n,8,1";
    header.writer = "make-stream";
    capture::CCaptureWriter writer;
    if (!writer.Open(path, header)) {
        std::fprintf(stderr, "make-stream: %s\n", writer.Error().c_str());
        return false;
    }
    uint8_t cmd[proto::MAX_COMMAND_LEN];
    int64_t t = 1000;
    writer.Append(Direction::Sent, t, cmd, proto::BuildCommandFrame(proto::CODE_START, proto::ADDR_SENSOR, 0, cmd));
    constexpr double US_PER_BYTE = 1e6 / (FRAME_RATE * proto::DATA_FRAME_LEN);
    for (size_t done = 0; done < s.size();) {
        const size_t n = std::min<size_t>(s.size() - done, 1 + rnd.Next() % 700);
        t += static_cast<int64_t>(n * US_PER_BYTE) + static_cast<int64_t>(rnd.Next() % 1000);
        writer.Append(Direction::Received, t, s.data() + done, n);
        done += n;
    }
    writer.Append(Direction::Sent, t + 500, cmd, proto::BuildCommandFrame(proto::CODE_STOP, proto::ADDR_SENSOR, 0, cmd));
    if (!writer.Close()) {
        std::fprintf(stderr, "make-stream: %s\n", writer.Error().c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long long seed = 0, nBytes = 0;
    if ((argc != 3 && argc != 4) || !ParseCount(argv[1], seed) || !ParseCount(argv[2], nBytes)) {
        std::fputs("usage: make-stream SEED BYTES [CAPTURE]\n", stderr);
        return 2;
    }
    CSensorModel model(FRAME_RATE, 72, seed);
    CSimRandom rnd(seed ^ 0x5EEDu);
    Bytes s;
    s.reserve(nBytes + 64);
    while (s.size() < nBytes) {
        uint8_t frame[proto::DATA_FRAME_LEN];
        model.NextDataFrame(frame);
        const double r = rnd.Uniform();
        if (r < 0.04) {
            // One byte changed anywhere: a bad check byte, a broken header or a lost sync.
            frame[rnd.Next() % proto::DATA_FRAME_LEN] ^= static_cast<uint8_t>(1u << (rnd.Next() % 8));
        } else if (r < 0.07) {
            // Noise of every byte value, sync bytes more often than chance would give them.
            for (uint64_t n = 1 + rnd.Next() % 40; n > 0; --n)
                s.push_back(rnd.Chance(0.2) ? proto::SYNC : static_cast<uint8_t>(rnd.Next()));
        } else if (r < 0.09) {
            // A frame cut short by the next one.
            s.insert(s.end(), frame, frame + 1 + rnd.Next() % (proto::DATA_FRAME_LEN - 1));
        } else if (r < 0.10) {
            // A header with a code the console does not know.
            s.insert(s.end(), {proto::SYNC, proto::INBOUND_ADDR, static_cast<uint8_t>(rnd.Next() % 8),
                               static_cast<uint8_t>(rnd.Next())});
        } else if (r < 0.115) {
            static const uint8_t REPLIES[] = {proto::CODE_INFO, proto::CODE_DATE, proto::CODE_STOP};
            AppendReply(s, REPLIES[rnd.Next() % 3], rnd);
        }
        s.insert(s.end(), frame, frame + proto::DATA_FRAME_LEN);
    }
    if (argc == 4)
        return WriteCapture(argv[3], s, rnd) ? 0 : 2;
    if (std::fwrite(s.data(), 1, s.size(), stdout) != s.size() || std::fflush(stdout) != 0) {
        std::fputs("make-stream: cannot write the stream\n", stderr);
        return 2;
    }
    return 0;
}
